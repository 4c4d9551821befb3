// What a PO file's entries are to a target: each weighed against the source
// text of its context, once for po check and po apply alike, and what apply
// then makes of the translations before it writes anything.
#pragma once

#include "po/po_file.h"
#include "po/po_rule_run.h"
#include "po/po_sources.h"

#include <map>
#include <string>
#include <vector>

// Whether an entry carries a translation to use: not the header, not
// obsolete, not fuzzy, with a context and a non-empty msgstr.
bool IsTranslated(const PoEntry& entry);
bool IsFuzzy(const PoEntry& entry);
// "RULE 012": a rule's text, which only a command given the rule set covers.
bool IsRuleContext(const std::string& sContext);

// A text for a message line, quoted, with line breaks and tabs as escapes and
// a long one cut; and "MENU 1 / 0x0108 \"&File\"", a source text so named.
std::string ShownQuoted(const std::string& sText);
std::string ShownSource(const PoSource& source);

struct PoEntryMatch
{
    const PoEntry* pEntry;
    // The target's text of the entry's context; null when it has none.
    const PoSource* pSource;
    // The target still holds the entry's msgid there, so its translation goes
    // nowhere else (a PO file made for another build cannot misplace a text).
    bool matched;
};

struct PoMatches
{
    // The live entries with a context, in the file's order; rule texts only
    // when the command was given the rule set.
    std::vector<PoEntryMatch> entries;
    // The rule texts of a command given no rule set.
    std::vector<const PoEntry*> ruleEntriesLeft;
};

PoMatches MatchPoEntries(const std::vector<PoEntry>& entries, const std::vector<PoSource>& sources,
                         bool fRules);

// What one po apply run found before it writes anything.
struct ApplyPlan
{
    std::map<std::string, std::string> translations; // resource texts by context
    std::vector<RuleCnWrite> ruleWrites;
    std::vector<std::string> refused;  // translations that cannot go in, with the reason
    std::vector<std::string> replaced; // copies in the --as language the new ones replace
    size_t cRulesLeft = 0;
    size_t cChanged = 0; // resources rewritten
};

// Each translated entry, sorted into resource texts and rule CNs, or refused
// with the reason.
void PlanTranslations(const PoMatches& matches, ApplyPlan& plan);

// With --as (wAs), the copies in that language that the translated ones
// replace, into plan.replaced; those that would lose texts, in lost: a copy
// loses its texts when the new one keeps source texts the PO file leaves
// untranslated.
void FindReplacedCopies(const std::vector<ResourceEntry>& entries, const std::vector<PoSource>& sources,
                        const std::vector<TranslatedResource>& translated, WORD wAs, ApplyPlan& plan,
                        std::vector<std::string>& lost, const FormSettings* pForms = nullptr);

// The translated resources replace their originals, or with fAdd are added
// (or replace an earlier copy) in language wAs beside them.
void PlaceTranslations(std::vector<ResourceEntry>& entries, std::vector<TranslatedResource>& translated,
                       bool fAdd, WORD wAs);

// "1 text", "2 texts".
std::string Plural(size_t n, const char* szOne, const char* szMany);
