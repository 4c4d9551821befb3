// A patch run that relocates what it cannot fit: the rules run as the patch
// run runs them, on a copy of the target, and each rule whose CN is longer
// than its EN is then written into a new section with its references moved.
#pragma once

#include "relocate/text_relocation.h"
#include "scan/dry_run.h"

#include <string>
#include <vector>

struct RelocatingRun
{
    DryRunResult dry;               // the rules as the patch run leaves them
    RelocationPlan plan;            // the rules of dry whose CN is longer, in their order
    std::vector<int> planOf;        // per rule of dry: its index in plan.rules, or -1
    std::vector<BYTE> image;        // the new file
    UINT uTried = 0, uModified = 0; // relocated rules count as modified
    std::string sNoImage;           // why nothing could be relocated (no PE image), else empty

    const RuleRelocation* RelocationOf(size_t iDryRule) const
    {
        return planOf[iDryRule] >= 0 ? &plan.rules[static_cast<size_t>(planOf[iDryRule])] : nullptr;
    }
};

// Runs the rule set over the cbTarget bytes at pTarget (which it leaves as
// they are). pMap, when given, judges every overwrite as the dry run does.
void RunRelocating(LPCWSTR wsRuleFile, const BYTE* pTarget, DWORD cbTarget, const CImageMap* pMap,
                   const FnDryProgress& fnProgress, RelocatingRun& run);
