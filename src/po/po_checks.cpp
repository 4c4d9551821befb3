#include "po/po_checks.h"

#include "po/po_plan.h"
#include "po/text_checks.h"

bool FormatsKept(const PoSource& source, const std::string& sTranslation, std::string& sReason)
{
    if (FormatsAgree(source.sText, sTranslation, sReason))
        return true;
    sReason = ShownSource(source) + ": " + sReason;
    return false;
}

std::vector<std::string> FormatFindings(const std::vector<PoEntry>& entries,
                                        const std::vector<PoSource>& sources, bool fRules)
{
    std::vector<std::string> findings;
    for (const PoEntryMatch& match : MatchPoEntries(entries, sources, fRules).entries)
    {
        if (!match.matched || !IsTranslated(*match.pEntry))
            continue;
        std::string sFinding;
        if (!FormatsKept(*match.pSource, match.pEntry->strs[0], sFinding))
            findings.push_back(sFinding);
    }
    return findings;
}
