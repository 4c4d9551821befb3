#include "po/po_checks.h"

#include "po/po_plan.h"
#include "po/text_checks.h"

std::string FormatFinding(const PoSource& source, const std::string& sTranslation)
{
    std::string sMismatch = FormatMismatch(source.sText, sTranslation);
    return sMismatch.empty() ? sMismatch : ShownSource(source) + ": " + sMismatch;
}

std::vector<std::string> FormatFindings(const std::vector<PoEntry>& entries,
                                        const std::vector<PoSource>& sources, bool fRules)
{
    std::vector<std::string> findings;
    for (const PoEntryMatch& match : MatchPoEntries(entries, sources, fRules).entries)
    {
        if (!match.matched || !IsTranslated(*match.pEntry))
            continue;
        std::string sFinding = FormatFinding(*match.pSource, match.pEntry->strs[0]);
        if (!sFinding.empty())
            findings.push_back(sFinding);
    }
    return findings;
}
