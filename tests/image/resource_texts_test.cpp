// Resource texts against windres: one .rc written twice from one table, with
// the source texts and with translations of other lengths; both compiled by
// windres. Listing the first must give the table's contexts and texts, and
// translating it must give windres's own bytes for the second.
#include "image/resource_texts.h"

#include "port/native_path.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace
{
struct TextCase
{
    const char* szContext;
    const char* szSource;
    const char* szTranslation;
};

// Row i fills the {i} of the template below.
const TextCase kTexts[] = {
    {"MENU 1 / popup 0", "&File", "文件(&F)"},
    {"MENU 1 / 0x0064", "&Open...\tCtrl+O", "打开(&O)...\tCtrl+O"},
    {"MENU 1 / popup 0.2", "&Recent files", "最近(&R)"},
    {"MENU 1 / 0x0065", "One", "一个很长的最近文件名称"},
    {"MENU 1 / popup 0.2.1", "Deeper", "更深"},
    {"MENU 1 / 0x0066", "Deepest item", "最深"},
    {"MENU 1 / 0x0064 #2", "E&xit", "退出(&X)"},
    {"MENU 1 / 0x0067", "&Help", "帮助(&H)"},
    {"MENU MAINMENU / popup 0", "&Edit", "编辑(&E)"},
    {"MENU MAINMENU / 0x00C9", "&Undo", "撤消(&U)"},
    {"MENU MAINMENU / popup 0.2", "More", "更多选项"},
    {"MENU MAINMENU / 0x11170", "Big id", "大"},
    {"MENU MAINMENU / 0x00C9 #2", "Undo again", "再"},
    {"DIALOG 102 / caption", "About", "关于本程序"},
    {"DIALOG 102 / control 0", "Hello \"world\"", "你好"},
    {"DIALOG 102 / control 3", "OK", "确定"},
    {"DIALOG 102 / control 4", "Custom", "自定义控件"},
    {"DIALOG 103 / caption", "Extended", "扩展"},
    {"DIALOG 103 / control 0", "Hi", "嗨你好"},
    {"DIALOG 103 / control 1", "Button with data", "按钮"},
    {"DIALOG 103 / control 3", "Odd", "奇"},
    {"STRINGTABLE / 0x0001", "one", "一"},
    {"STRINGTABLE / 0x0002", "Path C:\\temp\\x \"quoted\"", "路径 C:\\temp\\x “引号”"},
    {"STRINGTABLE / 0x000F", "last of block one", ""},
    {"STRINGTABLE / 0x0010", "first of block two", "第二块 😀"},
    {"STRINGTABLE / 0x0028", "block three\nsecond line", "三\n第二行"},
    {"VERSION / CompanyName", "Example Co", "示例公司"},
    {"VERSION / FileDescription", "Test program", "测试"},
    {"VERSION 080404B0 / FileDescription", "Second table", "第二个表的描述"},
};

const char kTemplate[] = R"rc(LANGUAGE 9, 1
1 MENU
BEGIN
  POPUP "{0}"
  BEGIN
    MENUITEM "{1}", 100
    MENUITEM SEPARATOR
    POPUP "{2}"
    BEGIN
      MENUITEM "{3}", 101, CHECKED
      POPUP "{4}"
      BEGIN
        MENUITEM "{5}", 102, GRAYED
      END
    END
    MENUITEM "{6}", 100
  END
  MENUITEM "{7}", 103, HELP
END
MAINMENU MENUEX
BEGIN
  POPUP "{8}", 200, 0, 0, 77
  BEGIN
    MENUITEM "{9}", 201
    MENUITEM "", 0, 0x800
    POPUP "{10}", 202, 0x100, 0, 78
    BEGIN
      MENUITEM "{11}", 70000, 0, 3
    END
    MENUITEM "{12}", 201
  END
END
102 DIALOG 10, 20, 200, 100
STYLE 0x80C800C0
CAPTION "{13}"
FONT 8, "MS Shell Dlg"
BEGIN
  LTEXT "{14}", 1, 5, 5, 50, 8
  ICON 1, 2, 5, 20, 20, 20
  ICON "APPICON", 3, 30, 20, 20, 20
  DEFPUSHBUTTON "{15}", 1, 5, 50, 40, 14
  CONTROL "{16}", 4, "MyClass", 0x50010000, 5, 70, 40, 14, 0x200
  EDITTEXT 5, 60, 5, 50, 12
END
103 DIALOGEX 10, 20, 200, 100, 4321
STYLE 0x80C80048
EXSTYLE 0x100
CAPTION "{17}"
MENU MAINMENU
CLASS "MyDialogClass"
FONT 9, "Tahoma", 700, 1, 134
BEGIN
  LTEXT "{18}", 1, 5, 5, 50, 8
  CONTROL "{19}", 5, "Button", 0x50010000, 5, 50, 40, 14, 0x20, 1234
  BEGIN
    1, 2, 3
  END
  ICON 1, 2, 5, 20, 20, 20
  CONTROL "{20}", 6, "Button", 0x50010000, 5, 70, 40, 14
  BEGIN
    7
  END
END
STRINGTABLE
BEGIN
  1 "{21}"
  2 "{22}"
  15 "{23}"
  16 "{24}"
  40 "{25}"
END
1 VERSIONINFO
FILEVERSION 1,2,3,4
PRODUCTVERSION 1,2,0,0
FILEFLAGSMASK 0x3f
FILEOS 0x40004
FILETYPE 1
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", "{26}"
      VALUE "FileDescription", "{27}"
      VALUE "Comments", ""
    END
    BLOCK "080404B0"
    BEGIN
      VALUE "FileDescription", "{28}"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200, 0x804, 1200
  END
END
)rc";

// windres reads "" as a quote and backslash escapes as in C.
std::string RcEscape(const std::string& s)
{
    std::string sOut;
    for (char c : s)
        sOut += c == '"'    ? std::string("\"\"")
                : c == '\\' ? std::string("\\\\")
                : c == '\t' ? "\\t"
                : c == '\n' ? "\\n"
                            : std::string(1, c);
    return sOut;
}

std::string MakeRc(bool fTranslated)
{
    std::string s = kTemplate;
    for (size_t i = 0; i < sizeof(kTexts) / sizeof(kTexts[0]); ++i)
    {
        std::string sMark = "{" + std::to_string(i) + "}";
        size_t at = s.find(sMark);
        if (at != std::string::npos)
            s.replace(at, sMark.size(), RcEscape(fTranslated ? kTexts[i].szTranslation : kTexts[i].szSource));
    }
    return s;
}

WORD Get16(const std::string& b, size_t at)
{
    return static_cast<WORD>(static_cast<BYTE>(b[at]) | static_cast<BYTE>(b[at + 1]) << 8);
}
DWORD Get32(const std::string& b, size_t at)
{
    return Get16(b, at) | static_cast<DWORD>(Get16(b, at + 2)) << 16;
}

// The resources of a .res file: each a header (data size, header size, type
// and name as 0xFFFF and a number or a zero-terminated name, DWORD-aligned
// fixed fields with the language) and its data, aligned.
std::vector<ResourceEntry> ReadRes(const std::string& b)
{
    auto ReadId = [&b](size_t& at) {
        ResourceId id = {Get16(b, at) != 0xFFFF, 0, {}};
        if (!id.fNamed)
            id.wId = Get16(b, at += 2);
        for (; id.fNamed && Get16(b, at) != 0; at += 2)
            id.name += static_cast<char16_t>(Get16(b, at));
        at += 2;
        return id;
    };
    std::vector<ResourceEntry> entries;
    for (size_t at = 0; at + 32 <= b.size();)
    {
        DWORD cbData = Get32(b, at), cbHeader = Get32(b, at + 4);
        size_t p = at + 8;
        ResourceEntry entry;
        entry.type = ReadId(p);
        entry.name = ReadId(p);
        entry.wLang = Get16(b, ((p + 3) & ~size_t(3)) + 6);
        entry.dwCodePage = 0;
        entry.data.assign(b.begin() + at + cbHeader, b.begin() + at + cbHeader + cbData);
        if (cbData != 0)
            entries.push_back(entry);
        at = (at + cbHeader + cbData + 3) & ~size_t(3);
    }
    return entries;
}

std::vector<ResourceEntry> Compile(const TempDir& dir, const char* szName, const std::string& sRc)
{
    std::string sRcPath = NativePath(dir.Path(WString(u"x") + Utf8ToUtf16(szName) + u".rc").c_str());
    std::string sResPath = sRcPath.substr(0, sRcPath.size() - 3) + ".res";
    WriteBytes(Utf8ToUtf16(sRcPath.c_str()), sRc);
    std::string sCommand =
        std::string(PIVRA_WINDRES) + " -c 65001 -O res -i '" + sRcPath + "' -o '" + sResPath + "'";
    EXPECT_EQ(0, std::system(sCommand.c_str())) << sCommand;
    return ReadRes(ReadBytes(Utf8ToUtf16(sResPath.c_str())));
}

std::map<std::string, ResourceText> ListAll(const std::vector<ResourceEntry>& entries)
{
    std::map<std::string, ResourceText> listed;
    for (const ResourceEntry& entry : entries)
    {
        std::vector<ResourceText> texts;
        std::string sReason;
        EXPECT_EQ(1, ListResourceTexts(entry, texts, sReason)) << sReason;
        for (const ResourceText& text : texts)
            EXPECT_TRUE(listed.emplace(text.sContext, text).second) << "twice: " << text.sContext;
    }
    return listed;
}

std::map<std::string, std::string> TextsOf(const std::map<std::string, ResourceText>& listed)
{
    std::map<std::string, std::string> texts;
    for (const auto& item : listed)
        texts[item.first] = item.second.sText;
    return texts;
}

// Where a translator sees a text: its group and place, for a few of them.
const struct
{
    const char* szContext;
    const char* szGroup;
    const char* szPlace;
} kPlaces[] = {
    {"MENU 1 / popup 0", "MENU 1", "MENU 1 en-US, popup 0"},
    {"MENU 1 / 0x0066", "MENU 1 / popup 0.2.1",
     "MENU 1 en-US, popup 0 \"&File\", popup 0.2 \"&Recent files\", popup 0.2.1 \"Deeper\", item 0x0066"},
    {"MENU 1 / 0x0067", "MENU 1", "MENU 1 en-US, item 0x0067"},
    {"DIALOG 102 / control 4", "DIALOG 102", "DIALOG 102 en-US, control 4 (MYCLASS, id 0x0004)"},
    {"DIALOG 103 / caption", "DIALOG 103", "DIALOG 103 en-US, caption"},
    {"STRINGTABLE / 0x0010", "STRINGTABLE / 0x0010", "STRINGTABLE en-US, string 0x0010"},
    {"VERSION 080404B0 / FileDescription", "VERSION 080404B0 / FileDescription",
     "VERSIONINFO 1 en-US, StringFileInfo 080404B0, FileDescription"},
};

TEST(ResourceTexts, TranslatedAsWindresCompilesTheTranslation)
{
    TempDir dir;
    std::vector<ResourceEntry> source = Compile(dir, "source", MakeRc(false));
    std::vector<ResourceEntry> target = Compile(dir, "target", MakeRc(true));
    ASSERT_EQ(source.size(), target.size());
    ASSERT_EQ(8u, source.size()); // two menus, two dialogs, three string blocks, the version

    std::map<std::string, std::string> expected, translations, expectedAfter;
    for (const TextCase& row : kTexts)
    {
        expected[row.szContext] = row.szSource;
        translations[row.szContext] = row.szTranslation;
        if (*row.szTranslation != 0)
            expectedAfter[row.szContext] = row.szTranslation;
    }
    std::map<std::string, ResourceText> listed = ListAll(source);
    EXPECT_EQ(expected, TextsOf(listed));
    for (const auto& c : kPlaces)
    {
        EXPECT_EQ(c.szGroup, listed[c.szContext].sGroup) << c.szContext;
        EXPECT_EQ(c.szPlace, listed[c.szContext].sPlace) << c.szContext;
    }

    std::vector<ResourceEntry> translated = source;
    for (size_t i = 0; i < source.size(); ++i)
    {
        std::string sReason;
        std::vector<BYTE> data;
        EXPECT_TRUE(HasResourceTexts(source[i]));
        ASSERT_EQ(1, TranslateResource(source[i], {}, data, sReason)) << sReason;
        EXPECT_EQ(source[i].data, data) << "untranslated, resource " << i;
        ASSERT_EQ(1, TranslateResource(source[i], translations, translated[i].data, sReason)) << sReason;
        EXPECT_EQ(target[i].data, translated[i].data) << "translated, resource " << i;
    }
    EXPECT_EQ(expectedAfter, TextsOf(ListAll(translated)));
}

// Cut short anywhere, a menu, dialog or version resource is refused by both
// calls with a reason, never read in part or written half.
TEST(ResourceTexts, CutShortIsRefused)
{
    TempDir dir;
    std::map<std::string, std::string> translations;
    for (const TextCase& row : kTexts)
        translations[row.szContext] = row.szTranslation;
    for (const ResourceEntry& whole : Compile(dir, "source", MakeRc(false)))
    {
        if (whole.type.wId == 6)
            continue;
        for (size_t cb = 0; cb < whole.data.size(); ++cb)
        {
            ResourceEntry entry = whole;
            entry.data.resize(cb);
            std::vector<ResourceText> texts;
            std::vector<BYTE> data = {1};
            std::string sList, sTranslate;
            EXPECT_EQ(0, ListResourceTexts(entry, texts, sList)) << whole.type.wId << " cut to " << cb;
            EXPECT_EQ(0, TranslateResource(entry, translations, data, sTranslate));
            EXPECT_TRUE(texts.empty() && data.empty() && !sList.empty() && !sTranslate.empty());
        }
    }
}

std::vector<BYTE> Units(std::initializer_list<WORD> units)
{
    std::vector<BYTE> b;
    for (WORD w : units)
    {
        b.push_back(static_cast<BYTE>(w));
        b.push_back(static_cast<BYTE>(w >> 8));
    }
    return b;
}

// Forms windres does not write: counted strings that keep a terminator, lone
// surrogates, and translations a zero-terminated text cannot hold.
TEST(ResourceTexts, EdgeForms)
{
    const struct
    {
        WORD wType;
        std::vector<BYTE> data;
        const char* szContext;
        const char* szListed;
        std::string sTranslation;
        int iResult;
        std::vector<BYTE> translated;
    } kCases[] = {
        // String 0 "ab\0" keeps its terminator at any length.
        {6, Units({3, 'a', 'b', 0}), "STRINGTABLE / 0x0000", "ab", "xyz", 1, Units({4, 'x', 'y', 'z', 0})},
        // A lone surrogate is listed as U+FFFD and written back only when translated.
        {6, Units({2, 0xD800, 'a'}), "STRINGTABLE / 0x0000",
         "\xEF\xBF\xBD"
         "a",
         "b\xED\xA0\x80", 1, Units({4, 'b', 0xFFFD, 0xFFFD, 0xFFFD})},
        // Counted strings may hold a zero; menu texts may not.
        {6, Units({1, 'a'}), "STRINGTABLE / 0x0000", "a", std::string("x\0y", 3), 1, Units({3, 'x', 0, 'y'})},
        {4, Units({0, 0, 0x80, 7, 'a', 0}), "MENU 1 / 0x0007", "a", std::string("x\0y", 3), 0, {}},
        {4, Units({0, 0, 0x80, 7, 'a', 0}), "MENU 1 / 0x0007", "a", "", 1, Units({0, 0, 0x80, 7, 0})},
    };
    for (const auto& c : kCases)
    {
        ResourceEntry entry = {{false, c.wType, {}}, {false, 1, {}}, 0x0409, 0, c.data};
        std::vector<ResourceText> texts;
        std::string sReason;
        ASSERT_EQ(1, ListResourceTexts(entry, texts, sReason)) << sReason;
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(c.szContext, texts[0].sContext);
        EXPECT_EQ(c.szListed, texts[0].sText);
        std::vector<BYTE> data;
        EXPECT_EQ(1, TranslateResource(entry, {}, data, sReason));
        EXPECT_EQ(c.data, data);
        EXPECT_EQ(c.iResult, TranslateResource(entry, {{c.szContext, c.sTranslation}}, data, sReason));
        EXPECT_EQ(c.translated, data);
        // Into the entry's own data, as a caller rewriting its list in place does.
        EXPECT_EQ(c.iResult, TranslateResource(entry, {{c.szContext, c.sTranslation}}, entry.data, sReason));
        EXPECT_EQ(c.translated, entry.data);
    }
}
} // namespace
