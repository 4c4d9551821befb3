// Times patch runs over a generated 64 MiB target: 1,000 UTF-16 rules, and
// 10,000 rules of a realistic mix (UTF-16 and ANSI, 90 % of the ENs present,
// some several times, REPEAT on some) on two fillers: a quarter of random
// lowercase text (hard on short ENs) and one like an executable (code, zero
// runs, tables, sparse English UI texts). Each with the one-scan run and the
// rule-by-rule run, whose targets must come out equal. --searches adds the
// 1,000-rule job's searches with the fast search and the byte-by-byte scan.
// Usage: patch_bench [runs] [sequential runs] [--searches]
#include "patch/find_bytes.h"
#include "patch/patch_engine.h"
#include "patch/patch_run.h"
#include "port/native_path.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{
const size_t kTargetBytes = 64u << 20;
const unsigned kRules = 1000;
const unsigned kMixRules = 10000;
const unsigned kAbsentRules = 100; // searched through the whole file

struct Rng
{
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state >> 11);
    }
};

std::string Utf16(const std::string& ascii)
{
    std::string bytes;
    for (char c : ascii)
        bytes += std::string(1, c) + '\0';
    return bytes;
}

std::string RuleText(unsigned n)
{
    char sz[64];
    std::snprintf(sz, sizeof(sz), "Menu item %04u: Open the file", n);
    return sz;
}

// Zero runs, random bytes and UTF-16 and ANSI words, like the sections of an
// executable.
std::vector<BYTE> MakeFiller(Rng& rng)
{
    std::vector<BYTE> data;
    data.reserve(kTargetBytes);
    while (data.size() < kTargetBytes)
    {
        uint32_t kind = rng.Next() % 4, len = 16 + rng.Next() % 240;
        for (uint32_t i = 0; i < len; ++i)
        {
            BYTE b = kind == 0   ? 0
                     : kind == 1 ? static_cast<BYTE>(rng.Next())
                                 : static_cast<BYTE>('a' + rng.Next() % 26);
            data.push_back(b);
            if (kind == 3)
                data.push_back(0);
        }
    }
    data.resize(kTargetBytes);
    return data;
}

// Like the sections of a real executable: x86-like code, zero runs, tables of
// small numbers and addresses, and now and then English UI texts in ANSI or
// UTF-16.
std::vector<BYTE> MakeCodeFiller(Rng& rng)
{
    static const BYTE opcodes[] = {0x8B, 0x89, 0x55, 0x56, 0x57, 0x53, 0x5D, 0x5E, 0x5F, 0x5B, 0xC3, 0xE8,
                                   0xFF, 0x83, 0xC4, 0xEC, 0x85, 0xC0, 0x74, 0x75, 0xEB, 0x50, 0x51, 0x52,
                                   0x6A, 0x68, 0x8D, 0x45, 0x4D, 0xF8, 0xFC, 0x24, 0x04, 0x08, 0x0C, 0x10};
    static const char* const words[] = {
        "File",   "Edit",   "View",  "Help",    "Open",    "Save",    "Close",  "the",     "file",
        "could",  "not",    "be",    "found",   "Cancel",  "OK",      "Yes",    "No",      "Options",
        "Window", "Tools",  "Print", "Error",   "Warning", "Select",  "folder", "name",    "of",
        "to",     "Do",     "you",   "want",    "changes", "Exit",    "About",  "Version", "Copy",
        "Paste",  "Delete", "Find",  "Replace", "all",     "Settings"};
    std::vector<BYTE> data;
    data.reserve(kTargetBytes);
    while (data.size() < kTargetBytes)
    {
        const uint32_t kind = rng.Next() % 20;
        if (kind < 10) // code
        {
            for (uint32_t len = 64 + rng.Next() % 4096, i = 0; i < len; ++i)
            {
                const uint32_t r = rng.Next() % 8;
                data.push_back(r < 4   ? opcodes[rng.Next() % sizeof(opcodes)]
                               : r < 6 ? 0
                                       : static_cast<BYTE>(rng.Next()));
            }
        }
        else if (kind < 14) // zero run
            data.resize(data.size() + 16 + rng.Next() % 2048, 0);
        else if (kind < 17) // table of small numbers and addresses
        {
            for (uint32_t len = 4 + rng.Next() % 256, i = 0; i < len; ++i)
            {
                const uint32_t v = rng.Next() % 2 ? rng.Next() % 512 : 0x00400000u + rng.Next() % 0x100000u;
                for (int b = 0; b < 4; ++b)
                    data.push_back(static_cast<BYTE>(v >> (8 * b)));
            }
        }
        else // UI texts
        {
            const bool wide = rng.Next() % 2 == 0;
            for (uint32_t texts = 1 + rng.Next() % 16; texts > 0; --texts)
            {
                std::string text;
                for (uint32_t w = 1 + rng.Next() % 6; w > 0; --w)
                    text += std::string(text.empty() ? "" : " ") +
                            words[rng.Next() % (sizeof(words) / sizeof(*words))];
                const std::string bytes = (wide ? Utf16(text) : text) + std::string(wide ? 2 : 1, '\0');
                data.insert(data.end(), bytes.begin(), bytes.end());
            }
        }
    }
    data.resize(kTargetBytes);
    return data;
}

void Place(std::vector<BYTE>& data, Rng& rng, const std::string& bytes)
{
    size_t at = (static_cast<size_t>(rng.Next()) * 4096 + rng.Next()) % (data.size() - bytes.size());
    std::memcpy(data.data() + at, bytes.data(), bytes.size());
}

// The EN of every rule but the last kAbsentRules at a random place.
std::vector<BYTE> MakeTarget()
{
    Rng rng;
    std::vector<BYTE> data = MakeFiller(rng);
    for (unsigned n = 1; n + kAbsentRules <= kRules; ++n)
        Place(data, rng, Utf16(RuleText(n)));
    return data;
}

std::string Section(unsigned n)
{
    char szNode[16];
    std::snprintf(szNode, sizeof(szNode), "[%03u]\r\n", n);
    return szNode;
}

std::string RuleSet()
{
    std::string text = "[Config]\r\nFILE=x\r\n";
    for (unsigned n = 1; n <= kRules; ++n)
    {
        std::string en = RuleText(n), cn = en;
        cn.replace(0, 4, "MENU");
        if (n > kRules - kAbsentRules)
            en[0] = 'X';
        text += Section(n) + "EN=" + en + "\r\nCN=" + cn + "\r\n";
    }
    return text;
}

// UI texts of one to six words from a vocabulary, so that ENs share words and
// some are part of others; 9 in 10 UTF-16, the rest ANSI; 9 in 10 present in
// the target, of those 1 in 10 two to five times; REPEAT on 1 in 10.
// The rules as the engine's jobs, for timing it alone on a buffer in memory.
struct MixJobs
{
    std::vector<std::string> en, cn;
    std::vector<bool> repeat;
};

void MakeMix(std::string& rules, std::vector<BYTE>& data, std::vector<BYTE> (*fnFiller)(Rng&), MixJobs& jobs)
{
    jobs = MixJobs();
    Rng rng;
    rng.state ^= 0x5555;
    data = fnFiller(rng);
    std::vector<std::string> words;
    for (int w = 0; w < 3000; ++w)
    {
        std::string word(2 + rng.Next() % 8, 'a');
        for (char& c : word)
            c = static_cast<char>('a' + rng.Next() % 26);
        if (rng.Next() % 3 == 0)
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
        words.push_back(word);
    }
    rules = "[Config]\r\nFILE=x\r\n";
    for (unsigned n = 1; n <= kMixRules; ++n)
    {
        std::string en = words[rng.Next() % words.size()];
        for (uint32_t k = rng.Next() % 6; k > 0; --k)
            en += " " + words[rng.Next() % words.size()];
        if (rng.Next() % 4 == 0)
            en += "...";
        std::string cn = en.substr(0, 1 + rng.Next() % en.size());
        for (char& c : cn)
            c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        const bool wide = rng.Next() % 10 != 0, repeat = rng.Next() % 10 == 0;
        rules += Section(n) + "EN=" + en + "\r\nCN=" + cn + "\r\n";
        jobs.en.push_back(wide ? Utf16(en) : en);
        jobs.cn.push_back(wide ? Utf16(cn) : cn);
        jobs.repeat.push_back(repeat);
        if (!wide)
            rules += "UNICODE=0\r\n";
        if (repeat)
            rules += "REPEAT=1\r\n";
        if (rng.Next() % 10 == 0)
            continue;
        uint32_t copies = rng.Next() % 10 == 0 ? 2 + rng.Next() % 4 : 1;
        for (uint32_t c = 0; c < copies; ++c)
            Place(data, rng, wide ? Utf16(en) : en);
    }
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

void WriteFile(const std::string& path, const std::vector<BYTE>& data)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<BYTE> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

typedef UINT (*FnRun)(LPCWSTR, LPCWSTR, const PatchWindow&, LPCWSTR);

struct Timing
{
    double median;
    UINT uModified;
    std::vector<BYTE> result;
};

Timing TimeRuns(FnRun fnRun, int runs, UINT uRules, const std::string& rules, const std::string& target,
                const std::string& log, const std::vector<BYTE>& data)
{
    static UINT s_rules;
    s_rules = uRules;
    PatchWindow window = {nullptr, [](void*) { return s_rules; }, [](void*, PatchProgress, UINT) {},
                          [](void*, LPCWSTR, LPCWSTR, UINT) {}};
    const std::u16string wsRules = Utf8ToUtf16(rules), wsTarget = Utf8ToUtf16(target),
                         wsLog = Utf8ToUtf16(log);
    Timing t = {0, 0, {}};
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
    {
        WriteFile(target, data);
        std::filesystem::remove(log);
        auto start = std::chrono::steady_clock::now();
        t.uModified = fnRun(wsRules.c_str(), wsTarget.c_str(), window, wsLog.c_str());
        times.push_back(Seconds(start));
    }
    t.median = Median(times);
    t.result = ReadFile(target);
    return t;
}

// Both runs of one job; false when their targets differ.
bool Job(const char* name, UINT uRules, const std::string& ruleText, const std::vector<BYTE>& data, int runs,
         int sequentialRuns, const std::filesystem::path& dir)
{
    const std::string rules = (dir / "bench.ini").string(), target = (dir / "target.bin").string(),
                      log = (dir / "bench.log").string();
    WriteText(rules, ruleText);
    Timing fast = TimeRuns(RunPatchLoggingTo, runs, uRules, rules, target, log, data);
    std::printf("%s, %zu MiB target: one scan median %.3f s of %d runs (modified %u)\n", name,
                data.size() >> 20, fast.median, runs, fast.uModified);
    if (sequentialRuns == 0)
        return true;
    Timing slow = TimeRuns(RunPatchSequentialLoggingTo, sequentialRuns, uRules, rules, target, log, data);
    const bool same = slow.result == fast.result && slow.uModified == fast.uModified;
    std::printf("%s: rule by rule median %.3f s of %d runs (modified %u); targets %s\n", name, slow.median,
                sequentialRuns, slow.uModified, same ? "equal" : "DIFFER");
    return same;
}

// ApplyJobs alone on a copy of the target in memory: no file, no rule parsing.
void EngineJob(const char* name, const MixJobs& mix, const std::vector<BYTE>& data, int runs)
{
    std::vector<PatchJob> jobs;
    for (size_t i = 0; i < mix.en.size(); ++i)
        jobs.push_back({reinterpret_cast<const BYTE*>(mix.en[i].data()), static_cast<DWORD>(mix.en[i].size()),
                        reinterpret_cast<const BYTE*>(mix.cn[i].data()), static_cast<DWORD>(mix.cn[i].size()),
                        mix.repeat[i]});
    std::vector<UINT> counts(jobs.size());
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
    {
        std::vector<BYTE> copy = data;
        auto start = std::chrono::steady_clock::now();
        ApplyJobs(copy.data(), static_cast<DWORD>(copy.size()), jobs.data(), static_cast<UINT>(jobs.size()),
                  counts.data());
        times.push_back(Seconds(start));
    }
    std::printf("%s: engine alone in memory median %.3f s of %d runs\n", name, Median(times), runs);
}

typedef const BYTE* (*FnSearch)(const BYTE*, DWORD, const BYTE*, DWORD);

// The run's searches, one per rule in order, on a copy that is patched as the
// run patches it.
double SearchJob(const std::vector<BYTE>& target, FnSearch fnSearch, unsigned& uFound)
{
    std::vector<BYTE> data = target;
    std::vector<std::string> patterns;
    for (unsigned n = 1; n <= kRules; ++n)
    {
        std::string en = RuleText(n);
        if (n > kRules - kAbsentRules)
            en[0] = 'X';
        patterns.push_back(Utf16(en));
    }
    uFound = 0;
    auto start = std::chrono::steady_clock::now();
    for (const std::string& en : patterns)
    {
        const BYTE* p = fnSearch(data.data(), static_cast<DWORD>(data.size()),
                                 reinterpret_cast<const BYTE*>(en.data()), static_cast<DWORD>(en.size()));
        if (p != nullptr)
        {
            data[static_cast<size_t>(p - data.data())] = 'm';
            ++uFound;
        }
    }
    return Seconds(start);
}
} // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    int sequentialRuns = argc > 2 ? std::max(0, std::atoi(argv[2])) : 1;
    bool searches = argc > 3 && std::string(argv[3]) == "--searches";
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("pivra-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);

    const std::vector<BYTE> data = MakeTarget();
    bool same = Job("1000 UTF-16 rules", kRules, RuleSet(), data, runs, sequentialRuns, dir);
    std::string mixRules;
    std::vector<BYTE> mixData;
    MixJobs mixJobs;
    const char* const szLower = "10000 mixed rules, lowercase filler";
    MakeMix(mixRules, mixData, MakeFiller, mixJobs);
    same = Job(szLower, kMixRules, mixRules, mixData, runs, sequentialRuns, dir) && same;
    EngineJob(szLower, mixJobs, mixData, runs);
    const char* const szCode = "10000 mixed rules, code-like filler";
    MakeMix(mixRules, mixData, MakeCodeFiller, mixJobs);
    same = Job(szCode, kMixRules, mixRules, mixData, runs, sequentialRuns, dir) && same;
    EngineJob(szCode, mixJobs, mixData, runs);

    if (searches)
    {
        unsigned uFast = 0, uPlain = 0;
        std::vector<double> fast;
        for (int i = 0; i < runs; ++i)
            fast.push_back(SearchJob(data, SearchBytes, uFast));
        std::printf("searches only, fast search: median %.3f s of %d runs (found %u)\n", Median(fast), runs,
                    uFast);
        double plain = SearchJob(data, SearchBytesPlain, uPlain);
        std::printf("searches only, byte-by-byte scan: %.3f s, 1 run (found %u)\n", plain, uPlain);
        same = same && uFast == uPlain;
    }
    std::filesystem::remove_all(dir);
    return same ? 0 : 1;
}
