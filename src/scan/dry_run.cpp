#include "scan/dry_run.h"

#include "patch/find_bytes.h"
#include "patch/multi_search.h"
#include "patch/pe_test.h"
#include "patch/replace_text.h"
#include "port/profile_store.h"
#include "rules/escape.h"
#include "rules/rule_set.h"
#include "util/path.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace
{
const int kAnsiPathBytes = 360;

struct Span
{
    DWORD dwAt, cb;
    UINT uRule;
};

struct DryState
{
    LPCWSTR wsRuleFile;
    const char* szRuleFile; // null when the path has no exact ANSI form
    BYTE* pView;
    DWORD cbView;
    const BYTE* pOriginal; // the untouched target, as long as the view
    std::vector<Span> written;
    // The bytes written so far, as disjoint runs (start -> end): outside them
    // the view is the untouched target, which is then not read at all.
    std::map<DWORD, DWORD> changed;
    const CImageMap* pMap; // of the untouched target; null: writes are not judged
    bool fKeepLonger;
};

void AddChanged(std::map<DWORD, DWORD>& changed, DWORD dwAt, DWORD cb)
{
    DWORD dwStart = dwAt, dwEnd = dwAt + cb;
    auto it = changed.upper_bound(dwStart);
    if (it != changed.begin() && std::prev(it)->second >= dwStart)
        --it;
    while (it != changed.end() && it->first <= dwEnd)
    {
        dwStart = std::min(dwStart, it->first);
        dwEnd = std::max(dwEnd, it->second);
        it = changed.erase(it);
    }
    changed.emplace(dwStart, dwEnd);
}

bool TouchesChanged(const std::map<DWORD, DWORD>& changed, DWORD dwAt, DWORD cb)
{
    auto it = changed.lower_bound(dwAt + cb);
    return it != changed.begin() && std::prev(it)->second > dwAt;
}

// Every occurrence, overlapping ones too, as the search sees them.
UINT FindAll(const BYTE* pBytes, DWORD dwSize, const BYTE* pPattern, DWORD cb, std::vector<DWORD>* pFirst)
{
    UINT n = 0;
    for (DWORD dwFrom = 0; dwFrom < dwSize;)
    {
        const BYTE* pAt = SearchBytes(pBytes + dwFrom, dwSize - dwFrom, pPattern, cb);
        if (pAt == nullptr)
            break;
        DWORD dwAt = static_cast<DWORD>(pAt - pBytes);
        if (pFirst != nullptr && pFirst->size() < kShownOffsets)
            pFirst->push_back(dwAt);
        ++n;
        dwFrom = dwAt + 1;
    }
    return n;
}

void AddWriters(const DryState& run, DWORD dwAt, DWORD cb, std::vector<UINT>& rules)
{
    for (const Span& span : run.written)
        if (span.dwAt < dwAt + cb && dwAt < span.dwAt + span.cb &&
            std::find(rules.begin(), rules.end(), span.uRule) == rules.end())
            rules.push_back(span.uRule);
}

// The first kShownOffsets occurrences in the untouched target, as FindAll
// over it finds them: those clear of every write are in the view too, and
// the others lie in the untouched bytes around the writes.
void FindAllOriginal(const DryState& run, const BYTE* pPattern, DWORD cb, std::vector<DWORD>& first)
{
    first.clear();
    if (cb == 0)
        return;
    std::vector<DWORD> found;
    for (DWORD dwFrom = 0; dwFrom < run.cbView && found.size() < kShownOffsets;)
    {
        const BYTE* pAt = SearchBytes(run.pView + dwFrom, run.cbView - dwFrom, pPattern, cb);
        if (pAt == nullptr)
            break;
        DWORD dwAt = static_cast<DWORD>(pAt - run.pView);
        if (!TouchesChanged(run.changed, dwAt, cb))
            found.push_back(dwAt);
        dwFrom = dwAt + 1;
    }
    const DWORD cbReach = cb - 1;
    for (auto it = run.changed.begin(); it != run.changed.end();)
    {
        // Runs closer than a pattern's length share one window, so an
        // occurrence reaching into both is found once.
        DWORD dwStart = it->first > cbReach ? it->first - cbReach : 0;
        DWORD dwEnd = it->second;
        for (++it; it != run.changed.end() && it->first - dwEnd < cb; ++it)
            dwEnd = it->second;
        dwEnd = run.cbView - dwEnd > cbReach ? dwEnd + cbReach : run.cbView;
        std::vector<DWORD> nearby;
        FindAll(run.pOriginal + dwStart, dwEnd - dwStart, pPattern, cb, &nearby);
        for (DWORD dwAt : nearby)
            if (TouchesChanged(run.changed, dwStart + dwAt, cb))
                found.push_back(dwStart + dwAt);
    }
    std::sort(found.begin(), found.end());
    first.assign(found.begin(), found.begin() + std::min(found.size(), kShownOffsets));
}

template <typename Unit> bool PaddedEquals(const Unit* en, UINT lenEn, const Unit* cn, UINT lenCn)
{
    for (UINT i = 0; i < lenEn; ++i)
        if (en[i] != (i < lenCn ? cn[i] : Unit(0)))
            return false;
    return true;
}

DWORD ReplaceFrom(DryState& run, DWORD dwFrom, const WCHAR* en, UINT lenEn, const WCHAR* cn, UINT lenCn)
{
    return ReplaceTextFromW(run.pView, run.cbView, dwFrom, en, lenEn, cn, lenCn);
}
DWORD ReplaceFrom(DryState& run, DWORD dwFrom, const char* en, UINT lenEn, const char* cn, UINT lenCn)
{
    return ReplaceTextFromA(run.pView, run.cbView, dwFrom, en, lenEn, cn, lenCn);
}

// The run's replacement of one decoded rule: the lowest occurrence, or with
// REPEAT what replacing the lowest one again and again leaves (searching on
// just behind each overwrite gives the same, and one that changes nothing is
// not repeated).
template <typename Unit>
void Replace(DryState& run, DryRule& rule, const Unit* en, UINT lenEn, const Unit* cn, UINT lenCn)
{
    const DWORD cbEn = lenEn * static_cast<DWORD>(sizeof(Unit));
    const bool unchanging = PaddedEquals(en, lenEn, cn, lenCn);
    rule.uOccurrences =
        FindAll(run.pView, run.cbView, reinterpret_cast<const BYTE*>(en), cbEn, &rule.occurrenceAt);
    for (DWORD dwFrom = 0;;)
    {
        DWORD dwAt = ReplaceFrom(run, dwFrom, en, lenEn, cn, lenCn);
        if (dwAt == kNoOccurrence)
            break;
        ++rule.uOverwrites;
        if (rule.offsets.size() < kShownOffsets)
            rule.offsets.push_back(dwAt);
        if (std::memcmp(run.pOriginal + dwAt, en, cbEn) != 0)
        {
            if (rule.createdAt.size() < kShownOffsets)
                rule.createdAt.push_back(dwAt);
            AddWriters(run, dwAt, cbEn, rule.changedBy);
        }
        run.written.push_back({dwAt, cbEn, rule.number});
        AddChanged(run.changed, dwAt, cbEn);
        UnsafeWrite unsafe;
        if (run.pMap != nullptr && JudgeWrite(*run.pMap, run.pView, run.cbView, dwAt,
                                              reinterpret_cast<const BYTE*>(en), cbEn, unsafe))
            rule.unsafe.push_back(unsafe);
        if (!rule.repeat || unchanging)
            break;
        dwFrom = dwAt > cbEn - 1 ? dwAt - (cbEn - 1) : 0;
    }
    if (rule.uOverwrites > 0)
    {
        rule.outcome = kDryChanges;
        return;
    }
    rule.outcome = kDryNotFound;
    FindAllOriginal(run, reinterpret_cast<const BYTE*>(en), cbEn, rule.originalAt);
    for (DWORD dwAt : rule.originalAt)
        AddWriters(run, dwAt, cbEn, rule.changedBy);
}

// Decodes and tests the rule as the run does; the texts are in the buffers.
template <typename Unit>
void ApplyDecoded(DryState& run, DryRule& rule, Unit* en, Unit* cn, UINT lenEn, UINT lenCn)
{
    rule.cbEn = lenEn * static_cast<DWORD>(sizeof(Unit));
    rule.cbCn = lenCn * static_cast<DWORD>(sizeof(Unit));
    if (lenEn < lenCn || (en[0] == 0) != (cn[0] == 0))
    {
        rule.outcome = lenEn < lenCn ? kDryCnLonger : kDryZeroOneSide;
        if (run.fKeepLonger && rule.outcome == kDryCnLonger)
        {
            // Found after the run, all such rules in one pass.
            const BYTE* pEn = reinterpret_cast<const BYTE*>(en);
            const BYTE* pCn = reinterpret_cast<const BYTE*>(cn);
            rule.enBytes.assign(pEn, pEn + rule.cbEn);
            rule.cnBytes.assign(pCn, pCn + rule.cbCn);
            rule.uWritesBefore = run.written.size();
            return;
        }
        rule.uOccurrences =
            FindAll(run.pView, run.cbView, reinterpret_cast<const BYTE*>(en), rule.cbEn, &rule.offsets);
        return;
    }
    Replace(run, rule, en, lenEn, cn, lenCn);
}

// One rule as the run processes it; false where the rules end.
bool DryRule1(DryState& run, UINT uNumber, PatchRule& texts, bool pe64, DryRunResult& result)
{
    if (!ReadRuleAsRun(run.wsRuleFile, run.szRuleFile, uNumber, texts))
        return false;
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, uNumber);
    char* szEn = reinterpret_cast<char*>(texts.wsEn);
    char* szCn = reinterpret_cast<char*>(texts.wsCn);

    DryRule rule = {};
    rule.number = uNumber;
    rule.x86 = texts.x86;
    rule.x64 = texts.x64;
    rule.unicode = texts.unicode;
    rule.repeat = texts.repeat;
    WCHAR wsStored[kTextChars];
    GetPrivateProfileStringW(wsNode, KEY_EN, W(""), wsStored, kTextChars, run.wsRuleFile);
    rule.wsEn = wsStored;
    GetPrivateProfileStringW(wsNode, KEY_CN, W(""), wsStored, kTextChars, run.wsRuleFile);
    rule.wsCn = wsStored;
    if (!(pe64 ? rule.x64 : rule.x86))
        rule.outcome = kDryOtherBitness;
    else
    {
        ++result.uTried;
        if (rule.unicode)
        {
            UINT lenEn = UnescapeTextW(texts.wsEn);
            UINT lenCn = UnescapeTextW(texts.wsCn);
            ApplyDecoded(run, rule, texts.wsEn, texts.wsCn, lenEn, lenCn);
        }
        else
        {
            UINT lenEn = UnescapeTextA(szEn);
            UINT lenCn = UnescapeTextA(szCn);
            ApplyDecoded(run, rule, szEn, szCn, lenEn, lenCn);
        }
        if (rule.outcome == kDryChanges)
            ++result.uModified;
    }
    result.rules.push_back(rule);
    return true;
}

bool Overlaps(const Span& span, DWORD dwAt, DWORD cb)
{
    return span.dwAt < dwAt + cb && dwAt < span.dwAt + span.cb;
}

// Whether [dwAt, dwAt + cb) meets one of the writes [uFrom, uTo).
bool MeetsWrites(const DryState& run, size_t uFrom, size_t uTo, DWORD dwAt, DWORD cb)
{
    for (size_t i = uFrom; i < uTo; ++i)
        if (Overlaps(run.written[i], dwAt, cb))
            return true;
    return false;
}

// Where each kept rule's EN lay when the rule was tried: the occurrences of
// the untouched target that no earlier write met, and those the earlier
// writes made (as the finished view holds them, unless a later write met
// them too). One pass over the untouched target serves every rule.
void LocateLonger(const DryState& run, DryRunResult& result)
{
    std::vector<SearchPattern> patterns;
    std::vector<DryRule*> kept;
    for (DryRule& rule : result.rules)
        if (rule.outcome == kDryCnLonger && !rule.enBytes.empty())
        {
            patterns.push_back({rule.enBytes.data(), rule.cbEn});
            kept.push_back(&rule);
        }
    if (kept.empty())
        return;
    std::vector<std::vector<DWORD>> hits;
    FindEveryPattern(run.pOriginal, run.cbView, patterns, hits);
    for (size_t k = 0; k < kept.size(); ++k)
    {
        DryRule& rule = *kept[k];
        const size_t uBefore = rule.uWritesBefore;
        std::vector<DWORD> at;
        for (DWORD dwAt : hits[k])
            if (!MeetsWrites(run, 0, uBefore, dwAt, rule.cbEn))
                at.push_back(dwAt);
        for (size_t w = 0; w < uBefore; ++w)
        {
            const Span& span = run.written[w];
            const DWORD dwFrom = span.dwAt > rule.cbEn - 1 ? span.dwAt - (rule.cbEn - 1) : 0;
            const DWORD dwTo = std::min<DWORD>(run.cbView, span.dwAt + span.cb + rule.cbEn - 1);
            std::vector<DWORD> nearby;
            FindAll(run.pView + dwFrom, dwTo - dwFrom, rule.enBytes.data(), rule.cbEn, &nearby);
            for (DWORD dwNear : nearby)
                if (!MeetsWrites(run, uBefore, run.written.size(), dwFrom + dwNear, rule.cbEn))
                    at.push_back(dwFrom + dwNear);
        }
        std::sort(at.begin(), at.end());
        at.erase(std::unique(at.begin(), at.end()), at.end());
        rule.uOccurrences = static_cast<UINT>(at.size());
        rule.offsets.assign(at.begin(), at.begin() + std::min(at.size(), kShownOffsets));
        // Texts one after the other, as a REPEAT run would take them.
        for (DWORD dwAt : at)
            if (rule.longerAt.empty() || dwAt >= rule.longerAt.back() + rule.cbEn)
            {
                rule.longerAt.push_back(dwAt);
                if (!rule.repeat)
                    break;
            }
    }
}
} // namespace

void DryRunPatch(LPCWSTR wsRuleFile, BYTE* pView, DWORD cbView, const BYTE* pOriginal, DryRunResult& result,
                 const FnDryProgress& fnProgress, const CImageMap* pMap, bool fKeepLonger)
{
    result = DryRunResult();
    result.pe64 = IsPe64(pView, cbView) != 0;
    char szRuleFile[kAnsiPathBytes];
    bool exact = GetExactAnsiPath(wsRuleFile, szRuleFile, kAnsiPathBytes);
    DryState run = {wsRuleFile, exact ? szRuleFile : nullptr, pView, cbView, pOriginal, {}, {}, pMap,
                    fKeepLonger};
    std::unique_ptr<PatchRule> pTexts(new PatchRule);
    profile_store::SnapshotScope snapshot; // one version of the set, as the run reads it
    for (UINT n = 1; DryRule1(run, n, *pTexts, result.pe64, result); ++n)
        fnProgress(n);
    if (fKeepLonger)
        LocateLonger(run, result);
}
