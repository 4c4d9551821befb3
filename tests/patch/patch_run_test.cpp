#include "patch/failure_log.h"
#include "patch/patch_run.h"
#include "rules/rule_files.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "port/native_path.h"
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace
{
#ifdef _WIN32
#define FIXTURE_PATH(name) WString(W("Z:" PIVRA_FIXTURE_DIR "/" name))
std::filesystem::path Native(const WString& path)
{
    return std::filesystem::path(path);
}
#else
#define FIXTURE_PATH(name) Utf8ToUtf16(PIVRA_FIXTURE_DIR "/" name)
std::filesystem::path Native(const WString& path)
{
    return std::filesystem::path(NativePath(path.c_str()));
}
#endif

// Stands in for the main window: records every progress message and the report.
struct FakeWindow
{
    UINT uCount = 0;
    std::vector<std::string> events;
    WString report, caption;
    UINT uType = 0;
    std::function<void()> onCount, onReport;

    PatchWindow Window()
    {
        return {this, [](void* p) { return static_cast<FakeWindow*>(p)->Count(); },
                [](void* p, PatchProgress progress, UINT uValue) {
                    static const char* names[] = {"range", "step", "stepit", "pos"};
                    static_cast<FakeWindow*>(p)->events.push_back(std::string(names[progress]) + " " +
                                                                  std::to_string(uValue));
                },
                [](void* p, LPCWSTR wsText, LPCWSTR wsCaption, UINT uType) {
                    FakeWindow* w = static_cast<FakeWindow*>(p);
                    w->events.push_back("report");
                    w->report = wsText;
                    w->caption = wsCaption;
                    w->uType = uType;
                    if (w->onReport)
                        w->onReport();
                }};
    }
    UINT Count()
    {
        if (onCount)
            onCount();
        return uCount;
    }
};

struct Rule
{
    WString en, cn;
    const char* extra; // further key=value lines, "\r\n"-separated
};

// A UTF-16LE rule-set file (FF FE), so CN texts outside the ANSI code page survive.
void WriteRules(const WString& path, const std::vector<Rule>& rules, const WString& tail = W(""))
{
    WString text = W("[Config]\r\nFILE=x\r\n");
    for (size_t i = 0; i < rules.size(); ++i)
    {
        std::string node = std::to_string(1000 + i + 1).substr(1);
        text += W("[") + WString(node.begin(), node.end()) + W("]\r\n");
        if (!rules[i].en.empty())
            text += W("EN=") + rules[i].en + W("\r\n");
        text += W("CN=") + rules[i].cn + W("\r\n");
        for (const char* p = rules[i].extra; *p != 0; ++p)
            text += static_cast<WCHAR>(*p);
        text += W("\r\n");
    }
    WriteBytes(path, "\xFF\xFE" + Utf16Bytes(text + tail));
}

WString Report(UINT uTried, UINT uModified)
{
    std::string tried = std::to_string(uTried), modified = std::to_string(uModified);
    return W("汉化完成，搜索 ") + WString(tried.begin(), tried.end()) + W(" 处文本，修改 ") +
           WString(modified.begin(), modified.end()) + W(" 处文本！");
}

// The log's lines without their time stamps, as UTF-16 texts.
std::vector<WString> LogTexts(const WString& path)
{
    std::vector<WString> lines;
    std::string bytes = ReadBytes(path);
    if (bytes.empty())
        return lines;
    EXPECT_EQ(std::string("\xFF\xFE"), bytes.substr(0, 2));
    WString text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
    for (size_t start = 0; start < text.size();)
    {
        size_t end = text.find(W("\r\n"), start);
        WString line = text.substr(start, end - start);
        EXPECT_EQ(WCHAR('['), line[0]);
        EXPECT_EQ(WString(W("] ")), line.substr(24, 2));
        lines.push_back(line.substr(26));
        start = end + 2;
    }
    return lines;
}

std::string Wide(const std::string& ascii)
{
    std::string bytes;
    for (char c : ascii)
        bytes += std::string(1, c) + '\0';
    return bytes;
}

struct PatchCase
{
    TempDir dir;
    WString rules = dir.Path(W("set.ini"));
    WString target = dir.Path(W("target.exe"));
    WString log = dir.Path(W("tool.log"));
    FakeWindow window;
    UINT uModified = 0;

    std::string Patch(const std::string& bytes)
    {
        WriteBytes(target, bytes);
        uModified = RunPatchLoggingTo(rules.c_str(), target.c_str(), window.Window(), log.c_str());
        return ReadBytes(target);
    }
    bool TargetIsFree() const
    {
        HANDLE h = CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }
};
} // namespace

TEST(PatchRunTest, FirstOrEveryOccurrence)
{
    const std::string data = "..." + Wide("Hi") + "-" + Wide("Hi") + "-" + Wide("Hi") + "..";
    struct Case
    {
        const char* extra;
        std::string result;
    } cases[] = {
        {"", "..." + Wide("Yo") + "-" + Wide("Hi") + "-" + Wide("Hi") + ".."},
        {"REPEAT=2", "..." + Wide("Yo") + "-" + Wide("Hi") + "-" + Wide("Hi") + ".."},
        {"REPEAT=1", "..." + Wide("Yo") + "-" + Wide("Yo") + "-" + Wide("Yo") + ".."},
        {"REPEAT=3", "..." + Wide("Yo") + "-" + Wide("Yo") + "-" + Wide("Yo") + ".."},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.extra);
        PatchCase run;
        WriteRules(run.rules, {{W("Hi"), W("Yo"), c.extra}});
        EXPECT_EQ(c.result, run.Patch(data));
        EXPECT_EQ(1u, run.uModified);
        EXPECT_EQ(Report(1, 1), run.window.report);
        EXPECT_FALSE(FileExists(run.log));
    }
}

TEST(PatchRunTest, OverwritesWithPaddedCnAtAnyOffset)
{
    PatchCase run;
    // EN of 5 units at an odd offset, CN of 3 (the last at the end of the file,
    // ANSI, ending on its last byte).
    WriteRules(run.rules, {{W("Hello"), W("abc"), ""}, {W("tail"), W("TA"), "UNICODE=0"}});
    std::string patched = run.Patch("x" + Wide("Hello") + "..tail");
    EXPECT_EQ("x" + Wide("abc") + std::string(4, '\0') + ".." + std::string("TA\0\0", 4), patched);
    EXPECT_EQ(Report(2, 2), run.window.report);
}

TEST(PatchRunTest, RefusedRulesAreCountedAndLoggedWithTheirStoredTexts)
{
    struct Case
    {
        Rule rule;
        bool applied;
        std::string result;
    } cases[] = {
        {{W("Hi"), W("Hey"), ""}, false, Wide("Hi!")},  // CN longer than EN
        {{W("Hi"), W(""), ""}, false, Wide("Hi!")},     // CN empty, EN not
        {{W("Hi"), W("\\0a"), ""}, false, Wide("Hi!")}, // zero first on one side only
        {{W("Ho"), W("Yo"), ""}, false, Wide("Hi!")},   // not found
        {{W("\\0H"), W(""), ""}, false, Wide("Hi!")},   // not found: no zero before H
        {{W("i!"), W(""), ""}, false, Wide("Hi!")},
        {{W("\\x48i"), W("\\x59o"), ""}, true, Wide("Yo!")}, // hexadecimal escapes
        {{W("H\\"), W("J"), ""}, false, Wide("Hi!")},        // H and a zero unit: not there
        {{W("!\\"), W("?"), ""}, true, Wide("Hi?")},         // the terminator past the end is no unit
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::vector<int>(c.rule.en.begin(), c.rule.en.end())));
        PatchCase run;
        WriteRules(run.rules, {c.rule});
        // The file ends in a zero unit, so "!" and a zero unit occur at its end.
        EXPECT_EQ(c.result + std::string(2, '\0'), run.Patch(Wide("Hi!") + std::string(2, '\0')));
        EXPECT_EQ(Report(1, c.applied ? 1 : 0), run.window.report);
        std::vector<WString> expected;
        if (!c.applied)
            expected = {W("ERROR_EN:") + c.rule.en, W("ERROR_CN:") + c.rule.cn};
        EXPECT_EQ(expected, LogTexts(run.log));
    }
}

TEST(PatchRunTest, EmptyCnClearsAnEnThatBeginsWithAZeroUnit)
{
    PatchCase run;
    WriteRules(run.rules, {{W("\\0ab"), W(""), ""}});
    EXPECT_EQ("x" + std::string(6, '\0') + "y", run.Patch("x" + std::string("\0\0a\0b\0", 6) + "y"));
    EXPECT_EQ(Report(1, 1), run.window.report);
}

TEST(PatchRunTest, WhereTheRulesEndAndHowTheBarMoves)
{
    struct Case
    {
        const char* name;
        std::vector<Rule> rules;
        UINT uProcessed, uTried, uModified;
    } cases[] = {
        {"X86 and X64 both 0 end it",
         {{W("a"), W("b"), ""}, {W("c"), W("d"), "X86=0\r\nX64=2"}, {W("e"), W("f"), ""}},
         1,
         1,
         1},
        {"empty EN ends it", {{W("a"), W("b"), ""}, {W(""), W("d"), ""}, {W("e"), W("f"), ""}}, 1, 1, 1},
        {"empty ANSI EN ends it",
         {{W("a"), W("b"), ""}, {W(""), W("d"), "UNICODE=0"}, {W("e"), W("f"), ""}},
         1,
         1,
         1},
        {"X86=2 is off: passed over", {{W("a"), W("b"), "X86=2"}, {W("e"), W("f"), ""}}, 2, 1, 1},
        {"X86=3 is on", {{W("a"), W("b"), "X86=3"}, {W("e"), W("f"), ""}}, 2, 2, 2},
        {"X64-only rule on a non-PE file", {{W("a"), W("b"), "X86=0"}, {W("q"), W("f"), ""}}, 2, 1, 0},
        {"no rules", {}, 0, 0, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        PatchCase run;
        run.window.uCount = 7;
        WriteRules(run.rules, c.rules);
        run.Patch(Wide("ace"));
        std::vector<std::string> expected = {"range 7", "step 1"};
        expected.insert(expected.end(), c.uProcessed, "stepit 0");
        expected.push_back("report");
        expected.push_back("pos 0");
        EXPECT_EQ(expected, run.window.events);
        EXPECT_EQ(Report(c.uTried, c.uModified), run.window.report);
        EXPECT_EQ(WString(W("提示")), run.window.caption);
        EXPECT_EQ(MB_OK | MB_ICONINFORMATION, run.window.uType);
        EXPECT_EQ(c.uModified, run.uModified);
        EXPECT_EQ(2 * (c.uTried - c.uModified), LogTexts(run.log).size());
    }
}

TEST(PatchRunTest, BitnessOfRealImages)
{
    // Rule 1 for 32-bit targets, rule 2 for 64-bit ones; each text is in both images.
    struct Case
    {
        WString fixture;
        std::string changed, kept;
    } cases[] = {
        {FIXTURE_PATH("hello32.exe"), Wide("Fixture WIDE text"), "Fixture ansi text"},
        {FIXTURE_PATH("hello64.exe"), "Fixture ANSI text", Wide("Fixture wide text")},
    };
    for (const Case& c : cases)
    {
        PatchCase run;
        WriteRules(run.rules, {{W("Fixture wide"), W("Fixture WIDE"), "X64=0"},
                               {W("Fixture ansi"), W("Fixture ANSI"), "X86=0\r\nUNICODE=0"}});
        std::string image = ReadBytes(c.fixture);
        ASSERT_NE(std::string::npos, image.find(c.kept));
        std::string patched = run.Patch(image);
        EXPECT_EQ(image.size(), patched.size());
        EXPECT_NE(std::string::npos, patched.find(c.changed));
        EXPECT_NE(std::string::npos, patched.find(c.kept));
        EXPECT_EQ(Report(1, 1), run.window.report);
        // Nothing but the occurrence changed.
        size_t at = patched.find(c.changed);
        EXPECT_EQ(image.substr(0, at), patched.substr(0, at));
        EXPECT_EQ(image.substr(at + c.changed.size()), patched.substr(at + c.changed.size()));
    }
}

TEST(PatchRunTest, AnsiRulesReadTheCodePageFormOfTheTexts)
{
    PatchCase run;
    // GBK: 中 is D6 D0, 文 is CE C4; the log keeps the stored, undecoded text.
    WriteRules(run.rules,
               {{W("Open\\tfile"), W("中文\\t"), "UNICODE=0"}, {W("missing"), W("文"), "UNICODE=0"}});
    EXPECT_EQ("<\xD6\xD0\xCE\xC4\t" + std::string(4, '\0') + ">", run.Patch("<Open\tfile>"));
    EXPECT_EQ(Report(2, 1), run.window.report);
    EXPECT_EQ((std::vector<WString>{W("ERROR_EN:missing"), W("ERROR_CN:文")}), LogTexts(run.log));
}

TEST(PatchRunTest, RuleSetPathWithoutAnExactAnsiFormEndsAtTheFirstAnsiRule)
{
    struct Case
    {
        const char* name;
        WString folder;
    } cases[] = {
        // 3 x 60 characters of two GBK bytes each: over 360 bytes, well under 360 units.
        {"too long", WString(60, WCHAR(0x4E2D)) + W("\\") + WString(60, WCHAR(0x6587)) + W("\\") +
                         WString(60, WCHAR(0x4E2D))},
        {"not in the code page", W("\u0E01")},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        PatchCase run;
        std::filesystem::create_directories(Native(run.dir.Path(c.folder)));
        WString rules = run.dir.Path(c.folder + W("\\set.ini"));
        ASSERT_LT(rules.size(), kPathChars);
        WriteRules(rules, {{W("ab"), W("AB"), ""}, {W("cd"), W("CD"), "UNICODE=0"}, {W("ef"), W("EF"), ""}});
        WriteBytes(run.target, Wide("ab") + "cd" + Wide("ef"));
        RunPatchLoggingTo(rules.c_str(), run.target.c_str(), run.window.Window(), run.log.c_str());
        EXPECT_EQ(Wide("AB") + "cd" + Wide("ef"), ReadBytes(run.target));
        EXPECT_EQ(Report(1, 1), run.window.report);
    }
}

TEST(PatchRunTest, RepeatEndsWhenCnLeavesEnInPlace)
{
    PatchCase run;
    WriteRules(run.rules, {{W("ab"), W("ab"), "REPEAT=1\r\nUNICODE=0"},
                           {W("a\\0"), W("a"), "REPEAT=1\r\nUNICODE=0"},
                           {W("xy"), W("yx"), "REPEAT=1\r\nUNICODE=0"}});
    std::string patched = run.Patch(std::string("ab-a\0-xxyy", 10));
    EXPECT_EQ(std::string("ab-a\0-yyxx", 10), patched);
    EXPECT_EQ(Report(3, 3), run.window.report);
}

TEST(PatchRunTest, TargetsThatCannotBePatchedAreReportedAsNothingDone)
{
    PatchCase missing;
    WriteRules(missing.rules, {{W("a"), W("b"), ""}});
    missing.window.uCount = 1;
    EXPECT_EQ(0u, RunPatchLoggingTo(missing.rules.c_str(), missing.target.c_str(), missing.window.Window(),
                                    missing.log.c_str()));
    EXPECT_EQ((std::vector<std::string>{"report", "pos 0"}), missing.window.events);
    EXPECT_EQ(Report(0, 0), missing.window.report);
    EXPECT_FALSE(FileExists(missing.log));
    EXPECT_FALSE(FileExists(missing.target));

    PatchCase empty;
    WriteRules(empty.rules, {{W("a"), W("b"), ""}});
    empty.window.onReport = [&] { EXPECT_TRUE(empty.TargetIsFree()); };
    EXPECT_EQ("", empty.Patch(""));
    EXPECT_EQ((std::vector<std::string>{"report", "pos 0"}), empty.window.events);
    EXPECT_EQ(Report(0, 0), empty.window.report);
    EXPECT_FALSE(FileExists(empty.log));
}

TEST(PatchRunTest, TargetIsHeldExclusivelyAndReleased)
{
    PatchCase run;
    WriteRules(run.rules, {{W("a"), W("b"), ""}, {W("q"), W("r"), ""}});
    bool heldDuringRun = false, freeAtReport = false;
    run.window.onCount = [&] {
        HANDLE h = CreateFileW(run.target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        heldDuringRun = h == INVALID_HANDLE_VALUE;
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    };
    run.window.onReport = [&] { freeAtReport = run.TargetIsFree(); };
    run.Patch(Wide("a"));
    EXPECT_TRUE(heldDuringRun);
    EXPECT_TRUE(freeAtReport);
    EXPECT_EQ(Report(2, 1), run.window.report);

    // A target held by someone else is not opened, so nothing is done.
    PatchCase busy;
    WriteRules(busy.rules, {{W("a"), W("b"), ""}});
    WriteBytes(busy.target, Wide("a"));
    HANDLE hHolder = CreateFileW(busy.target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHolder);
    RunPatchLoggingTo(busy.rules.c_str(), busy.target.c_str(), busy.window.Window(), busy.log.c_str());
    CloseHandle(hHolder);
    EXPECT_EQ(Report(0, 0), busy.window.report);
    EXPECT_EQ(Wide("a"), ReadBytes(busy.target));
}

TEST(PatchRunTest, TargetOf4GiBOrMoreIsRefusedUntouched)
{
    PatchCase run;
    WriteRules(run.rules, {{W("a"), W("b"), ""}});
    const uintmax_t cbLarge = (uintmax_t(1) << 32) + 2;
    WriteBytes(run.target, Wide("a"));
    std::error_code ec;
    std::filesystem::resize_file(Native(run.target), cbLarge, ec);
    if (ec)
        GTEST_SKIP() << "no room for a sparse 4 GiB file: " << ec.message();
    run.window.uCount = 1;
    run.window.onReport = [&] { EXPECT_TRUE(run.TargetIsFree()); };
    EXPECT_EQ(0u,
              RunPatchLoggingTo(run.rules.c_str(), run.target.c_str(), run.window.Window(), run.log.c_str()));
    EXPECT_EQ(Report(0, 0), run.window.report);
    EXPECT_EQ(cbLarge, std::filesystem::file_size(Native(run.target)));
    std::ifstream in(Native(run.target), std::ios::binary);
    char head[4] = {};
    in.read(head, 4);
    EXPECT_EQ(Wide("a") + std::string(2, '\0'), std::string(head, 4));
}

TEST(PatchRunTest, HostileRuleSetsAndTargets)
{
    // Garbage instead of a rule-set file, and values far over the buffers.
    PatchCase garbage;
    std::string noise;
    for (int i = 0; i < 5000; ++i)
        noise += static_cast<char>((i * 7919) % 251 + 1);
    WriteBytes(garbage.rules, "[001]\r\nEN=" + noise.substr(0, 300) + "\r\n" + noise);
    const std::string target(300, 'x');
    EXPECT_EQ(target, garbage.Patch(target));
    EXPECT_EQ(Report(1, 0), garbage.window.report);

    PatchCase longValues;
    // A stored EN cut to 2047 characters, ending inside an escape.
    WString en = WString(2046, WCHAR('A')) + W("\\x41");
    WriteRules(longValues.rules, {{en, WString(3000, WCHAR('B')), "REPEAT=1"}, {W("Z"), W("Y"), ""}});
    std::string data = Wide(std::string(2046, 'A')) + std::string(2, '\0') + Wide("Z");
    std::string patched = longValues.Patch(data);
    EXPECT_EQ(Wide(std::string(2047, 'B')) + Wide("Y"), patched);
    EXPECT_EQ(Report(2, 2), longValues.window.report);
}

TEST(PatchRunTest, RunPatchLogsBesideTheExecutable)
{
    WCHAR wsLog[kPathChars];
    GetLogFile(wsLog);
    const WString log = wsLog;
    const bool existed = FileExists(log);
    const std::string before = existed ? ReadBytes(log) : std::string();
    PatchCase run;
    WriteRules(run.rules, {{W("\\x4e\\o"), W("N"), ""}});
    WriteBytes(run.target, "nothing to find");
    RunPatch(run.rules.c_str(), run.target.c_str(), run.window.Window());
    std::string after = ReadBytes(log);
    if (existed)
        WriteBytes(log, before);
    else
        DeleteFileW(log.c_str());
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(std::string("\xFF\xFE"), after.substr(0, 2));
    std::string added = after.substr(existed ? before.size() : 2);
    EXPECT_NE(std::string::npos, added.find(Utf16Bytes(W("] ERROR_EN:\\x4e\\o\r\n"))));
    EXPECT_NE(std::string::npos, added.find(Utf16Bytes(W("] ERROR_CN:N\r\n"))));
    EXPECT_EQ(Report(1, 0), run.window.report);
}
