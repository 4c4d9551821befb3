#include "patch/replace_text.h"

#include "patch/find_bytes.h"
#include "rules/rule_files.h"
#include "util/path.h"

#include <cstring>
#include <new>

namespace
{
void PlaceText(WCHAR* pScratch, const WCHAR* wsCn, UINT lenCn)
{
    CopyWideChars(pScratch, wsCn, lenCn);
}
void PlaceText(char* pScratch, const char* szCn, UINT lenCn)
{
    std::memcpy(pScratch, szCn, lenCn);
}
void PlaceText(BYTE* pScratch, const BYTE* pCn, UINT cbCn)
{
    if (cbCn > 0) // an empty CN may come without bytes
        std::memcpy(pScratch, pCn, cbCn);
}

// The longest EN each form takes: what a decoded text can be, so that EN fits
// the scratch block.
template <typename Unit> UINT MaxUnits()
{
    return kTextChars;
}
template <> UINT MaxUnits<BYTE>()
{
    return kTextBytes;
}

template <typename Unit>
DWORD ReplaceFrom(BYTE* pView, DWORD dwSize, DWORD dwFrom, const Unit* en, UINT lenEn, const Unit* cn,
                  UINT lenCn)
{
    // A decoded text is at most kTextChars-1 units, so EN fits the scratch
    // block; anything else is refused rather than written past it.
    if (lenCn > lenEn || lenEn > MaxUnits<Unit>() || dwFrom >= dwSize)
        return kNoOccurrence;
    const DWORD cbEn = lenEn * static_cast<DWORD>(sizeof(Unit));
    const BYTE* pAt = SearchBytes(pView + dwFrom, dwSize - dwFrom, reinterpret_cast<const BYTE*>(en), cbEn);
    if (pAt == nullptr)
        return kNoOccurrence;
    Unit* pScratch = new (std::nothrow) Unit[MaxUnits<Unit>()]();
    if (pScratch == nullptr)
        return kNoOccurrence;
    PlaceText(pScratch, cn, lenCn);
    DWORD dwAt = static_cast<DWORD>(pAt - pView);
    std::memcpy(pView + dwAt, pScratch, cbEn);
    delete[] pScratch;
    return dwAt;
}

template <typename Unit> bool PaddedEquals(const Unit* en, UINT lenEn, const Unit* cn, UINT lenCn)
{
    for (UINT i = 0; i < lenEn; ++i)
        if (en[i] != (i < lenCn ? cn[i] : Unit(0)))
            return false;
    return true;
}

// An overwrite at p changes only [p, p + cbEn); every occurrence that starts
// lower than p - cbEn + 1 lies wholly in bytes that held no occurrence before
// p, so the next lowest occurrence starts there or later. Searching on from
// that point gives what a search from the start would. Each overwrite that
// changes bytes moves the view strictly up or strictly down in byte order
// (the first byte where CN differs from EN decides which), so the view never
// repeats and the loop ends; only an overwrite that changes nothing would
// repeat forever, and that is stopped at once.
template <typename Unit>
UINT ReplaceEvery(BYTE* pView, DWORD dwSize, const Unit* en, UINT lenEn, const Unit* cn, UINT lenCn)
{
    const bool unchanging = PaddedEquals(en, lenEn, cn, lenCn);
    const DWORD cbBack = lenEn * static_cast<DWORD>(sizeof(Unit)) - 1;
    UINT uCount = 0;
    DWORD dwFrom = 0;
    for (;;)
    {
        DWORD dwAt = ReplaceFrom(pView, dwSize, dwFrom, en, lenEn, cn, lenCn);
        if (dwAt == kNoOccurrence)
            break;
        ++uCount;
        if (unchanging)
            break;
        dwFrom = dwAt > cbBack ? dwAt - cbBack : 0;
    }
    return uCount;
}
} // namespace

DWORD ReplaceTextFromW(BYTE* pView, DWORD dwSize, DWORD dwFrom, const WCHAR* wsEn, UINT lenEn,
                       const WCHAR* wsCn, UINT lenCn)
{
    return ReplaceFrom(pView, dwSize, dwFrom, wsEn, lenEn, wsCn, lenCn);
}

DWORD ReplaceTextFromA(BYTE* pView, DWORD dwSize, DWORD dwFrom, const char* szEn, UINT lenEn,
                       const char* szCn, UINT lenCn)
{
    return ReplaceFrom(pView, dwSize, dwFrom, szEn, lenEn, szCn, lenCn);
}

int ReplaceTextW(BYTE* pView, DWORD dwSize, const WCHAR* wsEn, UINT lenEn, const WCHAR* wsCn, UINT lenCn)
{
    return ReplaceFrom(pView, dwSize, 0, wsEn, lenEn, wsCn, lenCn) != kNoOccurrence ? 1 : 0;
}

int ReplaceTextA(BYTE* pView, DWORD dwSize, const char* szEn, UINT lenEn, const char* szCn, UINT lenCn)
{
    return ReplaceFrom(pView, dwSize, 0, szEn, lenEn, szCn, lenCn) != kNoOccurrence ? 1 : 0;
}

UINT ReplaceEveryW(BYTE* pView, DWORD dwSize, const WCHAR* wsEn, UINT lenEn, const WCHAR* wsCn, UINT lenCn)
{
    return ReplaceEvery(pView, dwSize, wsEn, lenEn, wsCn, lenCn);
}

UINT ReplaceEveryA(BYTE* pView, DWORD dwSize, const char* szEn, UINT lenEn, const char* szCn, UINT lenCn)
{
    return ReplaceEvery(pView, dwSize, szEn, lenEn, szCn, lenCn);
}

DWORD ReplaceBytesFrom(BYTE* pView, DWORD dwSize, DWORD dwFrom, const BYTE* pEn, DWORD cbEn, const BYTE* pCn,
                       DWORD cbCn)
{
    return ReplaceFrom(pView, dwSize, dwFrom, pEn, cbEn, pCn, cbCn);
}

UINT ReplaceEveryBytes(BYTE* pView, DWORD dwSize, const BYTE* pEn, DWORD cbEn, const BYTE* pCn, DWORD cbCn)
{
    return ReplaceEvery(pView, dwSize, pEn, cbEn, pCn, cbCn);
}
