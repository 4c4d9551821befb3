#include "rules/escape.h"
#include "rules/rule_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
typedef std::basic_string<WCHAR> WString;

WString Wide(const char* s)
{
    WString ws;
    for (; *s != 0; ++s)
        ws += static_cast<WCHAR>(static_cast<unsigned char>(*s));
    return ws;
}

struct Escaped
{
    int result;
    WString text;
};

Escaped Escape(const WString& text)
{
    std::vector<WCHAR> buffer(kTextChars, WCHAR(0x7777));
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = 0;
    int result = EscapeText(buffer.data());
    return {result, buffer.data()};
}

// Decodes a copy in a buffer that ends right behind the terminator, followed by
// guard units, and checks that nothing past the terminator was written.
WString DecodeW(const WString& stored)
{
    std::vector<WCHAR> buffer(stored.begin(), stored.end());
    buffer.push_back(0);
    buffer.push_back(0x5A5A);
    UINT n = UnescapeTextW(buffer.data());
    EXPECT_LE(n, stored.size());
    EXPECT_EQ(0, buffer[n]);
    EXPECT_EQ(0x5A5A, buffer[stored.size() + 1]);
    return WString(buffer.data(), n);
}

std::string DecodeA(const std::string& stored)
{
    std::vector<char> buffer(stored.begin(), stored.end());
    buffer.push_back(0);
    buffer.push_back('#');
    UINT n = UnescapeTextA(buffer.data());
    EXPECT_LE(n, stored.size());
    EXPECT_EQ(0, buffer[n]);
    EXPECT_EQ('#', buffer[stored.size() + 1]);
    return std::string(buffer.data(), n);
}
} // namespace

TEST(EscapeTextTest, RewritesLineBreaksAndLoneBackslashes)
{
    struct Case
    {
        const char* typed;
        int result;
        const char* stored;
    } cases[] = {
        {"a\r\nb", 1, "a\\r\\nb"},
        {"a\\r\\nb", 0, "a\\r\\nb"},
        {"ab\\", 0, "ab\\"},
        {"ab\\n", 0, "ab\\n"},
        {"\\q", 1, "\\\\q"},
        {"C:\\new", 0, "C:\\new"},
        {"C:\\Program", 1, "C:\\\\Program"},
        {"\\\\", 0, "\\\\"},
        {"\\\\\\", 0, "\\\\\\"},
        {"\\x4G and \\0 and \\t", 0, "\\x4G and \\0 and \\t"},
        {"tab\tstays", 0, "tab\tstays"},
        {"\\N", 1, "\\\\N"},
        {"\\\r", 1, "\\\\\\r"},
        {"", 0, ""},
        {"plain", 0, "plain"},
        // Profile reads lose blanks and quotes at either end: they are escaped there.
        {"ab ", 1, "ab\\x20"},
        {" a b ", 1, "\\x20a b\\x20"},
        {"\"q\"", 1, "\\x22q\\x22"},
        {"'", 1, "\\x27"},
        {"tab\t", 1, "tab\\t"},
        {"a \t", 1, "a \\t"},
        {"\\x2 ", 0, "\\x2 "},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.typed);
        Escaped e = Escape(Wide(c.typed));
        EXPECT_EQ(c.result, e.result);
        EXPECT_EQ(Wide(c.stored), e.text);
        // The stored form is stable: escaping it again changes nothing.
        Escaped again = Escape(e.text);
        EXPECT_EQ(0, again.result);
        EXPECT_EQ(e.text, again.text);
    }
}

TEST(EscapeTextTest, ResultIsCutAtTheStoredTextLimit)
{
    Escaped breaks = Escape(WString(kTextChars - 1, WCHAR('\n')));
    EXPECT_EQ(1, breaks.result);
    ASSERT_EQ(kTextChars - 1, breaks.text.size());
    EXPECT_EQ(WCHAR('\\'), breaks.text.back());
    EXPECT_EQ(WCHAR('n'), breaks.text[breaks.text.size() - 2]);

    // A change past the limit still counts, and what fits is kept.
    WString longText = WString(kTextChars - 2, WCHAR('a')) + W("\r");
    Escaped cut = Escape(longText);
    EXPECT_EQ(1, cut.result);
    EXPECT_EQ(WString(kTextChars - 2, WCHAR('a')) + W("\\"), cut.text);

    // A blank escaped at the start pushes the end out: the cut falls between
    // escapes, never inside one.
    const WString a(2041, WCHAR('a'));
    EXPECT_EQ(W("\\x20") + a, Escape(W(" ") + a + W("\\x41b")).text);
    EXPECT_EQ(W("\\x20") + a + W("a"), Escape(W(" ") + a + W("a\nbb")).text);
    EXPECT_EQ(W("\\x20") + a + W("\\n"), Escape(W(" ") + a + W("\nbb")).text);

    // A full buffer with nothing to change is left alone.
    Escaped full = Escape(WString(kTextChars - 1, WCHAR('z')));
    EXPECT_EQ(0, full.result);
    EXPECT_EQ(WString(kTextChars - 1, WCHAR('z')), full.text);
}

TEST(EscapeTextTest, ReadsNoFurtherThanItsBuffer)
{
    // No terminator anywhere in the 2048 units: the last unit is taken as the end.
    std::vector<WCHAR> buffer(kTextChars + 1, WCHAR('\n'));
    buffer[kTextChars] = 0x5A5A;
    EXPECT_EQ(1, EscapeText(buffer.data()));
    EXPECT_EQ(0x5A5A, buffer[kTextChars]);
    EXPECT_EQ(0, buffer[kTextChars - 1]);
}

TEST(UnescapeTest, WideDecoding)
{
    struct Case
    {
        WString stored, decoded;
    } cases[] = {
        {W("a\\r\\nb\\tc"), WString(W("a\r\nb\tc"))},
        {W("a\\0b"), WString(W("a")) + WCHAR(0) + W("b")},
        {W("ab\\"), WString(W("ab")) + WCHAR(0)},
        {W("\\\\q"), W("\\q")},
        {W("\\N\\R"), W("NR")},
        {W("C:\\new"), W("C:\new")},
        {W("\\x4142"), W("A42")},
        {W("\\x41"), W("A")},
        {W("\\x4G"), WString(1, WCHAR(4))},
        {W("\\xG1"), WString(1, WCHAR(0))},
        {W("\\x  z"), WString(1, WCHAR(0)) + W("z")},
        {W("\\x f"), WString(1, WCHAR(0xF))},
        {W("\\x-1"), WString(1, WCHAR(0xFFFF))},
        {W("\\x+a"), WString(1, WCHAR(0xA))},
        {W("\\xfF"), WString(1, WCHAR(0xFF))},
        {W("\\x-"), WString(1, WCHAR(0))},
        {W("\\x4"), WString(1, WCHAR(4))},
        {W("\\x"), WString(1, WCHAR(0))},
        {W("\\x\\n"), WString(1, WCHAR(0))},
        {W("\\x\\"), WString(1, WCHAR(0))},
        {W("\\"), WString(1, WCHAR(0))},
        {W("no escapes here"), W("no escapes here")},
        {W(""), W("")},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::vector<int>(c.stored.begin(), c.stored.end())));
        EXPECT_EQ(c.decoded, DecodeW(c.stored));
    }
}

TEST(UnescapeTest, AnsiDecodingKeepsDoubleByteCharacters)
{
    struct Case
    {
        std::string stored, decoded;
    } cases[] = {
        // GBK "\x95\x5C" ends in a byte that looks like a backslash.
        {"\x95\\n", "\x95\\n"},
        {"a\x95\\\\n", "a\x95\\\n"},
        {"\x95", "\x95"},
        {"ab\x95", "ab\x95"},
        {"\\\x95n", "\x95n"},
        {"\\x-1", "\xFF"},
        {"\\x4142", "A42"},
        {"\\x\x95\x5C", std::string(1, '\0')},
        {"x\\0y", std::string("x") + '\0' + "y"},
        {"ab\\", std::string("ab") + '\0'},
        // Every byte of 0x80 or above pairs, whatever the code page: A0 takes the backslash.
        {"\xE4\xBD\xA0\\t", "\xE4\xBD\xA0\\t"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.stored));
        EXPECT_EQ(c.decoded, DecodeA(c.stored));
    }
}

TEST(UnescapeTest, EscapedTextDecodesBackToWhatWasTyped)
{
    WString typed = WString(W("line one\r\nC:\\Program Files\\x\\")) + W("\tend");
    Escaped e = Escape(typed);
    EXPECT_EQ(1, e.result);
    // \x in the typed path is an escape already: it takes the doubled
    // backslash behind it as its two characters, so that part does not survive.
    WString expected = WString(W("line one\r\nC:\\Program Files")) + WCHAR(0) + W("\tend");
    EXPECT_EQ(expected, DecodeW(e.text));
    Escaped plain = Escape(W("a\\b\r\n"));
    EXPECT_EQ(WString(W("a\\b\r\n")), DecodeW(plain.text));
}
