// po extract, apply and check on an image windres builds (menu, dialog and
// string table in English and German, the demo's texts in its data), with
// GNU gettext's msgfmt judging every PO file the tool writes.
#include "cli_runner.h"
#include "image/resource_texts.h"
#include "po/po_file.h"
#include "rules/rule_set.h"
#include "support/image_reads.h"
#include "util/wstring.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace
{
void WriteUtf16(const WString& path, const std::string& utf8)
{
    WString crlf;
    for (WCHAR c : FromUtf8(utf8))
        crlf += c == '\n' ? WString(W("\r\n")) : WString(1, c);
    WriteBytes(path, "\xFF\xFE" + Utf16Bytes(crlf));
}

std::vector<PoEntry> ReadPoText(const std::string& sText)
{
    std::vector<PoEntry> entries;
    std::string sReason;
    EXPECT_TRUE(ReadPo(sText, entries, sReason)) << sReason;
    return entries;
}

// context -> msgid of a template.
std::map<std::string, std::string> Sources(const std::string& sPot)
{
    std::map<std::string, std::string> texts;
    for (const PoEntry& entry : ReadPoText(sPot))
        if (entry.fHasContext)
            texts[entry.sContext] = entry.sId;
    return texts;
}

void ExpectGettextAccepts(const WString& path)
{
#ifdef _WIN32
    (void)path;
#else
    std::string sCommand = "msgfmt --check -o /dev/null '" + ShownPath(path) + "'";
    EXPECT_EQ(std::system(sCommand.c_str()), 0) << sCommand;
#endif
}

// The template with msgstr filled from translations (context -> text).
std::string Translated(const std::string& sPot, const std::map<std::string, std::string>& translations,
                       const std::vector<std::string>& fuzzy = {})
{
    std::vector<PoEntry> entries = ReadPoText(sPot);
    for (PoEntry& entry : entries)
    {
        auto it = translations.find(entry.sContext);
        if (entry.fHasContext && it != translations.end())
            entry.strs = {it->second};
        for (const std::string& sContext : fuzzy)
            if (entry.sContext == sContext)
                entry.flags.push_back("fuzzy");
    }
    return WritePo(entries);
}

const std::map<std::string, std::string> kTranslations = {
    {"MENU 1 / popup 0", "文件(&F)"},
    {"MENU 1 / 0x0108", "退出(&X)"},
    {"DIALOG 102 / caption", "关于这个示例程序的一些说明"},
    {"DIALOG 102 / control 1", "确定"},
    {"STRINGTABLE / 0x0061", "你好"},
    {"STRINGTABLE / 0x0062", "这里还什么都没有，不过以后会有的"},
    {"VERSION / FileDescription", "示例程序"},
    {"RULE 003", "就绪"},
    {"RULE 004", "这一行是ANSI文本"},
    {"RULE 005", "退出这个程序"}, // 6 units where EN "Quit" has 4
};
} // namespace

// A target, the demo's rule set, the template po extract writes of both and
// the PO file that translates it, made anew for each test.
class PoRoundTrip : public testing::Test
{
  protected:
    void SetUp() override
    {
        original = ReadBytes(BuildPath(PIVRA_RES_TARGET));
        WriteBytes(target, original);
        WriteBytes(copy, original);
        std::ifstream in(PIVRA_DEMO_RULES, std::ios::binary);
        std::stringstream demo;
        demo << in.rdbuf();
        WriteUtf16(rules, demo.str());
        CliResult extracted = cli.Run({W("po"), W("extract"), target, W("-o"), pot, W("--rules"), rules});
        ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
        sPot = ReadBytes(pot);
        WriteBytes(po, Translated(sPot, kTranslations));
    }

    // RULE 005 is over its budget and rule 007's EN is not in the program, so
    // only --partial writes.
    CliResult Apply(bool fPartial)
    {
        std::vector<WString> args = {W("po"),      W("apply"), target,     po, W("--backup"),
                                     W("--rules"), rules,      W("--log"), log};
        if (fPartial)
            args.push_back(W("--partial"));
        return cli.Run(args);
    }

    TempDir dir;
    CliRunner cli{dir};
    std::string original, sPot;
    const WString target = dir.Path(W("app.exe")), copy = dir.Path(W("copy.exe"));
    const WString rules = dir.Path(W("rules.ini")), pot = dir.Path(W("app.pot")), po = dir.Path(W("app.po"));
    const WString log = dir.Path(W("run.log"));
};

TEST_F(PoRoundTrip, ExtractWritesATemplateOfResourceAndRuleTexts)
{
    ExpectGettextAccepts(pot);
    ExpectGettextAccepts(po);
    std::map<std::string, std::string> sources = Sources(sPot);
    const std::pair<const char*, const char*> rgExpected[] = {
        {"MENU 1 / popup 0", "&File"},
        {"MENU 1 / 0x0100", "&New\tCtrl+N"},
        {"DIALOG 102 / control 0", "Sample program"},
        {"STRINGTABLE / 0x0062", "Nothing here yet"},
        {"RULE 004", "This line is ANSI text"},
    };
    for (const auto& expected : rgExpected)
        EXPECT_EQ(sources[expected.first], expected.second) << expected.first;
    // A rule text code points to can take a translation of any length (relocated), so no max-length.
    EXPECT_NE(sPot.find("budget: any length (a longer translation is relocated)\nmsgctxt \"RULE 005\""),
              std::string::npos)
        << sPot;
    EXPECT_EQ(sPot.find("#, max-length:4\nmsgctxt \"RULE 005\""), std::string::npos) << sPot;
    EXPECT_NE(sPot.find("X-Source-Language: en-US"), std::string::npos);
}

TEST_F(PoRoundTrip, ApplyWritesNothingWhenATranslationOrRuleIsRefused)
{
    const std::string rulesBefore = ReadBytes(rules);
    CliResult refused = Apply(false);
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    for (const char* szLine : {"RULE 005 \"Quit\": the translation takes 12 bytes, over its budget of 8",
                               "rule 007 \"Text that is not in the program\": its EN is not in the image"})
        EXPECT_NE(refused.err.find(szLine), std::string::npos) << szLine << "\n" << refused.err;
    EXPECT_NE(refused.out.find("nothing written"), std::string::npos) << refused.out;
    EXPECT_EQ(ReadBytes(target), original);
    EXPECT_EQ(ReadBytes(rules), rulesBefore);
    EXPECT_FALSE(std::filesystem::exists(ShownPath(target + W(".bak"))));
}

TEST_F(PoRoundTrip, ApplyPartialWritesTheRestAndRunsTheRuleSet)
{
    CliResult applied = Apply(true);
    EXPECT_EQ(applied.exitCode, 1) << applied.err;
    EXPECT_NE(applied.out.find("the patch run (7 rules tried, 6 changed the image)"), std::string::npos)
        << applied.out;
    EXPECT_EQ(ReadBytes(target + W(".bak")), original);
    EXPECT_NE(ReadBytes(log).find(Utf16Bytes(W("ERROR_EN:Text that is not in the program"))),
              std::string::npos);
    EXPECT_NE(ReadBytes(target).find(Utf16Bytes(FromUtf8("就绪"))), std::string::npos);
}

TEST_F(PoRoundTrip, ApplyAgainChangesNothingAndKeepsTheOnlyCopyOfTheOriginal)
{
    ASSERT_EQ(Apply(true).exitCode, 1);
    const std::string translated = ReadBytes(target);
    EXPECT_EQ(
        cli.Run({W("po"), W("apply"), target, po, W("--backup"), W("--force"), W("--partial")}).exitCode, 1);
    EXPECT_EQ(ReadBytes(target + W(".bak")), original);
    EXPECT_EQ(ReadBytes(target), translated);
}

TEST_F(PoRoundTrip, RebuiltImageHoldsTheTranslationsWhole)
{
    ASSERT_EQ(Apply(true).exitCode, 1);
    // The translations in place of the English texts; an untranslated text
    // and the German copy stay as they were.
    std::map<std::string, std::string> rebuilt = Sources(cli.Run({W("po"), W("extract"), target}).out);
    for (const auto& translation : kTranslations)
    {
        if (translation.first.compare(0, 5, "RULE ") != 0)
        {
            EXPECT_EQ(rebuilt[translation.first], translation.second) << translation.first;
        }
    }
    EXPECT_EQ(rebuilt["MENU 1 / 0x0100"], "&New\tCtrl+N");
    EXPECT_EQ(
        Sources(cli.Run({W("po"), W("extract"), target, W("--lang"), W("de-DE")}).out)["MENU 1 / popup 0"],
        "&Datei");
}

TEST_F(PoRoundTrip, ResourceLeftOutOfThePoFileStaysAsItWas)
{
    ASSERT_EQ(Apply(true).exitCode, 1);
    const std::string image = ReadBytes(target);
    std::vector<ResourceEntry> entries;
    std::string sReason;
    ASSERT_TRUE(ReadEntriesOf(reinterpret_cast<const BYTE*>(image.data()), static_cast<DWORD>(image.size()),
                              entries, sReason));
    std::map<WORD, std::string> descriptions;
    for (const ResourceEntry& entry : entries)
    {
        std::vector<ResourceText> texts;
        if (entry.type.wId == 16 && ListResourceTexts(entry, texts, sReason) && texts.size() == 1)
            descriptions[entry.name.wId] = texts[0].sText;
    }
    EXPECT_EQ(descriptions[1], "示例程序");
    EXPECT_EQ(descriptions[2], "Another description");
}

TEST_F(PoRoundTrip, RulesTakeTheCnsThatFitTheirBudget)
{
    ASSERT_EQ(Apply(true).exitCode, 1);
    // RULE 005's translation is over budget: its CN stays the rule set's own.
    const std::pair<UINT, const char*> rgCns[] = {{4, "这一行是ANSI文本"}, {5, "退出"}};
    for (const auto& expected : rgCns)
    {
        PatchRule rule;
        ASSERT_TRUE(ReadRule(rules.c_str(), expected.first, rule));
        EXPECT_EQ(ToUtf8(WString(rule.wsCn)), expected.second) << expected.first;
    }
}

// With --relocate, RULE 005's longer translation is taken: check finds no
// budget problem, apply writes the CN and relocates it into a new section,
// and only rule 007, whose EN is not in the program, fails.
TEST_F(PoRoundTrip, RelocateTakesALongerRuleTranslation)
{
    CliResult checked = cli.Run({W("po"), W("check"), target, po, W("--rules"), rules, W("--relocate")});
    EXPECT_EQ(checked.out.find("over the byte budget"), std::string::npos) << checked.out;
    CliResult applied = cli.Run({W("po"), W("apply"), target, po, W("--rules"), rules, W("--log"), log,
                                 W("--relocate"), W("--partial")});
    EXPECT_EQ(applied.exitCode, 1) << applied.err;
    EXPECT_NE(applied.out.find("the patch run (7 rules tried, 6 changed the image)"), std::string::npos)
        << applied.out;
    EXPECT_NE(applied.err.find("relocated (a longer CN in a new section): 005"), std::string::npos)
        << applied.err;
    PatchRule rule;
    ASSERT_TRUE(ReadRule(rules.c_str(), 5, rule));
    EXPECT_EQ(ToUtf8(WString(rule.wsCn)), "退出这个程序");
    const std::string image = ReadBytes(target);
    EXPECT_NE(image.find(std::string(".pivra")), std::string::npos);
    EXPECT_NE(image.find(Utf16Bytes(FromUtf8("退出这个程序")) + std::string(2, '\0')), std::string::npos);
}

TEST_F(PoRoundTrip, AsAddsACopyInThatLanguageBesideTheOriginals)
{
#ifdef _WIN32
    CliResult added = cli.Run({W("po"), W("apply"), copy, po, W("--as"), W("zh-CN")});
#else
    // Through a link: the file it names is translated and keeps its mode.
    const WString link = dir.Path(W("link.exe"));
    std::filesystem::create_symlink(ShownPath(copy), ShownPath(link));
    std::filesystem::permissions(ShownPath(copy), std::filesystem::perms(0750));
    CliResult added = cli.Run({W("po"), W("apply"), link, po, W("--as"), W("zh-CN")});
    EXPECT_TRUE(std::filesystem::is_symlink(ShownPath(link)));
    EXPECT_EQ(std::filesystem::status(ShownPath(copy)).permissions(), std::filesystem::perms(0750));
#endif
    EXPECT_EQ(added.exitCode, 0) << added.err;
    EXPECT_NE(added.err.find("3 translated rule texts left alone"), std::string::npos) << added.err;
    std::map<std::string, std::string> chinese =
        Sources(cli.Run({W("po"), W("extract"), copy, W("--lang"), W("zh-CN")}).out);
    std::map<std::string, std::string> english =
        Sources(cli.Run({W("po"), W("extract"), copy, W("--lang"), W("en-US")}).out);
    EXPECT_EQ(chinese["DIALOG 102 / caption"], "关于这个示例程序的一些说明");
    EXPECT_EQ(chinese["MENU 1 / 0x0100"], "&New\tCtrl+N");
    EXPECT_EQ(english["DIALOG 102 / caption"], "About the sample");
}

TEST(PoTest, CheckNamesWhatATranslationGetsWrong)
{
    TempDir dir;
    CliRunner cli(dir);
    const std::string original = ReadBytes(BuildPath(PIVRA_RES_TARGET));
    const WString target = dir.Path(W("app.exe")), po = dir.Path(W("app.po"));
    WriteBytes(target, original);
    const std::string sPot = cli.Run({W("po"), W("extract"), target}).out;
    std::string sPo = Translated(sPot,
                                 {{"MENU 1 / 0x0100", "新建(&X)\tStrg+N"},
                                  {"MENU 1 / 0x0108", "退出(&X)"},
                                  {"STRINGTABLE / 0x0061", std::string(70000, 'x')},
                                  {"STRINGTABLE / 0x0062", "还没有"}},
                                 {"STRINGTABLE / 0x0062"});
    sPo += "\nmsgctxt \"STRINGTABLE / 0x0063\"\nmsgid \"Gone\"\nmsgstr \"没了\"\n";
    WriteBytes(po, sPo);
    const std::string before = ReadBytes(target);

    CliResult checked = cli.Run({W("po"), W("check"), target, po});
    EXPECT_EQ(checked.exitCode, 1);
    for (const char* szLine :
         {"MENU 1 / popup 0: &X on MENU 1 / 0x0100 \"新建(&X)\\tStrg+N\" MENU 1 / 0x0108 "
          "\"退出(&X)\"",
          "fuzzy (1):\n  STRINGTABLE / 0x0062 \"Nothing here yet\"",
          "no longer in the target (1):\n  STRINGTABLE / 0x0063 \"Gone\"",
          "format specifiers (1):\n  MENU 1 / 0x0100 \"&New\\tCtrl+N\": ",
          "untranslated (5):\n  MENU 1 / popup 0 \"&File\"",
          "cannot be written into the image (1):\n  STRINGTABLE / 0x0061 and the texts beside it: "})
        EXPECT_NE(checked.out.find(szLine), std::string::npos) << szLine << "\n" << checked.out;
    EXPECT_EQ(ReadBytes(target), before);
}

TEST(PoTest, ApplyWritesAnOutputAndSaysWhatItReplaces)
{
    TempDir dir;
    CliRunner cli(dir);
    const std::string original = ReadBytes(BuildPath(PIVRA_RES_TARGET));
    const WString target = dir.Path(W("app.exe")), out = dir.Path(W("app-zh.exe")),
                  po = dir.Path(W("app.po"));
    const WString rules = dir.Path(W("fresh.ini"));
    WriteBytes(target, original);
    // A fresh rule set: its CN still empty, its EN in the program all the same.
    WriteUtf16(rules, "[001]\nEN=Ready\nCN=\n");
    const std::string sPot = cli.Run({W("po"), W("extract"), target, W("--rules"), rules}).out;
    EXPECT_NE(sPot.find("#. at 0x"), std::string::npos) << sPot;
    EXPECT_EQ(sPot.find("not found in the target"), std::string::npos) << sPot;

    WriteBytes(po, Translated(sPot, {{"MENU 1 / popup 0", "文件(&F)"}, {"MENU 1 / 0x0108", "退出(&X)"}}));
    CliResult written = cli.Run({W("po"), W("apply"), target, po, W("-o"), out});
    EXPECT_EQ(written.exitCode, 0) << written.err;
    EXPECT_EQ(ReadBytes(target), original);
    EXPECT_EQ(Sources(cli.Run({W("po"), W("extract"), out}).out)["MENU 1 / popup 0"], "文件(&F)");
    for (const WString& wsOutput : {target, po})
        EXPECT_EQ(cli.Run({W("po"), W("apply"), target, po, W("-o"), wsOutput, W("--force")}).exitCode, 2);
    EXPECT_EQ(ReadBytes(target), original);

#ifndef _WIN32
    // A rule set that cannot take its CNs is known before the image is written.
    WriteBytes(po, Translated(sPot, {{"MENU 1 / popup 0", "文件(&F)"}, {"RULE 001", "就绪"}}));
    std::filesystem::permissions(ShownPath(rules), std::filesystem::perms::owner_read);
    CliResult readOnly = cli.Run({W("po"), W("apply"), target, po, W("--rules"), rules});
    EXPECT_EQ(readOnly.exitCode, 2);
    EXPECT_NE(readOnly.err.find("fresh.ini: is read-only"), std::string::npos) << readOnly.err;
    EXPECT_EQ(ReadBytes(target), original);
    std::filesystem::permissions(ShownPath(rules), std::filesystem::perms(0644));
#endif

    // The program has MENU 1 in German: a copy that leaves "&New" English would
    // lose "&Neu", so it is refused, and replaced, said so, with --force.
    CliResult refused = cli.Run({W("po"), W("apply"), target, po, W("--as"), W("de-DE")});
    EXPECT_EQ(refused.exitCode, 2) << refused.err;
    EXPECT_NE(refused.err.find("would replace MENU 1 (de-DE, 3 texts)"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadBytes(target), original);
    CliResult replaced = cli.Run({W("po"), W("apply"), target, po, W("--as"), W("de-DE"), W("--force")});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_NE(replaced.out.find("added as de-DE, replacing 1 copy in that language"), std::string::npos)
        << replaced.out;
}

TEST(PoTest, ApplyRefusesFormatDifferencesBeforeWritingUnlessAllowed)
{
    TempDir dir;
    CliRunner cli(dir);
    const std::string original = ReadBytes(BuildPath(PIVRA_RES_TARGET));
    const WString target = dir.Path(W("app.exe")), po = dir.Path(W("app.po"));
    WriteBytes(target, original);
    const std::string sPot = cli.Run({W("po"), W("extract"), target}).out;
    WriteBytes(po,
               Translated(sPot, {{"MENU 1 / 0x0100", "新建(&N)\tStrg+N"}, {"MENU 1 / 0x0108", "退出(&X)"}}));
    const std::string sLine =
        "MENU 1 / 0x0100 \"&New\\tCtrl+N\": the shortcut after the tab is \"Strg+N\" where the source has "
        "\"Ctrl+N\"";
    CliResult checked = cli.Run({W("po"), W("check"), target, po});
    EXPECT_EQ(checked.exitCode, 1);
    EXPECT_NE(checked.out.find("format specifiers (1):\n  " + sLine + "\n"), std::string::npos)
        << checked.out;
    EXPECT_NE(checked.out.find("\n1 problem found\n"), std::string::npos) << checked.out;

    CliResult refused = cli.Run({W("po"), W("apply"), target, po, W("--backup")});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("format specifiers: " + sLine + "\n"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadBytes(target), original);
    EXPECT_EQ(ReadBytes(target + W(".bak")), "");

    CliResult allowed = cli.Run({W("po"), W("apply"), target, po, W("--allow-format")});
    EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
    EXPECT_EQ(Sources(cli.Run({W("po"), W("extract"), target}).out)["MENU 1 / 0x0100"], "新建(&N)\tStrg+N");
}

// Wine's notepad with a PO that keeps every source text, and with one that has
// 40 right translations and 20 seeded faults of every kind po check knows.
TEST(PoTest, CheckCountsWhatTheTranslationGotWrongNotWhatTheSourceHas)
{
    const std::string notepad = ReadBytes(BuildPath("/usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe"));
    if (notepad.empty())
        GTEST_SKIP() << "Wine's notepad.exe is not installed";
    TempDir dir;
    CliRunner cli(dir);
    const WString target = dir.Path(W("notepad.exe")), po = dir.Path(W("notepad.po"));
    const WString rules = dir.Path(W("rules.ini"));
    WriteBytes(target, notepad);
    WriteUtf16(rules, "[001]\nEN=Notepad\nCN=\n[002]\nEN=ERROR\nCN=\n");

    std::vector<PoEntry> same = ReadPoText(cli.Run({W("po"), W("extract"), target}).out);
    for (PoEntry& entry : same)
        if (entry.fHasContext)
            entry.strs = {entry.sId};
    WriteBytes(po, WritePo(same));
    CliResult unchanged = cli.Run({W("po"), W("check"), target, po});
    EXPECT_EQ(unchanged.exitCode, 0) << unchanged.out;
    EXPECT_NE(unchanged.out.find("note: accelerator keys the source texts share already (3):\n"),
              std::string::npos)
        << unchanged.out;
    EXPECT_NE(unchanged.out.find("\nno problems found\n"), std::string::npos) << unchanged.out;

    WriteBytes(po, ReadBytes(BuildPath(PIVRA_SEEDED_PO)));
    CliResult seeded =
        cli.Run({W("po"), W("check"), target, po, W("--rules"), rules, W("--charset"), W("936")});
    EXPECT_EQ(seeded.exitCode, 1);
    // Every seeded fault once; the notes name the three unchanged texts and the
    // clashes notepad's own texts have, and no right translation.
    for (const char* szList :
         {"\nno longer in the target (2):\n", "\naccelerator keys (3):\n", "\nformat specifiers (5):\n",
          "\nline breaks (4):\n", "\ncharacters code page 936 lacks (2):\n", "\nover the byte budget (1):\n",
          "\nnote: accelerator keys the source texts share already (3):\n",
          "\nnote: the same as the source text (3):\n", "\n17 problems found\n"})
        EXPECT_NE(seeded.out.find(szList), std::string::npos) << szList << seeded.out;
    EXPECT_EQ(ReadBytes(target), notepad);
}
