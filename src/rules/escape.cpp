#include "rules/escape.h"

#include "rules/rule_files.h"

#include <new>

namespace
{
bool IsEscapeLetter(WCHAR c)
{
    return c == '\\' || c == 't' || c == 'x' || c == 'r' || c == 'n' || c == '0';
}

// Collects the escaped form up to the stored-text limit; the scan goes on past
// the limit so that a change anywhere still counts.
struct EscapeOutput
{
    WCHAR* ws;
    UINT n;
    void Put(WCHAR c)
    {
        if (n < kTextChars - 1)
            ws[n++] = c;
    }
};

bool IsBlank(unsigned c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int HexDigit(unsigned c)
{
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

// The value of at most two characters read the way strtoul reads base 16:
// blanks, then a sign (minus negates in 32 bits), then digits of either case
// up to the first other character. No digit gives 0.
template <typename Unit> DWORD ReadHexPair(const Unit* p, UINT n)
{
    UINT i = 0;
    while (i < n && IsBlank(static_cast<unsigned>(p[i])))
        ++i;
    bool negative = false;
    if (i < n && (p[i] == '+' || p[i] == '-'))
        negative = p[i++] == '-';
    DWORD dwValue = 0;
    for (; i < n; ++i)
    {
        int digit = HexDigit(static_cast<unsigned>(p[i]));
        if (digit < 0)
            break;
        dwValue = dwValue * 16 + static_cast<DWORD>(digit);
    }
    return negative ? 0u - dwValue : dwValue;
}

template <typename Unit> Unit DecodedUnit(Unit c)
{
    switch (c)
    {
    case 'r':
        return 13;
    case 'n':
        return 10;
    case 't':
        return 9;
    case '0':
        return 0;
    default:
        return c;
    }
}

template <typename Unit> UINT Unescape(Unit* p, bool ansi)
{
    UINT r = 0, w = 0;
    for (;;)
    {
        Unit c = p[r];
        if (c == 0)
            break;
        if (ansi && static_cast<unsigned char>(c) >= 0x80 && p[r + 1] != 0)
        {
            p[w++] = c;
            p[w++] = p[r + 1];
            r += 2;
            continue;
        }
        if (c != '\\')
        {
            p[w++] = c;
            ++r;
            continue;
        }
        Unit next = p[r + 1];
        if (next == 0)
        {
            // A backslash at the very end stands for a zero unit; the
            // terminator behind it is not passed.
            p[w++] = 0;
            break;
        }
        if (next == 'x')
        {
            UINT n = 0;
            while (n < 2 && p[r + 2 + n] != 0)
                ++n;
            p[w++] = static_cast<Unit>(ReadHexPair(p + r + 2, n));
            r += 2 + n;
            continue;
        }
        p[w++] = DecodedUnit(next);
        r += 2;
    }
    p[w] = 0;
    return w;
}
} // namespace

int EscapeText(LPWSTR wsText)
{
    EscapeOutput out{new (std::nothrow) WCHAR[kTextChars], 0};
    if (out.ws == nullptr)
        return 0;
    bool changed = false;
    // The buffer holds kTextChars units; a text without a terminator in it is
    // read no further than that.
    const UINT uEnd = kTextChars;
    for (UINT i = 0; i < uEnd && wsText[i] != 0; ++i)
    {
        WCHAR c = wsText[i];
        if (c == '\r' || c == '\n')
        {
            out.Put('\\');
            out.Put(c == '\r' ? 'r' : 'n');
            changed = true;
        }
        else if (c == '\\')
        {
            WCHAR next = i + 1 < uEnd ? wsText[i + 1] : WCHAR(0);
            out.Put('\\');
            if (next == 0)
                break;
            if (IsEscapeLetter(next))
            {
                out.Put(next);
                ++i;
            }
            else
            {
                out.Put('\\');
                changed = true;
            }
        }
        else
            out.Put(c);
    }
    if (changed)
    {
        for (UINT i = 0; i < out.n; ++i)
            wsText[i] = out.ws[i];
        wsText[out.n] = 0;
    }
    delete[] out.ws;
    return changed ? 1 : 0;
}

UINT UnescapeTextW(LPWSTR wsText)
{
    return Unescape(wsText, false);
}

UINT UnescapeTextA(LPSTR szText)
{
    return Unescape(szText, true);
}
