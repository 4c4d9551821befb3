#include "port/native_path.h"

std::string Utf16ToUtf8(const char16_t* ws, size_t cch)
{
    std::string s;
    s.reserve(cch);
    for (size_t i = 0; i < cch; ++i)
    {
        uint32_t code = ws[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < cch && ws[i + 1] >= 0xDC00 && ws[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (ws[++i] - 0xDC00);
        else if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x80)
            s += static_cast<char>(code);
        else if (code < 0x800)
        {
            s += static_cast<char>(0xC0 | code >> 6);
            s += static_cast<char>(0x80 | (code & 0x3F));
        }
        else if (code < 0x10000)
        {
            s += static_cast<char>(0xE0 | code >> 12);
            s += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            s += static_cast<char>(0x80 | (code & 0x3F));
        }
        else
        {
            s += static_cast<char>(0xF0 | code >> 18);
            s += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            s += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            s += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return s;
}

std::u16string Utf8ToUtf16(const std::string& s)
{
    std::u16string ws;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size();
    for (size_t i = 0; i < n;)
    {
        uint32_t code = p[i];
        size_t extra = code >= 0xF0 ? 3 : code >= 0xE0 ? 2 : code >= 0xC0 ? 1 : 0;
        if (code >= 0x80 && (extra == 0 || i + extra >= n))
        {
            ws += u'\uFFFD';
            ++i;
            continue;
        }
        if (extra > 0)
        {
            code &= 0x3F >> extra;
            for (size_t k = 1; k <= extra; ++k)
                code = code << 6 | (p[i + k] & 0x3F);
        }
        i += extra + 1;
        if (code >= 0x10000)
        {
            ws += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            ws += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
        else
            ws += static_cast<char16_t>(code);
    }
    return ws;
}

std::string NativePath(const char16_t* wsPath)
{
    std::string s = Utf16ToUtf8(wsPath, std::char_traits<char16_t>::length(wsPath));
    for (char& c : s)
        if (c == '\\')
            c = '/';
    return s;
}
