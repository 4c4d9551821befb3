// The patch run of a rule set over an image po apply has not written yet,
// with the CNs the PO file gives its rules, so everything is known before the
// first file changes.
#pragma once

#include "scan/dry_run.h"

#include <string>
#include <vector>

struct RuleCnWrite
{
    UINT uRule;
    WString wsCn; // as stored: escape notation
};

struct PoRuleRun
{
    std::vector<BYTE> image; // the image as the run leaves it
    UINT uTried = 0, uModified = 0;
    std::vector<DryRule> failed;     // tried rules that change nothing, in the run's order
    std::vector<std::string> unsafe; // writes that would break the image, in words
};

// Runs the rules of wsRuleFile, their CNs replaced by writes, over image (the
// rule set itself is not written: the run reads a private copy of it). False
// with the reason when the copy cannot be made.
bool RunRulesOver(const WString& wsRuleFile, const std::vector<RuleCnWrite>& writes, std::vector<BYTE> image,
                  PoRuleRun& run, std::string& sReason);
