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

// Profile reads trim blanks from both ends of a value and take a pair of
// quotes off it, so a text must not start or end with one to read back whole.
bool IsLostAtEnd(WCHAR c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '"' || c == '\'';
}

// Whether the last unit of an escaped text is a character of its own rather
// than part of an escape (the two characters after backslash-x, or the letter
// after a backslash).
bool LastUnitStandsAlone(const WCHAR* ws, UINT n)
{
    UINT i = 0;
    while (i < n)
    {
        if (ws[i] == '\\')
        {
            if (i + 1 >= n)
                return false;
            i += ws[i + 1] == 'x' ? 4 : 2;
            continue;
        }
        if (i == n - 1)
            return true;
        ++i;
    }
    return false;
}

// The longest start of an escaped text, at most uLimit units, that ends
// between escapes rather than inside one.
UINT WholeEscapesWithin(const WCHAR* ws, UINT n, UINT uLimit)
{
    UINT i = 0;
    while (i < n)
    {
        UINT step = 1;
        if (ws[i] == '\\' && i + 1 < n)
            step = ws[i + 1] == 'x' ? (n - i < 4 ? n - i : 4) : 2;
        if (i + step > uLimit)
            break;
        i += step;
    }
    return i;
}

void PutHexEscape(WCHAR* ws, WCHAR c)
{
    static const char kDigits[] = "0123456789ABCDEF";
    ws[0] = '\\';
    ws[1] = c == '\t' ? 't' : 'x';
    if (c != '\t')
    {
        ws[2] = static_cast<WCHAR>(kDigits[(c >> 4) & 0xF]);
        ws[3] = static_cast<WCHAR>(kDigits[c & 0xF]);
    }
}

UINT EscapedLength(WCHAR c)
{
    return c == '\t' ? 2 : 4;
}

// Writes a character that a read would lose at either end of the text as an
// escape; where the limit leaves no room for a last one, the text ends before
// it. Returns whether anything changed.
bool ProtectEnds(WCHAR* ws, UINT& n)
{
    bool changed = false;
    if (n > 0 && IsLostAtEnd(ws[0]))
    {
        WCHAR c = ws[0];
        UINT extra = EscapedLength(c) - 1;
        UINT keep = n + extra <= kTextChars - 1 ? n : WholeEscapesWithin(ws, n, kTextChars - 1 - extra);
        for (UINT i = keep; i-- > 1;)
            ws[i + extra] = ws[i];
        PutHexEscape(ws, c);
        n = keep + extra;
        changed = true;
    }
    while (n > 0 && IsLostAtEnd(ws[n - 1]) && LastUnitStandsAlone(ws, n))
    {
        WCHAR c = ws[--n];
        if (n + EscapedLength(c) <= kTextChars - 1)
        {
            PutHexEscape(ws + n, c);
            n += EscapedLength(c);
        }
        changed = true;
    }
    return changed;
}

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

int EscapeText(LPWSTR wsText, bool protectEnds)
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
    if (protectEnds)
        changed = ProtectEnds(out.ws, out.n) || changed;
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
