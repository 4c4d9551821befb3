// The patch run of a rule set over an image po apply has not written yet,
// with the CNs the PO file gives its rules, so everything is known before the
// first file changes.
#pragma once

#include "scan/dry_run.h"

#include <map>
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
    std::vector<DryRule> failed;              // tried rules that change nothing, in the run's order
    std::vector<std::string> unsafe;          // writes that would break the image, in words
    std::vector<std::string> relocated;       // rules relocated, in words
    std::map<UINT, std::string> notRelocated; // rule number -> why its longer CN could not be relocated
};

// Runs the rules of wsRuleFile, their CNs replaced by writes, over image (the
// rule set itself is not written: the run reads a private copy of it). False
// with the reason when the copy cannot be made.
// With relocate, a CN longer than its EN is relocated as apply --relocate does.
bool RunRulesOver(const WString& wsRuleFile, const std::vector<RuleCnWrite>& writes, std::vector<BYTE> image,
                  PoRuleRun& run, std::string& sReason, bool relocate = false);
