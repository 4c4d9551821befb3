#include "patch/patch_engine.h"

#include "patch/byte_classes.h"
#include "patch/find_bytes.h"
#include "patch/grow_array.h"
#include "patch/replace_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>

#include <pthread.h>

const PatchEngineLimits kDefaultEngineLimits = {1u << 16, 8, 1u << 20, 16, true};

namespace
{
// How the one scan finds every EN: each indexed EN registers dwStride windows
// of cbWindow bytes at consecutive offsets, and the scan looks up only every
// dwStride-th window of the buffer. Every occurrence covers exactly one looked-
// up window with one of its registered ones, so each is reported once. A bit
// filter answers most lookups; the rest go to a table keyed by the window's
// bytes, and every candidate is compared whole. ENs are split into tiers by
// length, each with a window no longer than its shortest EN.
const UINT kNone = 0xFFFFFFFFu;
const UINT kMaxFilterBits = 22; // 512 KiB of filter: stays in the second-level cache
const UINT kMinFilterBits = 16; // 8 KiB: a few hits per thousand even for a stride of one
const UINT kFilterBitsPerAnchor = 32;
const UINT kAnchorChoices = 32;          // offsets tried when placing the windows of one EN
const size_t kMaxListedInAll = 1u << 22; // some 48 MiB of occurrences and lists
const size_t kCandidates = 256;          // positions passed from the byte classes to the filter at a time
const UINT kGramBitsPerGram = 16;        // of the filter of every short run of bytes in a tier's ENs
const UINT kMinGramBits = 12;
const UINT kMaxGramBits = 24; // 2 MiB

struct TierShape
{
    DWORD cbMinEn; // the tier takes ENs from this length up to the next tier's
    DWORD cbWindow;
    DWORD dwStride; // 0: the longest the tier's shortest EN allows
};
// Longest first; under 2 bytes an EN searches alone. Where the filter sees
// every window it looks up, strides keep lookups few: a short EN among long
// ones would force a stride of one on all.
const TierShape kStridedShapes[] = {{15, 8, 8}, {11, 8, 0}, {6, 4, 0}, {4, 4, 0}, {2, 2, 0}};
// Where the byte classes test every position anyway, a stride only adds
// windows to each EN and so makes the classes and the filter less selective;
// but the search around each overwrite spans the tier's longest EN on either
// side, so texts of 256 bytes and more keep a stride of 8.
const TierShape kClassShapes[] = {{256, 8, 8}, {8, 8, 1}, {6, 6, 1}, {4, 4, 1}, {2, 2, 1}};
const int kMaxTiers = 5;
const DWORD kMinIndexed = 2;

struct Anchor
{
    UINT uJob;
    DWORD dwOffset; // of the window in EN
    UINT uNext;     // the next anchor with the same window bytes
};

struct Occurrence
{
    UINT uJob;
    DWORD dwAt;
};

struct Extra
{
    DWORD dwAt;
    UINT uNext;
};

// Reads no byte past the window, which may end on the last byte: 2, 4, 6 or 8.
uint64_t LoadWindow(const BYTE* p, DWORD cbWindow)
{
    if (cbWindow == 8)
    {
        uint64_t v;
        std::memcpy(&v, p, sizeof(v));
        return v;
    }
    if (cbWindow == 4)
    {
        uint32_t v;
        std::memcpy(&v, p, sizeof(v));
        return v;
    }
    uint16_t v;
    std::memcpy(&v, p, sizeof(v));
    if (cbWindow == 2)
        return v;
    uint32_t vLow;
    std::memcpy(&vLow, p, sizeof(vLow));
    std::memcpy(&v, p + 4, sizeof(v));
    return vLow | uint64_t(v) << 32;
}

// 32-bit arithmetic only, so the 32-bit build pays no 64-bit multiply.
uint32_t HashWindow(uint64_t key)
{
    return static_cast<uint32_t>(key) * 0x9E3779B1u ^ static_cast<uint32_t>(key >> 32) * 0x85EBCA77u;
}

// Windows made of zeros or of one byte are everywhere in executables; an EN
// whose windows are all like that is left to search alone.
bool IsFlat(const BYTE* p, DWORD cbWindow)
{
    DWORD cZero = 0, cSame = 0;
    for (DWORD k = 0; k < cbWindow; ++k)
    {
        cZero += p[k] == 0;
        cSame += k > 0 && p[k] == p[k - 1];
    }
    return cZero + 1 >= cbWindow || cSame + 1 >= cbWindow;
}

DWORD Commonness(const BYTE* p, DWORD cbWindow)
{
    DWORD cCost = 0;
    for (DWORD k = 0; k < cbWindow; ++k)
        cCost += (p[k] == 0 || p[k] == 0xFF) + (k > 0 && p[k] == p[k - 1]) * 2;
    return cCost;
}

class CTier
{
  public:
    CTier() = default;
    CTier(const CTier&) = delete;
    CTier& operator=(const CTier&) = delete;
    ~CTier()
    {
        delete[] m_pFilter;
        delete[] m_pKeys;
        delete[] m_pHeads;
        delete[] m_pLoads;
        delete[] m_pCosts;
        delete[] m_pGrams;
    }

    DWORD cbWindow = 0;
    DWORD dwStride = 1;
    DWORD cbLongest = 0;

    // For cJobs ENs of at most cbMaxEn bytes, cbAllEn in all.
    bool Init(DWORD cbWin, DWORD dwStep, UINT cJobs, DWORD cbMaxEn, size_t cbAllEn)
    {
        cbWindow = cbWin;
        dwStride = dwStep;
        UINT cSlots = 16;
        while (cSlots < 2 * cJobs * dwStep && cSlots < (1u << 30))
            cSlots *= 2;
        m_slotBits = 0;
        while ((1u << m_slotBits) < cSlots)
            ++m_slotBits;
        m_filterBits = kMinFilterBits;
        while (m_filterBits < kMaxFilterBits && (1u << m_filterBits) < kFilterBitsPerAnchor * cJobs * dwStep)
            ++m_filterBits;
        m_pFilter = new (std::nothrow) BYTE[(1u << m_filterBits) / 8]();
        m_pKeys = new (std::nothrow) uint64_t[cSlots];
        m_pHeads = new (std::nothrow) UINT[cSlots];
        m_pLoads = new (std::nothrow) UINT[cSlots]();
        m_pCosts = new (std::nothrow) DWORD[cbMaxEn - cbWin + 1];
        m_cbGram = std::min<DWORD>(cbWin, 4);
        m_gramBits = kMinGramBits;
        while (m_gramBits < kMaxGramBits && (size_t(1) << m_gramBits) < kGramBitsPerGram * cbAllEn)
            ++m_gramBits;
        m_pGrams = new (std::nothrow) uint64_t[(1u << m_gramBits) / 64]();
        if (m_pFilter == nullptr || m_pKeys == nullptr || m_pHeads == nullptr || m_pLoads == nullptr ||
            m_pCosts == nullptr || m_pGrams == nullptr ||
            !m_anchors.Reserve(static_cast<size_t>(cJobs) * dwStep))
            return false;
        std::fill(m_pHeads, m_pHeads + cSlots, kNone);
        InitClasses(m_classes, cbWin);
        return true;
    }

    bool Active() const { return !m_anchors.Empty(); }

    // Places the windows of one EN where they are rarest and least shared;
    // false when every placement has a flat window.
    bool Add(UINT uJob, const BYTE* pEn, DWORD cbEn)
    {
        const DWORD dwLast = cbEn - cbWindow - dwStride + 1; // the highest first offset
        const DWORD cChoices = dwLast + 1 < kAnchorChoices ? dwLast + 1 : kAnchorChoices;
        // Neighbouring choices share windows: each window is costed once.
        std::fill(m_pCosts, m_pCosts + dwLast + dwStride, kNone);
        DWORD dwBest = 0, cBest = kNone;
        for (DWORD c = 0; c < cChoices; ++c)
        {
            DWORD dwFirst = cChoices == 1 ? 0 : static_cast<DWORD>(uint64_t(dwLast) * c / (cChoices - 1));
            DWORD cCost = 0;
            bool flat = false;
            for (DWORD s = 0; s < dwStride && !flat; ++s)
            {
                DWORD& cWindow = m_pCosts[dwFirst + s];
                if (cWindow == kNone)
                    cWindow = WindowCost(pEn + dwFirst + s);
                flat = cWindow == kFlat;
                cCost += cWindow;
            }
            if (!flat && cCost < cBest)
            {
                cBest = cCost;
                dwBest = dwFirst;
            }
        }
        if (cBest == kNone)
            return false;
        for (DWORD s = 0; s < dwStride; ++s)
        {
            uint64_t key = LoadWindow(pEn + dwBest + s, cbWindow);
            uint32_t h = HashWindow(key);
            UINT uSlot = Slot(key, h);
            m_pKeys[uSlot] = key;
            m_anchors.Push({uJob, dwBest + s, m_pHeads[uSlot]}); // reserved in Init
            m_pHeads[uSlot] = static_cast<UINT>(m_anchors.Size() - 1);
            ++m_pLoads[uSlot];
            AddToClasses(m_classes, pEn + dwBest + s);
            m_pFilter[h >> (32 - m_filterBits + 3)] |=
                static_cast<BYTE>(1u << ((h >> (32 - m_filterBits)) & 7));
        }
        for (DWORD k = 0; k + m_cbGram <= cbEn; ++k)
        {
            const uint32_t h = GramHash(pEn + k);
            m_pGrams[h >> (32 - m_gramBits + 6)] |= GramBits(h);
        }
        if (cbEn > cbLongest)
            cbLongest = cbEn;
        return true;
    }

    // False when no EN of the tier can hold one of the bytes [lo, hi) of the
    // view: every occurrence that holds byte x holds a run of m_cbGram bytes
    // with x in it, and every such run of every EN is in the gram filter.
    bool MayCover(const BYTE* pView, DWORD dwSize, DWORD lo, DWORD hi) const
    {
        if (dwSize < m_cbGram)
            return false;
        const DWORD dwFirst = lo + 1 > m_cbGram ? lo + 1 - m_cbGram : 0;
        const DWORD dwLast = std::min(hi - 1, dwSize - m_cbGram);
        for (DWORD s = dwFirst; s <= dwLast; ++s)
        {
            const uint32_t h = GramHash(pView + s);
            const uint64_t bits = GramBits(h);
            if ((m_pGrams[h >> (32 - m_gramBits + 6)] & bits) == bits)
                return true;
        }
        return false;
    }

    // The filter alone, for the scan's inner loop: its fields stay in
    // registers and the window's size is known.
    struct Filter
    {
        const BYTE* pBits;
        UINT uByteShift, uBitShift;

        template <DWORD cbWindow> UINT Test(const BYTE* p) const
        {
            const uint32_t h = HashWindow(LoadWindow(p, cbWindow));
            return pBits[h >> uByteShift] >> ((h >> uBitShift) & 7) & 1u;
        }
    };
    Filter GetFilter() const { return {m_pFilter, 32 - m_filterBits + 3, 32 - m_filterBits}; }

    // The first anchor whose window equals the window at p, or kNone.
    UINT Lookup(const BYTE* p) const
    {
        uint64_t key = LoadWindow(p, cbWindow);
        uint32_t h = HashWindow(key);
        if ((m_pFilter[h >> (32 - m_filterBits + 3)] & (1u << ((h >> (32 - m_filterBits)) & 7))) == 0)
            return kNone;
        return m_pHeads[Slot(key, h)];
    }

    const Anchor& At(UINT uAnchor) const { return m_anchors[uAnchor]; }
    const ByteClasses& Classes() const { return m_classes; }

  private:
    static const DWORD kFlat = kNone - 1;

    DWORD WindowCost(const BYTE* p) const
    {
        if (IsFlat(p, cbWindow))
            return kFlat;
        uint64_t key = LoadWindow(p, cbWindow);
        return Commonness(p, cbWindow) * 16 + m_pLoads[Slot(key, HashWindow(key))];
    }

    // Linear probing to the slot of the key, or to the empty one it would take.
    UINT Slot(uint64_t key, uint32_t h) const
    {
        const UINT uMask = (1u << m_slotBits) - 1;
        UINT uSlot = ((h ^ (h >> 15)) * 0x2C1B3C6Du) >> (32 - m_slotBits) & uMask;
        while (m_pHeads[uSlot] != kNone && m_pKeys[uSlot] != key)
            uSlot = (uSlot + 1) & uMask;
        return uSlot;
    }

    // Two bits of one word per run: fewer false hits than one bit, one load.
    uint32_t GramHash(const BYTE* p) const
    {
        uint32_t h = static_cast<uint32_t>(LoadWindow(p, m_cbGram)) * 0x9E3779B1u;
        h ^= h >> 15;
        return h * 0x85EBCA77u;
    }
    static uint64_t GramBits(uint32_t h) { return uint64_t(1) << (h & 63) | uint64_t(1) << (h >> 6 & 63); }

    BYTE* m_pFilter = nullptr;
    uint64_t* m_pGrams = nullptr; // bits per hashed run of m_cbGram bytes found in an EN
    UINT m_gramBits = kMinGramBits;
    DWORD m_cbGram = 2;
    uint64_t* m_pKeys = nullptr;
    UINT* m_pHeads = nullptr;
    UINT* m_pLoads = nullptr;
    DWORD* m_pCosts = nullptr; // per window offset of the EN being added
    ByteClasses m_classes = {};
    UINT m_slotBits = 0;
    UINT m_filterBits = kMinFilterBits;
    CGrowArray<Anchor> m_anchors;
};

bool PaddedEquals(const PatchJob& job)
{
    if (job.cbCn > 0 && std::memcmp(job.pEn, job.pCn, job.cbCn) != 0)
        return false;
    for (DWORD k = job.cbCn; k < job.cbEn; ++k)
        if (job.pEn[k] != 0)
            return false;
    return true;
}

// The jobs in order over the buffer. Invariant while nothing failed: every
// occurrence of an indexed EN of a job still to come is in that job's list
// (found by the scan in bytes nothing has overwritten since) or among its
// extras (found around the last overwrite that touched it). Both hold
// candidates only: each is compared with the buffer as it is when used.
class CEngine
{
  public:
    CEngine(BYTE* pView, DWORD dwSize, const PatchJob* pJobs, UINT uJobs, FnPatchWrite fnWrite,
            void* pContext, const PatchEngineLimits& limits)
        : m_pView(pView), m_dwSize(dwSize), m_pJobs(pJobs), m_uJobs(uJobs), m_fnWrite(fnWrite),
          m_pContext(pContext), m_limits(limits)
    {
    }
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;
    ~CEngine()
    {
        delete[] m_pIndexed;
        delete[] m_pListStart;
        delete[] m_pList;
        delete[] m_pExtraHead;
    }

    void Run(UINT* puCounts)
    {
        m_degraded = !Index();
        for (UINT j = 0; j < m_uJobs; ++j)
            puCounts[j] = Apply(j);
    }

  private:
    bool Usable(const PatchJob& job) const { return job.cbEn != 0 && job.cbCn <= job.cbEn; }

    // The tier that takes an EN of cbEn bytes (at least kMinIndexed).
    int TierOf(DWORD cbEn) const
    {
        int t = 0;
        while (cbEn < m_pShapes[t].cbMinEn)
            ++t;
        return t;
    }

    bool Index()
    {
        m_pIndexed = new (std::nothrow) BYTE[m_uJobs]();
        if (m_pIndexed == nullptr)
            return false;
        m_classScan = m_limits.classScan && HasClassScan();
        m_pShapes = m_classScan ? kClassShapes : kStridedShapes;
        m_cTiers = m_classScan ? sizeof(kClassShapes) / sizeof(*kClassShapes)
                               : sizeof(kStridedShapes) / sizeof(*kStridedShapes);
        UINT cJobs[kMaxTiers] = {};
        DWORD cbShortest[kMaxTiers], cbLongest[kMaxTiers] = {};
        size_t cbAll[kMaxTiers] = {};
        std::fill(cbShortest, cbShortest + kMaxTiers, kNone);
        for (UINT j = 0; j < m_uJobs; ++j)
        {
            const PatchJob& job = m_pJobs[j];
            if (!Usable(job) || job.cbEn < kMinIndexed)
                continue;
            int t = TierOf(job.cbEn);
            ++cJobs[t];
            cbShortest[t] = std::min(cbShortest[t], job.cbEn);
            cbLongest[t] = std::max(cbLongest[t], job.cbEn);
            cbAll[t] += job.cbEn;
        }
        // A tier below the long one scans the whole buffer at a short stride:
        // worth it only for enough ENs, fewer search alone.
        for (int t = 1; t < m_cTiers; ++t)
            if (cJobs[t] < m_limits.uMinShortTier)
                cJobs[t] = 0;
        for (int t = 0; t < m_cTiers; ++t)
        {
            const DWORD cbWindow = m_pShapes[t].cbWindow;
            const DWORD dwStride =
                m_pShapes[t].dwStride != 0 ? m_pShapes[t].dwStride : cbShortest[t] - cbWindow + 1;
            if (cJobs[t] != 0 && !m_tiers[t].Init(cbWindow, dwStride, cJobs[t], cbLongest[t], cbAll[t]))
                return false;
        }
        for (UINT j = 0; j < m_uJobs; ++j)
        {
            const PatchJob& job = m_pJobs[j];
            if (!Usable(job) || job.cbEn < kMinIndexed)
                continue;
            int t = TierOf(job.cbEn);
            if (cJobs[t] != 0 && m_tiers[t].Add(j, job.pEn, job.cbEn))
                m_pIndexed[j] = 1;
        }
        m_pListStart = new (std::nothrow) UINT[static_cast<size_t>(m_uJobs) + 1]();
        m_pExtraHead = new (std::nothrow) UINT[m_uJobs];
        if (m_pListStart == nullptr || m_pExtraHead == nullptr)
            return false;
        std::fill(m_pExtraHead, m_pExtraHead + m_uJobs, kNone);
        return ScanAll();
    }

    // One half of the scan: the window positions [uPart * half, ...) of every
    // tier. Positions, not bytes, are split, so each occurrence is found by
    // exactly one half; the halves only read the buffer.
    struct ScanHalf
    {
        const CEngine* pEngine;
        UINT uPart;
        UINT* pCounts;    // per job; past uMaxListed the job searches alone
        size_t cMaxFound; // this half's share of what the scan lists in all
        CGrowArray<Occurrence> found;
        bool ok;
    };

    static void* ScanHalfThread(void* pHalf)
    {
        ScanHalf& half = *static_cast<ScanHalf*>(pHalf);
        half.ok = half.pEngine->ScanPart(half);
        return nullptr;
    }

    bool ScanPart(ScanHalf& half) const
    {
        for (int t = 0; t < m_cTiers; ++t)
            if (!ScanRange(m_tiers[t], half))
                return false;
        return true;
    }

    bool ScanRange(const CTier& tier, ScanHalf& half) const
    {
        if (!tier.Active() || m_dwSize < tier.cbWindow)
            return true;
        const size_t end = m_dwSize - tier.cbWindow + 1;
        const size_t split = m_uParts == 1 ? end : (end / 2) - (end / 2) % tier.dwStride;
        const size_t first = half.uPart == 0 ? 0 : split, stop = half.uPart == 0 ? split : end;
        switch (tier.cbWindow)
        {
        case 8:
            return ScanWindows<8>(tier, half, first, stop);
        case 4:
            return ScanWindows<4>(tier, half, first, stop);
        case 6:
            return ScanWindows<6>(tier, half, first, stop);
        default:
            return ScanWindows<2>(tier, half, first, stop);
        }
    }

    // Most windows fail the filter: four are tested before one branch, or,
    // where the processor can, a block of positions is first tested by the
    // classes of its bytes and the filter sees only those that pass.
    template <DWORD cbWindow>
    bool ScanWindows(const CTier& tier, ScanHalf& half, size_t first, size_t stop) const
    {
        const CTier::Filter filter = tier.GetFilter();
        const size_t step = tier.dwStride;
        const BYTE* pView = m_pView;
        size_t i = first;
        if (m_classScan)
        {
            size_t candidates[kCandidates];
            while (i < stop)
            {
                const size_t c =
                    ClassCandidates(tier.Classes(), pView, i, stop, step, candidates, kCandidates, &i);
                for (size_t k = 0; k < c; ++k)
                    if (filter.Test<cbWindow>(pView + candidates[k]) != 0 &&
                        !Visit(tier, half, candidates[k]))
                        return false;
            }
            return true;
        }
        for (; i + 3 * step < stop; i += 4 * step)
        {
            const UINT bits = filter.Test<cbWindow>(pView + i) |
                              filter.Test<cbWindow>(pView + i + step) << 1 |
                              filter.Test<cbWindow>(pView + i + 2 * step) << 2 |
                              filter.Test<cbWindow>(pView + i + 3 * step) << 3;
            if (bits == 0)
                continue;
            for (UINT k = 0; k < 4; ++k)
                if ((bits >> k & 1) != 0 && !Visit(tier, half, i + k * step))
                    return false;
        }
        for (; i < stop; i += step)
            if (filter.Test<cbWindow>(pView + i) != 0 && !Visit(tier, half, i))
                return false;
        return true;
    }

    // Lists every job whose anchor matches the window at i and whose EN is
    // there in whole.
    bool Visit(const CTier& tier, ScanHalf& half, size_t i) const
    {
        const UINT uMax = m_limits.uMaxListed;
        for (UINT a = tier.Lookup(m_pView + i); a != kNone; a = tier.At(a).uNext)
        {
            const Anchor& anchor = tier.At(a);
            if (i < anchor.dwOffset || m_pIndexed[anchor.uJob] == 0 || half.pCounts[anchor.uJob] > uMax)
                continue;
            DWORD dwAt = static_cast<DWORD>(i - anchor.dwOffset);
            if (!Matches(anchor.uJob, dwAt))
                continue;
            UINT& cListed = half.pCounts[anchor.uJob];
            if (cListed == uMax || half.found.Size() >= half.cMaxFound)
            {
                cListed = uMax + 1;
                continue;
            }
            if (!half.found.Push({anchor.uJob, dwAt}))
                return false;
            ++cListed;
        }
        return true;
    }

    // Both halves, the second in a thread of its own when the buffer is long
    // enough and a thread can be had; their finds are merged into each job's
    // count, and a job with more than its limit stops being indexed and
    // searches alone.
    bool ScanAll()
    {
        m_uParts = m_dwSize >= m_limits.cbMinSplit && m_dwSize >= 2 ? 2 : 1;
        // Bounded whatever the buffer's length, for the address space of a
        // 32-bit process.
        size_t cMaxFound = m_limits.cbPerListed == 0 ? kMaxListedInAll : m_dwSize / m_limits.cbPerListed;
        cMaxFound = std::min(cMaxFound, kMaxListedInAll) / m_uParts;
        ScanHalf halves[2] = {{this, 0, nullptr, cMaxFound, {}, false},
                              {this, 1, nullptr, cMaxFound, {}, false}};
        UINT* pCounts = new (std::nothrow) UINT[static_cast<size_t>(m_uJobs) * 2]();
        if (pCounts == nullptr)
            return false;
        halves[0].pCounts = pCounts;
        halves[1].pCounts = pCounts + m_uJobs;
        pthread_t thread;
        const bool threaded =
            m_uParts == 2 && pthread_create(&thread, nullptr, ScanHalfThread, &halves[1]) == 0;
        ScanHalfThread(&halves[0]);
        if (threaded)
            pthread_join(thread, nullptr);
        else if (m_uParts == 2)
            ScanHalfThread(&halves[1]);
        bool ok = halves[0].ok && (m_uParts == 1 || halves[1].ok);
        if (ok)
        {
            for (UINT j = 0; j < m_uJobs; ++j)
            {
                const UINT cTotal = pCounts[j] + pCounts[m_uJobs + j];
                if (cTotal > m_limits.uMaxListed)
                    m_pIndexed[j] = 0;
                m_pListStart[j + 1] = m_pIndexed[j] != 0 ? cTotal : 0;
            }
            ok = BuildLists(halves);
        }
        delete[] pCounts;
        return ok;
    }

    // Each job's finds, the first half's before the second's, in ascending
    // order (as they come, with one window an EN).
    bool BuildLists(const ScanHalf (&halves)[2])
    {
        for (UINT j = 0; j < m_uJobs; ++j)
            m_pListStart[j + 1] += m_pListStart[j];
        m_pList = new (std::nothrow) DWORD[m_pListStart[m_uJobs] + 1];
        if (m_pList == nullptr)
            return false;
        // m_pListStart[j] serves as the fill position of job j, then is put back.
        for (const ScanHalf& half : halves)
            for (size_t k = 0; k < half.found.Size(); ++k)
                if (m_pIndexed[half.found[k].uJob] != 0)
                    m_pList[m_pListStart[half.found[k].uJob]++] = half.found[k].dwAt;
        for (UINT j = m_uJobs; j > 0; --j)
            m_pListStart[j] = m_pListStart[j - 1];
        m_pListStart[0] = 0;
        for (UINT j = 0; j < m_uJobs; ++j)
            if (!std::is_sorted(m_pList + m_pListStart[j], m_pList + m_pListStart[j + 1]))
                std::sort(m_pList + m_pListStart[j], m_pList + m_pListStart[j + 1]);
        return true;
    }

    bool Matches(UINT uJob, DWORD dwAt) const
    {
        const PatchJob& job = m_pJobs[uJob];
        return dwAt <= m_dwSize && job.cbEn <= m_dwSize - dwAt &&
               std::memcmp(m_pView + dwAt, job.pEn, job.cbEn) == 0;
    }

    bool SearchesAlone(UINT uJob) const { return m_degraded || m_pIndexed[uJob] == 0; }

    UINT Apply(UINT j)
    {
        const PatchJob& job = m_pJobs[j];
        if (!Usable(job) || m_dwSize == 0)
            return 0;
        if (!job.repeat || PaddedEquals(job))
        {
            DWORD dwAt = SearchesAlone(j) ? SearchFrom(j, 0) : LowestListed(j);
            if (dwAt == kNoOccurrence)
                return 0;
            Write(j, dwAt);
            return 1;
        }
        return SearchesAlone(j) ? RepeatAlone(j) : RepeatListed(j);
    }

    DWORD SearchFrom(UINT uJob, DWORD dwFrom) const
    {
        const PatchJob& job = m_pJobs[uJob];
        const BYTE* p = SearchBytes(m_pView + dwFrom, m_dwSize - dwFrom, job.pEn, job.cbEn);
        return p == nullptr ? kNoOccurrence : static_cast<DWORD>(p - m_pView);
    }

    DWORD LowestListed(UINT j) const
    {
        DWORD dwBest = kNoOccurrence;
        for (UINT k = m_pListStart[j]; k < m_pListStart[j + 1]; ++k)
            if (Matches(j, m_pList[k]))
            {
                dwBest = m_pList[k];
                break;
            }
        for (UINT e = m_pExtraHead[j]; e != kNone; e = m_extras[e].uNext)
            if (m_extras[e].dwAt < dwBest && Matches(j, m_extras[e].dwAt))
                dwBest = m_extras[e].dwAt;
        return dwBest;
    }

    // As ReplaceEvery: the lowest occurrence each time; an overwrite at p can
    // make none lower than p - cbEn + 1, so each search goes on from there.
    UINT RepeatAlone(UINT j)
    {
        const DWORD cbBack = m_pJobs[j].cbEn - 1;
        UINT uCount = 0;
        for (DWORD dwFrom = 0;;)
        {
            DWORD dwAt = SearchFrom(j, dwFrom);
            if (dwAt == kNoOccurrence)
                return uCount;
            Write(j, dwAt);
            ++uCount;
            dwFrom = dwAt > cbBack ? dwAt - cbBack : 0;
        }
    }

    // The lowest candidate that still matches is the lowest occurrence, since
    // every overwrite adds the occurrences it makes to the heap.
    UINT RepeatListed(UINT j)
    {
        m_heap.Clear();
        bool filled = m_heap.ReserveMore(m_pListStart[j + 1] - m_pListStart[j]);
        for (UINT k = m_pListStart[j]; filled && k < m_pListStart[j + 1]; ++k)
            m_heap.Push(m_pList[k]);
        for (UINT e = m_pExtraHead[j]; filled && e != kNone; e = m_extras[e].uNext)
            filled = m_heap.Push(m_extras[e].dwAt);
        if (!filled)
            return RepeatAlone(j);
        std::make_heap(m_heap.Data(), m_heap.Data() + m_heap.Size(), std::greater<DWORD>());
        m_uHeapJob = j;
        UINT uCount = 0;
        while (!m_degraded && !m_heap.Empty())
        {
            std::pop_heap(m_heap.Data(), m_heap.Data() + m_heap.Size(), std::greater<DWORD>());
            DWORD dwAt = m_heap[m_heap.Size() - 1];
            m_heap.PopBack();
            if (!Matches(j, dwAt))
                continue;
            Write(j, dwAt);
            ++uCount;
        }
        m_uHeapJob = kNone;
        // A failed push left the heap short: what is left is the plain loop's
        // work from the buffer as it now stands.
        if (m_degraded)
            uCount += RepeatAlone(j);
        return uCount;
    }

    void Write(UINT j, DWORD dwAt)
    {
        const PatchJob& job = m_pJobs[j];
        if (job.cbCn != 0)
            std::memcpy(m_pView + dwAt, job.pCn, job.cbCn);
        std::memset(m_pView + dwAt + job.cbCn, 0, job.cbEn - job.cbCn);
        if (m_fnWrite != nullptr)
            m_fnWrite(m_pContext, j, dwAt);
        // An occurrence the overwrite made holds a byte it changed; the bytes
        // were EN's before.
        DWORD lo = 0, hi = job.cbEn;
        while (lo < hi && job.pEn[lo] == (lo < job.cbCn ? job.pCn[lo] : 0))
            ++lo;
        while (hi > lo && job.pEn[hi - 1] == (hi - 1 < job.cbCn ? job.pCn[hi - 1] : 0))
            --hi;
        if (lo == hi)
            return;
        for (int t = 0; t < m_cTiers && !m_degraded; ++t)
            m_degraded = !CollectAround(m_tiers[t], j, dwAt + lo, hi - lo);
    }

    // Finds the occurrences that job j's overwrite made for the jobs after it
    // (and for j itself while it repeats): those that hold one of the cbChanged
    // bytes it changed from q on.
    bool CollectAround(const CTier& tier, UINT j, DWORD q, DWORD cbChanged)
    {
        if (!tier.Active() || m_dwSize < tier.cbWindow || !tier.MayCover(m_pView, m_dwSize, q, q + cbChanged))
            return true;
        const size_t first = q + 1 > tier.cbLongest ? q + 1 - tier.cbLongest : 0;
        const size_t last = std::min<size_t>(size_t(q) + cbChanged - 1 + tier.cbLongest - tier.cbWindow,
                                             m_dwSize - tier.cbWindow);
        for (size_t i = first - first % tier.dwStride; i <= last; i += tier.dwStride)
        {
            for (UINT a = tier.Lookup(m_pView + i); a != kNone; a = tier.At(a).uNext)
            {
                const Anchor& anchor = tier.At(a);
                const UINT k = anchor.uJob;
                if (k < j || (k == j && m_uHeapJob != j) || m_pIndexed[k] == 0 || i < anchor.dwOffset)
                    continue;
                DWORD dwAt = static_cast<DWORD>(i - anchor.dwOffset);
                bool overlaps = dwAt < q + cbChanged && dwAt + m_pJobs[k].cbEn > q;
                if (!overlaps || !Matches(k, dwAt))
                    continue;
                if (k == j)
                {
                    if (!m_heap.Push(dwAt))
                        return false;
                    std::push_heap(m_heap.Data(), m_heap.Data() + m_heap.Size(), std::greater<DWORD>());
                    continue;
                }
                if (!m_extras.Push({dwAt, m_pExtraHead[k]}))
                    return false;
                m_pExtraHead[k] = static_cast<UINT>(m_extras.Size() - 1);
            }
        }
        return true;
    }

    BYTE* m_pView;
    DWORD m_dwSize;
    const PatchJob* m_pJobs;
    UINT m_uJobs;
    FnPatchWrite m_fnWrite;
    void* m_pContext;
    PatchEngineLimits m_limits;
    bool m_degraded = false;  // something could not be had: every job searches alone
    UINT m_uParts = 1;        // halves the scan is split into
    bool m_classScan = false; // the byte classes test positions ahead of the filter
    const TierShape* m_pShapes = kStridedShapes;
    int m_cTiers = 0;
    CTier m_tiers[kMaxTiers];
    BYTE* m_pIndexed = nullptr;   // per job: 1 when its occurrences are tracked
    UINT* m_pListStart = nullptr; // job j's scan results are m_pList[start[j], start[j + 1])
    DWORD* m_pList = nullptr;
    UINT* m_pExtraHead = nullptr;
    CGrowArray<Extra> m_extras;
    CGrowArray<DWORD> m_heap; // candidates of the repeating job m_uHeapJob
    UINT m_uHeapJob = kNone;
};
} // namespace

void ApplyJobs(BYTE* pView, DWORD dwSize, const PatchJob* pJobs, UINT uJobs, UINT* puCounts,
               FnPatchWrite fnWrite, void* pContext, const PatchEngineLimits& limits)
{
    CEngine engine(pView, dwSize, pJobs, uJobs, fnWrite, pContext, limits);
    engine.Run(puCounts);
}

void ApplyJobsSequential(BYTE* pView, DWORD dwSize, const PatchJob* pJobs, UINT uJobs, UINT* puCounts)
{
    for (UINT j = 0; j < uJobs; ++j)
    {
        const PatchJob& job = pJobs[j];
        if (job.repeat)
            puCounts[j] = ReplaceEveryBytes(pView, dwSize, job.pEn, job.cbEn, job.pCn, job.cbCn);
        else
            puCounts[j] =
                ReplaceBytesFrom(pView, dwSize, 0, job.pEn, job.cbEn, job.pCn, job.cbCn) != kNoOccurrence ? 1
                                                                                                          : 0;
    }
}
