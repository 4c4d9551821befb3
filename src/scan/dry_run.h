// What a patch run would do to a target, worked out on a copy of its bytes
// with the patch engine's own reads, decoding, end rule and replacements, in
// the run's order, so a rule sees what the rules before it left.
#pragma once

#include "scan/write_safety.h"
#include "util/wstring.h"

#include <functional>
#include <vector>

enum DryOutcome
{
    kDryChanges,      // at least one occurrence overwritten
    kDryOtherBitness, // passed over: not counted, not logged
    kDryNotFound,
    kDryCnLonger,
    kDryZeroOneSide // the first decoded unit is zero in EN or CN, not in both
};

const size_t kShownOffsets = 8;

struct DryRule
{
    UINT number;
    WString wsEn, wsCn; // as stored, by the wide read
    bool x86, x64, unicode, repeat;
    DryOutcome outcome;
    DWORD cbEn, cbCn;                // decoded, in bytes
    UINT uOverwrites;                // occurrences the run overwrites, REPEAT counted
    UINT uOccurrences;               // occurrences of EN in the target as the earlier rules left it
    std::vector<DWORD> offsets;      // the first of them (overwritten ones for kDryChanges)
    std::vector<DWORD> occurrenceAt; // kDryChanges: the first occurrences, before any overwrite
    std::vector<DWORD> originalAt;   // not found: where the untouched target holds EN
    std::vector<UINT> changedBy;     // earlier rules whose writes removed or made those occurrences
    std::vector<DWORD> createdAt;    // overwritten occurrences the untouched target does not hold
    std::vector<UnsafeWrite> unsafe; // every write that would break the image, in the run's order
    // kDryCnLonger, when the run was asked to keep them: the decoded texts
    // and where EN lies when the rule is tried (the lowest occurrence, every
    // one clear of the others with REPEAT), for a relocation.
    std::vector<BYTE> enBytes, cnBytes;
    std::vector<DWORD> longerAt;
    size_t uWritesBefore = 0; // the run's overwrites before this rule
};

struct DryRunResult
{
    bool pe64;
    UINT uTried, uModified;
    std::vector<DryRule> rules;
};

typedef std::function<void(UINT uRule)> FnDryProgress;

// Applies the rule set to the cbView bytes at pView (a copy of the target's
// bytes, a copy-on-write view of it for a large one, changed in place as the
// run would change the file) and tells what happened to each listed rule;
// pOriginal holds the untouched bytes, as many as the view, and is read only
// around the bytes the rules change. With the map of the untouched image,
// each write is judged by it.
void DryRunPatch(LPCWSTR wsRuleFile, BYTE* pView, DWORD cbView, const BYTE* pOriginal, DryRunResult& result,
                 const FnDryProgress& fnProgress, const CImageMap* pMap = nullptr, bool fKeepLonger = false);
