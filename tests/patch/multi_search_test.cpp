#include "patch/multi_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace
{
std::vector<DWORD> EveryOccurrence(const std::vector<BYTE>& data, const std::vector<BYTE>& pattern)
{
    std::vector<DWORD> at;
    for (size_t i = 0; !pattern.empty() && i + pattern.size() <= data.size(); ++i)
        if (std::memcmp(&data[i], pattern.data(), pattern.size()) == 0)
            at.push_back(static_cast<DWORD>(i));
    return at;
}

// Against the plain scan: small alphabets make overlapping and shared-prefix
// occurrences common, and patterns of 1 to 9 bytes reach every table; some
// patterns repeat and some run into the end of the data.
TEST(MultiSearch, FindsWhatThePlainScanFinds)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round)
    {
        const int alphabet = 2 + round % 4;
        std::vector<BYTE> data(1 + rng() % 600);
        for (BYTE& b : data)
            b = static_cast<BYTE>('a' + rng() % alphabet);
        std::vector<std::vector<BYTE>> owned(1 + rng() % 40);
        std::vector<SearchPattern> patterns;
        for (std::vector<BYTE>& pattern : owned)
        {
            const size_t cb = rng() % 10;
            if (cb > 0 && rng() % 3 == 0 && data.size() >= cb)
            {
                const size_t from = rng() % (data.size() - cb + 1);
                pattern.assign(data.begin() + from, data.begin() + from + cb);
            }
            else
                for (size_t i = 0; i < cb; ++i)
                    pattern.push_back(static_cast<BYTE>('a' + rng() % alphabet));
            patterns.push_back({pattern.data(), static_cast<DWORD>(pattern.size())});
        }
        std::vector<std::vector<DWORD>> hits;
        FindEveryPattern(data.data(), static_cast<DWORD>(data.size()), patterns, hits);
        ASSERT_EQ(hits.size(), owned.size());
        for (size_t i = 0; i < owned.size(); ++i)
            ASSERT_EQ(hits[i], EveryOccurrence(data, owned[i])) << "round " << round << ", pattern " << i;
    }
}
} // namespace
