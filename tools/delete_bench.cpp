// Measures deleting a rule near the top of a large set: the renumbering moves
// every later section down one number. Builds for Windows too, to time the
// store as the product runs it (under Wine).
#include "port/profile_store.h"
#include "rules/rule_set.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef _WIN32
#include "port/native_path.h"
#include <unistd.h>
#endif

namespace
{
typedef std::basic_string<WCHAR> WString;

WString Widen(const std::string& s)
{
    return WString(s.begin(), s.end());
}

// The rule set as UTF-16LE bytes behind FF FE.
std::string RuleSet(unsigned uRules)
{
    const WCHAR wsCn[] = {0x8bd1, 0x6587, 0};
    WString text = Widen("[Config]\r\nFILE=C:\\target.exe\r\n");
    for (unsigned n = 1; n <= uRules; ++n)
    {
        char szNode[16];
        std::snprintf(szNode, sizeof(szNode), "%03u", n);
        text +=
            Widen(std::string("[") + szNode + "]\r\nEN=Source text number " + std::to_string(n) + "\r\nCN=") +
            wsCn + Widen("\r\nREPEAT=1\r\n");
    }
    std::string bytes("\xFF\xFE", 2);
    for (WCHAR c : text)
    {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

#ifdef _WIN32
WString BenchFile()
{
    WCHAR wsDir[MAX_PATH];
    GetTempPathW(MAX_PATH, wsDir);
    return WString(wsDir) + L"pivra-delete-bench-" + std::to_wstring(GetCurrentProcessId()) + L".ini";
}
void PutFile(const WString& wsFile, const std::string& bytes)
{
    HANDLE hFile = CreateFileW(wsFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD dwWritten = 0;
    WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
    CloseHandle(hFile);
}
void RemoveFile(const WString& wsFile)
{
    DeleteFileW(wsFile.c_str());
}
#else
std::string g_path;
WString BenchFile()
{
    g_path = "/tmp/pivra-delete-bench-" + std::to_string(getpid()) + ".ini";
    return Utf8ToUtf16(g_path);
}
void PutFile(const WString&, const std::string& bytes)
{
    FILE* file = std::fopen(g_path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}
void RemoveFile(const WString&)
{
    std::remove(g_path.c_str());
}
#endif
} // namespace

int main(int argc, char** argv)
{
    unsigned uRules = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 5000;
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    WString wsFile = BenchFile();
    std::string bytes = RuleSet(uRules);
    std::vector<double> seconds;
    int moved = 0;
    for (int run = 0; run < runs; ++run)
    {
        PutFile(wsFile, bytes);
        profile_store::DropCache();
        auto start = std::chrono::steady_clock::now();
        moved = DeleteRule(wsFile.c_str(), 2);
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    RemoveFile(wsFile);
    std::sort(seconds.begin(), seconds.end());
    std::printf(
        "delete rule 2 of %u (%d sections moved): median %.3f s, min %.3f s, max %.3f s over %d runs\n",
        uRules, moved, seconds[seconds.size() / 2], seconds.front(), seconds.back(), runs);
    return moved == static_cast<int>(uRules) - 2 ? 0 : 1;
}
