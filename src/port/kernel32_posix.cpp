// Process-level kernel32 stand-ins: last error, module path, local time.
#include "port/native_path.h"
#include "port/win32.h"

#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <ctime>

namespace
{
thread_local DWORD t_dwLastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return t_dwLastError; }
void SetLastError(DWORD dwError) { t_dwLastError = dwError; }

DWORD GetModuleFileNameW(HMODULE, LPWSTR wsFile, DWORD dwSize)
{
    char szPath[PATH_MAX];
    ssize_t cb = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
    if (cb <= 0 || dwSize == 0)
        return 0;
    std::u16string wsPath = Utf8ToUtf16(std::string(szPath, static_cast<size_t>(cb)));
    // As on Windows: a path that does not fit is cut and the full capacity returned.
    DWORD dwCopy = wsPath.size() < dwSize ? static_cast<DWORD>(wsPath.size()) : dwSize - 1;
    wsPath.copy(wsFile, dwCopy);
    wsFile[dwCopy] = 0;
    if (dwCopy < wsPath.size())
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return dwSize;
    }
    return dwCopy;
}

void GetLocalTime(LPSYSTEMTIME pstTime)
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm stLocal;
    time_t t = tv.tv_sec;
    localtime_r(&t, &stLocal);
    pstTime->wYear = static_cast<WORD>(stLocal.tm_year + 1900);
    pstTime->wMonth = static_cast<WORD>(stLocal.tm_mon + 1);
    pstTime->wDayOfWeek = static_cast<WORD>(stLocal.tm_wday);
    pstTime->wDay = static_cast<WORD>(stLocal.tm_mday);
    pstTime->wHour = static_cast<WORD>(stLocal.tm_hour);
    pstTime->wMinute = static_cast<WORD>(stLocal.tm_min);
    pstTime->wSecond = static_cast<WORD>(stLocal.tm_sec);
    pstTime->wMilliseconds = static_cast<WORD>(tv.tv_usec / 1000);
}
