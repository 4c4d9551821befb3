#include "rules/escape.h"
#include "rules/rule_set.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace
{
struct Row
{
    UINT number;
    WString en, cn;
    bool x86, x64, unicode, repeat;
};

std::vector<Row> ReadRows(const WString& file)
{
    std::vector<Row> rows;
    ReadRuleList(
        file.c_str(),
        [](void* p, const PatchRule& r) {
            static_cast<std::vector<Row>*>(p)->push_back(
                {r.number, r.wsEn, r.wsCn, r.x86, r.x64, r.unicode, r.repeat});
        },
        &rows);
    return rows;
}

std::string AnsiOf(const WString& text)
{
    char szText[kPathChars * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, szText, sizeof(szText), nullptr, nullptr);
    return szText;
}

WString Section(const WString& file, LPCWSTR wsNode)
{
    std::vector<WCHAR> buffer(70000);
    DWORD n =
        GetPrivateProfileSectionW(wsNode, buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    WString text(buffer.data(), n);
    for (WCHAR& c : text)
        if (c == 0)
            c = '|';
    return text;
}
} // namespace

TEST(RuleSetTest, ListEndsAtEmptyEnOrBothBitnessesOff)
{
    TempDir dir;
    WString file = dir.Path(W("set.ini"));
    EXPECT_TRUE(ReadRows(file).empty());
    WriteBytes(file, "[Config]\r\nFILE=D:\\Work\\viewer.exe\r\n"
                     "[001]\r\nEN=&Open...\\tCtrl+O\r\nCN=open\r\n"
                     "[002]\r\nEN=Save changes?\r\nCN=save\r\nREPEAT=1\r\n"
                     "[003]\r\nEN=Ready\r\nCN=ready\r\nUNICODE=0\r\nX64=0\r\n"
                     "[004]\r\nCN=exit\r\n"
                     "[005]\r\nEN=Exit\r\nCN=exit\r\n");
    std::vector<Row> rows = ReadRows(file);
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ(WString(W("&Open...\\tCtrl+O")), rows[0].en);
    EXPECT_TRUE(rows[0].x86 && rows[0].x64 && rows[0].unicode && !rows[0].repeat);
    EXPECT_TRUE(rows[1].repeat);
    EXPECT_TRUE(rows[2].x86 && !rows[2].x64 && !rows[2].unicode);
    EXPECT_EQ(3u, rows[2].number);

    WriteBytes(file, "[001]\r\nEN=a\r\n[002]\r\nEN=b\r\nX86=0\r\nX64=0\r\n[003]\r\nEN=c\r\n");
    EXPECT_EQ(1u, ReadRows(file).size());
    WriteBytes(file, "[001]\r\nEN=\r\n[002]\r\nEN=b\r\n");
    EXPECT_TRUE(ReadRows(file).empty());
}

TEST(RuleSetTest, SwitchesCountByTheirLowestBit)
{
    TempDir dir;
    WString file = dir.Path(W("set.ini"));
    WriteBytes(file, "[001]\r\nEN=a\r\nX86=2\r\nX64=3\r\nUNICODE=4\r\nREPEAT=5\r\n"
                     "[002]\r\nEN=b\r\nX86=2\r\nX64=-2\r\n");
    std::vector<Row> rows = ReadRows(file);
    ASSERT_EQ(1u, rows.size()); // rule 2: 2 and -2 both read as 0
    EXPECT_FALSE(rows[0].x86);
    EXPECT_TRUE(rows[0].x64);
    EXPECT_FALSE(rows[0].unicode);
    EXPECT_TRUE(rows[0].repeat);
}

TEST(RuleSetTest, SingleKeyWritesTouchOnlyTheirKey)
{
    TempDir dir;
    WString file = dir.Path(W("set.ini"));
    WriteTargetPath(file.c_str(), W("C:\\a b\\t.exe"));
    WriteRuleKey(file.c_str(), 1, KEY_EN, W("Open"));
    WriteRuleKey(file.c_str(), 1, KEY_CN, W(""));
    // A missing file is created as UTF-16LE; the line break after its mark is
    // what the profile functions put there before a first section.
    EXPECT_EQ("\xFF\xFE" +
                  Utf16Bytes(W("\r\n[Config]\r\nFILE=C:\\a b\\t.exe\r\n[001]\r\nEN=Open\r\nCN=\r\n")),
              ReadBytes(file));
    EXPECT_EQ(WString(W("1")), WString(ToggleRuleSwitch(file.c_str(), 1, KEY_REPEAT, W("0"))));
    EXPECT_EQ(WString(W("0")), WString(ToggleRuleSwitch(file.c_str(), 1, KEY_X64, W("1"))));
    EXPECT_EQ("\xFF\xFE" + Utf16Bytes(W("\r\n[Config]\r\nFILE=C:\\a b\\t.exe\r\n[001]\r\nEN=Open\r\nCN=\r\n"
                                        "REPEAT=1\r\nX64=0\r\n")),
              ReadBytes(file));
    WCHAR wsPath[kPathChars];
    EXPECT_EQ(12u, ReadTargetPath(file.c_str(), wsPath, kPathChars));
    EXPECT_EQ(WString(W("C:\\a b\\t.exe")), WString(wsPath));
}

TEST(RuleSetTest, UnicodeFileKeepsChineseTextsAnAnsiFileOnlyWhatItsCodePageHas)
{
    TempDir dir;
    WString ansi = dir.Path(W("ansi.ini")), unicode = dir.Path(W("unicode.ini"));
    WriteBytes(unicode, "\xFF\xFE");
    WriteBytes(ansi, ""); // an existing file keeps its encoding, even an empty one
    LPCWSTR wsText = W("\u4FDD\u5B58 \u20AC \u00E9 \u0E01 \U0001F600");
    for (const WString& file : {ansi, unicode})
    {
        WriteRuleKey(file.c_str(), 1, KEY_EN, W("x"));
        WriteRuleKey(file.c_str(), 1, KEY_CN, wsText);
    }
    EXPECT_EQ(WString(wsText), ReadRows(unicode)[0].cn);
    std::string bytes = ReadBytes(unicode);
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
    EXPECT_NE(std::string::npos, bytes.find(Utf16Bytes(W("CN=") + WString(wsText) + W("\r\n"))));
    // Code page 936 has the Chinese characters, the euro sign (0x80) and the
    // pinyin letter, not the Thai letter or the emoji.
    EXPECT_EQ(WString(W("\u4FDD\u5B58 \u20AC \u00E9 ? ??")), ReadRows(ansi)[0].cn);
}

// Whatever is typed, what the store gives back is exactly what was stored:
// blanks and quotes at either end are written as escapes.
TEST(RuleSetTest, TypedTextsReadBackAsStored)
{
    TempDir dir;
    WString file = dir.Path(W("set.ini"));
    const WCHAR kAlphabet[] = {'a', ' ', '\t', '\v', '"', '\'', '\\', 'x', 'n', '2', '\r', 0x4E2D, 0x2713};
    std::mt19937 random(15);
    std::vector<WString> typed = {W(" 取消"), W("取消 "), W("\"quoted\""), W("'single'"), W("\t"),
                                  W(" "),     W("a\\x "), W("\\ "),        W("end\\")};
    for (int i = 0; i < 400; ++i)
    {
        WString text;
        for (size_t n = random() % 8; n > 0; --n)
            text += kAlphabet[random() % (sizeof(kAlphabet) / sizeof(kAlphabet[0]))];
        typed.push_back(text);
    }
    typed.push_back(WString(kTextChars - 2, WCHAR('a')) + W("  "));
    typed.push_back(W(" ") + WString(kTextChars - 1, WCHAR('b')));
    PatchRule rule;
    for (const WString& text : typed)
    {
        std::vector<WCHAR> wsText(kTextChars, 0);
        std::copy(text.begin(), text.begin() + std::min<size_t>(text.size(), kTextChars - 1), wsText.begin());
        EscapeText(wsText.data());
        if (wsText[0] == 0)
            continue;
        ASSERT_TRUE(WriteRuleKey(file.c_str(), 1, KEY_EN, wsText.data()));
        ASSERT_TRUE(ReadRule(file.c_str(), 1, rule)) << ::testing::PrintToString(text);
        // A blank that is one of the two characters of a \x escape may go: it
        // adds nothing to the escape's value.
        UINT cchStored = UnescapeTextW(wsText.data()), cchRead = UnescapeTextW(rule.wsEn);
        EXPECT_EQ(WString(wsText.data(), cchStored), WString(rule.wsEn, cchRead))
            << ::testing::PrintToString(text);
    }
}

// A value of any length reads as its first 2,047 characters, and the list
// goes on behind it.
TEST(RuleSetTest, LongTextsAreCutNeverLost)
{
    TempDir dir;
    WString file = dir.Path(W("set.ini"));
    for (const std::string& en : {std::string(65536, 'a'), "Hello" + std::string(65536, 'a')})
    {
        WriteBytes(file, "[001]\r\nUNICODE=0\r\nEN=" + en + "\r\n[002]\r\nEN=next\r\n");
        std::vector<Row> rows = ReadRows(file);
        ASSERT_EQ(2u, rows.size());
        EXPECT_EQ(WString(en.begin(), en.begin() + kTextChars - 1), rows[0].en);
        PatchRule rule;
        ASSERT_TRUE(ReadRuleAsRun(file.c_str(), AnsiOf(file).c_str(), 1, rule));
        EXPECT_EQ(en.substr(0, kTextChars - 1), std::string(reinterpret_cast<const char*>(rule.wsEn)));
    }
}

TEST(RuleSetTest, DeleteMovesLaterSectionsDownWithAllTheirKeys)
{
    TempDir dir;
    WString file = dir.Path(W("set.ini"));
    WriteBytes(file, "[Config]\r\nFILE=x\r\n[001]\r\nEN=one\r\n[002]\r\nEN=two\r\nUNICODE=0\r\n"
                     "[003]\r\nEN=three\r\nX64=0\r\nREPEAT=1\r\n[004]\r\nEN=four\r\nCN=vier\r\n");
    EXPECT_EQ(2, DeleteRule(file.c_str(), 2));
    EXPECT_EQ(WString(W("EN=one|")), Section(file, W("001")));
    EXPECT_EQ(WString(W("EN=three|X64=0|REPEAT=1|")), Section(file, W("002")));
    EXPECT_EQ(WString(W("EN=four|CN=vier|")), Section(file, W("003")));
    EXPECT_EQ(WString(), Section(file, W("004")));
    EXPECT_EQ(3u, ReadRows(file).size());
    EXPECT_EQ(-1, DeleteRule(file.c_str(), 0));
}

TEST(RuleSetTest, DeleteCarriesSectionsBeyondTheListEnd)
{
    TempDir dir;
    WString file = dir.Path(W("set.ini"));
    // Section 003 ends the list (no EN) but still moves, and so does 004.
    WriteBytes(file, "[001]\r\nEN=a\r\n[002]\r\nEN=b\r\n[003]\r\nCN=c\r\n[004]\r\nEN=d\r\n[006]\r\nEN=f\r\n");
    EXPECT_EQ(3, DeleteRule(file.c_str(), 1));
    EXPECT_EQ(WString(W("EN=b|")), Section(file, W("001")));
    EXPECT_EQ(WString(W("CN=c|")), Section(file, W("002")));
    EXPECT_EQ(WString(W("EN=d|")), Section(file, W("003")));
    EXPECT_EQ(WString(), Section(file, W("004")));
    EXPECT_EQ(WString(W("EN=f|")), Section(file, W("006"))); // beyond the first gap: untouched
}

TEST(RuleSetTest, DeleteMovesASectionLargerThanTheSectionBufferWhole)
{
    TempDir dir;
    WString file = dir.Path(W("set.ini"));
    std::string big = "[002]\r\n";
    for (int k = 0; k < 40; ++k)
        big += "K" + std::to_string(k) + "=" + std::string(300, static_cast<char>('a' + k % 26)) + "\r\n";
    WriteBytes(file, "[001]\r\nEN=a\r\n" + big + "[003]\r\nEN=c\r\n");
    WString before = Section(file, W("002"));
    ASSERT_GT(before.size(), kSectionChars);
    EXPECT_EQ(2, DeleteRule(file.c_str(), 1));
    EXPECT_EQ(before, Section(file, W("001")));
    EXPECT_EQ(WString(W("EN=c|")), Section(file, W("002")));
}

TEST(RuleSetTest, DeleteOfTheLastRuleOnlyRemovesItsSection)
{
    TempDir dir;
    WString file = dir.Path(W("set.ini"));
    WriteBytes(file, "[001]\r\nEN=a\r\n[002]\r\nEN=b\r\n");
    EXPECT_EQ(0, DeleteRule(file.c_str(), 2));
    EXPECT_EQ("[001]\r\nEN=a\r\n", ReadBytes(file));
}
