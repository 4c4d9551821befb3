// What po check says about a translation's accelerators, format specifiers and
// menu shortcuts compared with its source text.
#include "po/text_checks.h"

#include <gtest/gtest.h>

namespace
{
TEST(TextChecks, AcceleratorKey)
{
    // An escaped && is no accelerator; the key is upper-cased, and may be any
    // character, wide ones too.
    const std::pair<const char*, const char*> rgCases[] = {
        {"&Open", "O"},        {"Fish && &Chips", "C"},
        {"Fish && Chips", ""}, {"Trailing &", ""},

        {"&&&x", "X"},         {"文件(&F)", "F"},
        {"&文件", "文"},       {"", ""},
        {"&1 recent", "1"},    {"&é", "é"},
        {"a&b&c", "B"},        {"& space", ""},
        {"\t&Ctrl", "C"},      {"&\xF0\x9F\x98\x80!", "\xF0\x9F\x98\x80"}};
    for (const auto& c : rgCases)
        EXPECT_EQ(AcceleratorKey(c.first), c.second) << c.first;
}

TEST(TextChecks, FormatSpecifiers)
{
    typedef std::vector<std::string> List;
    const std::pair<const char*, List> rgCases[] = {
        {"%s and %d, %u%%", {"%s", "%d", "%u"}},
        {"%x %ld %lu %ls %I64d %I64u %hs", {"%x", "%ld", "%lu", "%ls", "%I64d", "%I64u", "%hs"}},
        {"%5.2f|%-10s|%*d|%.*s|%c|%p|%08X", {"%5.2f", "%-10s", "%*d", "%.*s", "%c", "%p", "%08X"}},
        {"100%% done, 100% sure", {}},
        {"%2$s %1$d", {"%2$s", "%1$d"}},
        {"Copy %1 to %2!s! (%3!d! bytes)%n%t%0", {"%1", "%2!s!", "%3!d!", "%n", "%t", "%0"}},
        {"%10 items, %1 file%r", {"%10", "%1", "%r"}},
        {"%5d %1d", {"%5d", "%1d"}},
        {"50%", {}},
        {"%1!unterminated", {"%1"}},
        {"%q %y %!", {}},
    };
    for (const auto& c : rgCases)
        EXPECT_EQ(FormatSpecifiers(c.first), c.second) << c.first;
}

TEST(TextChecks, FormatsAgree)
{
    struct Case
    {
        const char* szSource;
        const char* szTranslation;
        const char* szReason;
    };
    const Case rgCases[] = {
        {"%d files in %s", "%d Dateien in %s", ""},
        {"%d files in %s", "In %s: %d Dateien", "the translation has %s where the source has %d"},
        {"%d files in %s", "%d Dateien", "the source's %s is missing"},
        {"%d files", "%s Dateien", "the translation has %s where the source has %d"},
        {"%d files", "%d Dateien in %s", "the translation has %s, which the source lacks"},
        {"Size: %5.2f", "Größe: %.1f", ""},
        {"%x", "%08X", ""},
        {"%i", "%d", ""},
        {"%*d", "%d", "the translation has %d where the source has %*d"},
        {"%ls", "%s", "the translation has %s where the source has %ls"},
        {"%s to %d", "%2$d nach %1$s", ""},
        {"%s to %d", "%2$s nach %1$d", "the translation has %1$d where the source has %s"},
        {"Copy %1 to %2", "%2 ← %1", ""},
        {"Copy %1 to %2", "Kopieren nach %2", "the source's %1 is missing"},
        {"Copy %1", "%1 und %2", "the translation has %2, which the source lacks"},
        {"%1!d! bytes", "%1!s! Bytes", "the translation has %1!s! where the source has %1!d!"},
        {"%1 or %1!s!", "%1!s!", ""},
        {"%1 and %1", "%1", ""},
        {"Line one%nline two", "Zeile eins, Zeile zwei", ""},
        {"No newline%0", "Kein Umbruch", "the source's %0 is missing"},
        {"100% sure", "100% sicher", ""},
        {"100%%", "100 %%", ""},
        {"&Open...\tCtrl+O", "Ö&ffnen...\tCtrl+O", ""},
        {"&Open...\tCtrl+O", "Ö&ffnen...\tStrg+O",
         "the shortcut after the tab is \"Strg+O\" where the source has \"Ctrl+O\""},
        {"&Open...\tCtrl+O", "Ö&ffnen... Ctrl+O",
         "the translation has no tab before the shortcut \"Ctrl+O\""},
        {"&Save %s\tCtrl+S", "&Speichern %d\tCtrl+S", "the translation has %d where the source has %s"},
    };
    for (const Case& c : rgCases)
    {
        std::string sReason;
        EXPECT_EQ(FormatsAgree(c.szSource, c.szTranslation, sReason), *c.szReason == 0)
            << c.szSource << " -> " << c.szTranslation;
        EXPECT_EQ(sReason, c.szReason) << c.szSource << " -> " << c.szTranslation;
    }
}

TEST(TextChecks, LineBreaksAgree)
{
    struct Case
    {
        const char* szSource;
        const char* szTranslation;
        const char* szReason;
    };
    const Case rgCases[] = {
        {"Line one\nline two", "第一行\n第二行", ""},
        {"Line one\r\nline two", "第一行\r\n第二行", ""},
        {"Line one\nline two", "第一行，第二行", "the translation has 0 line breaks where the source has 1"},
        {"One line", "一行\n", "the translation has 1 line break where the source has 0"},
        {"Line one\nline two", "第一行\\n第二行",
         "the translation has the two characters \\n where the source has a line break"},
        {"Name\tValue", "名称\\t值", "the translation has the two characters \\t where the source has a tab"},
        {"C:\\new", "C:\\new", ""},
        {"Path", "C:\\new", "the translation has the two characters \\n, which the source lacks"},
        {"%1%n%2", "%1，%2", ""},
    };
    for (const Case& c : rgCases)
    {
        std::string sReason;
        EXPECT_EQ(LineBreaksAgree(c.szSource, c.szTranslation, sReason), *c.szReason == 0)
            << c.szSource << " -> " << c.szTranslation;
        EXPECT_EQ(sReason, c.szReason) << c.szSource << " -> " << c.szTranslation;
    }
}

TEST(TextChecks, NeedsTranslation)
{
    const std::pair<const char*, bool> rgCases[] = {
        {"&Open...\tCtrl+O", true},
        {"Word &Wrap", true},
        {"Unicode (big endian)", true},
        {"Done.", true},
        {"...and more", true},
        {"Öffnen", true},
        {"Unicode (UTF-8)", false},
        {"&&", false},
        {"ANSI", false},
        {"OK", false},
        {"%s", false},
        {"%1!s! (%2)", false},
        {"*.txt", false},
        {"notepad.exe", false},
        {"Win32", false},
        {"http://x.org", false},
        {"\tCtrl+O", false},
        {"(&F)", false},
        {"1.0.0", false},
        {"", false},
        {"—", false},
        {"&f", false},
        {"&Time/Date\tF5", true},
        {"C:\\Windows\\system32", false},
        {"dev@pivra.invalid", false},
        {"Page &p", true},
        {"x", false},
        {"开", true},
    };
    for (const auto& c : rgCases)
        EXPECT_EQ(NeedsTranslation(c.first), c.second) << c.first;
}

TEST(TextChecks, CodePageLacks)
{
    // 936 (GBK) holds Chinese, its full-width punctuation and the euro sign,
    // not Hangul, a character outside the BMP, or a look-alike of a letter it has.
    const std::pair<const char*, const char*> rgCases[] = {
        {"打开(&O)…", ""}, {"“引号”，句号。", ""}, {"€ 5", ""},
        {"", ""},          {"열기 열기", "열기"},  {"打开\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"Ǎbc", "Ǎ"},
    };
    ASSERT_TRUE(KnowsCodePage(936));
    for (const auto& c : rgCases)
        EXPECT_EQ(CodePageLacks(c.first, 936), c.second) << c.first;
    EXPECT_EQ(CodePageLacks("열기", CP_UTF8), "");
}
} // namespace
