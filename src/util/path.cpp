#include "util/path.h"

#include "util/wide_text.h"

#include <cstring>

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
