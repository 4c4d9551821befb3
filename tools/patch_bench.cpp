// Times a patch run of 1,000 UTF-16 rules over a generated 64 MiB target, and
// the same job's searches with the fast search and with the byte-by-byte scan.
// Usage: patch_bench [runs] [--no-plain]
#include "patch/find_bytes.h"
#include "patch/patch_run.h"
#include "port/native_path.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{
const size_t kTargetBytes = 64u << 20;
const unsigned kRules = 1000;
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
// executable, with the EN of every rule but the last kAbsentRules at a random place.
std::vector<BYTE> MakeTarget()
{
    Rng rng;
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
    for (unsigned n = 1; n + kAbsentRules <= kRules; ++n)
    {
        std::string en = Utf16(RuleText(n));
        size_t at = (static_cast<size_t>(rng.Next()) * 4096 + rng.Next()) % (kTargetBytes - en.size());
        std::memcpy(data.data() + at, en.data(), en.size());
    }
    return data;
}

void WriteRuleSet(const std::string& path)
{
    std::string text = "[Config]\r\nFILE=x\r\n";
    for (unsigned n = 1; n <= kRules; ++n)
    {
        char szNode[16];
        std::snprintf(szNode, sizeof(szNode), "%03u", n);
        std::string en = RuleText(n), cn = en;
        cn.replace(0, 4, "MENU");
        if (n > kRules - kAbsentRules)
            en[0] = 'X';
        text += "[" + std::string(szNode) + "]\r\nEN=" + en + "\r\nCN=" + cn + "\r\n";
    }
    std::ofstream(path, std::ios::binary) << text;
}

void WriteFile(const std::string& path, const std::vector<BYTE>& data)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
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
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("pivra-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string rules = (dir / "bench.ini").string(), target = (dir / "target.bin").string(),
                      log = (dir / "bench.log").string();
    WriteRuleSet(rules);
    const std::vector<BYTE> data = MakeTarget();
    const std::u16string wsRules = Utf8ToUtf16(rules), wsTarget = Utf8ToUtf16(target),
                         wsLog = Utf8ToUtf16(log);

    PatchWindow window = {nullptr, [](void*) { return kRules; }, [](void*, PatchProgress, UINT) {},
                          [](void*, LPCWSTR, LPCWSTR, UINT) {}};
    std::vector<double> job;
    UINT uModified = 0;
    for (int i = 0; i < runs; ++i)
    {
        WriteFile(target, data);
        auto start = std::chrono::steady_clock::now();
        uModified = RunPatchLoggingTo(wsRules.c_str(), wsTarget.c_str(), window, wsLog.c_str());
        job.push_back(Seconds(start));
    }
    std::printf("RunPatch, %u UTF-16 rules, %zu MiB target: median %.3f s of %d runs (modified %u)\n", kRules,
                kTargetBytes >> 20, Median(job), runs, uModified);

    unsigned uFast = 0, uPlain = 0;
    std::vector<double> fast;
    for (int i = 0; i < runs; ++i)
        fast.push_back(SearchJob(data, SearchBytes, uFast));
    std::printf("searches only, fast search: median %.3f s of %d runs (found %u)\n", Median(fast), runs,
                uFast);
    if (argc > 2 && std::string(argv[2]) == "--no-plain")
    {
        std::filesystem::remove_all(dir);
        return 0;
    }
    double plain = SearchJob(data, SearchBytesPlain, uPlain);
    std::printf("searches only, byte-by-byte scan: %.3f s, 1 run (found %u)\n", plain, uPlain);

    std::filesystem::remove_all(dir);
    return uFast == uPlain ? 0 : 1;
}
