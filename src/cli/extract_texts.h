// The texts extract finds in a target and the rule set it writes of them, so
// that its own tests and fuzz target run the very code the command runs.
#pragma once

#include "cli/cli_output.h"
#include "cli/cli_text.h"
#include "cli/pe_image.h"

#include <string>
#include <vector>

struct Candidate
{
    DWORD dwOffset;
    bool unicode;
    std::string bytes; // as they stand in the target
    UINT uChars;
    WString wsEn;       // escaped, as the rule stores it
    UINT uOccurrences;  // runs found with the same bytes
    DWORD dwFirstMatch; // where the run's search finds them first; kNotSearched past the budget
};

const DWORD kNotSearched = 0xFFFFFFFFu;

struct ExtractScope
{
    std::string sSection; // empty: every section but the headers
    bool allSections;     // the headers too
    unsigned uMinChars;
};

// The candidate texts of the view in offset order, each once; uTooLong counts
// those left out because a stored EN cannot hold them whole (2047 units in the
// rule's own unit: characters for UTF-16, bytes of the ANSI read for ANSI).
void FindTexts(const BYTE* pView, DWORD dwSize, const PeImage& image, const ExtractScope& scope,
               CProgress& progress, std::vector<Candidate>& texts, UINT& uTooLong);

// A new rule-set file, UTF-16LE with FF FE: FILE, then one rule per text.
std::string RuleSetFileText(const WString& wsTarget, const std::vector<Candidate>& texts);
