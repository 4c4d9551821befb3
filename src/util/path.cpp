#include "util/path.h"

#include "util/wide_text.h"

#include <cstring>
#include <new>

namespace
{
bool IsSeparator(WCHAR c)
{
    return c == '/' || c == '\\';
}
} // namespace

void CutAtLastSeparator(LPWSTR wsPath)
{
    size_t cut = 0;
    size_t i = 0;
    for (; wsPath[i] != 0; ++i)
        if (IsSeparator(wsPath[i]))
            cut = i;
    wsPath[cut] = 0;
}

void GetModuleDir(HMODULE hModule, LPWSTR wsDir, UINT cchDir)
{
    if (cchDir == 0)
        return;
    DWORD dwLen = GetModuleFileNameW(hModule, wsDir, cchDir);
    wsDir[dwLen < cchDir ? dwLen : cchDir - 1] = 0;
    CutAtLastSeparator(wsDir);
}

void JoinPath(LPWSTR wsDir, UINT cchDir, LPCWSTR wsName)
{
    if (cchDir == 0)
        return;
    UINT n = WideLength(wsDir);
    if (n > 0 && !IsSeparator(wsDir[n - 1]))
        WideAppend(wsDir, cchDir, W("\\"));
    if (IsSeparator(wsName[0]))
        ++wsName;
    WideAppend(wsDir, cchDir, wsName);
}

LPWSTR FindNamePart(LPWSTR wsPath)
{
    LPWSTR wsName = wsPath;
    for (LPWSTR p = wsPath; *p != 0; ++p)
        if (IsSeparator(*p))
            wsName = p + 1;
    return wsName;
}

LPWSTR FindExtension(LPWSTR wsPath)
{
    LPWSTR p = FindNamePart(wsPath);
    LPWSTR wsExt = nullptr;
    for (; *p != 0; ++p)
        if (*p == '.')
            wsExt = p + 1;
    return wsExt != nullptr ? wsExt : p;
}

void CopyWideChars(WCHAR* wsDst, const WCHAR* wsSrc, size_t n)
{
    std::memcpy(wsDst, wsSrc, n * sizeof(WCHAR));
}

bool GetExactAnsiPath(LPCWSTR wsPath, LPSTR szPath, int cbPath)
{
    if (cbPath <= 0)
        return false;
    szPath[0] = 0;
    int cb = WideCharToMultiByte(CP_ACP, 0, wsPath, -1, szPath, cbPath, nullptr, nullptr);
    if (cb <= 0)
    {
        szPath[0] = 0; // a failed conversion may leave a part of the path
        return false;
    }
    // One unit more than the wide path can hold, so a longer round trip differs.
    size_t cch = WideLength(wsPath) + 2;
    WCHAR* wsBack = new (std::nothrow) WCHAR[cch];
    if (wsBack == nullptr)
        return false;
    int cchBack =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, szPath, -1, wsBack, static_cast<int>(cch));
    bool exact = cchBack > 0 && WideCompare(wsBack, wsPath) == 0;
    delete[] wsBack;
    if (!exact)
        szPath[0] = 0;
    return exact;
}
