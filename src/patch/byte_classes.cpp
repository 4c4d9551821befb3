#include "patch/byte_classes.h"

#include "patch/find_bytes.h"

#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define PIVRA_CLASSES_AVX2 1
#endif

namespace
{
const size_t kBlock = 32;

bool MayStart(const ByteClasses& classes, const BYTE* p)
{
    UINT uBuckets = 0xFF;
    bool allZero = true;
    for (DWORD k = 0; k < classes.cOffsets; ++k)
    {
        uBuckets &= classes.low[k][p[k] & 15] & classes.high[k][p[k] >> 4];
        allZero = allZero && p[k] == 0;
    }
    return uBuckets != 0 && (!allZero || classes.zeroWindow);
}

#ifdef PIVRA_CLASSES_AVX2
// 32 positions a block, of which those a multiple of step from the block's
// start count: blocks advance by the largest such multiple up to 32, so every
// position of the series falls at the same places in each block.
template <DWORD cOffsets>
__attribute__((target("avx2"))) size_t ScanAvx2(const ByteClasses& classes, const BYTE* pData, size_t first,
                                                size_t stop, size_t step, size_t* pOut, size_t cMax,
                                                size_t* pNext)
{
    __m256i low[cOffsets], high[cOffsets];
    for (DWORD k = 0; k < cOffsets; ++k)
    {
        low[k] =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(classes.low[k])));
        high[k] =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(classes.high[k])));
    }
    const __m256i nibble = _mm256_set1_epi8(0x0F), zero = _mm256_setzero_si256();
    const size_t advance = kBlock - kBlock % step;
    uint32_t series = 0;
    for (size_t j = 0; j < advance; j += step)
        series |= 1u << j;
    size_t c = 0, b = first;
    for (; b + kBlock <= stop && cMax - c >= kBlock; b += advance)
    {
        __m256i buckets = _mm256_cmpeq_epi8(zero, zero), allZero = buckets;
#pragma GCC unroll 4
        for (DWORD k = 0; k < cOffsets; ++k)
        {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pData + b + k));
            const __m256i lo = _mm256_shuffle_epi8(low[k], _mm256_and_si256(v, nibble));
            const __m256i hi =
                _mm256_shuffle_epi8(high[k], _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
            buckets = _mm256_and_si256(buckets, _mm256_and_si256(lo, hi));
            allZero = _mm256_and_si256(allZero, _mm256_cmpeq_epi8(v, zero));
        }
        uint32_t mask =
            ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(buckets, zero))) & series;
        if (!classes.zeroWindow)
            mask &= ~static_cast<uint32_t>(_mm256_movemask_epi8(allZero));
        for (; mask != 0; mask &= mask - 1)
            pOut[c++] = b + static_cast<size_t>(__builtin_ctz(mask));
    }
    *pNext = b;
    return c;
}
#endif
} // namespace

void InitClasses(ByteClasses& classes, DWORD cOffsets)
{
    std::memset(&classes, 0, sizeof(classes));
    classes.cOffsets = cOffsets < kClassOffsets ? cOffsets : kClassOffsets;
}

// Zeros decide the bucket first: ANSI text, UTF-16 text at the one phase or
// the other, and the rest. ANSI windows are split again by the high nibble of
// their first byte, which sets capitals apart from small letters.
void AddToClasses(ByteClasses& classes, const BYTE* pWindow)
{
    UINT uZeros = 0;
    for (DWORD k = 0; k < classes.cOffsets; ++k)
        uZeros |= (pWindow[k] == 0 ? 1u : 0u) << k;
    const UINT uBucket = uZeros == 0 ? (pWindow[0] >> 4) & 3 : 4 + (uZeros & 3);
    for (DWORD k = 0; k < classes.cOffsets; ++k)
    {
        classes.low[k][pWindow[k] & 15] |= static_cast<BYTE>(1u << uBucket);
        classes.high[k][pWindow[k] >> 4] |= static_cast<BYTE>(1u << uBucket);
    }
    const UINT uAll = (1u << classes.cOffsets) - 1;
    classes.zeroWindow = classes.zeroWindow || uZeros == uAll;
}

bool HasClassScan()
{
#ifdef PIVRA_CLASSES_AVX2
    return CpuHasAvx2();
#else
    return false;
#endif
}

size_t ClassCandidates(const ByteClasses& classes, const BYTE* pData, size_t first, size_t stop, size_t step,
                       size_t* pOut, size_t cMax, size_t* pNext)
{
    size_t c = 0, i = first;
#ifdef PIVRA_CLASSES_AVX2
    if (CpuHasAvx2())
    {
        switch (classes.cOffsets)
        {
        case 1:
            c = ScanAvx2<1>(classes, pData, first, stop, step, pOut, cMax, &i);
            break;
        case 2:
            c = ScanAvx2<2>(classes, pData, first, stop, step, pOut, cMax, &i);
            break;
        case 3:
            c = ScanAvx2<3>(classes, pData, first, stop, step, pOut, cMax, &i);
            break;
        default:
            c = ScanAvx2<4>(classes, pData, first, stop, step, pOut, cMax, &i);
            break;
        }
        if (i + kBlock <= stop) // stopped for want of room
        {
            *pNext = i;
            return c;
        }
    }
#endif
    // The rest, and all of it without the vector test: one position at a time.
    for (; i < stop && c < cMax; i += step)
        if (MayStart(classes, pData + i))
            pOut[c++] = i;
    *pNext = i < stop ? i : stop;
    return c;
}
