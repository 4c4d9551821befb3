#include "cli/cli_output.h"
#include "cli/cli_report.h"
#include "cli/commands.h"
#include "cli/po_target.h"
#include "po/po_checks.h"
#include "po/po_fit.h"
#include "po/po_plan.h"
#include "po/text_checks.h"

#include <algorithm>

namespace
{
struct Findings
{
    std::vector<std::string> untranslated, fuzzy, gone, accelerators, formats, lineBreaks, charset, budgets,
        unwritable, fonts, clipped;
    DialogFitFindings fits;
    // Notes, not problems: clashes the source texts already have, and
    // translations that are their letter-bearing source unchanged.
    std::vector<std::string> inherited, unchanged;
    std::map<std::string, std::string> translations; // by context
    size_t cEntries = 0, cTranslated = 0;
    size_t Problems() const
    {
        return gone.size() + accelerators.size() + formats.size() + lineBreaks.size() + charset.size() +
               budgets.size() + unwritable.size() + fonts.size() + clipped.size();
    }
};

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

// Form texts translated into characters outside ASCII whose font is set to
// ANSI_CHARSET, which keeps a Chinese system from drawing them: one line per
// font that is so set.
void CheckFormFonts(const std::vector<PoSource>& sources,
                    const std::map<std::string, std::string>& translations, const std::string& sNewCharset,
                    Findings& findings)
{
    std::map<std::string, std::vector<std::string>> byFont;
    std::vector<std::string> order;
    for (const PoSource& source : sources)
    {
        auto it = translations.find(source.sContext);
        if (source.sFontWarning.empty() || !sNewCharset.empty() || it == translations.end() ||
            std::all_of(it->second.begin(), it->second.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            continue;
        const std::string sKey =
            source.sContext.substr(0, source.sContext.find(" / ")) + ": " + source.sFontWarning;
        if (byFont[sKey].empty())
            order.push_back(sKey);
        byFont[sKey].push_back(source.sContext.substr(source.sContext.find(" / ") + 3));
    }
    for (const std::string& sKey : order)
    {
        const std::vector<std::string>& texts = byFont[sKey];
        std::string sLine = sKey + ", so a Chinese system cannot draw " +
                            Plural(texts.size(), "translated text", "translated texts") + " (" + texts[0];
        for (size_t i = 1; i < texts.size() && i < 3; ++i)
            sLine += ", " + texts[i];
        sLine += texts.size() > 3 ? ", ...)" : ")";
        findings.fonts.push_back(sLine + ": po apply --form-charset DEFAULT_CHARSET sets another");
    }
}

// What one translation breaks of its source text.
void CheckTranslation(const PoSource& source, const std::string& sTranslation, UINT uCharset,
                      Findings& findings)
{
    std::string sReason;
    if (!FormatsKept(source, sTranslation, sReason))
        findings.formats.push_back(sReason);
    if (!LineBreaksAgree(source.sText, sTranslation, sReason))
        findings.lineBreaks.push_back(ShownSource(source) + ": " + sReason);
    std::string sLacks = uCharset != 0 ? CodePageLacks(sTranslation, uCharset) : "";
    if (!sLacks.empty())
        findings.charset.push_back(ShownSource(source) + ": " + ShownQuoted(sLacks));
    if (sTranslation == source.sText && NeedsTranslation(source.sText))
        findings.unchanged.push_back(ShownSource(source));
    WString wsCn;
    if (source.rule && !RuleTranslation(source, sTranslation, wsCn, sReason))
        findings.budgets.push_back(ShownSource(source) + ": the translation " + sReason);
}

// Each entry against the target's text of its context, then the target's
// texts the PO file lacks, the accelerator keys and the resources that
// cannot take their translations.
void CheckEntries(const PoMatches& matches, const PoTarget& target, UINT uCharset, Findings& findings)
{
    std::map<std::string, bool> inPo;
    for (const PoEntryMatch& match : matches.entries)
    {
        const PoEntry& entry = *match.pEntry;
        ++findings.cEntries;
        if (!match.matched)
        {
            findings.gone.push_back(entry.sContext + " " + ShownQuoted(entry.sId) +
                                    (match.pSource == nullptr ? std::string()
                                                              : " (the target now has " +
                                                                    ShownQuoted(match.pSource->sText) + ")"));
            continue;
        }
        const PoSource& source = *match.pSource;
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
        ++findings.cTranslated;
        findings.translations[source.sContext] = entry.strs[0];
        CheckTranslation(source, entry.strs[0], uCharset, findings);
    }
    for (const PoSource& source : target.sources)
        if (!inPo.count(source.sContext))
            findings.untranslated.push_back(ShownSource(source) + " (not in the PO file)");
    CheckAccelerators(target.sources, findings.translations, findings);
    CheckFormFonts(target.sources, findings.translations, target.forms.sCharset, findings);
    std::vector<TranslatedResource> translated;
    TranslateSources(target.entries, target.sources, findings.translations, translated, findings.unwritable,
                     &target.forms);
    FitTranslatedDialogs(target.entries, translated, findings.translations, false, findings.fits);
    findings.clipped = findings.fits.clipped;
}

void AppendList(std::string& s, const std::string& sTitle, const std::vector<std::string>& lines)
{
    if (lines.empty())
        return;
    s += sTitle + " (" + std::to_string(lines.size()) + "):\n";
    for (const std::string& sLine : lines)
        s += "  " + sLine + "\n";
}

std::string FindingsText(const PoOptions& options, const Findings& findings,
                         const std::vector<std::string>& leftOut)
{
    std::string s = ShownPath(options.wsTarget) + ", " + ShownPath(options.wsPo) + ": " +
                    Plural(findings.cEntries, "entry", "entries") + ", " +
                    std::to_string(findings.cTranslated) + " translated, " +
                    std::to_string(findings.fuzzy.size()) + " fuzzy, " +
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
    AppendList(s, "form fonts that keep Chinese from showing", findings.fonts);
    AppendList(s, "texts their controls clip on a Chinese system (po apply --fit makes room)",
               findings.clipped);
    AppendList(s, "note: accelerator keys the source texts share already", findings.inherited);
    AppendList(s, "note: the same as the source text", findings.unchanged);
    if (findings.fits.cSkipped > 0)
        s += "note: " + Plural(findings.fits.cSkipped, "translated control", "translated controls") +
             " not judged for room (not a button or a static, of no size, or a character not measured)\n";
    AppendList(s, "note: dialogs not judged for room, in a font not measured", findings.fits.unmeasured);
    AppendList(s, "note: forms not judged for room (not laid out in dialog units)", findings.fits.forms);
    for (const std::string& sLeftOut : leftOut)
        s += "note: " + sLeftOut + "\n";
    const size_t cProblems = findings.Problems();
    s += cProblems == 0 ? "no problems found\n" : Plural(cProblems, "problem", "problems") + " found\n";
    return s;
}
} // namespace

int RunPoCheck(const CliContext& cli, const PoOptions& options)
{
    PoTranslations po;
    std::string sReason;
    if (!LoadPoFile(options.wsPo, po, sReason))
        return ReportBadInput(cli, options.wsPo, sReason);
    PoTarget target;
    const std::string sLang = !options.wsLang.empty() ? ToUtf8(options.wsLang) : po.sSourceLanguage;
    WString wsRuleFile, wsFailed;
    target.forms.extraProperties = FormPropertiesAsked(po, options);
    target.forms.sCharset = options.sFormCharset;
    if (!LoadPoSources(options.wsTarget, sLang, options.wsRuleSet, target, wsRuleFile, wsFailed, sReason,
                       options.relocate))
        return ReportBadInput(cli, wsFailed, sReason);

    Findings findings;
    CheckEntries(MatchPoEntries(po.entries, target.sources, !options.wsRuleSet.empty()), target,
                 options.uCharset, findings);
    WriteOut(FindingsText(options, findings, target.leftOut));
    return findings.Problems() == 0 ? kExitDone : kExitRulesFailed;
}
