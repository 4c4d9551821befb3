// pivra-cli end to end: each command on the demo target and on generated PE
// images, the real run as the oracle of apply and check, and the bad inputs.
#include "cli/cli_files.h"
#include "cli_runner.h"
#include "image/image_map.h"
#include "patch/patch_run.h"
#include "rules/rule_set.h"
#include "test_image.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#ifndef _WIN32
#include "port/native_path.h"
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
using Json = nlohmann::json;

void WriteRuleSet(const WString& path, const std::string& utf8Ini)
{
    WString text = FromUtf8(utf8Ini);
    WString crlf;
    for (WCHAR c : text)
        crlf += c == '\n' ? WString(W("\r\n")) : WString(1, c);
    WriteBytes(path, "\xFF\xFE" + Utf16Bytes(crlf));
}

std::string DemoRules()
{
    std::ifstream in(PIVRA_DEMO_RULES, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string DemoTarget()
{
    return ReadBytes(BuildPath(PIVRA_DEMO_TARGET));
}

// A 64-bit image holding some of the demo's texts, one in its headers.
std::string GeneratedPe64()
{
    TestImage image(true);
    image.AddHeaderData(Wide("Header text"));
    image.AddSection(".text", kTestCodeSection, Wide("Quit") + "\x55\x8B\xEC");
    image.AddSection(".rdata", kTestDataSection,
                     Wide("Welcome to the demo program") + std::string(2, '\0') + "This line is ANSI text" +
                         std::string(1, '\0') + Wide("Ready") + std::string(4, '\0') + Wide("Ready"));
    image.AddSection(".rsrc", kTestDataSection, Wide("Pivra Demo Target"));
    return image.BuildString();
}

// A 32-bit image whose one section, .rdata, holds these bytes.
std::string ImageWithData(const std::string& bytes)
{
    TestImage image;
    image.AddSection(".rdata", kTestDataSection, bytes);
    return image.BuildString();
}

// The log's texts without their time stamps.
std::vector<WString> LogTexts(const WString& path)
{
    std::string bytes = ReadBytes(path);
    std::vector<WString> lines;
    WString text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<WCHAR>(static_cast<BYTE>(bytes[i]) | static_cast<BYTE>(bytes[i + 1]) << 8);
    for (size_t start = 0; start < text.size();)
    {
        size_t end = text.find(W("\r\n"), start);
        lines.push_back(text.substr(start, end - start).substr(text.find(W("] "), start) - start + 2));
        start = end + 2;
    }
    return lines;
}

// The patch run as the main window's start command makes it: the bar's range
// is the listed rule count, the report goes to a box.
struct StartCommand
{
    const WString* pRules;
    WString report;
};

WString RunAsStartCommand(const WString& rules, const WString& target, const WString& log)
{
    StartCommand start = {&rules, WString()};
    PatchWindow window = {
        &start,
        [](void* p) {
            return ReadRuleList(
                static_cast<StartCommand*>(p)->pRules->c_str(), [](void*, const PatchRule&) {}, nullptr);
        },
        [](void*, PatchProgress, UINT) {},
        [](void* p, LPCWSTR wsText, LPCWSTR, UINT) { static_cast<StartCommand*>(p)->report = wsText; }};
    RunPatchLoggingTo(rules.c_str(), target.c_str(), window, log.c_str());
    return start.report;
}

Json ParseJson(const CliResult& result)
{
    return Json::parse(result.out, nullptr, false);
}

std::string Utf8(const WString& ws)
{
    return ToUtf8(ws);
}

TEST(CliTest, ListShowsTheRulesAsTheMainWindowDoes)
{
    TempDir dir;
    CliRunner cli(dir);
    WriteRuleSet(dir.Path(W("demo.ini")),
                 "[001]\nEN=a\tb\nCN=x\n[002]\nEN=Ready\nCN=就绪\nUNICODE=0\nREPEAT=3\nX64=2\n"
                 "[003]\nEN=stop\nX86=0\nX64=0\n[004]\nEN=after\n");
    WriteBytes(dir.Path(W("Pivra.ini")), "[Config]\r\n1=demo\r\n");
    const std::string expected = "001\ta\\tb\tx\t1\t0\t1\t1\n002\tReady\t就绪\t0\t1\t1\t0\n";
    for (const WString& arg : {dir.Path(W("demo.ini")), WString(W("demo")), WString(W("DEMO"))})
    {
        CliResult result = cli.Run({W("list"), arg});
        EXPECT_EQ(0, result.exitCode) << result.err;
        EXPECT_EQ(expected, result.out);
    }
    Json doc = ParseJson(cli.Run({W("list"), W("demo"), W("--json")}));
    ASSERT_EQ(2u, doc["rules"].size());
    EXPECT_EQ("a\tb", doc["rules"][0]["en"]);
    EXPECT_EQ(false, doc["rules"][1]["x64"]);
    EXPECT_EQ(true, doc["rules"][1]["repeat"]);
}

TEST(CliTest, ApplyGivesTheStartCommandsTargetsAndLog)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("demo.ini"));
    WriteRuleSet(rules, DemoRules() + "[008]\nEN=Quit\nCN=Q\nX86=0\n[009]\nEN=Ready\nCN=Longer than ready\n");
    const std::vector<std::pair<WString, std::string>> targets = {{W("demo.exe"), DemoTarget()},
                                                                  {W("pe64.exe"), GeneratedPe64()}};
    std::vector<WString> args = {W("apply"), rules, W("--backup"), W("--log"), dir.Path(W("cli.log"))};
    std::vector<WString> reports;
    for (const auto& target : targets)
    {
        WriteBytes(dir.Path(W("start-") + target.first), target.second);
        WriteBytes(dir.Path(target.first), target.second);
        reports.push_back(
            RunAsStartCommand(rules, dir.Path(W("start-") + target.first), dir.Path(W("start.log"))));
        args.push_back(dir.Path(target.first));
    }
    CliResult result = cli.Run(args);
    EXPECT_EQ(1, result.exitCode) << result.err;
    for (size_t i = 0; i < targets.size(); ++i)
    {
        EXPECT_EQ(ReadBytes(dir.Path(W("start-") + targets[i].first)), ReadBytes(dir.Path(targets[i].first)));
        EXPECT_NE(targets[i].second, ReadBytes(dir.Path(targets[i].first)));
        EXPECT_EQ(targets[i].second, ReadBytes(dir.Path(targets[i].first + W(".bak"))));
        EXPECT_NE(std::string::npos, result.out.find(Utf8(reports[i]))) << result.out;
    }
    EXPECT_EQ(LogTexts(dir.Path(W("start.log"))), LogTexts(dir.Path(W("cli.log"))));
    EXPECT_NE(std::string::npos, result.out.find("failed 007  EN=Text that is not in the program"));
    EXPECT_NE(std::string::npos, result.out.find("failed 009  EN=Ready  CN=Longer than ready"));

    // A second run refuses the backups it would overwrite, before anything changes.
    const std::string patched = ReadBytes(dir.Path(W("demo.exe")));
    const std::string log = ReadBytes(dir.Path(W("cli.log")));
    result = cli.Run(args);
    EXPECT_EQ(2, result.exitCode);
    EXPECT_NE(std::string::npos, result.err.find("demo.exe.bak: exists already")) << result.err;
    EXPECT_EQ(patched, ReadBytes(dir.Path(W("demo.exe"))));
    EXPECT_EQ(log, ReadBytes(dir.Path(W("cli.log"))));

    // Without --log the failures go to the tool's log beside the executable.
    Json doc = ParseJson(cli.Run({W("apply"), rules, dir.Path(W("demo.exe")), W("--json")}));
    EXPECT_EQ(1, doc["exitCode"]);
    // Rule 008 is for 64-bit targets only; every other one finds its text gone.
    EXPECT_EQ(8u, doc["targets"][0]["failed"].size());
    EXPECT_EQ(8, doc["targets"][0]["tried"]);
    EXPECT_EQ(2 * 8u, LogTexts(dir.Path(W("pivra.log"))).size());
}

const char* const kOrderRules =
    "[001]\nEN=Welcome\nCN=Hello\n[002]\nEN=Welcome to\nCN=x\n[003]\nEN=Hello\\0\\0\nCN=Made\n"
    "[004]\nEN=Ready\nCN=Longer than ready\n[005]\nEN=Quit\nCN=\n[006]\nEN=Ready\nCN=R\nREPEAT=1\n"
    "[007]\nEN=This line is ANSI text\nCN=ANSI\nUNICODE=0\n[008]\nEN=Header text\nCN=H\nX64=0\n"
    "[009]\nEN=Pivra Demo Target\nCN=演示\n[010]\nEN=Header text\nCN=H\n";

// check on the target, then apply: the same counts, report and failures, and
// check leaves the target as it was.
void ExpectCheckForeseesApply(CliRunner& cli, const TempDir& dir, const WString& name,
                              const std::string& image)
{
    SCOPED_TRACE(Utf8(name));
    const WString rules = dir.Path(W("order.ini")), target = dir.Path(name);
    WriteBytes(target, image);
    CliResult result = cli.Run({W("check"), rules, target, W("--json")});
    Json check = ParseJson(result);
    ASSERT_TRUE(check.is_object()) << result.out << result.err;
    EXPECT_EQ(image, ReadBytes(target));
    EXPECT_EQ(1, result.exitCode);
    // The header write of rule 010 on pe64.exe would break it: run it anyway, as the start command does.
    Json apply = ParseJson(cli.Run({W("apply"), rules, target, W("--json"), W("--allow-unsafe")}));
    EXPECT_EQ(check["tried"], apply["targets"][0]["tried"]);
    EXPECT_EQ(check["modified"], apply["targets"][0]["modified"]);
    EXPECT_EQ(check["report"], apply["targets"][0]["report"]);
    std::vector<unsigned> failing, failed;
    for (const Json& rule : check["rules"])
        if (rule["result"] != "changes" && rule["result"] != "other-bitness")
            failing.push_back(rule["number"]);
    for (const Json& rule : apply["targets"][0]["failed"])
        failed.push_back(rule["number"]);
    EXPECT_EQ(failing, failed);
}

TEST(CliTest, CheckForeseesTheRunAndWritesNothing)
{
    TempDir dir;
    CliRunner cli(dir);
    WriteRuleSet(dir.Path(W("order.ini")), kOrderRules);
    ExpectCheckForeseesApply(cli, dir, W("demo.exe"), DemoTarget());
    ExpectCheckForeseesApply(cli, dir, W("pe64.exe"), GeneratedPe64());
}

TEST(CliTest, CheckSaysWhatEachRuleWouldDoAndWhichChangedItsText)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("order.ini"));
    WriteRuleSet(rules, kOrderRules);
    WriteBytes(dir.Path(W("demo.exe")), DemoTarget());
    Json check = ParseJson(cli.Run({W("check"), rules, dir.Path(W("demo.exe")), W("--json")}));
    ASSERT_TRUE(check.is_object());
    const std::map<std::string, std::string> expected = {
        {"1", "changes"}, {"2", "not-found"}, {"3", "changes"},   {"4", "cn-longer"}, {"5", "zero-one-side"},
        {"6", "changes"}, {"7", "changes"},   {"8", "not-found"}, {"9", "changes"},   {"10", "not-found"}};
    for (const Json& rule : check["rules"])
        EXPECT_EQ(expected.at(std::to_string(rule["number"].get<unsigned>())), rule["result"]);
    EXPECT_EQ(std::vector<unsigned>{1}, check["rules"][1]["changedBy"].get<std::vector<unsigned>>());
    EXPECT_EQ(std::vector<unsigned>{1}, check["rules"][2]["changedBy"].get<std::vector<unsigned>>());
}

// On the generated image: the sections by name, bitness and the headers.
TEST(CliTest, CheckNamesTheSectionsBitnessAndHeadersItWouldWrite)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("order.ini"));
    WriteRuleSet(rules, kOrderRules);
    WriteBytes(dir.Path(W("pe64.exe")), GeneratedPe64());
    Json check = ParseJson(cli.Run({W("check"), rules, dir.Path(W("pe64.exe")), W("--json")}));
    ASSERT_TRUE(check.is_object());
    EXPECT_EQ(true, check["pe"]["is64"]);
    EXPECT_EQ("AMD64", check["pe"]["machine"]);
    EXPECT_EQ(".rdata", check["rules"][0]["offsets"][0]["section"]);
    EXPECT_EQ(".text", check["rules"][4]["offsets"][0]["section"]);
    EXPECT_EQ(2, check["rules"][5]["overwrites"]);
    EXPECT_EQ("other-bitness", check["rules"][7]["result"]);
    EXPECT_EQ(".rsrc", check["rules"][8]["offsets"][0]["section"]);
    EXPECT_EQ("headers", check["rules"][9]["offsets"][0]["section"]);
    EXPECT_NE(std::string::npos,
              check["rules"][9]["unsafeWrites"][0]["reason"].get<std::string>().find("PE headers"));
    CliResult text = cli.Run({W("check"), rules, dir.Path(W("pe64.exe"))});
    EXPECT_NE(std::string::npos, text.out.find(" PE headers: overwriting them damages the image"))
        << text.out;
}

// A 32-bit image with texts that need escapes, one in its headers, one in .rsrc.
std::string EscapesImage()
{
    TestImage builder;
    builder.AddHeaderData(Wide("Header text"));
    builder.AddSection(".rdata", kTestDataSection,
                       Wide(" say \"hi\"\\n ") + std::string(2, '\0') + "\"quoted\"\t\\x41" +
                           std::string(1, '\0') + "GBK \xC4\xE3\xBA\xC3 text" + std::string(1, '\0'));
    builder.AddSection(".rsrc", kTestDataSection, Wide("Resource text"));
    return builder.BuildString();
}

// extract -o found on the target, then check with that set: every text is
// found where extract found it first.
void ExpectExtractFindsEachText(CliRunner& cli, const TempDir& dir, const WString& name,
                                const std::string& image)
{
    SCOPED_TRACE(Utf8(name));
    WriteBytes(dir.Path(name), image);
    CliResult result = cli.Run({W("extract"), dir.Path(name), W("-o"), W("found"), W("--add-to-catalogue"),
                                W("--force"), W("--json")});
    ASSERT_EQ(0, result.exitCode) << result.err;
    Json extract = ParseJson(result);
    EXPECT_EQ("\xFF\xFE", ReadBytes(dir.Path(W("found.ini"))).substr(0, 2));
    Json check = ParseJson(cli.Run({W("check"), W("found"), dir.Path(name), W("--json")}));
    ASSERT_EQ(extract["texts"].size(), check["rules"].size());
    for (size_t i = 0; i < check["rules"].size(); ++i)
    {
        EXPECT_EQ(extract["texts"][i]["unicode"], check["rules"][i]["unicode"]);
        ASSERT_FALSE(check["rules"][i]["offsets"].empty()) << check["rules"][i]["en"];
        EXPECT_EQ(extract["texts"][i]["firstMatch"], check["rules"][i]["offsets"][0]["offset"])
            << check["rules"][i]["en"];
    }
}

TEST(CliTest, ExtractWritesARuleSetThatFindsEachText)
{
    TempDir dir;
    CliRunner cli(dir);
    ExpectExtractFindsEachText(cli, dir, W("demo.exe"), DemoTarget());
    std::string listed = cli.Run({W("list"), W("found")}).out;
    EXPECT_NE(std::string::npos, listed.find("\tWelcome to the demo program\t\t1\t")) << listed;
    EXPECT_NE(std::string::npos, listed.find("\tThis line is ANSI text\t\t0\t"));

    ExpectExtractFindsEachText(cli, dir, W("gen.exe"), EscapesImage());
    listed = cli.Run({W("list"), W("found")}).out;
    EXPECT_NE(std::string::npos, listed.find("\t\\x20say \"hi\"\\\\n\\x20\t")) << listed;
    EXPECT_NE(std::string::npos, listed.find("\t\\x22quoted\"\\t\\\\x41\t"));
    EXPECT_NE(std::string::npos, listed.find("\tGBK 你好 text\t"));
    EXPECT_EQ(std::string::npos, listed.find("Header text"));
    // One entry, in a new UTF-16LE catalogue, though the second extract named the set again.
    std::string catalogue = ReadBytes(dir.Path(W("Pivra.ini")));
    EXPECT_EQ("\xFF\xFE", catalogue.substr(0, 2));
    EXPECT_NE(std::string::npos, catalogue.find(Utf16Bytes(W("\r\n1=found\r\n"))));
    EXPECT_EQ(std::string::npos, catalogue.find(Utf16Bytes(W("2="))));
}

TEST(CliTest, ExtractTakesTheHeadersOrOneSectionWhenAsked)
{
    TempDir dir;
    CliRunner cli(dir);
    WriteBytes(dir.Path(W("gen.exe")), EscapesImage());
    std::string all = cli.Run({W("extract"), dir.Path(W("gen.exe")), W("--all-sections")}).out;
    EXPECT_NE(std::string::npos, all.find("headers UTF-16  Header text")) << all;
    std::string rsrc = cli.Run({W("extract"), dir.Path(W("gen.exe")), W("--section"), W(".rsrc")}).out;
    EXPECT_EQ(HexOffset(0x400) +
                  "  .rsrc   UTF-16  Resource text\ntexts found: 1 (code 0, data 1, resources 0, "
                  "imports/exports 0, debug 0, other 0)\n",
              rsrc);
}

TEST(CliTest, ExtractLeavesAnExistingRuleSetAsItIs)
{
    TempDir dir;
    CliRunner cli(dir);
    WriteBytes(dir.Path(W("gen.exe")), EscapesImage());
    ASSERT_EQ(0, cli.Run({W("extract"), dir.Path(W("gen.exe")), W("-o"), dir.Path(W("found.ini"))}).exitCode);
    const std::string before = ReadBytes(dir.Path(W("found.ini")));
    CliResult again = cli.Run({W("extract"), dir.Path(W("gen.exe")), W("-o"), dir.Path(W("found.ini"))});
    EXPECT_EQ(2, again.exitCode);
    EXPECT_NE(std::string::npos, again.err.find("found.ini: exists already"));
    EXPECT_EQ(before, ReadBytes(dir.Path(W("found.ini"))));
}

TEST(CliTest, BadInputsAreRefusedByNameAndNothingIsWritten)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini"));
    WriteRuleSet(rules, "[001]\nEN=Quit\nCN=Q\n[002]\nEN=Absent\nCN=A\n");
    const std::string demo = DemoTarget();
    WriteBytes(dir.Path(W("good.exe")), demo);
    WriteBytes(dir.Path(W("locked.exe")), demo);
    WriteBytes(dir.Path(W("empty.exe")), "");
    WriteBytes(dir.Path(W("text.txt")), "no image here");
    std::filesystem::create_directory(FsPath(dir.Path(W("folder"))));
    HANDLE hLock = CreateFileW(dir.Path(W("locked.exe")).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
    const WString good = dir.Path(W("good.exe"));
    struct Case
    {
        std::vector<WString> args;
        std::string message; // in standard error, after the file's name
    } cases[] = {
        {{W("apply"), rules, good, dir.Path(W("missing.exe"))}, "missing.exe: does not exist"},
        {{W("apply"), rules, good, dir.Path(W("empty.exe"))}, "empty.exe: is empty"},
        {{W("apply"), rules, good, dir.Path(W("folder"))}, "folder: is a folder, not a file"},
        {{W("apply"), rules, good, dir.Path(W("locked.exe"))},
         "locked.exe: is in use by another program (locked)"},
        {{W("apply"), rules, good, good}, "good.exe: is named twice"},
        {{W("apply"), dir.Path(W("none.ini")), good}, "none.ini: does not exist"},
        {{W("apply"), W("nameless"), good}, "Pivra.ini: names no rule set 'nameless'"},
        {{W("apply"), rules, good, W("--log"), dir.Path(W("no/such/dir/x.log"))}, "x.log: lies in a folder"},
        {{W("check"), rules, dir.Path(W("locked.exe"))}, "locked.exe: is in use by another program (locked)"},
        {{W("check"), rules, dir.Path(W("missing.exe"))}, "missing.exe: does not exist"},
        {{W("extract"), dir.Path(W("text.txt")), W("-o"), W("x")}, "text.txt: is no PE image"},
        {{W("extract"), dir.Path(W("empty.exe"))}, "empty.exe: is empty"},
        {{W("list"), dir.Path(W("folder/none.ini"))}, "none.ini: does not exist"},
        {{}, "A subcommand is required"},
        {{W("apply"), rules}, "TARGET is required"},
        {{W("extract"), good, W("--min"), W("0")}, "--min"},
    };
    for (const Case& c : cases)
    {
        CliResult result = cli.Run(c.args);
        EXPECT_EQ(2, result.exitCode) << c.message;
        EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
    }
    Json doc = ParseJson(cli.Run({W("check"), rules, dir.Path(W("missing.exe")), W("--json")}));
    EXPECT_EQ("does not exist", doc["error"]["reason"]);
    EXPECT_EQ(2, doc["exitCode"]);
    CloseHandle(hLock);
    EXPECT_EQ(demo, ReadBytes(good));
    EXPECT_EQ(demo, ReadBytes(dir.Path(W("locked.exe"))));
    EXPECT_FALSE(FileExists(dir.Path(W("pivra.log"))));
    EXPECT_FALSE(FileExists(dir.Path(W("x.ini"))));
    EXPECT_FALSE(FileExists(dir.Path(W("good.exe.bak"))));
}
// Another name for the same file: a link on Linux, other letter case on Windows.
WString SecondName(const TempDir& dir, const WString& name)
{
#ifdef _WIN32
    WString upper = name;
    for (WCHAR& c : upper)
        c = c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c;
    return dir.Path(upper);
#else
    std::filesystem::create_symlink(FsPath(dir.Path(name)), FsPath(dir.Path(W("link-") + name)));
    return dir.Path(W("link-") + name);
#endif
}

void SetReadOnly(const WString& path, bool readOnly)
{
    using std::filesystem::perms;
    std::filesystem::permissions(FsPath(path),
                                 readOnly ? perms::owner_read | perms::group_read | perms::others_read
                                          : perms::owner_read | perms::owner_write,
                                 std::filesystem::perm_options::replace);
}

TEST(CliTest, ApplyChecksEveryFileBeforeItChangesTheFirst)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini")), log = dir.Path(W("run.log"));
    WriteRuleSet(rules, "[001]\nEN=Quit\nCN=Q\n");
    WriteBytes(log, "\xFF\xFE");
    const std::string demo = DemoTarget();
    const WString a = dir.Path(W("a.exe")), b = dir.Path(W("b.exe"));
    for (LPCWSTR name : {W("a.exe"), W("b.exe"), W("c.exe"), W("d.exe")})
        WriteBytes(dir.Path(name), demo);
    std::filesystem::create_directory(FsPath(dir.Path(W("c.exe.bak"))));
    WriteBytes(dir.Path(W("d.exe.bak")), "old backup");
    SetReadOnly(dir.Path(W("d.exe.bak")), true);
    struct Case
    {
        std::vector<WString> args;
        std::string message;
    } cases[] = {
        {{a, b, dir.Path(W("c.exe")), W("--backup"), W("--force")}, "c.exe.bak: is a folder, not a file"},
        {{a, b, dir.Path(W("d.exe")), W("--backup"), W("--force")}, "d.exe.bak: is read-only"},
        {{a, b, SecondName(dir, W("a.exe"))}, ": is named twice"},
        {{a, rules}, "rules.ini: is the rule-set file of this run"},
        {{a, b, log, W("--log"), log}, "run.log: is the failure log of this run"},
        {{a, W("--log"), SecondName(dir, W("rules.ini"))}, ": is the rule-set file of this run, not a log"},
    };
    const std::string rulesBefore = ReadBytes(rules);
    for (const Case& c : cases)
    {
        std::vector<WString> args = {W("apply"), rules};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (std::find(args.begin(), args.end(), W("--log")) == args.end())
            args.insert(args.end(), {W("--log"), log});
        CliResult result = cli.Run(args);
        EXPECT_EQ(2, result.exitCode) << c.message;
        EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
        EXPECT_TRUE(demo == ReadBytes(a) && demo == ReadBytes(b)) << c.message;
        EXPECT_FALSE(FileExists(dir.Path(W("a.exe.bak")))) << c.message;
        EXPECT_EQ(rulesBefore, ReadBytes(rules)) << c.message;
        EXPECT_EQ("\xFF\xFE", ReadBytes(log)) << c.message;
    }
    EXPECT_EQ("old backup", ReadBytes(dir.Path(W("d.exe.bak"))));
    SetReadOnly(dir.Path(W("d.exe.bak")), false);
}

TEST(CliTest, ExtractReportsACatalogueItCouldNotWrite)
{
    TempDir dir;
    CliRunner cli(dir);
    WriteBytes(dir.Path(W("demo.exe")), DemoTarget());
    const std::string catalogue = "\xFF\xFE" + Utf16Bytes(W("[Config]\r\n1=other\r\n"));
    WriteBytes(dir.Path(W("Pivra.ini")), catalogue);
    SetReadOnly(dir.Path(W("Pivra.ini")), true);
    CliResult result = cli.Run(
        {W("extract"), dir.Path(W("demo.exe")), W("-o"), W("found"), W("--add-to-catalogue"), W("--json")});
    SetReadOnly(dir.Path(W("Pivra.ini")), false);
    EXPECT_EQ(2, result.exitCode);
    Json doc = ParseJson(result);
    EXPECT_EQ(2, doc["exitCode"]) << result.out;
    EXPECT_TRUE(doc["addedToCatalogue"].is_null());
    EXPECT_NE(std::string::npos, result.err.find("Pivra.ini: is read-only")) << result.err;
    EXPECT_EQ(catalogue, ReadBytes(dir.Path(W("Pivra.ini"))));
}

// Texts at the limit of what a stored EN holds, in each rule's unit: 2047
// bytes of the ANSI read, 2047 characters of the wide one.
TEST(CliTest, ExtractLeavesOutTextsAStoredEnCannotHold)
{
    TempDir dir;
    CliRunner cli(dir);
    std::string gbk2047 = "B", gbk2205 = "A", wide2047 = "C", wide2048 = "D";
    for (int i = 0; i < 1023; ++i)
        gbk2047 += "\xC4\xE3"; // 你
    for (int i = 0; i < 1102; ++i)
        gbk2205 += "\xC4\xE3";
    wide2047 += std::string(2046, 'x');
    wide2048 += std::string(2047, 'y');
    std::string body = Wide(wide2047) + std::string(2, '\0') + Wide(wide2048) + std::string(2, '\0') +
                       gbk2205 + std::string(1, '\0') + gbk2047 + std::string(1, '\0');
    WriteBytes(dir.Path(W("long.exe")), ImageWithData(body));
    Json extract = ParseJson(
        cli.Run({W("extract"), dir.Path(W("long.exe")), W("-o"), dir.Path(W("long.ini")), W("--json")}));
    EXPECT_EQ(2, extract["tooLong"]) << extract.dump();
    ASSERT_EQ(2u, extract["texts"].size());
    Json check =
        ParseJson(cli.Run({W("check"), dir.Path(W("long.ini")), dir.Path(W("long.exe")), W("--json")}));
    ASSERT_EQ(2u, check["rules"].size()) << check.dump();
    EXPECT_EQ(2 * 2047, check["rules"][0]["enBytes"]);
    EXPECT_EQ(extract["texts"][0]["offset"], check["rules"][0]["offsets"][0]["offset"]);
    EXPECT_EQ(2047, check["rules"][1]["enBytes"]);
    EXPECT_EQ(extract["texts"][1]["offset"], check["rules"][1]["offsets"][0]["offset"]);
}

TEST(CliTest, ExtractNamesTheSectionsOfAnImageThatLacksTheOneAskedFor)
{
    TempDir dir;
    CliRunner cli(dir);
    // The long name is kept in the COFF string table, behind an empty symbol table.
    TestImage builder;
    builder.AddSection(".rdata", kTestDataSection, Wide("Data text"));
    builder.AddSection(".debug_info", kTestDiscardableSection, Wide("Debug text"));
    WriteBytes(dir.Path(W("gen.exe")), builder.BuildString());
    CliResult lacking = cli.Run({W("extract"), dir.Path(W("gen.exe")), W("--section"), W("rsrc")});
    EXPECT_EQ(2, lacking.exitCode);
    EXPECT_NE(
        std::string::npos,
        lacking.err.find("gen.exe: has no section 'rsrc' (its sections: .rdata, .debug_info; or headers, "
                         "overlay)"))
        << lacking.err;
    CliResult debug = cli.Run({W("extract"), dir.Path(W("gen.exe")), W("--section"), W(".debug_info")});
    EXPECT_EQ(0, debug.exitCode) << debug.err;
    EXPECT_EQ(HexOffset(0x400) +
                  "  .debug_info UTF-16  Debug text\ntexts found: 1 (code 0, data 0, resources 0, "
                  "imports/exports 0, debug 1, other 0)\n",
              debug.out);
    // Debug sections only when named.
    std::string all = cli.Run({W("extract"), dir.Path(W("gen.exe"))}).out;
    EXPECT_EQ(std::string::npos, all.find("Debug text")) << all;
    EXPECT_NE(std::string::npos, all.find("Data text")) << all;
}

TEST(CliTest, CheckTellsWhichOccurrencesARuleLeaves)
{
    TempDir dir;
    CliRunner cli(dir);
    const std::string ready = Wide("Ready") + std::string(2, '\0');
    WriteBytes(dir.Path(W("gen.exe")), ImageWithData(ready + ready + ready));
    WriteRuleSet(dir.Path(W("rules.ini")), "[001]\nEN=Ready\nCN=R\n");
    CliResult result = cli.Run({W("check"), dir.Path(W("rules.ini")), dir.Path(W("gen.exe"))});
    EXPECT_NE(std::string::npos, result.out.find("     overwrites the first of 3 occurrences, leaves 2:\n"
                                                 "       0x00000200  .rdata  data (.rdata)\n"
                                                 "     left as they are:\n"
                                                 "       0x0000020C  .rdata  data (.rdata)\n"
                                                 "       0x00000218  .rdata  data (.rdata)\n"))
        << result.out;
}

TEST(CliTest, FileMessagesSayWhatIsTrue)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini"));
    WriteRuleSet(rules, "[001]\nEN=Quit\nCN=Q\n");
    const std::string demo = DemoTarget();
    WriteBytes(dir.Path(W("ro.exe")), demo);
    SetReadOnly(dir.Path(W("ro.exe")), true);
    TestImage builder;
    builder.AddSection(".rdata", kTestDataSection, Wide("text"));
    TestImageLayout at;
    std::vector<BYTE> cut = builder.Build(at);
    WriteBytes(dir.Path(W("cut.exe")), std::string(cut.begin(), cut.begin() + at.dwOptional + 0x40));
    std::error_code ec;
    for (const auto& sparse :
         {std::make_pair(W("4g-1.exe"), 0xFFFFFFFFull), std::make_pair(W("4g.exe"), 0x100000000ull)})
    {
        WriteBytes(dir.Path(sparse.first), "");
        std::filesystem::resize_file(FsPath(dir.Path(sparse.first)), sparse.second, ec);
        ASSERT_FALSE(ec) << ec.message();
    }
    struct Case
    {
        std::vector<WString> args;
        std::string message;
        bool present; // false: the message must not be there
    } cases[] = {
        {{W("apply"), rules, dir.Path(W("ro.exe"))}, "ro.exe: is read-only", true},
        {{W("extract"), dir.Path(W("4g-1.exe"))}, "4 GiB or larger", false},
        {{W("extract"), dir.Path(W("4g.exe"))}, "4g.exe: is 4 GiB or larger", true},
        {{W("extract"), dir.Path(W("cut.exe"))},
         "cut.exe: is a PE image cut short in its optional header",
         true},
    };
    for (const Case& c : cases)
    {
        CliResult result = cli.Run(c.args);
        EXPECT_EQ(2, result.exitCode) << c.message;
        EXPECT_EQ(c.present, result.err.find(c.message) != std::string::npos) << result.err;
    }
    SetReadOnly(dir.Path(W("ro.exe")), false);
    EXPECT_TRUE(demo == ReadBytes(dir.Path(W("ro.exe"))));
}

// Usage errors in JSON still give a document that says which command failed.
TEST(CliTest, UsageErrorsGiveAJsonDocument)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini"));
    WriteRuleSet(rules, "[001]\nEN=Quit\nCN=Q\n");
    for (const auto& usage : std::vector<std::vector<WString>>{
             {W("check"), W("--json")}, {W("extract"), rules, W("--json"), W("--min"), W("0")}})
    {
        CliResult result = cli.Run(usage);
        Json doc = ParseJson(result);
        EXPECT_EQ(2, result.exitCode);
        EXPECT_TRUE(doc.is_object() && doc["exitCode"] == 2 && doc["command"] == Utf8(usage[0]))
            << result.out;
    }
}

// A name the system cannot convert as it stands is refused by what it is.
TEST(CliTest, NamesThatAreNoTextAreRefused)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini"));
    WriteRuleSet(rules, "[001]\nEN=Quit\nCN=Q\n");
    const std::string demo = DemoTarget();
#ifdef _WIN32
    // Half a surrogate pair must not become U+FFFD and name another file.
    WriteBytes(dir.Path(W("x\uFFFD.exe")), demo);
    CliResult lone = cli.Run({W("apply"), rules, dir.Path(WString(W("x")) + WCHAR(0xD800) + W(".exe"))});
    EXPECT_EQ(2, lone.exitCode);
    EXPECT_NE(std::string::npos, lone.err.find("lone UTF-16 surrogate")) << lone.err;
    EXPECT_TRUE(demo == ReadBytes(dir.Path(W("x\uFFFD.exe"))));
#else
    // Names that are no UTF-8: an overlong '.' must not lead to x.exe, nor a
    // Latin-1 name be called missing.
    WriteBytes(dir.Path(W("x.exe")), demo);
    const std::string sRules = NativePath(rules.c_str()), sDir = NativePath(dir.Dir().c_str());
    std::ofstream(sDir + "/caf\xE9.exe", std::ios::binary) << demo;
    for (const std::string& name : {std::string("x\xC0\xAE"
                                                "exe"),
                                    std::string("caf\xE9.exe")})
    {
        CliResult result = cli.RunBytes({"apply", sRules, sDir + "/" + name});
        EXPECT_EQ(2, result.exitCode);
        EXPECT_NE(std::string::npos, result.err.find("is a name that is not valid UTF-8")) << result.err;
    }
    EXPECT_TRUE(demo == ReadBytes(dir.Path(W("x.exe"))));
#endif
}

// A rule for bytes the map calls `kind`: eight bytes wholly of that kind that
// begin with a non-zero byte and occur nowhere before, the last one changed
// in CN. Empty when the image has none.
std::string StructureRule(const CImageMap& map, const std::string& image, ImageByteKind kind)
{
    const DWORD cb = 8;
    for (const ImageSpan& span : map.Spans())
        for (DWORD dw = span.dwStart; span.kind == kind && dw + cb <= span.dwEnd; ++dw)
        {
            bool whole = image[dw] != 0 && image.find(image.substr(dw, cb)) == dw;
            for (DWORD k = dw; k < dw + cb && whole; ++k)
                whole = map.Lookup(k).kind == kind;
            std::string en, cn;
            for (DWORD k = dw; k < dw + cb && whole; ++k)
            {
                char hex[8];
                std::snprintf(hex, sizeof(hex), "\\x%02X", static_cast<BYTE>(image[k]));
                en += hex;
                std::snprintf(hex, sizeof(hex), "\\x%02X",
                              static_cast<BYTE>(image[k] ^ (k + 1 == dw + cb) * 0x20));
                cn += hex;
            }
            if (whole)
                return "EN=" + en + "\nCN=" + cn + "\nUNICODE=0\n";
        }
    return std::string();
}

struct UnsafeCase
{
    std::string rule;
    const char* reason; // nullptr: safe
    const char* label;  // of the first occurrence; nullptr: neither it nor inside looked at
    bool inside;
};

// What check says of one rule: it changes the target, with one unsafe write
// for the reason given or none.
void ExpectVerdict(const Json& rule, const UnsafeCase& c)
{
    SCOPED_TRACE(c.rule);
    ASSERT_EQ("changes", rule["result"]) << rule.dump();
    ASSERT_EQ(c.reason == nullptr ? 0u : 1u, rule["unsafeWrites"].size()) << rule.dump();
    if (c.reason != nullptr)
    {
        EXPECT_NE(std::string::npos, rule["unsafeWrites"][0]["reason"].get<std::string>().find(c.reason));
    }
    if (c.label != nullptr)
    {
        EXPECT_EQ(0u, rule["offsets"][0]["label"].get<std::string>().find(c.label)) << rule.dump();
        EXPECT_EQ(c.inside, rule["offsets"][0]["insideLongerText"]) << rule.dump();
    }
}

TEST(CliTest, CheckMarksEachKindOfWriteThatBreaksTheImageAndApplyRefusesIt)
{
    TempDir dir;
    CliRunner cli(dir);
    const std::string image = ReadBytes(BuildPath(PIVRA_UNSAFE_FIXTURE));
    CImageMap map;
    ASSERT_EQ(1, map.Load(reinterpret_cast<const BYTE*>(image.data()), static_cast<DWORD>(image.size())));

    // In resources the reader's idea of a text's end and of the fields
    // beside it decides, not the length alone.
    std::vector<UnsafeCase> cases = {
        {"EN=&Save file\nCN=保存\n", "zero padding", "MENU 1 en-US, item 0x010A, text", false},
        {"EN=&Close all\nCN=关闭这个文件(&C)\n", nullptr, "MENU 1 en-US, item 0x010B, text", false},
        {"EN=Dialog caption\nCN=对话框\n", "zero padding", "DIALOG 2 en-US, caption", false},
        {"EN=Label text\nCN=标签\n", "zero padding", "DIALOG 2 en-US, control 0, text", false},
        {"EN=Version text\nCN=版本\n", "zero padding", "VERSIONINFO 1 en-US", false},
        {"EN=String entry\nCN=字符串\n", nullptr, "STRINGTABLE block 7 en-US, string 0x0061", false},
        {"EN=changes\nCN=更改\n", nullptr, "STRINGTABLE block 7 en-US, string 0x0062", true},
        {"EN=\xC4\x89"
         "E&xit now\nCN=立即退出了(&X)!\n",
         "field boundary", "MENU 1 en-US, item 0x0109, id", false},
        {"EN=\xC4\x88&Open file\nCN=\xC4\x88打开这个文件(&O)\n", nullptr, "MENU 1 en-US, item 0x0108, id",
         false}};
    for (const auto& kind : {std::make_pair(kByteHeader, "PE headers"),
                             {kByteSectionTable, "section table"},
                             {kByteDirectory, "directory data"},
                             {kByteImportName, "import name"},
                             {kByteExportName, "export name"},
                             {kByteRelocation, "relocation"},
                             {kByteResourceField, "field boundary"}})
    {
        cases.push_back({StructureRule(map, image, kind.first), kind.second, nullptr, false});
        ASSERT_FALSE(cases.back().rule.empty()) << kind.second;
    }
    std::string ini;
    for (size_t i = 0; i < cases.size(); ++i)
        ini += "[" + std::to_string(1001 + i).substr(1) + "]\n" + cases[i].rule;
    const WString rules = dir.Path(W("unsafe.ini")), target = dir.Path(W("fixture.dll"));
    WriteRuleSet(rules, ini);
    WriteBytes(target, image);
    Json check = ParseJson(cli.Run({W("check"), rules, target, W("--json")}));
    ASSERT_TRUE(check.is_object());
    ASSERT_EQ(cases.size(), check["rules"].size());
    size_t cUnsafe = 0;
    for (size_t i = 0; i < cases.size(); ++i)
    {
        cUnsafe += check["rules"][i]["unsafeWrites"].size();
        ExpectVerdict(check["rules"][i], cases[i]);
    }
    EXPECT_EQ(cUnsafe, check["unsafeWrites"]);

    // Refused before any byte is written, the same writes listed; with
    // --allow-unsafe, the main window's run.
    CliResult result =
        cli.Run({W("apply"), rules, target, W("--backup"), W("--log"), dir.Path(W("cli.log")), W("--json")});
    EXPECT_EQ(2, result.exitCode);
    EXPECT_EQ(image, ReadBytes(target));
    EXPECT_TRUE(ReadBytes(target + W(".bak")).empty());
    size_t cListed = 0;
    const Json refused = ParseJson(result);
    for (const Json& rule : refused["unsafeWrites"])
        cListed += rule["writes"].size();
    EXPECT_EQ(cUnsafe, cListed);
    EXPECT_EQ(0, cli.Run({W("apply"), rules, target, W("--log"), dir.Path(W("cli.log")), W("--allow-unsafe")})
                     .exitCode);
    const WString oracle = dir.Path(W("oracle.dll"));
    WriteBytes(oracle, image);
    RunAsStartCommand(rules, oracle, dir.Path(W("start.log")));
    EXPECT_TRUE(ReadBytes(oracle) == ReadBytes(target));
}

const char* const kWineRules = "[001]\nEN=&Wrap long lines\nCN=自动换行(&W)\nREPEAT=1\n[002]\nEN=\xC4\x88"
                               "E&xit\nCN=退出(&X)\n[003]\nEN=Notepad\nCN=记事本\n[004]\nEN=&Game\nCN=游戏\n";

// A copy of Wine's notepad.exe: the menu item that zero padding ends, a glued
// command id, and a text with 33 other copies, most of them inside other
// languages' menus.
TEST(CliTest, CheckAndApplyOnWinesNotepadSayWhatEachWriteTouches)
{
    const std::string notepad = ReadBytes(BuildPath("/usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe"));
    if (notepad.empty())
        GTEST_SKIP() << "Wine's notepad.exe is not installed";
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini")), target = dir.Path(W("notepad.exe"));
    WriteRuleSet(rules, kWineRules);
    WriteBytes(target, notepad);
    Json check = ParseJson(cli.Run({W("check"), rules, target, W("--json")}));
    ASSERT_TRUE(check.is_object());
    const Json& wrap = check["rules"][0];
    ASSERT_EQ(10u, wrap["unsafeWrites"].size()); // REPEAT writes every copy, and each breaks its menu
    EXPECT_NE(std::string::npos, wrap["unsafeWrites"][9]["reason"].get<std::string>().find("zero padding"));
    ASSERT_EQ(1u, check["rules"][1]["unsafeWrites"].size());
    EXPECT_EQ("MENU 513 bg, item 0x0108, id", check["rules"][1]["unsafeWrites"][0]["label"]);
    const Json& title = check["rules"][2];
    EXPECT_EQ(34, title["occurrences"]);
    EXPECT_EQ(33, title["leaves"]);
    EXPECT_TRUE(title["unsafeWrites"].empty());
    EXPECT_EQ(true, title["offsets"][0]["insideLongerText"]);
    EXPECT_EQ("MENU 513 bg, item 0x0134, text", title["leftOffsets"][3]["label"]);
    EXPECT_NE(std::string::npos, cli.Run({W("check"), rules, target})
                                     .out.find("overwrites the first of 34 occurrences, leaves 33:\n"));
    CliResult apply = cli.Run({W("apply"), rules, target, W("--log"), dir.Path(W("cli.log"))});
    EXPECT_EQ(2, apply.exitCode);
    EXPECT_NE(std::string::npos, apply.out.find("would break the image")) << apply.out;
    EXPECT_TRUE(notepad == ReadBytes(target));
}

// A copy of Wine's 64-bit winemine.exe: a menu text whose write breaks the menu.
TEST(CliTest, CheckAndApplyOnWines64BitWinemineSayWhatEachWriteTouches)
{
    const std::string winemine =
        ReadBytes(BuildPath("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/winemine.exe"));
    if (winemine.empty())
        GTEST_SKIP() << "Wine's 64-bit winemine.exe is not installed";
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini")), target = dir.Path(W("winemine.exe"));
    WriteRuleSet(rules, kWineRules);
    WriteBytes(target, winemine);
    Json check = ParseJson(cli.Run({W("check"), rules, target, W("--json")}));
    EXPECT_EQ(true, check["pe"]["is64"]);
    ASSERT_FALSE(check["rules"][3]["unsafeWrites"].empty()) << check.dump();
    EXPECT_EQ(0u, check["rules"][3]["unsafeWrites"][0]["label"].get<std::string>().find("MENU "))
        << check.dump();
    EXPECT_EQ(2, cli.Run({W("apply"), rules, target, W("--log"), dir.Path(W("cli.log"))}).exitCode);
    EXPECT_TRUE(winemine == ReadBytes(target));
}

FileIdentity IdentityOf(const WString& path)
{
    FileIdentity identity = {0, 0};
    EXPECT_TRUE(GetFileIdentity(path, identity)) << Utf8(path);
    return identity;
}

std::vector<WString> FilesIn(const TempDir& dir)
{
    std::vector<WString> names;
    for (const auto& entry : std::filesystem::directory_iterator(FsPath(dir.Dir())))
        names.push_back(ToolPath(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

// Another program moves its file onto the target's name while the tool works:
// before the write begins, and between the copy and its exchange.
TEST(CliFilesTest, AReplacementTakesOnlyTheFileThatWasRead)
{
    typedef bool (*FnWrite)(const WString& path, const FileIdentity& read, std::string& sReason);
    const FnWrite writers[] = {
        [](const WString& path, const FileIdentity& read, std::string& sReason) {
            return ReplaceReadFile(path, read, reinterpret_cast<const BYTE*>("new"), 3, sReason);
        },
        [](const WString& path, const FileIdentity& read, std::string& sReason) {
            WString temp;
            FileIdentity copied;
            if (!MakeTempCopy(path, temp, copied, sReason))
                return false;
            WriteBytes(temp, "new");
            return PutTempInPlace(temp, path, read, sReason);
        },
    };
    for (FnWrite fnWrite : writers)
    {
        TempDir dir;
        const WString path = dir.Path(W("target.exe")), other = dir.Path(W("other.exe"));
        WriteBytes(path, "read");
        FileIdentity read = IdentityOf(path);
        WriteBytes(other, "moved in");
        std::filesystem::rename(FsPath(other), FsPath(path));
        std::string sReason;
        EXPECT_FALSE(fnWrite(path, read, sReason));
        EXPECT_EQ("was replaced by another file while the tool worked; left as it is", sReason);
        EXPECT_EQ("moved in", ReadBytes(path));
        read = IdentityOf(path);
        EXPECT_TRUE(fnWrite(path, read, sReason)) << sReason;
        EXPECT_EQ("new", ReadBytes(path));
        EXPECT_FALSE(IdentityOf(path) == read);
        EXPECT_EQ(std::vector<WString>{W("target.exe")}, FilesIn(dir));
    }
}

// A run of apply: the target is replaced by a patched copy with its owner,
// group and mode, the backup is an exact copy, an older backup survives a
// rerun that changes nothing, and what a killed run left is named, not removed.
TEST(CliTest, ApplyReplacesTheTargetThroughACompleteCopy)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini")), log = dir.Path(W("run.log"));
    WriteRuleSet(rules, "[001]\nEN=Quit\nCN=Q\n");
    const std::string demo = DemoTarget();
    const WString target = dir.Path(W("demo.exe")), backup = dir.Path(W("demo.exe.bak"));
    const WString stale = dir.Path(W("demo.exe.pivra-tmp-7"));
    WriteBytes(target, demo);
    WriteBytes(stale, "left by a killed run");
    const auto mtime = std::filesystem::last_write_time(FsPath(target)) - std::chrono::hours(24 * 400);
    std::filesystem::last_write_time(FsPath(target), mtime);
#ifndef _WIN32
    const std::string native = NativePath(target.c_str());
    ASSERT_EQ(0, chmod(native.c_str(), 0751));
    const bool root = geteuid() == 0;
    if (root)
    {
        ASSERT_EQ(0, chown(native.c_str(), 1234, 5678));
    }
#endif
    const FileIdentity before = IdentityOf(target);
    CliResult result = cli.Run({W("apply"), rules, target, W("--backup"), W("--log"), log});
    EXPECT_EQ(0, result.exitCode) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("pivra-cli apply: " + ShownPath(stale) +
                                                 ": left by an earlier run that did not finish; remove it"))
        << result.err;
    EXPECT_EQ("left by a killed run", ReadBytes(stale));
    const std::string patched = ReadBytes(target);
    EXPECT_NE(demo, patched);
    EXPECT_FALSE(IdentityOf(target) == before);
    EXPECT_EQ(demo, ReadBytes(backup));
    EXPECT_EQ(mtime, std::filesystem::last_write_time(FsPath(backup)));
    std::vector<WString> left = StaleTempFiles(target);
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ(ToolPath(FsPath(stale)), ToolPath(FsPath(left[0])));
    EXPECT_TRUE(StaleTempFiles(backup).empty());
#ifndef _WIN32
    for (const WString& path : {target, backup})
    {
        struct stat st;
        ASSERT_EQ(0, stat(NativePath(path.c_str()).c_str(), &st));
        EXPECT_EQ(0751u, st.st_mode & 07777) << Utf8(path);
        if (root)
        {
            EXPECT_TRUE(st.st_uid == 1234 && st.st_gid == 5678) << Utf8(path);
        }
    }
#endif

    // Nothing is left to translate (a CN that is its EN counts as a change but
    // changes no byte): the backup of the original stays, also in place.
    WriteRuleSet(rules, "[001]\nEN=Quit\nCN=Q\n[002]\nEN=Ready\nCN=Ready\n");
    for (bool inPlace : {false, true})
    {
        std::vector<WString> args = {W("apply"), rules, target, W("--backup"), W("--force"), W("--log"), log};
        if (inPlace)
            args.push_back(W("--in-place"));
        result = cli.Run(args);
        EXPECT_EQ(1, result.exitCode) << result.err;
        EXPECT_EQ(demo, ReadBytes(backup));
        EXPECT_EQ(patched, ReadBytes(target));
        EXPECT_TRUE(StaleTempFiles(backup).empty() && SetAsideFiles(backup).empty());
    }
}

// An older backup a killed run had set aside is named as what it is.
TEST(CliTest, ApplyNamesAnOlderBackupSetAside)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini")), target = dir.Path(W("demo.exe"));
    WriteRuleSet(rules, "[001]\nEN=Quit\nCN=Q\n");
    WriteBytes(target, DemoTarget());
    const WString aside = dir.Path(W("demo.exe.bak.pivra-old-0123456789abcdef"));
    WriteBytes(aside, DemoTarget());
    CliResult result = cli.Run({W("apply"), rules, target, W("--log"), dir.Path(W("run.log"))});
    EXPECT_NE(std::string::npos, result.err.find(ShownPath(aside) + ": an older backup")) << result.err;
}

// In place, as the main window patches: the same file, patched as a copy is;
// a file with other names is patched in place without being asked.
TEST(CliTest, ApplyInPlaceKeepsTheFileAndItsOtherNames)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini")), log = dir.Path(W("run.log"));
    WriteRuleSet(rules, "[001]\nEN=Quit\nCN=Q\n[002]\nEN=Ready\nCN=Ready\n");
    const std::string demo = DemoTarget();
    WriteBytes(dir.Path(W("copy.exe")), demo);
    CliResult result = cli.Run({W("apply"), rules, dir.Path(W("copy.exe")), W("--log"), log});
    ASSERT_EQ(0, result.exitCode) << result.err;
    const std::string patched = ReadBytes(dir.Path(W("copy.exe")));
    ASSERT_NE(demo, patched);
    const WString inPlace = dir.Path(W("in-place.exe")), linked = dir.Path(W("linked.exe"));
    WriteBytes(inPlace, demo);
    WriteBytes(linked, demo);
    std::filesystem::create_hard_link(FsPath(linked), FsPath(dir.Path(W("other-name.exe"))));
    const FileIdentity inPlaceBefore = IdentityOf(inPlace), linkedBefore = IdentityOf(linked);
    result = cli.Run({W("apply"), rules, inPlace, W("--in-place"), W("--log"), log});
    EXPECT_EQ(0, result.exitCode) << result.err;
    EXPECT_EQ(std::string::npos, result.out.find("patched in place")) << result.out;
    result = cli.Run({W("apply"), rules, linked, W("--log"), log});
    EXPECT_EQ(0, result.exitCode) << result.err;
    EXPECT_NE(std::string::npos, result.out.find("  patched in place: the file has other names\n"))
        << result.out;
    EXPECT_TRUE(IdentityOf(inPlace) == inPlaceBefore && IdentityOf(linked) == linkedBefore);
    EXPECT_TRUE(patched == ReadBytes(inPlace) && patched == ReadBytes(linked));
    EXPECT_EQ(patched, ReadBytes(dir.Path(W("other-name.exe"))));
    EXPECT_TRUE(StaleTempFiles(inPlace).empty() && StaleTempFiles(linked).empty());
}

// Refused by what the file is: the output of extract or po extract that is
// the target, under its own name or another.
TEST(CliTest, AnOutputThatIsTheTargetIsRefused)
{
    TempDir dir;
    CliRunner cli(dir);
    const std::string res = ReadBytes(BuildPath(PIVRA_RES_TARGET));
    const WString target = dir.Path(W("res.exe"));
    WriteBytes(target, res);
    const WString other = SecondName(dir, W("res.exe"));
    for (const WString& output : {target, other})
        for (std::vector<WString> args : {std::vector<WString>{W("po"), W("extract"), target},
                                          std::vector<WString>{W("extract"), target}})
        {
            args.insert(args.end(), {W("-o"), output, W("--force")});
            CliResult result = cli.Run(args);
            EXPECT_EQ(2, result.exitCode) << Utf8(output);
            EXPECT_NE(std::string::npos, result.err.find(": is the target of this run")) << result.err;
            EXPECT_TRUE(res == ReadBytes(target)) << Utf8(args[0]);
        }
}

#ifndef _WIN32
// A link planted at a temporary name a write could use is never followed.
TEST(CliTest, NoWriteFollowsALinkAtATemporaryName)
{
    TempDir dir;
    CliRunner cli(dir);
    const WString rules = dir.Path(W("rules.ini")), victim = dir.Path(W("victim.txt"));
    WriteRuleSet(rules, "[001]\nEN=Quit\nCN=Q\n");
    WriteBytes(dir.Path(W("demo.exe")), DemoTarget());
    WriteBytes(dir.Path(W("res.exe")), ReadBytes(BuildPath(PIVRA_RES_TARGET)));
    WriteBytes(victim, "victim");
    const WString names[] = {W("demo.exe"), W("demo.exe.bak"), W("out.ini"), W("out.pot")};
    std::vector<WString> links;
    for (const WString& name : names)
        for (LPCWSTR suffix : {W(".pivra-tmp-1"), W(".pivra-tmp-2"), W(".pivra-tmp-00000000")})
        {
            links.push_back(dir.Path(name + suffix));
            std::filesystem::create_symlink(FsPath(victim), FsPath(links.back()));
        }
    const std::vector<WString> runs[] = {
        {W("apply"), rules, dir.Path(W("demo.exe")), W("--backup"), W("--log"), dir.Path(W("run.log"))},
        {W("extract"), dir.Path(W("demo.exe")), W("-o"), dir.Path(W("out.ini"))},
        {W("po"), W("extract"), dir.Path(W("res.exe")), W("-o"), dir.Path(W("out.pot"))},
    };
    for (const std::vector<WString>& args : runs)
    {
        CliResult result = cli.Run(args);
        EXPECT_EQ(0, result.exitCode) << Utf8(args[0]) << result.err;
    }
    EXPECT_EQ("victim", ReadBytes(victim));
    for (const WString& link : links)
        EXPECT_TRUE(std::filesystem::is_symlink(FsPath(link))) << Utf8(link);
    EXPECT_TRUE(FileExists(dir.Path(W("demo.exe.bak"))) && FileExists(dir.Path(W("out.pot"))));
}
#endif
} // namespace
