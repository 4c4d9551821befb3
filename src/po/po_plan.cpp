#include "po/po_plan.h"

bool IsFuzzy(const PoEntry& entry)
{
    return entry.HasFlag("fuzzy");
}

bool IsRuleContext(const std::string& sContext)
{
    return sContext.compare(0, 5, "RULE ") == 0;
}

bool IsTranslated(const PoEntry& entry)
{
    return !entry.fObsolete && entry.fHasContext && !IsFuzzy(entry) && !entry.strs.empty() &&
           !entry.strs[0].empty();
}

std::string ShownQuoted(const std::string& sText)
{
    std::string sCut = sText;
    if (sCut.size() > 60)
    {
        size_t cut = 57;
        while (cut > 0 && (static_cast<unsigned char>(sCut[cut]) & 0xC0) == 0x80)
            --cut;
        sCut = sCut.substr(0, cut) + "...";
    }
    std::string sShown = "\"";
    for (char c : sCut)
        sShown += c == '\n' ? std::string("\\n") : c == '\t' ? std::string("\\t") : std::string(1, c);
    return sShown + "\"";
}

std::string ShownSource(const PoSource& source)
{
    return source.sContext + " " + ShownQuoted(source.sText);
}

std::string Plural(size_t n, const char* szOne, const char* szMany)
{
    return std::to_string(n) + " " + (n == 1 ? szOne : szMany);
}

PoMatches MatchPoEntries(const std::vector<PoEntry>& entries, const std::vector<PoSource>& sources,
                         bool fRules)
{
    std::map<std::string, const PoSource*> byContext;
    for (const PoSource& source : sources)
        byContext[source.sContext] = &source;
    PoMatches matches;
    for (const PoEntry& entry : entries)
    {
        if (entry.fObsolete || !entry.fHasContext)
            continue;
        if (!fRules && IsRuleContext(entry.sContext))
        {
            matches.ruleEntriesLeft.push_back(&entry);
            continue;
        }
        auto it = byContext.find(entry.sContext);
        const PoSource* pSource = it != byContext.end() ? it->second : nullptr;
        matches.entries.push_back({&entry, pSource, pSource != nullptr && pSource->sText == entry.sId});
    }
    return matches;
}

void PlanTranslations(const PoMatches& matches, ApplyPlan& plan)
{
    for (const PoEntry* pEntry : matches.ruleEntriesLeft)
        plan.cRulesLeft += IsTranslated(*pEntry) ? 1 : 0;
    for (const PoEntryMatch& match : matches.entries)
    {
        const PoEntry& entry = *match.pEntry;
        if (!IsTranslated(entry))
            continue;
        if (!match.matched)
        {
            plan.refused.push_back(entry.sContext + " " + ShownQuoted(entry.sId) + ": the target " +
                                   (match.pSource == nullptr
                                        ? std::string("has no text of that context")
                                        : "has " + ShownQuoted(match.pSource->sText) + " there"));
            continue;
        }
        const PoSource& source = *match.pSource;
        if (!source.rule)
        {
            plan.translations[source.sContext] = entry.strs[0];
            continue;
        }
        RuleCnWrite write = {source.uRule, WString()};
        std::string sReason;
        if (!RuleTranslation(source, entry.strs[0], write.wsCn, sReason))
        {
            plan.refused.push_back(ShownSource(source) + ": the translation " + sReason);
            continue;
        }
        plan.ruleWrites.push_back(write);
    }
}

namespace
{
// "MENU 1" of "MENU 1 / 0x0108".
std::string ResourceOfContext(const std::string& sContext)
{
    return sContext.substr(0, sContext.find(" / "));
}

// The resources this run rewrites and how many of their source texts stay
// untranslated, by entry.
std::map<size_t, size_t> UntranslatedByEntry(const std::vector<PoSource>& sources,
                                             const std::vector<TranslatedResource>& translated,
                                             const std::map<std::string, std::string>& translations)
{
    std::map<size_t, size_t> untranslated;
    for (const TranslatedResource& resource : translated)
        untranslated[resource.uEntry] = 0;
    for (const PoSource& source : sources)
        if (!source.rule && untranslated.count(source.uEntry) > 0 && translations.count(source.sContext) == 0)
            ++untranslated[source.uEntry];
    return untranslated;
}
} // namespace

void FindReplacedCopies(const std::vector<ResourceEntry>& entries, const std::vector<PoSource>& sources,
                        const std::vector<TranslatedResource>& translated, WORD wAs, ApplyPlan& plan,
                        std::vector<std::string>& lost, const FormSettings* pForms)
{
    std::map<size_t, size_t> untranslated = UntranslatedByEntry(sources, translated, plan.translations);
    std::map<size_t, std::string> names;
    for (const PoSource& source : sources)
        if (!source.rule)
            names.emplace(source.uEntry, ResourceOfContext(source.sContext));
    for (const TranslatedResource& resource : translated)
    {
        const ResourceEntry& source = entries[resource.uEntry];
        for (const ResourceEntry& entry : entries)
        {
            if (entry.wLang != wAs || !SameResource(entry, source))
                continue;
            std::vector<ResourceText> texts;
            std::string sReason;
            // A copy whose texts cannot be read may hold some: it counts as
            // one that loses them.
            const bool fRead = ListResourceTexts(entry, texts, sReason, pForms) != 0;
            const std::string sLine = names[resource.uEntry] + " (" + LanguageName(wAs) + ", " +
                                      Plural(texts.size(), "text", "texts") + ")";
            plan.replaced.push_back(sLine);
            if ((!texts.empty() || !fRead) && untranslated[resource.uEntry] > 0)
                lost.push_back(sLine + ": the new copy keeps " +
                               Plural(untranslated[resource.uEntry], "source text", "source texts") +
                               " the PO file does not translate");
        }
    }
}

void PlaceTranslations(std::vector<ResourceEntry>& entries, std::vector<TranslatedResource>& translated,
                       bool fAdd, WORD wAs)
{
    std::vector<ResourceEntry> added;
    for (TranslatedResource& resource : translated)
    {
        ResourceEntry& entry = entries[resource.uEntry];
        if (!fAdd)
        {
            entry.SetData(std::move(resource.data));
            continue;
        }
        ResourceEntry copy = entry;
        copy.wLang = wAs;
        copy.SetData(std::move(resource.data));
        added.push_back(copy);
    }
    for (ResourceEntry& copy : added)
    {
        bool replaced = false;
        for (ResourceEntry& entry : entries)
            if (entry.wLang == copy.wLang && SameResource(entry, copy))
            {
                entry = copy;
                replaced = true;
            }
        if (!replaced)
            entries.push_back(copy);
    }
}
