// What a relocating run does with a rule whose CN is longer than its EN, in
// words and as JSON: shared by check --relocate and apply --relocate.
#pragma once

#include "cli/cli_report.h"
#include "relocate/relocation_run.h"

#include <string>

// The lines under a rule: where the new text goes and every reference moved
// there, or why the rule cannot be relocated. headers: the target as read.
std::string RelocationText(const PeHeaders& headers, const RelocationPlan& plan, const RuleRelocation& rule);
Json RelocationJson(const PeHeaders& headers, const RelocationPlan& plan, const RuleRelocation& rule);
// Where the references were looked for, once per target: by scanning, and
// how much 64-bit code the walk reached. Empty when nothing was relocated.
std::string RelocationScopeText(const RelocationPlan& plan, const char* szIndent);
// "relocated" or the reason, in one line, for apply's summary.
std::string RelocationSummary(const RuleRelocation& rule);
