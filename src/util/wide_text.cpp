#include "util/wide_text.h"

UINT WideLength(LPCWSTR ws)
{
    UINT n = 0;
    while (ws[n] != 0)
        ++n;
    return n;
}

UINT WideCopy(LPWSTR wsDst, UINT cchDst, LPCWSTR wsSrc)
{
    if (cchDst == 0)
        return 0;
    UINT n = 0;
    while (n + 1 < cchDst && wsSrc[n] != 0)
    {
        wsDst[n] = wsSrc[n];
        ++n;
    }
    wsDst[n] = 0;
    return n;
}

UINT WideAppend(LPWSTR wsDst, UINT cchDst, LPCWSTR wsSrc)
{
    UINT n = WideLength(wsDst);
    if (n >= cchDst)
        return n;
    return n + WideCopy(wsDst + n, cchDst - n, wsSrc);
}

int WideCompare(LPCWSTR wsA, LPCWSTR wsB)
{
    while (*wsA != 0 && *wsA == *wsB)
    {
        ++wsA;
        ++wsB;
    }
    return static_cast<int>(*wsA) - static_cast<int>(*wsB);
}

UINT FormatUnsigned(LPWSTR wsDst, UINT cchDst, UINT uValue, UINT uMinDigits)
{
    WCHAR wsDigits[16];
    UINT n = 0;
    do
    {
        wsDigits[n++] = static_cast<WCHAR>('0' + uValue % 10);
        uValue /= 10;
    } while (uValue != 0);
    while (n < uMinDigits && n < 10)
        wsDigits[n++] = '0';
    WCHAR wsText[16];
    for (UINT i = 0; i < n; ++i)
        wsText[i] = wsDigits[n - 1 - i];
    wsText[n] = 0;
    return WideCopy(wsDst, cchDst, wsText);
}

UINT ParseUnsigned(LPCWSTR ws)
{
    UINT uValue = 0;
    for (; *ws >= '0' && *ws <= '9'; ++ws)
        uValue = uValue * 10 + static_cast<UINT>(*ws - '0');
    return uValue;
}
