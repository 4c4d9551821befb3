// The texts extract finds in a target and the rule set it writes of them, so
// that its own tests and fuzz target run the very code the command runs.
#pragma once

#include "image/image_map.h"
#include "util/wstring.h"

#include <functional>
#include <string>
#include <vector>

// Where a candidate lies, in the terms a translator weighs it by.
enum ExtractRegion
{
    kRegionCode,
    kRegionData,
    kRegionResources,
    kRegionNames, // import and export names
    kRegionDebug,
    kRegionOther, // headers, relocations, other directories, outside the sections
    kRegionCount
};

// "code", "data", "resources", "imports/exports", "debug", "other".
const char* RegionName(ExtractRegion region);
ExtractRegion RegionAt(const CImageMap& image, DWORD dwOffset);

struct Candidate
{
    DWORD dwOffset;
    bool unicode;
    bool resource;      // one whole text of a menu, dialog, string table, ...
    std::string sLabel; // what the map says the first byte is
    ExtractRegion region;
    std::string bytes; // as they stand in the target
    UINT uChars;
    WString wsEn;       // escaped, as the rule stores it
    UINT uOccurrences;  // runs found with the same bytes
    DWORD dwFirstMatch; // where the run's search finds them first; kNotSearched past the budget
    bool firstIsCopy;   // there, as a whole text of its own rather than inside a longer one
};

const DWORD kNotSearched = 0xFFFFFFFFu;

struct ExtractScope
{
    std::string sSection; // empty: every section but the headers
    bool allSections;     // the headers too
    unsigned uMinChars;   // of texts found outside resources
    std::string sLang;    // empty: resource texts of every language
};

// The candidate texts of the view in offset order: every text of a resource
// that holds texts, and each other text once; uTooLong counts
// those left out because a stored EN cannot hold them whole (2047 units in the
// rule's own unit: characters for UTF-16, bytes of the ANSI read for ANSI).
// fnProgress hears how far the scan is, and what it does there.
typedef std::function<void(unsigned long long uDone, unsigned long long uTotal, const char* szWhat)>
    FnScanProgress;
void FindTexts(const BYTE* pView, DWORD dwSize, const CImageMap& image, const ExtractScope& scope,
               const FnScanProgress& fnProgress, std::vector<Candidate>& texts, UINT& uTooLong);

// The texts a rule set gets: each EN once, resource texts only when asked for.
std::vector<Candidate> RuleSetTexts(const std::vector<Candidate>& texts, bool resources);

// What a translator must know before writing CN for a resource text.
extern const char* const kResourceRuleWarning;

// A new rule-set file, UTF-16LE with FF FE: FILE, then one rule per text,
// each resource text's with a comment line naming it.
std::string RuleSetFileText(const WString& wsTarget, const std::vector<Candidate>& texts);
