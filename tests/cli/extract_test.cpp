// extract on images whose texts sit in resources: a small one windres builds
// from tests/cli/fixtures/res_target.rc, and a copy of Wine's notepad.exe.
#include "cli_runner.h"
#include "image/image_map.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>

namespace
{
using Json = nlohmann::json;

// What no candidate may start in: the fixed fields around resource texts,
// names the loader reads, the section table, debug data.
void ExpectOnlyWholeTexts(const std::string& bytes, const Json& texts)
{
    CImageMap image;
    image.Load(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    ASSERT_TRUE(image.IsPe());
    for (const Json& text : texts)
    {
        DWORD dwOffset = text["offset"];
        ImageByteInfo info = image.Lookup(dwOffset);
        EXPECT_TRUE(info.kind == kByteCode || info.kind == kByteData || info.kind == kByteOutside ||
                    info.kind == kByteResourceText)
            << text.dump() << " starts in " << *info.psLabel;
        EXPECT_EQ(info.kind == kByteResourceText, text["resource"].get<bool>()) << text.dump();
        if (info.pText == nullptr)
            continue;
        EXPECT_EQ(dwOffset, info.pText->dwStart) << text.dump();
        EXPECT_EQ(info.pText->cbText, text["chars"].get<DWORD>() * (info.pText->fWide ? 2 : 1))
            << text.dump();
        EXPECT_EQ(*info.psLabel, text["label"]) << text.dump();
    }
}

// label -> EN of the resource texts.
std::map<std::string, std::string> ResourceTexts(const Json& texts)
{
    std::map<std::string, std::string> found;
    for (const Json& text : texts)
        if (text["resource"].get<bool>())
            found[text["label"]] = text["en"];
    return found;
}
} // namespace

TEST(ExtractTest, ResourceTextsComeWholeAndLabelled)
{
    TempDir dir;
    CliRunner cli(dir);
    const std::string image = ReadBytes(BuildPath(PIVRA_RES_TARGET));
    const WString target = dir.Path(W("res.exe"));
    WriteBytes(target, image);

    Json all = Json::parse(cli.Run({W("extract"), target, W("--json")}).out, nullptr, false);
    ExpectOnlyWholeTexts(image, all["texts"]);
    std::map<std::string, std::string> found = ResourceTexts(all["texts"]);
    const std::map<std::string, std::string> expected = {
        {"MENU 1 en-US, popup 0, text", "&File"},
        {"MENU 1 en-US, item 0x0100, text", "&New\\tCtrl+N"},
        {"MENU 1 en-US, item 0x0108, text", "E&xit"},
        {"MENU 1 de-DE, item 0x0108, text", "&Beenden"},
        {"DIALOG 102 en-US, caption", "About the sample"},
        {"DIALOG 102 en-US, control 0, text", "Sample program"},
        {"DIALOG 102 en-US, control 1, text", "OK"},
        {"STRINGTABLE block 7 en-US, string 0x0061", "Hello from the string table"},
        {"STRINGTABLE block 7 de-DE, string 0x0061", "Hallo aus der Tabelle"}};
    for (const auto& item : expected)
        EXPECT_EQ(item.second, found[item.first]) << item.first << "\n" << all.dump(1);
    // The font name is no word for the user.
    for (const auto& item : found)
        EXPECT_NE("MS Shell Dlg", item.second) << item.first;
    EXPECT_EQ(all["regions"]["resources"], found.size());

    // One language of the resources; the other texts stay.
    Json german = Json::parse(cli.Run({W("extract"), target, W("--lang"), W("DE-de"), W("--json")}).out);
    std::map<std::string, std::string> de = ResourceTexts(german["texts"]);
    EXPECT_EQ("&Beenden", de["MENU 1 de-DE, item 0x0108, text"]);
    EXPECT_EQ("Hallo aus der Tabelle", de["STRINGTABLE block 7 de-DE, string 0x0061"]);
    EXPECT_EQ(4u, de.size()) << german.dump(1);
    for (const auto& item : de)
        EXPECT_NE(std::string::npos, item.first.find(" de-DE, ")) << item.first;
    EXPECT_EQ(all["regions"]["data"], german["regions"]["data"]);
    CliResult absent = cli.Run({W("extract"), target, W("--lang"), W("fr-FR")});
    EXPECT_EQ(2, absent.exitCode);
    EXPECT_NE(std::string::npos,
              absent.err.find("has no resources in language 'fr-FR' (its resource languages: de-DE, en-US)"))
        << absent.err;

    // Rule sets hold resource texts only when asked, and say what makes them safe.
    CliResult plain = cli.Run({W("extract"), target, W("-o"), dir.Path(W("plain.ini"))});
    EXPECT_NE(std::string::npos,
              plain.out.find(std::to_string(found.size()) +
                             " resource texts left out (--resources writes them; a rule over "
                             "a resource text is safe only with a CN of exactly EN's length"))
        << plain.out;
    std::string listed = cli.Run({W("list"), dir.Path(W("plain.ini"))}).out;
    EXPECT_NE(std::string::npos, listed.find("\tWelcome to the demo program\t")) << listed;
    EXPECT_EQ(std::string::npos, listed.find("E&xit")) << listed;
    CliResult withResources =
        cli.Run({W("extract"), target, W("-o"), dir.Path(W("res.ini")), W("--resources"), W("--json")});
    Json written = Json::parse(withResources.out);
    // Each EN once: "&File" and "OK" stand once, and no resource text is also a loose one.
    EXPECT_EQ(found.size(), written["resourceRules"]) << withResources.out;
    listed = cli.Run({W("list"), dir.Path(W("res.ini"))}).out;
    EXPECT_NE(std::string::npos, listed.find("\tE&xit\t\t1\t")) << listed;
    EXPECT_NE(std::string::npos, listed.find("\tWelcome to the demo program\t")) << listed;
    Json check = Json::parse(cli.Run({W("check"), dir.Path(W("res.ini")), target, W("--json")}).out);
    EXPECT_EQ(written["rules"], check["rules"].size());
    std::string file = ReadBytes(dir.Path(W("res.ini")));
    EXPECT_NE(std::string::npos,
              file.find(Utf16Bytes(
                  W("UNICODE=1\r\n; MENU 1 en-US, item 0x0108, text: CN exactly as long as EN\r\n"))));
    EXPECT_EQ(0u, file.find("\xFF\xFE" + Utf16Bytes(W("; a rule over a resource text is safe only"))));
}

// The copy of Wine's notepad.exe the issue was seen on: the menu's texts
// without their ids, nothing from the import names or the code's bytes.
TEST(ExtractTest, NotepadGivesItsMenuTextsWithoutIdsOrNames)
{
    const std::string image = ReadBytes(BuildPath("/usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe"));
    if (image.empty())
        GTEST_SKIP() << "Wine's 32-bit notepad.exe is not installed";
    TempDir dir;
    CliRunner cli(dir);
    WriteBytes(dir.Path(W("notepad.exe")), image);
    Json all = Json::parse(cli.Run({W("extract"), dir.Path(W("notepad.exe")), W("--json")}).out);
    ExpectOnlyWholeTexts(image, all["texts"]);
    std::map<std::string, std::string> found = ResourceTexts(all["texts"]);
    EXPECT_EQ("E&xit", found["MENU 513 en-US, item 0x0108, text"]);
    EXPECT_EQ("&New\\tCtrl+N", found["MENU 513 en-US, item 0x0100, text"]);
    for (const Json& text : all["texts"])
        EXPECT_TRUE(text["en"] != "GetOpenFileNameW" && text["en"] != "comdlg32.dll" && text["en"] != ".rsrc")
            << text.dump();
    EXPECT_EQ(0, all["regions"]["code"]);
    EXPECT_EQ(0, all["regions"]["imports/exports"]);
    EXPECT_EQ(0, all["regions"]["debug"]);
}
