#include "port/utf8.h"

#include <cstdio>

void AppendUtf8(std::string& s, DWORD dwChar)
{
    if (dwChar < 0x80)
        s += static_cast<char>(dwChar);
    else if (dwChar < 0x800)
    {
        s += static_cast<char>(0xC0 | dwChar >> 6);
        s += static_cast<char>(0x80 | (dwChar & 0x3F));
    }
    else if (dwChar < 0x10000)
    {
        s += static_cast<char>(0xE0 | dwChar >> 12);
        s += static_cast<char>(0x80 | (dwChar >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (dwChar & 0x3F));
    }
    else
    {
        s += static_cast<char>(0xF0 | dwChar >> 18);
        s += static_cast<char>(0x80 | (dwChar >> 12 & 0x3F));
        s += static_cast<char>(0x80 | (dwChar >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (dwChar & 0x3F));
    }
}

size_t Utf8SequenceLength(const unsigned char* p, size_t n)
{
    if (n == 0)
        return 0;
    unsigned char b = p[0];
    if (b < 0x80)
        return 1;
    size_t cb = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (cb == 0 || cb > n)
        return 0;
    // The second byte's range excludes overlong forms, surrogates and code
    // points past U+10FFFF.
    unsigned char lo = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char hi = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < lo || p[1] > hi)
        return 0;
    for (size_t i = 2; i < cb; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return cb;
}

bool IsWellFormedUtf8(const char* p, size_t cb, size_t& badAt)
{
    const unsigned char* pb = reinterpret_cast<const unsigned char*>(p);
    for (size_t i = 0; i < cb;)
    {
        size_t cbSeq = Utf8SequenceLength(pb + i, cb - i);
        if (cbSeq == 0)
        {
            badAt = i;
            return false;
        }
        i += cbSeq;
    }
    return true;
}

bool IsWellFormedUtf8(const std::string& s, size_t& badAt)
{
    return IsWellFormedUtf8(s.data(), s.size(), badAt);
}

std::string Utf16ToUtf8(const char16_t* p, size_t cUnits, bool fPrintable)
{
    std::string s;
    for (size_t i = 0; i < cUnits; ++i)
    {
        DWORD dwChar = p[i];
        if (dwChar >= 0xD800 && dwChar < 0xDC00 && i + 1 < cUnits && p[i + 1] >= 0xDC00 && p[i + 1] < 0xE000)
            dwChar = 0x10000 + ((dwChar - 0xD800u) << 10) + (p[++i] - 0xDC00u);
        else if (dwChar >= 0xD800 && dwChar < 0xE000)
            dwChar = 0xFFFD;
        if (fPrintable && (dwChar < 0x20 || dwChar == 0x7F))
            dwChar = '?';
        AppendUtf8(s, dwChar);
    }
    return s;
}

std::u16string Utf8ToUtf16(const std::string& s)
{
    std::u16string ws;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    for (size_t i = 0; i < s.size();)
    {
        size_t cb = Utf8SequenceLength(p + i, s.size() - i);
        if (cb == 0)
        {
            ws += u'\uFFFD';
            ++i;
            continue;
        }
        DWORD dwChar = cb == 1 ? p[i] : p[i] & (0x7Fu >> cb);
        for (size_t k = 1; k < cb; ++k)
            dwChar = dwChar << 6 | (p[i + k] & 0x3Fu);
        i += cb;
        if (dwChar >= 0x10000)
        {
            ws += static_cast<char16_t>(0xD800 + ((dwChar - 0x10000) >> 10));
            ws += static_cast<char16_t>(0xDC00 + ((dwChar - 0x10000) & 0x3FF));
        }
        else
            ws += static_cast<char16_t>(dwChar);
    }
    return ws;
}

std::string HexNumber(DWORD dw, int cDigits)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "0x%0*X", cDigits, static_cast<unsigned>(dw));
    return sz;
}
