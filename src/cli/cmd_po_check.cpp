#include "cli/cli_output.h"
#include "cli/po_checks.h"
#include "cli/po_target.h"
#include "cli/text_checks.h"

namespace
{
struct Findings
{
    std::vector<std::string> untranslated, fuzzy, gone, accelerators, formats, lineBreaks, charset, budgets,
        unwritable;
    // Notes, not problems: clashes the source texts already have, and
    // translations that are their letter-bearing source unchanged.
    std::vector<std::string> inherited, unchanged;
};

std::string Counted(size_t c, const char* szOne, const char* szMany)
{
    return std::to_string(c) + " " + (c == 1 ? szOne : szMany);
}

// Two texts a user picks among by the same key: the letters after '&' in one
// popup level or one dialog, as they would stand after the translation.
void CheckAccelerators(const std::vector<PoSource>& sources,
                       const std::map<std::string, std::string>& translations, Findings& findings)
{
    std::map<std::string, std::map<std::string, std::vector<const PoSource*>>> byGroup;
    for (const PoSource& source : sources)
    {
        if (source.rule || source.sGroup.empty())
            continue;
        auto it = translations.find(source.sContext);
        const std::string& sText = it != translations.end() ? it->second : source.sText;
        std::string sKey = AcceleratorKey(sText);
        if (it != translations.end() && sKey.empty() && !AcceleratorKey(source.sText).empty())
            findings.accelerators.push_back(ShownSource(source) +
                                            ": the translation has no '&' key, the source has &" +
                                            AcceleratorKey(source.sText));
        if (!sKey.empty())
            byGroup[source.sGroup][sKey].push_back(&source);
    }
    for (const auto& group : byGroup)
        for (const auto& key : group.second)
        {
            bool translated = false;
            for (const PoSource* pSource : key.second)
                translated = translated || translations.count(pSource->sContext) > 0;
            if (key.second.size() < 2 || !translated)
                continue;
            std::string s = group.first + ": &" + key.first + " on";
            bool inherited = true;
            for (const PoSource* pSource : key.second)
            {
                inherited = inherited && AcceleratorKey(pSource->sText) == key.first;
                auto it = translations.find(pSource->sContext);
                s += " " + pSource->sContext + " " +
                     ShownQuoted(it != translations.end() ? it->second : pSource->sText);
            }
            (inherited ? findings.inherited : findings.accelerators).push_back(s);
        }
}

void AppendList(std::string& s, const std::string& sTitle, const std::vector<std::string>& lines)
{
    if (lines.empty())
        return;
    s += sTitle + " (" + std::to_string(lines.size()) + "):\n";
    for (const std::string& sLine : lines)
        s += "  " + sLine + "\n";
}
} // namespace

int RunPoCheck(const CliContext& cli, const PoOptions& options)
{
    PoTranslations po;
    int exitCode = kExitDone;
    if (!LoadPoFile(cli, options.wsPo, po, exitCode))
        return exitCode;
    PoTarget target;
    const std::string sLang = !options.wsLang.empty() ? ToUtf8(options.wsLang) : po.sSourceLanguage;
    if (!LoadPoTarget(cli, options, sLang, target, exitCode))
        return exitCode;

    Findings findings;
    std::map<std::string, const PoSource*> byContext;
    for (const PoSource& source : target.sources)
        byContext[source.sContext] = &source;
    std::map<std::string, std::string> translations;
    std::map<std::string, bool> inPo;
    size_t cEntries = 0, cTranslated = 0;
    for (const PoEntry& entry : po.entries)
    {
        if (entry.fObsolete || !entry.fHasContext ||
            (options.wsRuleSet.empty() && IsRuleContext(entry.sContext)))
            continue;
        ++cEntries;
        auto it = byContext.find(entry.sContext);
        if (it == byContext.end() || it->second->sText != entry.sId)
        {
            findings.gone.push_back(entry.sContext + " " + ShownQuoted(entry.sId) +
                                    (it == byContext.end()
                                         ? std::string()
                                         : " (the target now has " + ShownQuoted(it->second->sText) + ")"));
            continue;
        }
        const PoSource& source = *it->second;
        inPo[source.sContext] = true;
        if (IsFuzzy(entry))
        {
            findings.fuzzy.push_back(ShownSource(source));
            continue;
        }
        if (!IsTranslated(entry))
        {
            findings.untranslated.push_back(ShownSource(source));
            continue;
        }
        ++cTranslated;
        const std::string& sTranslation = entry.strs[0];
        translations[source.sContext] = sTranslation;
        std::string sFinding = FormatFinding(source, sTranslation);
        if (!sFinding.empty())
            findings.formats.push_back(sFinding);
        std::string sBreaks = LineBreakMismatch(source.sText, sTranslation);
        if (!sBreaks.empty())
            findings.lineBreaks.push_back(ShownSource(source) + ": " + sBreaks);
        std::string sLacks = options.uCharset != 0 ? CodePageLacks(sTranslation, options.uCharset) : "";
        if (!sLacks.empty())
            findings.charset.push_back(ShownSource(source) + ": " + ShownQuoted(sLacks));
        if (sTranslation == source.sText && NeedsTranslation(source.sText))
            findings.unchanged.push_back(ShownSource(source));
        WString wsCn;
        std::string sReason;
        if (source.rule && !RuleTranslation(source, sTranslation, wsCn, sReason))
            findings.budgets.push_back(ShownSource(source) + ": the translation " + sReason);
    }
    for (const PoSource& source : target.sources)
        if (!inPo.count(source.sContext))
            findings.untranslated.push_back(ShownSource(source) + " (not in the PO file)");
    CheckAccelerators(target.sources, translations, findings);
    std::vector<TranslatedResource> translated;
    TranslateSources(target.entries, target.sources, translations, translated, findings.unwritable);

    std::string s = ShownPath(options.wsTarget) + ", " + ShownPath(options.wsPo) + ": " +
                    Counted(cEntries, "entry", "entries") + ", " + std::to_string(cTranslated) +
                    " translated, " + std::to_string(findings.fuzzy.size()) + " fuzzy, " +
                    std::to_string(findings.untranslated.size()) + " untranslated\n";
    AppendList(s, "untranslated", findings.untranslated);
    AppendList(s, "fuzzy", findings.fuzzy);
    AppendList(s, "no longer in the target", findings.gone);
    AppendList(s, "accelerator keys", findings.accelerators);
    AppendList(s, "format specifiers", findings.formats);
    AppendList(s, "line breaks", findings.lineBreaks);
    AppendList(s, "characters code page " + std::to_string(options.uCharset) + " lacks", findings.charset);
    AppendList(s, "over the byte budget", findings.budgets);
    AppendList(s, "cannot be written into the image", findings.unwritable);
    AppendList(s, "note: accelerator keys the source texts share already", findings.inherited);
    AppendList(s, "note: the same as the source text", findings.unchanged);
    for (const std::string& sProblem : target.problems)
        s += "note: " + sProblem + "\n";
    size_t cProblems = findings.gone.size() + findings.accelerators.size() + findings.formats.size() +
                       findings.lineBreaks.size() + findings.charset.size() + findings.budgets.size() +
                       findings.unwritable.size();
    s += cProblems == 0 ? "no problems found\n" : Counted(cProblems, "problem", "problems") + " found\n";
    WriteOut(s);
    return cProblems == 0 ? kExitDone : kExitRulesFailed;
}
