#include "cli/po_checks.h"

#include "cli/po_target.h"
#include "cli/text_checks.h"

#include <map>

std::string FormatFinding(const PoSource& source, const std::string& sTranslation)
{
    std::string sMismatch = FormatMismatch(source.sText, sTranslation);
    return sMismatch.empty() ? sMismatch : ShownSource(source) + ": " + sMismatch;
}

std::vector<std::string> FormatFindings(const std::vector<PoEntry>& entries,
                                        const std::vector<PoSource>& sources, bool fRules)
{
    std::map<std::string, const PoSource*> byContext;
    for (const PoSource& source : sources)
        byContext[source.sContext] = &source;
    std::vector<std::string> findings;
    for (const PoEntry& entry : entries)
    {
        if (!IsTranslated(entry) || (!fRules && IsRuleContext(entry.sContext)))
            continue;
        auto it = byContext.find(entry.sContext);
        if (it == byContext.end() || it->second->sText != entry.sId)
            continue;
        std::string sFinding = FormatFinding(*it->second, entry.strs[0]);
        if (!sFinding.empty())
            findings.push_back(sFinding);
    }
    return findings;
}
