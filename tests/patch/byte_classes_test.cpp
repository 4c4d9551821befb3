#include "patch/byte_classes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

namespace
{
typedef std::vector<BYTE> Bytes;

// Text, UTF-16 text (either phase), code-like bytes with zero runs.
Bytes MakeData(std::mt19937& rng, size_t cb)
{
    Bytes data;
    while (data.size() < cb)
    {
        const unsigned kind = rng() % 4, len = 1 + rng() % 64;
        for (unsigned i = 0; i < len; ++i)
        {
            const BYTE letter = static_cast<BYTE>((rng() % 2 ? 'a' : 'A') + rng() % 26);
            if (kind == 0)
                data.push_back(letter);
            else if (kind == 1)
                data.insert(data.end(), {letter, 0});
            else if (kind == 2)
                data.push_back(static_cast<BYTE>(rng()));
            else
                data.push_back(0);
        }
    }
    data.resize(cb);
    return data;
}
} // namespace

// Every position of the series where a window starts is a candidate, in
// batches of any size, and nothing is read past the last window's bytes (the
// buffer ends there, for the sanitizer to see).
TEST(ByteClassesTest, CandidatesHoldEveryStartOfAWindow)
{
    std::mt19937 rng(4711);
    size_t cCandidates = 0, cSeries = 0;
    for (int round = 0; round < 400; ++round)
    {
        const DWORD cOffsets = 1 + rng() % kClassOffsets;
        const Bytes data = MakeData(rng, cOffsets + rng() % 3000);
        ByteClasses classes;
        InitClasses(classes, cOffsets);
        std::vector<Bytes> windows;
        for (unsigned w = 1 + rng() % 40; w > 0; --w)
        {
            const size_t at = rng() % (data.size() - cOffsets + 1);
            windows.emplace_back(data.begin() + static_cast<long>(at),
                                 data.begin() + static_cast<long>(at + cOffsets));
            if (rng() % 30 == 0)
                windows.back().assign(cOffsets, 0);
            AddToClasses(classes, windows.back().data());
        }
        const size_t stop = data.size() - cOffsets + 1, step = 1 + rng() % 8, first = rng() % (stop + 1);
        const size_t cMax = rng() % 2 ? 32 + rng() % 8 : 256;
        std::vector<size_t> found;
        for (size_t i = first; i < stop;)
        {
            std::vector<size_t> batch(cMax);
            const size_t next = i,
                         c = ClassCandidates(classes, data.data(), next, stop, step, batch.data(), cMax, &i);
            ASSERT_LE(c, cMax);
            ASSERT_TRUE(c > 0 || i > next) << "round " << round; // always progresses
            found.insert(found.end(), batch.begin(), batch.begin() + static_cast<long>(c));
        }
        ASSERT_TRUE(std::is_sorted(found.begin(), found.end()));
        const std::set<size_t> candidates(found.begin(), found.end());
        ASSERT_EQ(found.size(), candidates.size());
        for (size_t i = first; i < stop; i += step)
        {
            const bool starts = std::any_of(windows.begin(), windows.end(), [&](const Bytes& w) {
                return std::equal(w.begin(), w.end(), data.begin() + static_cast<long>(i));
            });
            ASSERT_TRUE(!starts || candidates.count(i) == 1) << "round " << round << ", position " << i;
            ++cSeries;
        }
        for (size_t i : found)
            ASSERT_TRUE(i >= first && i < stop && (i - first) % step == 0) << "round " << round;
        cCandidates += found.size();
    }
    EXPECT_LT(cCandidates, cSeries / 2); // the test does skip positions
}
