// The dry run against the real run as its oracle: generated rule sets on
// generated images, compared by the bytes left, the counts and the failures.
#include "cli_runner.h"
#include "patch/patch_run.h"
#include "rules/escape.h"
#include "rules/rule_set.h"
#include "scan/dry_run.h"
#include "test_image.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
TEST(DryRunTest, LeavesWhatTheRunLeavesAndForeseesItsCounts)
{
    // Pieces of the targets, and ENs that overlap them, occur inside each
    // other, or come back when REPEAT overwrites a neighbour ("AAAB" with AB
    // to B).
    const char* const pieces[] = {"Ready", "Read", "Open file", "Quit", "ABAB", "AAB", "AAAB"};
    const char* const texts[] = {"Ready", "Read", "eady", "Open", "Quit", "AB", "ABAB", "BA", "AB\\0"};
    const char* const cns[] = {"",    "\\0", "X", "Ready", "Re", "\\x41\\x42", "LongerThanEveryText",
                               "BAB", "AB"};
    std::mt19937 random(20261209);
    TempDir dir;
    for (int round = 0; round < 200; ++round)
    {
        std::string body;
        for (int i = 0; i < 40; ++i)
        {
            std::string text = pieces[random() % 7];
            body += random() % 2 ? Wide(text) : text;
            body += std::string(random() % 3, random() % 2 ? '\0' : 'A');
        }
        TestImage builder(random() % 2 == 1);
        builder.AddSection(".rdata", kTestDataSection, body);
        std::string image = builder.BuildString();
        std::string ini = "[Config]\r\n";
        int cRules = 1 + static_cast<int>(random() % 8);
        for (int n = 1; n <= cRules; ++n)
        {
            char node[8];
            std::snprintf(node, sizeof(node), "%03d", n);
            ini += std::string("[") + node + "]\r\nEN=" + texts[random() % 9] +
                   "\r\nCN=" + cns[random() % 9] + "\r\nUNICODE=" + std::to_string(random() % 2) +
                   "\r\nREPEAT=" + std::to_string(random() % 2) +
                   "\r\nX86=" + std::to_string(random() % 4 ? 1 : 0) +
                   "\r\nX64=" + std::to_string(random() % 4 ? 1 : 2) + "\r\n";
        }
        // A new file name each round: the profile store's cache stays out of it.
        WString rules = dir.Path(W("set") + FromUtf8(std::to_string(round)) + W(".ini"));
        WString target = dir.Path(W("target.exe")), log = dir.Path(W("run.log"));
        WriteBytes(rules, ini);
        WriteBytes(target, image);
        WriteBytes(log, "");
        std::vector<BYTE> view(image.begin(), image.end());
        DryRunResult dry;
        DryRunPatch(rules.c_str(), view.data(), static_cast<DWORD>(view.size()),
                    reinterpret_cast<const BYTE*>(image.data()), dry, [](UINT) {});

        PatchWindow window = {nullptr, [](void*) { return 0u; }, [](void*, PatchProgress, UINT) {},
                              [](void*, LPCWSTR, LPCWSTR, UINT) {}};
        UINT uModified = RunPatchLoggingTo(rules.c_str(), target.c_str(), window, log.c_str());

        std::string patched = ReadBytes(target);
        ASSERT_EQ(patched, std::string(view.begin(), view.end())) << ini;
        EXPECT_EQ(uModified, dry.uModified) << ini;
        std::string logBytes = ReadBytes(log);
        size_t cLines = 0;
        for (size_t i = 0; i + 3 < logBytes.size(); i += 2)
            cLines += logBytes.compare(i, 4, std::string("\r\0\n\0", 4)) == 0;
        size_t cFailed = 0;
        for (const DryRule& rule : dry.rules)
            cFailed += rule.outcome != kDryChanges && rule.outcome != kDryOtherBitness;
        // Every tried rule that changed nothing leaves two lines.
        EXPECT_EQ(2 * cFailed, cLines) << ini;
        EXPECT_EQ(cFailed, dry.uTried - dry.uModified) << ini;
        // Where the untouched target holds a missing EN, found near the
        // writes only, against a search of the whole untouched target.
        for (const DryRule& rule : dry.rules)
        {
            if (rule.outcome != kDryNotFound)
                continue;
            std::string pattern;
            if (rule.unicode)
            {
                WString wsEn = rule.wsEn;
                wsEn.push_back(0);
                pattern.assign(reinterpret_cast<const char*>(wsEn.data()), UnescapeTextW(&wsEn[0]) * 2);
            }
            else
            {
                pattern = ToUtf8(rule.wsEn); // the generated texts are ASCII
                pattern.push_back(0);
                pattern.resize(UnescapeTextA(&pattern[0]));
            }
            std::vector<DWORD> expected;
            for (size_t at = 0;
                 !pattern.empty() && at + pattern.size() <= image.size() && expected.size() < kShownOffsets;
                 ++at)
                if (image.compare(at, pattern.size(), pattern) == 0)
                    expected.push_back(static_cast<DWORD>(at));
            EXPECT_EQ(expected, rule.originalAt) << ini << "rule " << rule.number;
        }
    }
}
} // namespace
