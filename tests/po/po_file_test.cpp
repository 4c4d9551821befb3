// PO files: GNU gettext judges what WritePo writes and writes what ReadPo must
// read back; hand-written files in the styles translators' tools save, and
// broken ones whose errors must name the right line.
#include "po/po_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#ifndef _WIN32
#include "port/native_path.h"
#endif

namespace
{
PoEntry Entry(const std::string& sId, const std::vector<std::string>& strs)
{
    PoEntry entry;
    entry.sId = sId;
    entry.strs = strs;
    return entry;
}

std::string Describe(const PoEntry& e)
{
    std::string s = WritePo({e});
    return s.empty() ? "(nothing)" : s;
}

#ifndef _WIN32
const char* const rgszPieces[] = {
    "a",    "Z",   " ",    "\"",  "\\",  "\t", "\n",    "中文", "é",  "\x01", "\x1b",
    "\x7f", "\r",  "&",    "%s",  "#~",  "|",  "msgid", "\a",   "\f", "\v",   "\xF0\x9F\x98\x80",
    "\x1f", "\\n", "\"\"", "#, ", "123", ","};

std::string RandomText(std::mt19937& random, int cMax)
{
    std::string s;
    int c = static_cast<int>(random() % (cMax + 1));
    for (int i = 0; i < c; i++)
        s += rgszPieces[random() % (sizeof(rgszPieces) / sizeof(rgszPieces[0]))];
    return s;
}

// A comment or reference: one line, no control characters.
std::string RandomWord(std::mt19937& random, const char* szAlphabet)
{
    static const char* const rgszExtra[] = {"中", "\"", "\\", "#", ",", ":", ".", "~", "|", "!"};
    std::string s;
    int c = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < c; i++)
    {
        if (random() % 4 == 0)
            s += rgszExtra[random() % 10];
        else
            s += szAlphabet[random() % std::char_traits<char>::length(szAlphabet)];
    }
    // msgcat writes a comment's last backslash so that it joins the next line.
    return s.back() == '\\' ? s + "x" : s;
}

// msgfmt --check wants a translation to start and end with a line break
// exactly when its msgid does.
std::string MatchLineBreaks(const std::string& sId, const std::string& s)
{
    if (s.empty())
        return s;
    size_t iStart = s.find_first_not_of('\n');
    size_t iEnd = s.find_last_not_of('\n');
    std::string sCore = iStart == std::string::npos ? "x" : s.substr(iStart, iEnd + 1 - iStart);
    bool fStart = !sId.empty() && sId.front() == '\n';
    bool fEnd = !sId.empty() && sId.back() == '\n';
    return (fStart ? "\n" : "") + sCore + (fEnd ? "\n" : "");
}

PoEntry RandomEntry(std::mt19937& random)
{
    PoEntry e;
    e.fHasContext = random() % 3 == 0;
    if (e.fHasContext)
        e.sContext = RandomText(random, 4);
    e.sId = RandomText(random, 20);
    if (!e.fHasContext && e.sId.empty())
        e.sId = "x";
    bool fPlural = random() % 4 == 0;
    if (fPlural)
        e.sIdPlural = MatchLineBreaks(e.sId, RandomText(random, 8) + "s");
    // An empty msgstr[0] marks the entry untranslated; once it is not, msgfmt
    // checks every other form too.
    for (size_t i = 0; i < (fPlural ? 2u : 1u); i++)
    {
        std::string s = RandomText(random, 24);
        if (s.empty() && i > 0 && !e.strs[0].empty())
            s = "x";
        e.strs.push_back(MatchLineBreaks(e.sId, s));
    }
    for (unsigned i = random() % 3; i > 0; i--)
        e.translatorComments.push_back((random() % 5 == 0 ? " " : "") + RandomWord(random, "abc XYZ\t"));
    for (unsigned i = random() % 2; i > 0; i--)
        e.extractedComments.push_back(RandomWord(random, "def UVW"));
    for (unsigned i = random() % 3; i > 0; i--)
        e.references.push_back("src/" + std::to_string(random() % 100) +
                               ".rc:" + std::to_string(random() % 900));
    static const char* const rgszFlags[] = {"fuzzy", "no-c-format", "no-wrap"};
    for (const char* szFlag : rgszFlags)
    {
        if (random() % 3 == 0)
            e.flags.push_back(szFlag);
    }
    if (random() % 4 == 0)
    {
        e.fHasPrevContext = random() % 2 == 0;
        if (e.fHasPrevContext)
            e.sPrevContext = RandomText(random, 3);
        e.sPrevId = RandomText(random, 6) + "p";
    }
    e.fObsolete = random() % 6 == 0;
    return e;
}

std::string RunTool(const std::string& sCommand, const std::string& sErrFile)
{
    int rc = std::system((sCommand + " 2>" + sErrFile).c_str());
    return rc == 0 ? std::string() : "'" + sCommand + "' failed (" + std::to_string(rc) + ")";
}

TEST(PoFile, GettextAcceptsWhatIsWrittenAndItsRewriteReadsBack)
{
    if (std::system("msgfmt --version >/dev/null 2>&1 && msgcat --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU gettext is not installed (scripts/setup installs it)";
    TempDir dir;
    const std::string sPo = NativePath(dir.Path(W("written.po")).c_str());
    const std::string sCat = NativePath(dir.Path(W("msgcat.po")).c_str());
    const std::string sErr = NativePath(dir.Path(W("err.txt")).c_str());
    std::mt19937 random(20261209);
    for (int iRound = 0; iRound < 40; iRound++)
    {
        PoEntry header =
            Entry("", {"Project-Id-Version: t 1\nPO-Revision-Date: 2026-12-09 12:00+0000\n"
                       "Last-Translator: T <t@example.org>\nLanguage-Team: de\nLanguage: de\n"
                       "MIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\n"
                       "Content-Transfer-Encoding: 8bit\nPlural-Forms: nplurals=2; plural=(n != 1);\n"});
        std::vector<PoEntry> entries = {header};
        std::set<std::tuple<bool, std::string, std::string>> keys;
        while (entries.size() < 30)
        {
            PoEntry e = RandomEntry(random);
            if (keys.insert(std::make_tuple(e.fHasContext, e.sContext, e.sId)).second)
                entries.push_back(e);
        }
        std::string sText = WritePo(entries);
        WriteBytes(dir.Path(W("written.po")), sText);
        std::string sFailure = RunTool("msgfmt --check -o /dev/null '" + sPo + "'", sErr);
        ASSERT_EQ(sFailure, "") << ReadBytes(dir.Path(W("err.txt"))) << "\n" << sText;
        sFailure = RunTool("msgcat -o '" + sCat + "' '" + sPo + "'", sErr);
        ASSERT_EQ(sFailure, "") << ReadBytes(dir.Path(W("err.txt")));

        std::vector<PoEntry> read;
        std::string sReason;
        std::string sCatText = ReadBytes(dir.Path(W("msgcat.po")));
        ASSERT_TRUE(ReadPo(sCatText, read, sReason)) << sReason << "\n" << sCatText;
        // msgcat drops obsolete entries without a translation, moves the
        // others to the end and writes flags in an order of its own.
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [](const PoEntry& e) { return e.fObsolete && e.strs[0].empty(); }),
                      entries.end());
        ASSERT_EQ(read.size(), entries.size()) << sCatText;
        std::map<std::tuple<bool, std::string, std::string>, PoEntry> byKey;
        for (PoEntry& e : read)
        {
            std::sort(e.flags.begin(), e.flags.end());
            byKey[std::make_tuple(e.fHasContext, e.sContext, e.sId)] = e;
        }
        for (PoEntry e : entries)
        {
            // ... and keeps "fuzzy" only on a translated entry or the header.
            if ((e.fHasContext || !e.sId.empty()) && e.strs[0].empty())
                e.flags.erase(std::remove(e.flags.begin(), e.flags.end(), "fuzzy"), e.flags.end());
            std::sort(e.flags.begin(), e.flags.end());
            auto found = byKey.find(std::make_tuple(e.fHasContext, e.sContext, e.sId));
            ASSERT_TRUE(found != byKey.end()) << Describe(e);
            EXPECT_EQ(found->second, e) << "written:\n"
                                        << Describe(e) << "read back:\n"
                                        << Describe(found->second);
        }
    }
}
#endif

TEST(PoFile, ReadsWhatTranslatorsToolsSave)
{
    // Poedit: BOM, CRLF, a fuzzy header with plural forms, a previous msgid.
    const std::string sPoedit = "\xEF\xBB\xBF"
                                "# German translation\r\n"
                                "#, fuzzy\r\n"
                                "msgid \"\"\r\n"
                                "msgstr \"\"\r\n"
                                "\"Content-Type: text/plain; charset=UTF-8\\n\"\r\n"
                                "\"Plural-Forms: nplurals=2; plural=(n != 1);\\n\"\r\n"
                                "\r\n"
                                "#: main.rc:12 main.rc:40\r\n"
                                "#, fuzzy, c-format\r\n"
                                "#| msgid \"%d file\"\r\n"
                                "#| msgid_plural \"%d files\"\r\n"
                                "msgid \"%d item\"\r\n"
                                "msgid_plural \"%d items\"\r\n"
                                "msgstr[0] \"%d Eintrag\"\r\n"
                                "msgstr[1] \"%d Einträge\"\r\n";
    std::vector<PoEntry> entries;
    std::string sReason;
    ASSERT_TRUE(ReadPo(sPoedit, entries, sReason)) << sReason;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].translatorComments, std::vector<std::string>{"German translation"});
    EXPECT_TRUE(entries[0].HasFlag("fuzzy"));
    EXPECT_EQ(entries[0].strs, std::vector<std::string>{"Content-Type: text/plain; charset=UTF-8\n"
                                                        "Plural-Forms: nplurals=2; plural=(n != 1);\n"});
    PoEntry plural = Entry("%d item", {"%d Eintrag", "%d Einträge"});
    plural.sIdPlural = "%d items";
    plural.references = {"main.rc:12", "main.rc:40"};
    plural.flags = {"fuzzy", "c-format"};
    plural.sPrevId = "%d file";
    plural.sPrevIdPlural = "%d files";
    EXPECT_EQ(entries[1], plural) << Describe(entries[1]);

    // Weblate and msgmerge: extracted comments, contexts, wrapped strings with
    // escapes of every kind, and obsolete entries with their previous msgid.
    const std::string sWeblateGood =
        "msgid \"\"\n"
        "msgstr \"Content-Type: text/plain; charset=utf-8\\n\"\n"
        "\n"
        "#. Translators: the File menu\n"
        "#:   menu.rc:3\n"
        "msgctxt \"MENU 1\"\n"
        "msgid \"\"\n"
        "\"&Open...\\t\"\n"
        "  \"Ctrl+\\\n"
        "O\"\n"
        "msgstr \"Ö&ffnen...\\tCtrl+O \\\"\\\\\\a\\b\\f\\v\\r\\x41\\101\\0101\"\n"
        "\n"
        "# old\n"
        "#, fuzzy\n"
        "#~| msgid \"Close\"\n"
        "#~ msgid \"Quit\"\n"
        "#~ msgstr \"\"\n"
        "#~ \"Beenden\"\n";
    ASSERT_TRUE(ReadPo(sWeblateGood, entries, sReason)) << sReason;
    ASSERT_EQ(entries.size(), 3u);
    PoEntry menu = Entry("&Open...\tCtrl+O", {"Ö&ffnen...\tCtrl+O \"\\\a\b\f\v\rAA\b1"});
    menu.extractedComments = {"Translators: the File menu"};
    menu.references = {"menu.rc:3"};
    menu.fHasContext = true;
    menu.sContext = "MENU 1";
    EXPECT_EQ(entries[1], menu) << Describe(entries[1]);
    PoEntry obsolete = Entry("Quit", {"Beenden"});
    obsolete.translatorComments = {"old"};
    obsolete.flags = {"fuzzy"};
    obsolete.sPrevId = "Close";
    obsolete.fObsolete = true;
    EXPECT_EQ(entries[2], obsolete) << Describe(entries[2]);
}

TEST(PoFile, BrokenTextFailsAtItsLine)
{
    struct Case
    {
        const char* szText;
        const char* szError;
    };
    const Case rgCases[] = {
        {"msgid \"a\"\nmsgstr \"b\n", "line 2: the string has no closing quote"},
        {"msgid \"a\"\nmsgstr \"b\\\"\n", "line 2: the string has no closing quote"},
        {"\nmsgid \"a\\q\"\nmsgstr \"\"\n", "line 2: invalid escape \\q"},
        {"msgid \"a\"\nmsgstr \"\\u00D6\"\n", "line 2: invalid escape \\u"},
        {"msgstr \"b\"\n", "line 1: msgstr without a msgid before it"},
        {"msgid \"a\"\nmsgstr \"b\"\nhello\n", "line 3: unexpected text 'hello'"},
        {"msgid \"a\"\nmsgstr \"b\" x\n", "line 2: unexpected text after a string"},
        {"msgid \"a\"\n\n# c\nmsgstr \"b\"\n", "line 3: a comment inside an entry, before its msgstr"},
        {"msgid \"a\"\nmsgstr \"b\"\n\"c\"\n\"d\n", "line 4: the string has no closing quote"},
        {"# c\n\"c\"\n", "line 2: a string without a keyword before it"},
        {"msgid \"a\"\nmsgid_plural \"as\"\nmsgstr[0] \"\"\nmsgstr[2] \"\"\n",
         "line 4: msgstr[2] where msgstr[1] was expected"},
        {"msgid \"a\"\nmsgstr[0] \"\"\n", "line 2: msgstr[0] without a msgid_plural"},
        {"msgid \"a\"\nmsgid_plural \"as\"\nmsgstr \"\"\n",
         "line 3: msgstr after msgid_plural needs an index: msgstr[0]"},
        {"msgid \"a\"\nmsgstr \"b\"\nmsgstr \"c\"\n", "line 3: a second msgstr in one entry"},
        {"msgid \"a\"\nmsgstr \"b\"\n\n#~ msgid \"a\"\n#~ msgstr \"c\"\n",
         "line 4: a second entry for this msgid (the first is at line 1)"},
        {"#~ msgid \"a\"\nmsgstr \"b\"\n", "line 2: the entry mixes #~ lines with live lines"},
        {"msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=ISO-8859-1\\n\"\n",
         "line 2: the header says charset=ISO-8859-1; only UTF-8 is read (msgconv --to-code=UTF-8 converts "
         "the file)"},
        {"# c\nmsgid \"\"\nmsgstr \"CONTENT-TYPE: text/plain; Charset=windows-1252\\n\"\n",
         "line 3: the header says charset=windows-1252; only UTF-8 is read (msgconv --to-code=UTF-8 converts "
         "the file)"},
        {"msgid \"caf\xE9\"\nmsgstr \"\"\n", "line 1: the line is not valid UTF-8"},
        {"msgid \"a\"\nmsgstr \"\\303\"\n", "line 2: an escape makes the msgstr invalid UTF-8"},
        {"msgid \"a\"\nmsgstr \"\\0\"\n", "line 2: a string cannot hold a NUL character"},
        {"msgid \"a\"\nmsgstr \"\\777\"\n", "line 2: the escape \\511 is larger than a byte"},
        {"\n\nmsgctxt \"k\"\nmsgid \"a\"\n", "line 4: msgid without a msgstr after it"},
        {"\xFF\xFEm\0s\0", "line 1: the file is UTF-16; PO files are read as UTF-8"},
        {"msgid \"a\"\nmsgstr \"b\"\n#| msgstr \"c\"\n",
         "line 3: #| holds only msgctxt, msgid and msgid_plural"},
    };
    for (const Case& c : rgCases)
    {
        std::vector<PoEntry> entries = {Entry("stale", {""})};
        std::string sReason;
        EXPECT_FALSE(ReadPo(c.szText, entries, sReason)) << c.szText;
        EXPECT_EQ(sReason, c.szError) << c.szText;
        EXPECT_TRUE(entries.empty()) << c.szText;
    }
}

TEST(PoFile, WriterLeavesOutWhatOneFileCannotHold)
{
    PoEntry stale = Entry("Open", {"Alt"});
    stale.fObsolete = true;
    PoEntry comment = Entry("Save", {"Spei\0chern"});
    comment.strs[0] = std::string("Spei\0chern", 10);
    comment.translatorComments = {"two\nlines"};
    comment.extractedComments = {"ends in \\"};
    comment.flags = {"", "fuzzy"};
    std::vector<PoEntry> entries = {stale, Entry("Open", {"Öffnen"}), Entry("Open", {"Auf"}), comment};
    std::vector<PoEntry> read;
    std::string sReason;
    ASSERT_TRUE(ReadPo(WritePo(entries), read, sReason)) << sReason << WritePo(entries);
    ASSERT_EQ(read.size(), 2u) << WritePo(entries);
    EXPECT_EQ(read[0], Entry("Open", {"Öffnen"}));
    PoEntry saved = Entry("Save", {"Speichern"});
    saved.translatorComments = {"two", "lines"};
    saved.extractedComments = {"ends in \\"};
    saved.flags = {"fuzzy"};
    EXPECT_EQ(read[1], saved) << Describe(read[1]);
}
} // namespace
