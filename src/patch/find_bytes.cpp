#include "patch/find_bytes.h"

#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define PIVRA_SCAN_AVX2 1
#endif

namespace
{
// How common a byte is in executables, higher is more common: zeros and 0xFF
// fill headers and padding, ASCII text and a few x86 opcodes come next. The
// search anchors on the two rarest pattern bytes, so that few places pass the
// cheap test and need a full compare.
int Commonness(BYTE b)
{
    switch (b)
    {
    case 0x00:
        return 255;
    case 0xFF:
        return 250;
    case ' ':
    case 'e':
    case 't':
    case 'a':
    case 'o':
    case 'i':
    case 'n':
    case 's':
    case 'r':
    case 0x8B:
    case 0x89:
    case 0x48:
    case 0xE8:
    case 0x24:
    case 0x83:
    case 0xCC:
        return 200;
    default:
        break;
    }
    if (b < 0x20)
        return 190;
    if (b >= 'a' && b <= 'z')
        return 170;
    if (b >= '0' && b <= '9')
        return 150;
    if (b < 0x80)
        return 140;
    return 100;
}

struct Anchors
{
    DWORD k1, k2;
};

// Two distinct positions of the pattern (which has at least two bytes).
Anchors ChooseAnchors(const BYTE* pPattern, DWORD dwPattern)
{
    DWORD k1 = 0;
    for (DWORD k = 1; k < dwPattern; ++k)
        if (Commonness(pPattern[k]) < Commonness(pPattern[k1]))
            k1 = k;
    DWORD k2 = k1 == 0 ? 1 : 0;
    for (DWORD k = 0; k < dwPattern; ++k)
        if (k != k1 && Commonness(pPattern[k]) < Commonness(pPattern[k2]))
            k2 = k;
    return {k1, k2};
}

#ifdef PIVRA_SCAN_AVX2
// 128 starts at a time, first by the rarest byte alone (one load per 32
// starts, as memchr does), then by the second anchor and a full compare only
// where it matched. Every load ends at or before start + anchor <= last +
// anchor, which is inside the data. Returns the first start it has not
// examined, or sets *ppFound.
__attribute__((target("avx2"))) size_t ScanAvx2(const BYTE* pData, size_t last, const BYTE* pPattern,
                                                DWORD dwPattern, Anchors a, const BYTE** ppFound)
{
    const __m256i v1 = _mm256_set1_epi8(static_cast<char>(pPattern[a.k1]));
    size_t i = 0;
    for (; i <= last && last - i >= 127; i += 128)
    {
        const __m256i* p1 = reinterpret_cast<const __m256i*>(pData + i + a.k1);
        __m256i m0 = _mm256_cmpeq_epi8(_mm256_loadu_si256(p1), v1);
        __m256i m1 = _mm256_cmpeq_epi8(_mm256_loadu_si256(p1 + 1), v1);
        __m256i m2 = _mm256_cmpeq_epi8(_mm256_loadu_si256(p1 + 2), v1);
        __m256i m3 = _mm256_cmpeq_epi8(_mm256_loadu_si256(p1 + 3), v1);
        __m256i any = _mm256_or_si256(_mm256_or_si256(m0, m1), _mm256_or_si256(m2, m3));
        if (_mm256_testz_si256(any, any))
            continue;
        const __m256i parts[4] = {m0, m1, m2, m3};
        for (size_t part = 0; part < 4; ++part)
        {
            for (uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(parts[part])); mask != 0;
                 mask &= mask - 1)
            {
                const BYTE* p = pData + i + part * 32 + __builtin_ctz(mask);
                if (p[a.k2] == pPattern[a.k2] && std::memcmp(p, pPattern, dwPattern) == 0)
                {
                    *ppFound = p;
                    return i;
                }
            }
        }
    }
    return i;
}

#endif
} // namespace

bool CpuHasAvx2()
{
#ifdef PIVRA_SCAN_AVX2
    static const bool s_avx2 = __builtin_cpu_supports("avx2");
    return s_avx2;
#else
    return false;
#endif
}

const BYTE* SearchBytes(const BYTE* pData, DWORD dwSize, const BYTE* pPattern, DWORD dwPattern)
{
    if (dwPattern == 0 || dwPattern > dwSize)
        return nullptr;
    if (dwPattern == 1)
        return static_cast<const BYTE*>(std::memchr(pData, pPattern[0], dwSize));
    const Anchors a = ChooseAnchors(pPattern, dwPattern);
    const size_t last = static_cast<size_t>(dwSize) - dwPattern; // the last start that fits
    size_t i = 0;
#ifdef PIVRA_SCAN_AVX2
    if (CpuHasAvx2())
    {
        const BYTE* pFound = nullptr;
        i = ScanAvx2(pData, last, pPattern, dwPattern, a, &pFound);
        if (pFound != nullptr)
            return pFound;
    }
#endif
    while (i <= last)
    {
        const BYTE* pHit =
            static_cast<const BYTE*>(std::memchr(pData + i + a.k1, pPattern[a.k1], last - i + 1));
        if (pHit == nullptr)
            return nullptr;
        const BYTE* p = pHit - a.k1;
        if (p[a.k2] == pPattern[a.k2] && std::memcmp(p, pPattern, dwPattern) == 0)
            return p;
        i = static_cast<size_t>(p - pData) + 1;
    }
    return nullptr;
}

const BYTE* FindBytes(const BYTE* pData, DWORD dwSize, const BYTE* pPattern, DWORD dwPattern)
{
    if (dwSize == 0)
        return nullptr;
    if (dwSize == 0xFFFFFFFFu)
    {
        size_t cb = std::strlen(reinterpret_cast<const char*>(pData));
        dwSize = cb < 0xFFFFFFFFu ? static_cast<DWORD>(cb) : 0xFFFFFFFEu;
    }
    return SearchBytes(pData, dwSize, pPattern, dwPattern);
}

const BYTE* SearchBytesPlain(const BYTE* pData, DWORD dwSize, const BYTE* pPattern, DWORD dwPattern)
{
    if (dwPattern == 0)
        return nullptr;
    for (DWORD i = 0; i + dwPattern <= dwSize && i + dwPattern >= i; ++i)
    {
        DWORD k = 0;
        while (k < dwPattern && pData[i + k] == pPattern[k])
            ++k;
        if (k == dwPattern)
            return pData + i;
    }
    return nullptr;
}
