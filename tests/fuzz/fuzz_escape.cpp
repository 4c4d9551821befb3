// The escape notation on arbitrary texts: no unit written or read outside the
// buffers, and the properties the notation promises.
//
// The first input byte picks how the rest becomes text: through a small
// alphabet dense in backslashes, escape letters and line breaks, or as raw
// UTF-16 units.
#include "rules/escape.h"
#include "rules/rule_files.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
const WCHAR kAlphabet[16] = {'\\', 'r', 'n', 't', '0', 'x',    'a', '\r',
                             '\n', '1', 'F', '-', ' ', 0x4E2D, 'G', 0x85};

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

bool IsEscapeLetter(WCHAR c)
{
    return c == '\\' || c == 't' || c == 'x' || c == 'r' || c == 'n' || c == '0';
}

std::vector<WCHAR> DecodeInput(const uint8_t* data, size_t size)
{
    std::vector<WCHAR> text;
    if (size == 0)
        return text;
    if (data[0] % 2 == 0)
    {
        for (size_t i = 1; i < size; ++i)
        {
            text.push_back(kAlphabet[data[i] & 0x0F]);
            if (data[i] >= 0xF0)
                text.push_back(kAlphabet[data[i] >> 4 & 0x0E]); // runs of backslashes and CRs
        }
    }
    else
        for (size_t i = 1; i + 1 < size; i += 2)
            text.push_back(static_cast<WCHAR>(data[i] | data[i + 1] << 8));
    for (WCHAR& c : text)
        if (c == 0)
            c = '0';
    if (text.size() > kTextChars - 1)
        text.resize(kTextChars - 1);
    return text;
}

// A stored text decoded in a heap block of exactly its size with terminator.
template <typename Unit> std::vector<Unit> Unescaped(const std::vector<Unit>& stored, UINT& len)
{
    Unit* p = new Unit[stored.size() + 1];
    std::copy(stored.begin(), stored.end(), p);
    p[stored.size()] = 0;
    if constexpr (sizeof(Unit) == 1)
        len = UnescapeTextA(reinterpret_cast<LPSTR>(p));
    else
        len = UnescapeTextW(p);
    Check(len <= stored.size() && p[len] == 0);
    std::vector<Unit> decoded(p, p + len);
    delete[] p;
    return decoded;
}

void CheckEscape(const std::vector<WCHAR>& text)
{
    WCHAR* wsText = new WCHAR[kTextChars];
    std::copy(text.begin(), text.end(), wsText);
    wsText[text.size()] = 0;
    int changed = EscapeText(wsText);
    size_t len = 0;
    while (len < kTextChars && wsText[len] != 0)
        ++len;
    Check(len < kTextChars);
    std::vector<WCHAR> escaped(wsText, wsText + len);
    if (changed == 0)
        Check(escaped == text);
    // The escaped form holds no line break and no backslash that does not begin
    // an escape, so escaping it again changes nothing.
    Check(EscapeText(wsText) == 0 && std::equal(escaped.begin(), escaped.end(), wsText) && wsText[len] == 0);
    delete[] wsText;

    // A text whose backslashes all stand before a character that is no escape
    // letter decodes back from its escaped form, unless the escape was cut.
    bool plain = true;
    size_t cchEscaped = text.size();
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\\')
            plain = plain && i + 1 < text.size() && !IsEscapeLetter(text[i + 1]);
        if (text[i] == '\\' || text[i] == '\r' || text[i] == '\n')
            ++cchEscaped;
    }
    // A blank or quote at either end is stored as an escape: \t for a tab,
    // \xHH for the others.
    auto extraAtEnd = [](WCHAR c) -> size_t {
        if (c == '\t')
            return 1;
        return c == ' ' || c == '\v' || c == '\f' || c == '"' || c == '\'' ? 3 : 0;
    };
    if (!text.empty())
        cchEscaped += extraAtEnd(text.front()) + (text.size() > 1 ? extraAtEnd(text.back()) : 0);
    if (plain && cchEscaped <= kTextChars - 1)
    {
        Check(escaped.size() == cchEscaped);
        UINT lenDecoded = 0;
        Check(Unescaped(escaped, lenDecoded) == text);
    }
}

// Both decoders read text below 0x80 alike; the ANSI one keeps the low 8 bits
// of a hexadecimal escape.
void CheckDecoders(const std::vector<WCHAR>& text)
{
    UINT lenW = 0;
    std::vector<WCHAR> wide = Unescaped(text, lenW);
    bool backslash = false, ascii = true;
    for (WCHAR c : text)
    {
        backslash = backslash || c == '\\';
        ascii = ascii && c < 0x80;
    }
    if (!backslash)
        Check(wide == text);

    std::vector<char> bytes;
    for (WCHAR c : text)
        bytes.push_back(static_cast<char>(c & 0xFF ? c & 0xFF : '0'));
    UINT lenA = 0;
    std::vector<char> narrow = Unescaped(bytes, lenA);
    if (ascii)
    {
        Check(lenA == lenW);
        for (size_t i = 0; i < narrow.size(); ++i)
            Check(static_cast<unsigned char>(narrow[i]) == (wide[i] & 0xFF));
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<WCHAR> text = DecodeInput(data, size);
    CheckEscape(text);
    CheckDecoders(text);
    return 0;
}
