// The tool keeps its catalogue, rule sets, remarks and failure log beside the
// running executable, so a test cannot point it at a directory of its own. The
// executable therefore copies itself into a fresh temporary directory, marks
// that directory as its own and runs the copy there; only the copy runs tests,
// and nothing is ever written beside the build output.
#include "app_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace
{
const WCHAR kMarkerName[] = L"test_app.tooldir";

std::wstring ModulePath()
{
    WCHAR wsPath[MAX_PATH];
    DWORD cch = GetModuleFileNameW(nullptr, wsPath, MAX_PATH);
    return std::wstring(wsPath, cch);
}

// The command line after the program name, as it was given.
std::wstring ArgumentsOfCommandLine()
{
    const WCHAR* ws = GetCommandLineW();
    if (*ws == L'"')
    {
        ++ws;
        while (*ws != 0 && *ws != L'"')
            ++ws;
        if (*ws == L'"')
            ++ws;
    }
    else
    {
        while (*ws != 0 && *ws != L' ' && *ws != L'\t')
            ++ws;
    }
    return ws;
}

void InheritStdHandle(DWORD which)
{
    HANDLE h = GetStdHandle(which);
    if (h != nullptr && h != INVALID_HANDLE_VALUE)
        SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

int RunCopyInOwnDirectory()
{
    WCHAR wsTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, wsTemp);
    std::wstring dir;
    for (unsigned n = 0;; ++n)
    {
        dir = std::wstring(wsTemp) + L"pivra-app-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(n);
        if (CreateDirectoryW(dir.c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS || n > 1000)
        {
            fwprintf(stderr, L"test_app: cannot create a temporary directory under %ls\n", wsTemp);
            return 2;
        }
    }
    std::wstring self = ModulePath();
    std::wstring copy = dir + L"\\" + std::filesystem::path(self).filename().wstring();
    int exitCode = 2;
    HANDLE hMarker = CreateFileW((dir + L"\\" + kMarkerName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hMarker != INVALID_HANDLE_VALUE && CopyFileW(self.c_str(), copy.c_str(), TRUE))
    {
        CloseHandle(hMarker);
        hMarker = INVALID_HANDLE_VALUE;
        std::wstring cmd = L"\"" + copy + L"\"" + ArgumentsOfCommandLine();
        InheritStdHandle(STD_INPUT_HANDLE);
        InheritStdHandle(STD_OUTPUT_HANDLE);
        InheritStdHandle(STD_ERROR_HANDLE);
        STARTUPINFOW stSi = {};
        stSi.cb = sizeof(stSi);
        stSi.dwFlags = STARTF_USESTDHANDLES;
        stSi.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        stSi.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        stSi.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION stPi = {};
        if (CreateProcessW(copy.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(), &stSi,
                           &stPi))
        {
            WaitForSingleObject(stPi.hProcess, INFINITE);
            DWORD dwCode = 2;
            GetExitCodeProcess(stPi.hProcess, &dwCode);
            exitCode = static_cast<int>(dwCode);
            CloseHandle(stPi.hThread);
            CloseHandle(stPi.hProcess);
        }
        else
            fwprintf(stderr, L"test_app: cannot start %ls (error %lu)\n", copy.c_str(), GetLastError());
    }
    else
        fwprintf(stderr, L"test_app: cannot prepare %ls (error %lu)\n", dir.c_str(), GetLastError());
    if (hMarker != INVALID_HANDLE_VALUE)
        CloseHandle(hMarker);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return exitCode;
}
} // namespace

bool InOwnToolDirectory()
{
    std::filesystem::path marker = std::filesystem::path(ModulePath()).parent_path() / kMarkerName;
    std::error_code ec;
    return std::filesystem::exists(marker, ec);
}

int main(int argc, char** argv)
{
    if (!InOwnToolDirectory())
        return RunCopyInOwnDirectory();
    testing::InitGoogleTest(&argc, argv);
    InitAppTests();
    return RUN_ALL_TESTS();
}
