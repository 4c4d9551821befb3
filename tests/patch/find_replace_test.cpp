#include "patch/find_bytes.h"
#include "patch/replace_text.h"
#include "rules/rule_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace
{
typedef std::vector<BYTE> Bytes;

Bytes B(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// The data at the very end of a heap block, so that a read past it is caught
// by the sanitizers and by guard checks of the allocator.
long Find(const std::string& data, const std::string& pattern, DWORD dwSize)
{
    Bytes d = B(data), p = B(pattern);
    const BYTE* pAt = FindBytes(d.data(), dwSize, p.data(), static_cast<DWORD>(p.size()));
    return pAt == nullptr ? -1 : static_cast<long>(pAt - d.data());
}

// What ReplaceText called until it returns 0 does, step by step, as the
// reference for ReplaceEvery; gives up after uLimit steps.
UINT RescanReference(Bytes& data, const Bytes& en, const Bytes& cnPadded, UINT uLimit)
{
    UINT n = 0;
    for (; n < uLimit; ++n)
    {
        const BYTE* p = SearchBytesPlain(data.data(), static_cast<DWORD>(data.size()), en.data(),
                                         static_cast<DWORD>(en.size()));
        if (p == nullptr)
            break;
        std::memcpy(data.data() + (p - data.data()), cnPadded.data(), cnPadded.size());
    }
    return n;
}
} // namespace

TEST(FindBytesTest, Boundaries)
{
    struct Case
    {
        std::string data, pattern;
        DWORD dwSize;
        long at;
    } cases[] = {
        {"abcabc", "abc", 6, 0},
        {"xxabcabc", "abc", 8, 2},
        {"xxxxab", "ab", 6, 4},       // ends on the last byte
        {"xxxxab", "ab", 5, -1},      // one byte short
        {"xxxxab", "xxxxab", 6, 0},   // pattern is the whole data
        {"xxxxab", "xxxxabc", 6, -1}, // pattern longer than the data
        {"abc", "", 3, -1},           // empty pattern
        {"abc", "a", 0, -1},          // empty data
        {"aab", "ab", 3, 1},
        {"ABC", "abc", 3, -1},                               // no case folding
        {std::string("ab\0cd\0", 6), "cd", 0xFFFFFFFFu, -1}, // -1: measured up to the first zero
        {std::string("abcd\0cd", 7), "cd", 0xFFFFFFFFu, 2},
        {std::string("x\0A\0B\0", 6), std::string("\0A\0", 3), 6, 1}, // UTF-16 at an odd offset
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.data) + " / " + testing::PrintToString(c.pattern));
        EXPECT_EQ(c.at, Find(c.data, c.pattern, c.dwSize));
    }
}

TEST(FindBytesTest, AgreesWithThePlainScan)
{
    // Small alphabets make many near misses; sizes around the 16-byte blocks
    // of the fast path check its tail handling.
    std::mt19937 rng(12345);
    for (int round = 0; round < 4000; ++round)
    {
        unsigned alphabet = 1 + rng() % (round % 3 == 0 ? 3 : 256);
        Bytes data(rng() % 300);
        for (BYTE& b : data)
            b = static_cast<BYTE>(rng() % alphabet);
        Bytes pattern(1 + rng() % 6);
        for (BYTE& b : pattern)
            b = static_cast<BYTE>(rng() % alphabet);
        if (!data.empty() && rng() % 2 == 0 && pattern.size() <= data.size())
        {
            size_t at = rng() % (data.size() - pattern.size() + 1);
            std::copy(pattern.begin(), pattern.end(), data.begin() + static_cast<long>(at));
        }
        // Exactly sized blocks, so a read past the data is a heap overrun.
        BYTE* pData = new BYTE[data.size() + 1];
        std::copy(data.begin(), data.end(), pData);
        DWORD dwSize = static_cast<DWORD>(data.size());
        const BYTE* pFast = SearchBytes(pData, dwSize, pattern.data(), static_cast<DWORD>(pattern.size()));
        const BYTE* pPlain =
            SearchBytesPlain(pData, dwSize, pattern.data(), static_cast<DWORD>(pattern.size()));
        EXPECT_EQ(pPlain, pFast) << "round " << round;
        delete[] pData;
    }
}

TEST(ReplaceTextTest, PadsWithZerosToTheLengthOfEn)
{
    // EN of 5 units, CN of 3: six bytes of CN and four zero bytes.
    Bytes data = B(std::string("..") + std::string("H\0e\0l\0l\0o\0", 10) + "..");
    const WCHAR wsEn[] = W("Hello"), wsCn[] = W("abc");
    ASSERT_EQ(1, ReplaceTextW(data.data(), static_cast<DWORD>(data.size()), wsEn, 5, wsCn, 3));
    EXPECT_EQ(B(std::string("..") + std::string("a\0b\0c\0\0\0\0\0", 10) + ".."), data);

    Bytes ansi = B("xxHello-Hello");
    ASSERT_EQ(1, ReplaceTextA(ansi.data(), static_cast<DWORD>(ansi.size()), "Hello", 5, "Hi", 2));
    EXPECT_EQ(B(std::string("xxHi\0\0\0-Hello", 13)), ansi);
    // CN as long as EN: no zero written.
    ASSERT_EQ(1, ReplaceTextA(ansi.data(), static_cast<DWORD>(ansi.size()), "Hello", 5, "World", 5));
    EXPECT_EQ(B(std::string("xxHi\0\0\0-World", 13)), ansi);
}

TEST(ReplaceTextTest, RefusesWithoutWriting)
{
    Bytes data = B("one two three");
    const Bytes before = data;
    const DWORD dwSize = static_cast<DWORD>(data.size());
    EXPECT_EQ(0, ReplaceTextA(data.data(), dwSize, "four", 4, "4", 1));   // not found
    EXPECT_EQ(0, ReplaceTextA(data.data(), dwSize, "two", 3, "zwei", 4)); // CN longer than EN
    EXPECT_EQ(0, ReplaceTextA(data.data(), dwSize, "", 0, "", 0));        // empty EN
    EXPECT_EQ(0, ReplaceTextA(data.data(), 3, "two", 3, "2", 1));         // beyond the size given
    std::string huge(kTextChars + 1, 'o');
    EXPECT_EQ(0,
              ReplaceTextA(data.data(), dwSize, huge.c_str(), kTextChars + 1, "o", 1)); // beyond the scratch
    EXPECT_EQ(before, data);
}

TEST(ReplaceTextTest, EveryOccurrenceMatchesRescanningFromTheStart)
{
    struct Case
    {
        std::string data, en, cn;
        UINT count;
        std::string result;
    } cases[] = {
        {"ab-ab-ab", "ab", "X", 3, std::string("X\0-X\0-X\0", 8)},
        // CN that puts EN back one byte lower: rescanning finds it again there.
        {"aab", "ab", "ba", 2, "baa"},
        {"abab", "ab", "ba", 3, "bbaa"},
        // Overwrites that make new occurrences overlapping the old place.
        {"aaaa", "aa", "a", 2, std::string("a\0a\0", 4)},
        {"xaaab", "ab", "aa", 1, "xaaaa"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.data + " / " + c.en + " -> " + c.cn);
        Bytes data = B(c.data);
        UINT n = ReplaceEveryA(data.data(), static_cast<DWORD>(data.size()), c.en.c_str(),
                               static_cast<UINT>(c.en.size()), c.cn.c_str(), static_cast<UINT>(c.cn.size()));
        EXPECT_EQ(c.count, n);
        EXPECT_EQ(B(c.result), data);
    }

    std::mt19937 rng(777);
    for (int round = 0; round < 3000; ++round)
    {
        Bytes data(1 + rng() % 40);
        for (BYTE& b : data)
            b = static_cast<BYTE>('a' + rng() % 2);
        std::string en(1 + rng() % 4, 'a'), cn(rng() % (en.size() + 1), 'a');
        for (char& ch : en)
            ch = static_cast<char>('a' + rng() % 2);
        for (char& ch : cn)
            ch = static_cast<char>('a' + rng() % 3 % 2);
        Bytes padded = B(cn);
        padded.resize(en.size(), 0);
        if (padded == B(en))
            continue;
        Bytes expected = data;
        UINT uExpected = RescanReference(expected, B(en), padded, 100000);
        ASSERT_LT(uExpected, 100000u);
        UINT n = ReplaceEveryA(data.data(), static_cast<DWORD>(data.size()), en.c_str(),
                               static_cast<UINT>(en.size()), cn.c_str(), static_cast<UINT>(cn.size()));
        EXPECT_EQ(uExpected, n) << "round " << round;
        EXPECT_EQ(expected, data) << "round " << round;
    }
}

TEST(ReplaceTextTest, EveryOccurrenceEndsWhenCnLeavesEnInPlace)
{
    // CN equal to EN, or CN whose zero padding spells EN's tail, would be
    // found at the same place forever.
    Bytes data = B(std::string("ab\0-ab\0", 7));
    const Bytes before = data;
    EXPECT_EQ(1u, ReplaceEveryA(data.data(), 7, "ab", 2, "ab", 2));
    EXPECT_EQ(1u, ReplaceEveryA(data.data(), 7, std::string("ab\0", 3).c_str(), 3, "ab", 2));
    EXPECT_EQ(before, data);
    const WCHAR wsEn[] = W("Hi");
    Bytes wide = B(std::string("H\0i\0", 4));
    EXPECT_EQ(1u, ReplaceEveryW(wide.data(), 4, wsEn, 2, wsEn, 2));
    EXPECT_EQ(B(std::string("H\0i\0", 4)), wide);
}
