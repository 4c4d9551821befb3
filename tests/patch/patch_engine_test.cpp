#include "patch/patch_engine.h"

#include <gtest/gtest.h>

#include <atomic>

#include <new>
#include <random>
#include <string>
#include <vector>

// Every nothrow allocation of this test program passes through here, so a test
// can make the n-th one fail (or every one from the n-th on).
namespace
{
std::atomic<long> g_allocations{0}; // the scan's second thread allocates too
long g_failAt = -1;
bool g_failOnwards = false;

void* Allocate(size_t cb)
{
    const long n = ++g_allocations;
    if (g_failAt >= 0 && (n == g_failAt || (g_failOnwards && n > g_failAt)))
        return nullptr;
    try
    {
        return ::operator new(cb);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}
} // namespace

void* operator new(size_t cb, const std::nothrow_t&) noexcept
{
    return Allocate(cb);
}
void* operator new[](size_t cb, const std::nothrow_t&) noexcept
{
    return Allocate(cb);
}
// Every array form goes through the scalar one, so each delete[] meets the
// allocation its new[] made.
void* operator new[](size_t cb)
{
    return ::operator new(cb);
}
void operator delete[](void* p) noexcept
{
    ::operator delete(p);
}
void operator delete[](void* p, size_t) noexcept
{
    ::operator delete(p);
}

namespace
{
typedef std::vector<BYTE> Bytes;

struct JobSet
{
    Bytes target;
    std::vector<Bytes> en, cn;
    std::vector<bool> repeat;
    PatchEngineLimits limits = kDefaultEngineLimits;

    std::vector<PatchJob> Jobs() const
    {
        std::vector<PatchJob> jobs;
        for (size_t i = 0; i < en.size(); ++i)
            jobs.push_back({en[i].data(), static_cast<DWORD>(en[i].size()), cn[i].data(),
                            static_cast<DWORD>(cn[i].size()), repeat[i]});
        return jobs;
    }
};

Bytes Slice(const Bytes& from, size_t at, size_t cb)
{
    if (from.empty())
        return Bytes();
    at %= from.size();
    return Bytes(from.begin() + static_cast<long>(at),
                 from.begin() + static_cast<long>(std::min(from.size(), at + cb)));
}

// Small alphabets and texts taken from the target and from each other's CN, so
// that rules overlap, an earlier CN destroys or makes a later EN, and REPEAT
// finds several occurrences. Some targets are UTF-16-like text at odd offsets.
JobSet Generate(std::mt19937& rng)
{
    JobSet set;
    const bool wide = rng() % 3 == 0;
    const unsigned alphabet = 2 + rng() % 3;
    size_t cbTarget = rng() % 8 == 0 ? rng() % 8 : rng() % 700;
    if (wide && cbTarget > 0 && rng() % 2 == 0)
        set.target.push_back(static_cast<BYTE>('#')); // the text starts at an odd offset
    while (set.target.size() < cbTarget)
    {
        BYTE b = static_cast<BYTE>(rng() % 10 == 0 ? 0 : 'a' + rng() % alphabet);
        set.target.push_back(b);
        if (wide)
            set.target.push_back(0);
    }
    set.target.resize(cbTarget);
    const size_t cRules = 1 + rng() % 24;
    for (size_t r = 0; r < cRules; ++r)
    {
        size_t cbEn = 1 + (rng() % 4 == 0 ? rng() % 40 : rng() % 20);
        if (rng() % 24 == 0)
            cbEn = 250 + rng() % 40; // the tier of long texts

        Bytes en;
        switch (rng() % 4)
        {
        case 0:
        case 1:
            en = Slice(set.target, rng(), cbEn);
            break;
        case 2:
            if (r > 0)
                en = Slice(set.cn[rng() % r], rng() % 3, cbEn);
            break;
        default:
            break;
        }
        while (en.size() < cbEn && rng() % 8 != 0)
            en.push_back(static_cast<BYTE>(en.size() % 2 && wide ? 0 : 'a' + rng() % alphabet));
        Bytes cn;
        size_t cbCn = en.empty() ? 0 : rng() % (en.size() + 1);
        if (rng() % 12 == 0)
            cbCn = en.size() + 1; // refused: longer than EN
        switch (rng() % 3)
        {
        case 0:
            cn = Slice(set.target, rng(), cbCn);
            break;
        case 1:
            cn = en;
            if (!cn.empty())
                cn[rng() % cn.size()] = static_cast<BYTE>('a' + rng() % alphabet);
            break;
        default:
            break;
        }
        cn.resize(cbCn, static_cast<BYTE>('a' + rng() % alphabet));
        set.en.push_back(en);
        set.cn.push_back(cn);
        set.repeat.push_back(rng() % 3 == 0);
    }
    static const UINT listed[] = {0, 1, 2, 3, 4096};
    set.limits.uMaxListed = listed[rng() % 5];
    set.limits.uMinShortTier = rng() % 2 == 0 ? 0 : kDefaultEngineLimits.uMinShortTier;
    set.limits.cbMinSplit = rng() % 4 == 0 ? kDefaultEngineLimits.cbMinSplit : 0; // mostly split in two
    static const DWORD perListed[] = {0, 1, 16, 64};
    set.limits.cbPerListed = perListed[rng() % 4];
    set.limits.classScan = rng() % 3 != 0; // both tier layouts, where the processor has the class scan
    return set;
}

struct Outcome
{
    Bytes target;
    std::vector<UINT> counts;
    std::vector<UINT> written; // overwrites reported per job
};

Outcome Sequential(const JobSet& set)
{
    Outcome out = {set.target, std::vector<UINT>(set.en.size(), 7), {}};
    std::vector<PatchJob> jobs = set.Jobs();
    ApplyJobsSequential(out.target.data(), static_cast<DWORD>(out.target.size()), jobs.data(),
                        static_cast<UINT>(jobs.size()), out.counts.data());
    return out;
}

Outcome OneScan(const JobSet& set)
{
    Outcome out = {set.target, std::vector<UINT>(set.en.size(), 7), std::vector<UINT>(set.en.size(), 0)};
    std::vector<PatchJob> jobs = set.Jobs();
    ApplyJobs(
        out.target.data(), static_cast<DWORD>(out.target.size()), jobs.data(), static_cast<UINT>(jobs.size()),
        out.counts.data(), [](void* p, UINT uJob, DWORD) { ++(*static_cast<std::vector<UINT>*>(p))[uJob]; },
        &out.written, set.limits);
    return out;
}
} // namespace

TEST(PatchEngineTest, AgreesWithTheSequentialReplacements)
{
    std::mt19937 rng(20240611);
    for (int round = 0; round < 6000; ++round)
    {
        JobSet set = Generate(rng);
        Outcome expected = Sequential(set), actual = OneScan(set);
        ASSERT_EQ(expected.target, actual.target) << "round " << round;
        ASSERT_EQ(expected.counts, actual.counts) << "round " << round;
        ASSERT_EQ(actual.counts, actual.written) << "round " << round;
    }
}

TEST(PatchEngineTest, AllocationsThatFailChangeNothingOfTheResult)
{
    std::mt19937 rng(99);
    long cTotal = 0;
    for (int round = 0; round < 300; ++round)
    {
        JobSet set = Generate(rng);
        const Outcome expected = Sequential(set);
        g_allocations = 0;
        OneScan(set);
        const long cAllocations = g_allocations;
        cTotal += cAllocations;
        for (long k = 1; k <= cAllocations + 1; ++k)
        {
            for (bool onwards : {false, true})
            {
                g_allocations = 0;
                g_failAt = k;
                g_failOnwards = onwards;
                Outcome actual = OneScan(set);
                g_failAt = -1;
                ASSERT_EQ(expected.target, actual.target) << "round " << round << ", allocation " << k;
                ASSERT_EQ(expected.counts, actual.counts) << "round " << round << ", allocation " << k;
            }
        }
    }
    EXPECT_GT(cTotal, 300 * 4); // the engine's allocations do pass through the hook
}

TEST(PatchEngineTest, LongTextsAtBufferEdgesAndInZeroRuns)
{
    // A 2047-unit UTF-16 EN that ends on the last byte, an EN of zeros (left
    // to search alone) and ENs one byte past the end.
    Bytes target(5000, 0);
    std::vector<Bytes> en, cn;
    Bytes longEn;
    for (int i = 0; i < 2047; ++i)
    {
        longEn.push_back(static_cast<BYTE>('A' + i % 26));
        longEn.push_back(0);
    }
    std::copy(longEn.begin(), longEn.end(), target.end() - static_cast<long>(longEn.size()));
    JobSet set;
    set.target = target;
    set.en = {longEn, Bytes(40, 0), Bytes(longEn.begin() + 1, longEn.end()) /* odd, ends one short */,
              Bytes(target.end() - 20, target.end())};
    set.en[2].push_back(0);
    set.en[2].push_back(0); // one byte beyond the end of the target
    set.cn = {Bytes(10, 'x'), Bytes(2, 'z'), Bytes(1, 'q'), Bytes(20, 'w')};
    set.repeat = {false, true, false, true};
    Outcome expected = Sequential(set), actual = OneScan(set);
    EXPECT_EQ(expected.target, actual.target);
    EXPECT_EQ(expected.counts, actual.counts);
    EXPECT_EQ(1u, actual.counts[0]);
    EXPECT_LT(1u, actual.counts[1]);
    EXPECT_EQ(0u, actual.counts[2]);
    EXPECT_EQ(0u, actual.counts[3]); // the first job overwrote it
}
