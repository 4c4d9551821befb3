// Code page 936 (GBK), the ANSI code page of a Chinese Windows, as two lookup
// tables built once from the C library's iconv. Characters that code page lacks
// become '?', as WideCharToMultiByte does with its default character.
#include "port/win32.h"

#include <iconv.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace
{
struct Cp936Tables
{
    // Single bytes map to decode[b]; a lead byte's pairs map to decode[lead << 8 | trail].
    std::vector<char16_t> decode = std::vector<char16_t>(65536, 0);
    std::vector<bool> isLead = std::vector<bool>(256, false);
    // UTF-16 unit to one byte (high byte 0) or two bytes (lead, trail); 0 when unmapped.
    std::vector<uint16_t> encode = std::vector<uint16_t>(65536, 0);
};

bool DecodeWithIconv(iconv_t cd, const unsigned char* pBytes, size_t cb, char16_t* pUnit)
{
    char16_t wsOut[4];
    char* pIn = const_cast<char*>(reinterpret_cast<const char*>(pBytes));
    char* pOut = reinterpret_cast<char*>(wsOut);
    size_t cbIn = cb, cbOut = sizeof(wsOut);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &pIn, &cbIn, &pOut, &cbOut) == static_cast<size_t>(-1) || cbIn != 0)
        return false;
    if (sizeof(wsOut) - cbOut != sizeof(char16_t))
        return false;
    *pUnit = wsOut[0];
    return true;
}

const Cp936Tables& Tables()
{
    static Cp936Tables* pTables = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        pTables = new Cp936Tables;
        iconv_t cd = iconv_open("UTF-16LE", "CP936");
        for (unsigned b = 0; b < 0x80; ++b)
            pTables->decode[b] = static_cast<char16_t>(b);
        if (cd != reinterpret_cast<iconv_t>(-1))
        {
            unsigned char szByte[2];
            char16_t unit;
            szByte[0] = 0x80;
            if (DecodeWithIconv(cd, szByte, 1, &unit))
                pTables->decode[0x80] = unit;
            // Windows gives the one undefined single byte a private-use character.
            pTables->decode[0xFF] = 0xF8F5;
            for (unsigned lead = 0x81; lead <= 0xFE; ++lead)
            {
                pTables->isLead[lead] = true;
                for (unsigned trail = 0x40; trail <= 0xFE; ++trail)
                {
                    szByte[0] = static_cast<unsigned char>(lead);
                    szByte[1] = static_cast<unsigned char>(trail);
                    if (trail != 0x7F && DecodeWithIconv(cd, szByte, 2, &unit))
                        pTables->decode[lead << 8 | trail] = unit;
                }
            }
            iconv_close(cd);
        }
        for (unsigned code = 0xFFFF; code > 0; --code)
        {
            char16_t unit = pTables->decode[code];
            if (unit != 0 && (code < 0x100 || pTables->isLead[code >> 8]))
                pTables->encode[unit] = static_cast<uint16_t>(code);
        }
    });
    return *pTables;
}

int UnitsOf(const char16_t* ws) { return static_cast<int>(std::char_traits<char16_t>::length(ws)); }
} // namespace

UINT GetACP() { return 936; }

int MultiByteToWideChar(UINT, DWORD, LPCSTR szSrc, int cbSrc, LPWSTR wsDst, int cchDst)
{
    if (szSrc == nullptr || cbSrc == 0 || cchDst < 0 || (cchDst > 0 && wsDst == nullptr))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cbSrc < 0)
        cbSrc = static_cast<int>(std::strlen(szSrc)) + 1;
    const Cp936Tables& tables = Tables();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(szSrc);
    int cchOut = 0;
    for (int i = 0; i < cbSrc;)
    {
        char16_t unit;
        if (tables.isLead[p[i]] && i + 1 < cbSrc && tables.decode[p[i] << 8 | p[i + 1]] != 0)
        {
            unit = tables.decode[p[i] << 8 | p[i + 1]];
            i += 2;
        }
        else
        {
            unit = p[i] < 0x80 || tables.decode[p[i]] != 0 ? tables.decode[p[i]] : u'?';
            i += 1;
        }
        if (cchDst > 0)
        {
            if (cchOut == cchDst)
            {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            wsDst[cchOut] = unit;
        }
        ++cchOut;
    }
    return cchOut;
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR wsSrc, int cchSrc, LPSTR szDst, int cbDst, LPCSTR, LPBOOL pUsedDefault)
{
    if (wsSrc == nullptr || cchSrc == 0 || cbDst < 0 || (cbDst > 0 && szDst == nullptr))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cchSrc < 0)
        cchSrc = UnitsOf(wsSrc) + 1;
    const Cp936Tables& tables = Tables();
    if (pUsedDefault != nullptr)
        *pUsedDefault = FALSE;
    int cbOut = 0;
    for (int i = 0; i < cchSrc; ++i)
    {
        char szBytes[2];
        int cb = 1;
        uint16_t code = tables.encode[wsSrc[i]];
        if (wsSrc[i] == 0)
            szBytes[0] = 0;
        else if (code == 0)
        {
            szBytes[0] = '?';
            if (pUsedDefault != nullptr)
                *pUsedDefault = TRUE;
        }
        else if (code < 0x100)
            szBytes[0] = static_cast<char>(code);
        else
        {
            szBytes[0] = static_cast<char>(code >> 8);
            szBytes[1] = static_cast<char>(code & 0xFF);
            cb = 2;
        }
        if (cbDst > 0)
        {
            if (cbOut + cb > cbDst)
            {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            std::memcpy(szDst + cbOut, szBytes, cb);
        }
        cbOut += cb;
    }
    return cbOut;
}
