#include "util/wstring.h"

#ifndef _WIN32
#include "port/native_path.h"
#endif

#include <cstdio>

// WCHAR is a 16-bit unit on both builds (wchar_t on Windows), so the units
// are char16_t's.
static_assert(sizeof(WCHAR) == sizeof(char16_t), "WCHAR is one UTF-16 unit");

std::string ToUtf8(const WCHAR* ws, size_t cch)
{
    return Utf16ToUtf8(reinterpret_cast<const char16_t*>(ws), cch, false);
}

std::string ToUtf8(const WString& ws)
{
    return ToUtf8(ws.data(), ws.size());
}

WString FromUtf8(const std::string& s)
{
    const std::u16string ws = Utf8ToUtf16(s);
    return WString(reinterpret_cast<const WCHAR*>(ws.data()), ws.size());
}

std::string ShownBytes(const std::string& s)
{
    static const char kDigits[] = "0123456789ABCDEF";
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    std::string shown;
    for (size_t i = 0; i < s.size();)
    {
        size_t cb = Utf8SequenceLength(p + i, s.size() - i);
        if (cb == 0)
        {
            shown += std::string("\\x") + kDigits[p[i] >> 4] + kDigits[p[i] & 0xF];
            ++i;
            continue;
        }
        shown.append(s, i, cb);
        i += cb;
    }
    return shown;
}

std::string ShownPath(const WString& wsPath)
{
#ifdef _WIN32
    return ToUtf8(wsPath);
#else
    return NativePath(wsPath.c_str());
#endif
}

std::string ShownText(const WString& wsStored)
{
    WString ws;
    for (WCHAR c : wsStored)
    {
        if (c == '\t')
            ws += W("\\t");
        else
            ws += c;
    }
    return ToUtf8(ws);
}

void AppendHexEscape(WString& ws, BYTE b)
{
    static const char kDigits[] = "0123456789ABCDEF";
    ws += W("\\x");
    ws += static_cast<WCHAR>(kDigits[b >> 4]);
    ws += static_cast<WCHAR>(kDigits[b & 0xF]);
}

bool IsTrimmedByRead(WCHAR c)
{
    // Blanks go, and quotes around a whole value; white space beyond ASCII
    // is trimmed by some implementations too.
    return c == ' ' || c == '"' || c == '\'' || c == 0xA0 || c == 0x3000 || (c >= 0x2000 && c <= 0x200A);
}

void AppendEscaped(WString& ws, WCHAR c, bool atEnd)
{
    if (c == '\\')
        ws += W("\\\\");
    else if (c == '\r')
        ws += W("\\r");
    else if (c == '\n')
        ws += W("\\n");
    else if (c == '\t')
        ws += W("\\t");
    else if (c == 0)
        ws += W("\\0");
    else if ((c < 0x20 || c == 0x7F || (atEnd && IsTrimmedByRead(c))) && c < 0x100)
        AppendHexEscape(ws, static_cast<BYTE>(c));
    else
        ws += c;
}

WString EscapeExact(const WString& wsRaw)
{
    WString ws;
    for (size_t i = 0; i < wsRaw.size(); ++i)
        AppendEscaped(ws, wsRaw[i], i == 0 || i + 1 == wsRaw.size());
    return ws;
}

namespace
{
WCHAR Fold(WCHAR c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c - 'A' + 'a') : c;
}
} // namespace

bool EqualsNoCase(const WString& a, const WString& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    return true;
}

bool EndsWithNoCase(const WString& ws, const WString& wsEnd)
{
    return ws.size() >= wsEnd.size() && EqualsNoCase(ws.substr(ws.size() - wsEnd.size()), wsEnd);
}
