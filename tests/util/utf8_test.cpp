#include "port/utf8.h"

#include <gtest/gtest.h>

#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace
{
// The system's own converter: the UTF-16 of well-formed UTF-8, else false.
bool SystemUtf8ToUtf16(const std::string& s, std::u16string& ws)
{
#ifdef _WIN32
    int cch =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (cch <= 0)
        return s.empty();
    std::wstring w(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), &w[0], cch);
    ws.assign(w.begin(), w.end());
    return true;
#else
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    std::string in = s;
    std::string out(4 * s.size() + 4, '\0');
    char* pIn = &in[0];
    char* pOut = &out[0];
    size_t cbIn = in.size(), cbOut = out.size();
    bool ok = iconv(cd, &pIn, &cbIn, &pOut, &cbOut) != static_cast<size_t>(-1);
    iconv_close(cd);
    ws.clear();
    for (size_t i = 0; i + 1 < out.size() - cbOut; i += 2)
        ws += static_cast<char16_t>(static_cast<unsigned char>(out[i]) |
                                    static_cast<unsigned char>(out[i + 1]) << 8);
    return ok;
#endif
}
} // namespace

// Random byte strings, biased towards the lead and continuation bytes where
// the edge cases lie, judged by the system's converter.
TEST(Utf8, AgreesWithTheSystemConverter)
{
    std::mt19937 rng(7);
    const unsigned char kBytes[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                                    0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5, 0xFF};
    size_t cWell = 0;
    for (int n = 0; n < 20000; ++n)
    {
        std::string s;
        size_t cb = rng() % 7;
        for (size_t i = 0; i < cb; ++i)
            s += static_cast<char>(kBytes[rng() % sizeof(kBytes)]);
        std::u16string wsSystem;
        bool fSystem = SystemUtf8ToUtf16(s, wsSystem);
        size_t badAt = 0;
        ASSERT_EQ(IsWellFormedUtf8(s, badAt), fSystem) << testing::PrintToString(s);
        if (!fSystem)
        {
            EXPECT_NE(Utf8ToUtf16(s).find(u'\uFFFD'), std::u16string::npos);
            continue;
        }
        ++cWell;
        ASSERT_EQ(Utf8ToUtf16(s), wsSystem) << testing::PrintToString(s);
        ASSERT_EQ(Utf16ToUtf8(wsSystem), s);
    }
    EXPECT_GT(cWell, 2000u);
}

TEST(Utf8, UnpairedSurrogatesAndControlsOnTheWayOut)
{
    const std::u16string ws = {u'a', 0xD800, u'b', 0xDC00, 0xD83D, 0xDE00, 0x0007, 0xD800};
    EXPECT_EQ(Utf16ToUtf8(ws), "a\xEF\xBF\xBD"
                               "b\xEF\xBF\xBD\xF0\x9F\x98\x80\x07\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(ws, true), "a\xEF\xBF\xBD"
                                     "b\xEF\xBF\xBD\xF0\x9F\x98\x80?\xEF\xBF\xBD");
    EXPECT_EQ(HexNumber(0x1A, 4), "0x001A");
    EXPECT_EQ(HexNumber(0x12345, 4), "0x12345");
}
