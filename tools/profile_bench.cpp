// Measures the rule list's load: "Config"/"FILE", then per rule EN and CN
// (2048 units) and the four switches, key by key, through the store from a cold
// cache each run; on Windows also through kernel32's own functions.
//
// profile_bench [rules=10000] [runs=9] [utf16] [kernel32] [fresh]
//   utf16     the rule set is a UTF-16LE file (FF FE), else ANSI
//   kernel32  read through kernel32 (Windows only) instead of the store
//   fresh     leave the file's write time at now; by default it is set an hour
//             back, as for a rule set not written in the last seconds
#include "port/profile_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <cwchar>
#else
#include "port/native_path.h"
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#endif

namespace
{
typedef std::basic_string<WCHAR> WString;

struct Reads
{
    DWORD (*GetString)(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR);
    UINT (*GetInt)(LPCWSTR, LPCWSTR, INT, LPCWSTR);
};

#ifdef _WIN32
DWORD(WINAPI* g_fnKernelString)(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR);
UINT(WINAPI* g_fnKernelInt)(LPCWSTR, LPCWSTR, INT, LPCWSTR);
const Reads kKernel32 = {[](LPCWSTR s, LPCWSTR k, LPCWSTR d, LPWSTR b, DWORD n, LPCWSTR f) {
                             return g_fnKernelString(s, k, d, b, n, f);
                         },
                         [](LPCWSTR s, LPCWSTR k, INT d, LPCWSTR f) { return g_fnKernelInt(s, k, d, f); }};
#endif
const Reads kStore = {profile_store::GetString, profile_store::GetInt};

WString Widen(const std::string& s)
{
    return WString(s.begin(), s.end());
}

std::string Utf16(const WString& text)
{
    std::string bytes;
    for (WCHAR c : text)
    {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// The rule set as the tool writes it: CN in Chinese, some switches present.
std::string RuleSet(unsigned uRules, bool utf16)
{
    const WCHAR wsCn[] = {0x8bd1, 0x6587, ' ', 0};
    std::string bytes = utf16 ? std::string("\xFF\xFE", 2) : std::string();
    auto add = [&](const WString& line) {
        if (utf16)
            bytes += Utf16(line);
        else
        {
            int cb = WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), nullptr, 0,
                                         nullptr, nullptr);
            std::string ansi(static_cast<size_t>(cb), '\0');
            WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), &ansi[0], cb, nullptr,
                                nullptr);
            bytes += ansi;
        }
    };
    add(Widen("[Config]\r\nFILE=C:\\target.exe\r\n"));
    for (unsigned n = 1; n <= uRules; ++n)
    {
        char szNode[16];
        std::snprintf(szNode, sizeof(szNode), "%03u", n);
        std::string sn = std::to_string(n);
        add(Widen(std::string("[") + szNode + "]\r\nEN=Source text number " + sn + "\\r\\n\r\nCN=") + wsCn +
            Widen(sn + "\r\nX86=1\r\nX64=" + std::to_string(n % 2) +
                  "\r\nUNICODE=1\r\nREPEAT=" + std::to_string(n % 3 == 0) + "\r\n"));
    }
    return bytes;
}

unsigned LoadList(const Reads& api, LPCWSTR wsFile)
{
    static WCHAR wsText[2048];
    api.GetString(W("Config"), W("FILE"), W(""), wsText, 2048, wsFile);
    for (unsigned n = 1;; ++n)
    {
        WCHAR wsNode[20];
        std::string node = std::to_string(n);
        node.insert(0, node.size() < 3 ? 3 - node.size() : 0, '0');
        WString ws = Widen(node);
        std::copy(ws.c_str(), ws.c_str() + ws.size() + 1, wsNode);
        DWORD dwEn = api.GetString(wsNode, W("EN"), W(""), wsText, 2048, wsFile);
        api.GetString(wsNode, W("CN"), W(""), wsText, 2048, wsFile);
        bool x86 = api.GetInt(wsNode, W("X86"), 1, wsFile) & 1;
        bool x64 = api.GetInt(wsNode, W("X64"), 1, wsFile) & 1;
        api.GetInt(wsNode, W("UNICODE"), 1, wsFile);
        api.GetInt(wsNode, W("REPEAT"), 0, wsFile);
        if (dwEn == 0 || (!x86 && !x64))
            return n - 1;
    }
}

#ifdef _WIN32
WString WritePlatformFile(const std::string& bytes, bool fresh)
{
    WCHAR wsDir[MAX_PATH];
    GetTempPathW(MAX_PATH, wsDir);
    WString wsFile = WString(wsDir) + L"pivra-bench-" + std::to_wstring(GetCurrentProcessId()) + L".ini";
    HANDLE hFile = CreateFileW(wsFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD dwWritten = 0;
    WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
    if (!fresh)
    {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        ULARGE_INTEGER t = {{ft.dwLowDateTime, ft.dwHighDateTime}};
        t.QuadPart -= 3600ull * 10000000u;
        ft.dwLowDateTime = t.LowPart;
        ft.dwHighDateTime = t.HighPart;
        SetFileTime(hFile, nullptr, nullptr, &ft);
    }
    CloseHandle(hFile);
    return wsFile;
}
void RemovePlatformFile(const WString& wsFile)
{
    DeleteFileW(wsFile.c_str());
}
#else
std::string g_path;
WString WritePlatformFile(const std::string& bytes, bool fresh)
{
    g_path = "/tmp/pivra-bench-" + std::to_string(getpid()) + ".ini";
    FILE* file = std::fopen(g_path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (!fresh)
    {
        struct utimbuf times = {time(nullptr) - 3600, time(nullptr) - 3600};
        utime(g_path.c_str(), &times);
    }
    return Utf8ToUtf16(g_path);
}
void RemovePlatformFile(const WString&)
{
    std::remove(g_path.c_str());
}
#endif
} // namespace

int main(int argc, char** argv)
{
    unsigned uRules = 10000;
    int runs = 9;
    bool utf16 = false, kernel32 = false, fresh = false;
    int positional = 0;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "utf16") == 0)
            utf16 = true;
        else if (std::strcmp(argv[i], "kernel32") == 0)
            kernel32 = true;
        else if (std::strcmp(argv[i], "fresh") == 0)
            fresh = true;
        else if (positional++ == 0)
            uRules = static_cast<unsigned>(std::atoi(argv[i]));
        else
            runs = std::atoi(argv[i]);
    }
    const Reads* pApi = &kStore;
#ifdef _WIN32
    if (kernel32)
    {
        HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
        g_fnKernelString = reinterpret_cast<decltype(g_fnKernelString)>(
            reinterpret_cast<void*>(GetProcAddress(hKernel, "GetPrivateProfileStringW")));
        g_fnKernelInt = reinterpret_cast<decltype(g_fnKernelInt)>(
            reinterpret_cast<void*>(GetProcAddress(hKernel, "GetPrivateProfileIntW")));
        pApi = &kKernel32;
    }
#else
    if (kernel32)
    {
        std::fprintf(stderr, "kernel32 is there only on Windows\n");
        return 2;
    }
#endif
    WString wsFile = WritePlatformFile(RuleSet(uRules, utf16), fresh);
    std::vector<double> seconds;
    unsigned uCount = 0;
    for (int run = 0; run < runs; ++run)
    {
        profile_store::DropCache();
        auto start = std::chrono::steady_clock::now();
        uCount = LoadList(*pApi, wsFile.c_str());
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    RemovePlatformFile(wsFile);
    std::sort(seconds.begin(), seconds.end());
    std::printf(
        "%s, %s file%s: list load of %u rules (1 + 6 reads each): median %.4f s, min %.4f s, max %.4f s "
        "over %d runs\n",
        kernel32 ? "kernel32" : "store (cold)", utf16 ? "UTF-16LE" : "ANSI", fresh ? " written just now" : "",
        uCount, seconds[seconds.size() / 2], seconds.front(), seconds.back(), runs);
    return uCount == uRules ? 0 : 1;
}
