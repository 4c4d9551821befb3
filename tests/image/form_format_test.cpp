// Forms built byte by byte: each value type skipped exactly (the text behind
// it still found) or refused with a reason, per compiler where type 21 and 22
// differ; translations written in the type that holds them; the map's labels.
#include "image/image_map.h"
#include "image/resource_texts.h"
#include "scan/write_safety.h"
#include "support/test_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
std::string Short(const std::string& s)
{
    return std::string(1, static_cast<char>(s.size())) + s;
}

std::string Le32(DWORD dw)
{
    return {static_cast<char>(dw), static_cast<char>(dw >> 8), static_cast<char>(dw >> 16),
            static_cast<char>(dw >> 24)};
}

std::string Wide(const std::u16string& ws)
{
    std::string s = Le32(static_cast<DWORD>(ws.size()));
    for (char16_t w : ws)
        s += {static_cast<char>(w), static_cast<char>(w >> 8)};
    return s;
}

// A form whose root holds Caption 'Main', then the property P with value,
// then Hint 'After'; its one child a button with a caption.
std::string FormWith(const std::string& sValue)
{
    return "TPF0" + Short("TMainForm") + Short("MainForm") + Short("Caption") + "\x06" + Short("Main") +
           Short("P") + sValue + Short("Hint") + "\x06" + Short("After") + std::string(1, '\0') +
           Short("TButton") + Short("OkButton") + Short("Caption") + "\x06" + Short("&OK") +
           std::string(2, '\0') + std::string(1, '\0');
}

ResourceEntry FormEntry(const std::string& sForm)
{
    return {
        {false, 10, {}}, {true, 0, u"TMAINFORM"}, 0x0409, 0, std::vector<BYTE>(sForm.begin(), sForm.end())};
}

std::string Listed(const std::vector<ResourceText>& texts)
{
    std::string s;
    for (const ResourceText& text : texts)
        s += text.sContext.substr(text.sContext.find(" / ") + 3) + "=" + text.sText + ";";
    return s;
}

const std::string kAround = "Caption=Main;Hint=After;OkButton.Caption=&OK;";
} // namespace

TEST(FormFormat, EveryValueTypeIsSkippedOrReadAsItsCompilerWroteIt)
{
    const std::string z(1, '\0');
    struct Case
    {
        const char* szName;
        FormDialect dialect;
        std::string sValue, sTexts; // the texts listed, or a reason the form is refused with
        bool fRefused;
    } cases[] = {
        {"int8 int16 int32", kFormDialectUnknown, "\x02\x05", kAround, false},
        {"int16", kFormDialectUnknown, std::string("\x03\x05\x00", 3), kAround, false},
        {"int32", kFormDialectUnknown, "\x04" + Le32(7), kAround, false},
        {"int64", kFormDialectUnknown, "\x13" + std::string(8, '\x01'), kAround, false},
        {"extended", kFormDialectUnknown, "\x05" + std::string(10, '\x3F'), kAround, false},
        {"single currency date", kFormDialectUnknown, "\x0F" + Le32(1), kAround, false},
        {"currency", kFormDialectUnknown, "\x10" + std::string(8, '\x06'), kAround, false},
        {"date", kFormDialectUnknown, "\x11" + std::string(8, '\x06'), kAround, false},
        {"ident", kFormDialectUnknown, "\x07" + Short("clBtnFace"), kAround, false},
        {"false true nil null", kFormDialectUnknown, "\x08", kAround, false},
        {"nil", kFormDialectUnknown, "\x0D", kAround, false},
        {"binary", kFormDialectUnknown, "\x0A" + Le32(3) + "\x06\x04X", kAround, false},
        {"set", kFormDialectUnknown, "\x0B" + Short("akLeft") + Short("akTop") + z, kAround, false},
        {"list of ints", kFormDialectUnknown, "\x01\x02\x01\x02\x02" + z, kAround, false},
        {"collection with an order", kFormDialectUnknown,
         "\x0E\x02\x03\x01" + Short("Width") + "\x02\x10" + z + "\x01" + Short("Text") + "\x06" + Short("x") +
             z + z,
         "Caption=Main;P[1].Text=x;Hint=After;OkButton.Caption=&OK;", false},
        {"the string of a non-text property", kFormDialectUnknown, "\x06" + Short("Tahoma"), kAround, false},
        {"double to Delphi", kFormDialectDelphi, "\x15" + std::string(8, '\x06'), kAround, false},
        {"qword to Free Pascal", kFormDialectFreePascal, "\x16" + std::string(8, '\x06'), kAround, false},
        {"21 of an unknown compiler", kFormDialectUnknown, "\x15" + std::string(8, '\x06'),
         "is a double to Delphi and a string to Free Pascal", true},
        {"22 to Delphi", kFormDialectDelphi, "\x16" + std::string(8, '\x06'), "none Delphi writes", true},
        {"type 23", kFormDialectFreePascal, "\x17", "value type 23 at 0x", true},
        {"binary past the end", kFormDialectUnknown, "\x0A" + Le32(0xFFFFFFF0),
         "ends inside the binary value", true},
        {"wide string past the end", kFormDialectUnknown, "\x12" + Le32(0x80000001), "ends inside the string",
         true},
        {"collection item without a list", kFormDialectUnknown, "\x0E\x06" + Short("x"),
         "does not begin with a list", true},
        {"lists nested past the bound", kFormDialectUnknown, std::string(300, '\x01'), "nested more than",
         true},
    };
    for (const Case& c : cases)
    {
        FormSettings forms;
        forms.dialect = c.dialect;
        std::vector<ResourceText> texts;
        std::string sReason;
        const int iRead = ListResourceTexts(FormEntry(FormWith(c.sValue)), texts, sReason, &forms);
        if (c.fRefused)
        {
            EXPECT_EQ(0, iRead) << c.szName;
            EXPECT_NE(std::string::npos, sReason.find("RCDATA TMAINFORM: ")) << c.szName << ": " << sReason;
            EXPECT_NE(std::string::npos, sReason.find(c.sTexts)) << c.szName << ": " << sReason;
        }
        else
            EXPECT_EQ(c.sTexts, Listed(texts)) << c.szName << ": " << sReason;
    }
}

TEST(FormFormat, TextsOfEachStringTypeAndTheirTranslationsType)
{
    const std::u16string wsLong(300, u'x');
    struct Case
    {
        const char* szName;
        FormDialect dialect;
        std::string sValue;   // of a Caption
        std::string sSource;  // as listed, UTF-8
        std::string sNew;     // its translation
        std::string sWritten; // the value written for it
    } cases[] = {
        {"short ASCII stays short", kFormDialectUnknown, "\x06" + Short("Open"), "Open", "Load it",
         "\x06" + Short("Load it")},
        {"short ASCII grows long", kFormDialectUnknown, "\x06" + Short("Open"), "Open", std::string(300, 'x'),
         "\x0C" + Le32(300) + std::string(300, 'x')},
        {"Chinese is UTF-16", kFormDialectUnknown, "\x06" + Short("Open"), "Open", "打开",
         "\x12" + Wide(u"打开")},
        {"long string", kFormDialectUnknown, "\x0C" + Le32(2) + "OK", "OK", "Fine",
         "\x0C" + Le32(4) + "Fine"},
        {"wide string", kFormDialectUnknown, "\x12" + Wide(u"确定"), "确定", "OK", "\x12" + Wide(u"OK")},
        {"UTF-8 string", kFormDialectUnknown, "\x14" + Le32(3) + "\xE2\x80\xA6", "…", "...",
         "\x14" + Le32(3) + "..."},
        {"Free Pascal's UTF-16 string", kFormDialectFreePascal, "\x15" + Wide(u"Yes"), "Yes", "是",
         "\x12" + Wide(u"是")},
        {"Delphi's ANSI is Windows-1252", kFormDialectDelphi, "\x06" + Short("Caf\xE9\x85"), "Café…", "咖啡",
         "\x12" + Wide(u"咖啡")},
        {"Lazarus's ANSI is UTF-8", kFormDialectFreePascal, "\x06" + Short("Caf\xC3\xA9"), "Café", "Cafe",
         "\x06" + Short("Cafe")},
    };
    for (const Case& c : cases)
    {
        FormSettings forms;
        forms.dialect = c.dialect;
        const std::string sForm = "TPF0" + Short("TMainForm") + Short("MainForm") + Short("Left") +
                                  "\x02\x05" + Short("Caption") + c.sValue + Short("Tag") + "\x02\x07" +
                                  std::string(2, '\0');
        ResourceEntry entry = FormEntry(sForm);
        std::vector<ResourceText> texts;
        std::string sReason;
        ASSERT_EQ(1, ListResourceTexts(entry, texts, sReason, &forms)) << c.szName << ": " << sReason;
        ASSERT_EQ(1u, texts.size()) << c.szName;
        EXPECT_EQ(c.sSource, texts[0].sText) << c.szName;

        std::vector<BYTE> data;
        ASSERT_EQ(1,
                  TranslateResource(entry, {{"FORM TMAINFORM / Caption", c.sSource}}, data, sReason, &forms));
        EXPECT_EQ(std::string(entry.data.begin(), entry.data.end()), std::string(data.begin(), data.end()))
            << c.szName << ": a translation equal to the source changes nothing";
        ASSERT_EQ(1, TranslateResource(entry, {{"FORM TMAINFORM / Caption", c.sNew}}, data, sReason, &forms));
        const std::string sExpected = "TPF0" + Short("TMainForm") + Short("MainForm") + Short("Left") +
                                      "\x02\x05" + Short("Caption") + c.sWritten + Short("Tag") + "\x02\x07" +
                                      std::string(2, '\0');
        EXPECT_EQ(sExpected, std::string(data.begin(), data.end())) << c.szName;
    }
}

TEST(FormFormat, ContextsGroupsAndTheMapsLabels)
{
    // An inline frame's children are named within the frame; a menu's items
    // are picked among their own level; the form's font is ANSI_CHARSET.
    const std::string z(1, '\0');
    const std::string sForm = "TPF0" + Short("TMainForm") + Short("MainForm") + Short("Caption") + "\x06" +
                              Short("Main") + Short("Font.Charset") + "\x07" + Short("ANSI_CHARSET") + z +
                              "\xF6\x02\x02" + Short("TFrame1") + Short("Frame1") + z + Short("TButton") +
                              Short("OkButton") + Short("Caption") + "\x06" + Short("&OK") + z + z + z +
                              Short("TMainMenu") + Short("Menu") + z + Short("TMenuItem") + Short("File1") +
                              Short("Caption") + "\x06" + Short("&File") + z + Short("TMenuItem") +
                              Short("Open1") + Short("Caption") + "\x06" + Short("&Open") + Short("Hint") +
                              "\x06" + Short("Opens") + z + z + z + z + z;
    std::vector<ResourceText> texts;
    std::string sReason;
    ASSERT_EQ(1, ListResourceTexts(FormEntry(sForm), texts, sReason)) << sReason;
    struct Expected
    {
        const char *szContext, *szGroup, *szPlace;
    } expected[] = {
        {"FORM TMAINFORM / Caption", "", "FORM TMAINFORM en-US, MainForm (TMainForm), Caption"},
        {"FORM TMAINFORM / Frame1.OkButton.Caption", "FORM TMAINFORM / Frame1",
         "FORM TMAINFORM en-US, Frame1.OkButton (TButton), Caption"},
        {"FORM TMAINFORM / File1.Caption", "FORM TMAINFORM / Menu",
         "FORM TMAINFORM en-US, File1 (TMenuItem), Caption"},
        {"FORM TMAINFORM / Open1.Caption", "FORM TMAINFORM / File1",
         "FORM TMAINFORM en-US, Open1 (TMenuItem), Caption"},
        {"FORM TMAINFORM / Open1.Hint", "", "FORM TMAINFORM en-US, Open1 (TMenuItem), Hint"},
    };
    ASSERT_EQ(std::size(expected), texts.size());
    for (size_t i = 0; i < texts.size(); ++i)
    {
        EXPECT_EQ(expected[i].szContext, texts[i].sContext);
        EXPECT_EQ(expected[i].szGroup, texts[i].sGroup) << texts[i].sContext;
        EXPECT_EQ(expected[i].szPlace, texts[i].sPlace) << texts[i].sContext;
        EXPECT_EQ("Font.Charset of MainForm is ANSI_CHARSET", texts[i].sFontWarning) << texts[i].sContext;
    }

    // Rewritten with another character set, the font no longer keeps Chinese out.
    FormSettings forms;
    forms.sCharset = "DEFAULT_CHARSET";
    ResourceEntry translated = FormEntry(sForm);
    ASSERT_EQ(1, TranslateResource(FormEntry(sForm), {{"FORM TMAINFORM / Caption", "主窗口"}},
                                   translated.data, sReason, &forms));
    const std::string sTranslated(translated.data.begin(), translated.data.end());
    EXPECT_NE(std::string::npos, sTranslated.find(Short("Font.Charset") + "\x07" + Short("DEFAULT_CHARSET")));
    texts.clear();
    ASSERT_EQ(1, ListResourceTexts(translated, texts, sReason)) << sReason;
    ASSERT_EQ(std::size(expected), texts.size());
    EXPECT_EQ("主窗口", texts[0].sText);
    for (const ResourceText& text : texts)
        EXPECT_EQ("", text.sFontWarning) << text.sContext;

    // A menu item captioned "-" is a separator, which no translation may turn into an item.
    const std::string sMenu = "TPF0" + Short("TMainForm") + Short("MainForm") + z + Short("TMenuItem") +
                              Short("Sep") + Short("Caption") + "\x06" + Short("-") + z + z +
                              Short("TLabel") + Short("Dash") + Short("Caption") + "\x06" + Short("-") + z +
                              z + z;
    texts.clear();
    ASSERT_EQ(1, ListResourceTexts(FormEntry(sMenu), texts, sReason)) << sReason;
    EXPECT_EQ("Dash.Caption=-;", Listed(texts));

    TestImage builder;
    builder.AddResources({{10, u"TMAINFORM", 0x0409, std::vector<BYTE>(sForm.begin(), sForm.end())}});
    TestImageLayout layout;
    std::vector<BYTE> image = builder.Build(layout);
    CImageMap map;
    ASSERT_EQ(1, map.Load(image.data(), static_cast<DWORD>(image.size())));
    const DWORD dwOk = layout.resourceData[0] + static_cast<DWORD>(sForm.find("&OK"));
    ImageByteInfo info = map.Lookup(dwOk);
    ASSERT_NE(nullptr, info.psLabel);
    EXPECT_EQ("FORM TMAINFORM en-US, MainForm.Frame1.OkButton.Caption", *info.psLabel);
    const DWORD dwFrameClass = layout.resourceData[0] + static_cast<DWORD>(sForm.find("\x07TFrame1"));
    EXPECT_EQ("FORM TMAINFORM en-US, MainForm.Frame1, class name", *map.Lookup(dwFrameClass).psLabel);
    // "&OK" as "OK" and a zero: the count still says three characters.
    std::vector<BYTE> old(image.begin() + dwOk, image.begin() + dwOk + 3);
    image[dwOk] = 'O', image[dwOk + 1] = 'K', image[dwOk + 2] = 0;
    UnsafeWrite unsafe;
    ASSERT_TRUE(JudgeWrite(map, image.data(), static_cast<DWORD>(image.size()), dwOk, old.data(), 3, unsafe));
    EXPECT_NE(std::string::npos, unsafe.sReason.find("length-prefixed form string")) << unsafe.sReason;
    image[dwOk + 2] = '!';
    EXPECT_FALSE(
        JudgeWrite(map, image.data(), static_cast<DWORD>(image.size()), dwOk, old.data(), 3, unsafe));
}
