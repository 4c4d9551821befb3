#include "patch/patch_run.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace
{
// Everything a run shows: progress messages, the report, the log's lines.
struct Recorder
{
    std::vector<std::string> events;
    WString report;

    PatchWindow Window()
    {
        return {this, [](void*) { return 5u; },
                [](void* p, PatchProgress progress, UINT uValue) {
                    static_cast<Recorder*>(p)->events.push_back(std::to_string(progress) + " " +
                                                                std::to_string(uValue));
                },
                [](void* p, LPCWSTR wsText, LPCWSTR, UINT) { static_cast<Recorder*>(p)->report = wsText; }};
    }
};

// The log without its time stamps (26 units before each text).
std::vector<std::string> LogLines(const WString& path)
{
    std::vector<std::string> lines;
    std::string bytes = FileExists(path) ? ReadBytes(path) : std::string();
    std::string line;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    {
        line += bytes.substr(i, 2);
        if (line.size() >= 4 && line.compare(line.size() - 4, 4, std::string("\r\0\n\0", 4)) == 0)
        {
            lines.push_back(line.substr(52));
            line.clear();
        }
    }
    return lines;
}

std::string RandomText(std::mt19937& rng, size_t cch)
{
    static const char* pieces[] = {"a", "b", "c", "ab", "ba", "\\0", "\\t", "\\x61", "\\\\", "abc"};
    std::string text;
    while (text.size() < cch)
        text += pieces[rng() % 10];
    return text;
}

std::string Decoded(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '\\' || i + 1 == text.size())
        {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == '0')
            out += '\0';
        else if (c == 't')
            out += '\t';
        else if (c == 'x')
            out += 'a', i += 2;
        else
            out += c;
    }
    return out;
}
} // namespace

TEST(PatchRunDiffTest, OneScanRunAgreesWithTheRuleByRuleRun)
{
    std::mt19937 rng(4242);
    TempDir dir;
    const WString rules = dir.Path(W("set.ini")), target = dir.Path(W("target.bin"));
    for (int round = 0; round < 300; ++round)
    {
        // Rules whose ENs and CNs overlap each other and the target's texts,
        // UTF-16 and ANSI, some repeating, refused or for the other bitness.
        std::vector<std::string> texts;
        std::string ini = "[Config]\r\nFILE=x\r\n";
        const int cRules = 1 + static_cast<int>(rng() % 20);
        for (int n = 1; n <= cRules; ++n)
        {
            std::string en = rng() % 3 == 0 && !texts.empty() ? texts[rng() % texts.size()]
                                                              : RandomText(rng, 1 + rng() % 12);
            std::string cn = RandomText(rng, rng() % (en.size() + 2));
            texts.push_back(cn);
            texts.push_back(en);
            char szNode[16];
            std::snprintf(szNode, sizeof(szNode), "[%03d]\r\n", n);
            ini += szNode + std::string("EN=") + en + "\r\nCN=" + cn + "\r\n";
            if (rng() % 2 == 0)
                ini += "UNICODE=0\r\n";
            if (rng() % 3 == 0)
                ini += "REPEAT=1\r\n";
            if (rng() % 10 == 0)
                ini += "X86=0\r\n";
            if (rng() % 40 == 0)
                ini += "X86=0\r\nX64=0\r\n";
        }
        WriteBytes(rules, ini);
        std::string data;
        while (data.size() < 300)
        {
            std::string piece = Decoded(texts[rng() % texts.size()]);
            if (rng() % 2 == 0)
                for (char c : piece)
                    data += std::string(1, c) + '\0';
            else
                data += piece;
            data += std::string(rng() % 3, static_cast<char>(rng() % 2 ? 'c' : '\0'));
        }

        Recorder oneScan, sequential;
        const WString log1 = dir.Path(W("one.log")), log2 = dir.Path(W("seq.log"));
        DeleteFileW(log1.c_str());
        DeleteFileW(log2.c_str());
        WriteBytes(target, data);
        UINT uOneScan = RunPatchLoggingTo(rules.c_str(), target.c_str(), oneScan.Window(), log1.c_str());
        const std::string patched = ReadBytes(target);
        WriteBytes(target, data);
        UINT uSequential =
            RunPatchSequentialLoggingTo(rules.c_str(), target.c_str(), sequential.Window(), log2.c_str());
        ASSERT_EQ(ReadBytes(target), patched) << "round " << round;
        ASSERT_EQ(uSequential, uOneScan) << "round " << round;
        ASSERT_EQ(sequential.events, oneScan.events) << "round " << round;
        ASSERT_EQ(sequential.report, oneScan.report) << "round " << round;
        ASSERT_EQ(LogLines(log2), LogLines(log1)) << "round " << round;
    }
}
