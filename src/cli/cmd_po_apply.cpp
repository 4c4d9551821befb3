#include "cli/cli_output.h"
#include "cli/po_checks.h"
#include "cli/po_rule_run.h"
#include "cli/po_target.h"
#include "image/image_rebuild.h"
#include "patch/failure_log.h"
#include "rules/rule_set.h"

#include <cstring>

namespace
{
// What one run found before it writes anything.
struct ApplyPlan
{
    std::map<std::string, std::string> translations; // resource texts by context
    std::vector<RuleCnWrite> ruleWrites;
    std::vector<std::string> refused;  // translations that cannot go in, with the reason
    std::vector<std::string> replaced; // copies in the --as language the new ones replace
    size_t cRulesLeft = 0;
    size_t cChanged = 0; // resources rewritten
};

std::string Plural(size_t n, const char* szOne, const char* szMany)
{
    return std::to_string(n) + " " + (n == 1 ? szOne : szMany);
}

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

// With --as, the copies in that language that the translated ones replace, in
// words; "" in sLost when none of them loses a text. A copy loses its texts
// when the new one keeps source texts the PO file leaves untranslated.
void FindReplacedCopies(const PoTarget& target, const std::vector<TranslatedResource>& translated,
                        const std::map<std::string, std::string>& translations, WORD wAs, ApplyPlan& plan,
                        std::vector<std::string>& lost)
{
    std::map<size_t, size_t> untranslated = UntranslatedByEntry(target.sources, translated, translations);
    std::map<size_t, std::string> names;
    for (const PoSource& source : target.sources)
        if (!source.rule)
            names.emplace(source.uEntry, ResourceOfContext(source.sContext));
    for (const TranslatedResource& resource : translated)
    {
        const ResourceEntry& source = target.entries[resource.uEntry];
        for (const ResourceEntry& entry : target.entries)
        {
            if (entry.wLang != wAs || !SameResource(entry, source))
                continue;
            std::vector<ResourceText> texts;
            std::string sReason;
            ListResourceTexts(entry, texts, sReason);
            const std::string sLine = names[resource.uEntry] + " (" + LanguageName(wAs) + ", " +
                                      Plural(texts.size(), "text", "texts") + ")";
            plan.replaced.push_back(sLine);
            if (!texts.empty() && untranslated[resource.uEntry] > 0)
                lost.push_back(sLine + ": the new copy keeps " +
                               Plural(untranslated[resource.uEntry], "source text", "source texts") +
                               " the PO file does not translate");
        }
    }
}

// The translated resources replace their originals, or with --as are added
// (or replace an earlier copy) in that language beside them.
void PlaceTranslations(PoTarget& target, std::vector<TranslatedResource>& translated, bool add, WORD wAs)
{
    std::vector<ResourceEntry> added;
    for (TranslatedResource& resource : translated)
    {
        ResourceEntry& entry = target.entries[resource.uEntry];
        if (!add)
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
        for (ResourceEntry& entry : target.entries)
            if (entry.wLang == copy.wLang && SameResource(entry, copy))
            {
                entry = copy;
                replaced = true;
            }
        if (!replaced)
            target.entries.push_back(copy);
    }
}

// Each translated entry of the PO file, sorted into resource texts and rule
// CNs, or refused with the reason.
void PlanTranslations(const PoOptions& options, const PoTranslations& po, const PoTarget& target,
                      ApplyPlan& plan)
{
    // Each translation is used only where the image still holds its source
    // text, so a PO file made for another build cannot put a text elsewhere.
    std::map<std::string, const PoSource*> byContext;
    for (const PoSource& source : target.sources)
        byContext[source.sContext] = &source;
    for (const PoEntry& entry : po.entries)
    {
        if (!IsTranslated(entry))
            continue;
        if (options.wsRuleSet.empty() && IsRuleContext(entry.sContext))
        {
            ++plan.cRulesLeft;
            continue;
        }
        auto it = byContext.find(entry.sContext);
        if (it == byContext.end() || it->second->sText != entry.sId)
        {
            plan.refused.push_back(entry.sContext + " " + ShownQuoted(entry.sId) + ": the target " +
                                   (it == byContext.end()
                                        ? std::string("has no text of that context")
                                        : "has " + ShownQuoted(it->second->sText) + " there"));
            continue;
        }
        const PoSource& source = *it->second;
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

WString DefaultLog()
{
    // The main window's log, as apply's, so both front ends log into one file.
    WCHAR wsToolLog[kPathChars];
    GetToolFile(W("pivra"), W(".log"), wsToolLog, kPathChars);
    return wsToolLog;
}

// The two lines the patch run writes for a rule that fails.
void LogFailedRules(const WString& wsLog, const std::vector<DryRule>& failed)
{
    for (const DryRule& rule : failed)
    {
        WString wsLine = W("ERROR_EN:") + rule.wsEn;
        WriteLogTo(wsLog.c_str(), wsLine.c_str());
        wsLine = W("ERROR_CN:") + rule.wsCn;
        WriteLogTo(wsLog.c_str(), wsLine.c_str());
    }
}

// Writes the new image: to the output, or over the target when it is still
// the file that was read, with its backup first. A backup is only made (and
// an old one replaced) when the target then changes.
bool WriteImage(const CliContext& cli, const PoOptions& options, const FileIdentity& read,
                const std::vector<BYTE>& image, bool& fChanged, int& exitCode)
{
    std::string sReason;
    if (!options.wsOutput.empty())
    {
        fChanged = true;
        if (WriteWholeFile(options.wsOutput, image.data(), image.size(), options.force, sReason))
            return true;
        exitCode = ReportBadInput(cli, options.wsOutput, sReason);
        return false;
    }
    CTargetView now;
    if (!now.Open(options.wsTarget, sReason))
    {
        exitCode = ReportBadInput(cli, options.wsTarget, sReason);
        return false;
    }
    fChanged = now.Size() != image.size() || std::memcmp(now.Data(), image.data(), image.size()) != 0;
    now.Close();
    if (!fChanged)
        return true;
    // The new image replaces the file a link names, so the link stays.
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(FsPath(options.wsTarget), ec);
    const WString wsWrite = ec ? options.wsTarget : ToolPath(real);
    // An older backup stays aside until the new image is in place, so a write
    // that fails leaves it as it was.
    const WString wsBackup = options.wsTarget + W(".bak");
    WString wsAside;
    if (options.backup && PathExists(wsBackup) && (!options.force || !MoveAside(wsBackup, wsAside, sReason)))
    {
        exitCode =
            ReportBadInput(cli, wsBackup, options.force ? sReason : "exists already (--force replaces it)");
        return false;
    }
    if (options.backup && !CopyFileExact(wsWrite, wsBackup, false, sReason))
    {
        if (!wsAside.empty())
            MoveBack(wsAside, wsBackup);
        exitCode = ReportBadInput(cli, wsBackup, sReason);
        return false;
    }
    if (HasOtherNames(wsWrite))
        WriteErr("pivra-cli po apply: " + ShownPath(options.wsTarget) +
                 ": the file has other names (hard links); they keep the old image\n");
    if (ReplaceReadFile(wsWrite, read, image.data(), image.size(), sReason))
    {
        if (!wsAside.empty())
            RemoveFile(wsAside);
        return true;
    }
    if (!wsAside.empty())
        MoveBack(wsAside, wsBackup);
    else if (options.backup)
        RemoveFile(wsBackup);
    exitCode = ReportBadInput(cli, options.wsTarget, sReason);
    return false;
}

int CheckOutput(const CliContext& cli, const PoOptions& options)
{
    std::string sReason;
    if (options.backup)
        return ReportBadInput(
            cli, options.wsOutput,
            "--backup copies a target translated in place; with -o the target stays as it is");
    if (!CheckWritableFile(options.wsOutput, options.force, sReason))
        return ReportBadInput(cli, options.wsOutput, sReason);
    FileIdentity output, other;
    if (GetFileIdentity(options.wsOutput, output))
        for (const WString& wsOther : {options.wsTarget, options.wsPo, options.wsRuleSet})
            if (!wsOther.empty() && GetFileIdentity(wsOther, other) && other == output)
                return ReportBadInput(cli, options.wsOutput,
                                      wsOther == options.wsTarget
                                          ? "is the target; leave out -o to translate it in place"
                                          : "is an input of this run, not an output");
    return kExitDone;
}
} // namespace

int RunPoApply(const CliContext& cli, const PoOptions& options)
{
    PoTranslations po;
    int exitCode = kExitDone;
    if (!LoadPoFile(cli, options.wsPo, po, exitCode))
        return exitCode;
    std::string sReason;
    const bool fInPlace = options.wsOutput.empty();
    if (!CheckTarget(options.wsTarget, fInPlace ? kPatchTarget : kReadTarget, sReason))
        return ReportBadInput(cli, options.wsTarget, sReason);
    if (!fInPlace && (exitCode = CheckOutput(cli, options)) != kExitDone)
        return exitCode;
    WORD wAs = 0;
    if (!options.wsAs.empty() && !ParseLanguage(ToUtf8(options.wsAs), wAs))
        return ReportBadInput(cli, options.wsTarget,
                              "cannot take language '" + ToUtf8(options.wsAs) +
                                  "': not a language name (\"zh-CN\", \"0x0804\")");
    WString wsLog = AbsolutePath(options.wsLog.empty() ? DefaultLog() : options.wsLog);
    if (!options.wsRuleSet.empty() && !CheckLogFile(wsLog, sReason))
        return ReportBadInput(cli, wsLog, sReason);
    PoTarget target;
    const std::string sLang = !options.wsLang.empty() ? ToUtf8(options.wsLang) : po.sSourceLanguage;
    if (!LoadPoTarget(cli, options, sLang, target, exitCode))
        return exitCode;
    FileIdentity read = {0, 0};
    target.view.Identity(read);
    TellSetAsideBackups("pivra-cli po apply: ", options.wsTarget + W(".bak"));
    for (const WString& wsBeside : {options.wsTarget, options.wsTarget + W(".bak"), options.wsOutput})
        for (const WString& wsStale : wsBeside.empty() ? std::vector<WString>() : StaleTempFiles(wsBeside))
            WriteErr("pivra-cli po apply: " + ShownPath(wsStale) +
                     ": left by an earlier run that did not finish; remove it\n");
    if (!options.wsAs.empty() && wAs == target.wLang)
        return ReportBadInput(
            cli, options.wsTarget,
            "cannot take the translations as a copy in its source language; leave out --as");
    // A translation that loses or adds an argument's specifier makes the
    // program read the wrong argument, so none is written unless asked.
    std::vector<std::string> formats = FormatFindings(po.entries, target.sources, !options.wsRuleSet.empty());
    for (const std::string& sFormat : formats)
        WriteErr("pivra-cli po apply: format specifiers: " + sFormat + "\n");
    if (!formats.empty() && !options.allowFormat)
        return ReportBadInput(
            cli, options.wsPo,
            "has " + std::to_string(formats.size()) + " translation" + (formats.size() == 1 ? "" : "s") +
                " whose format specifiers differ from their source texts (listed above); nothing "
                "written, --allow-format writes them anyway");

    // Everything is worked out before anything is written: the resources, the
    // rules' budgets, the patch run of the rule set over the new image.
    ApplyPlan plan;
    PlanTranslations(options, po, target, plan);
    std::vector<TranslatedResource> translated;
    std::vector<std::string> unwritable;
    TranslateSources(target.entries, target.sources, plan.translations, translated, unwritable);
    if (!unwritable.empty())
        return ReportBadInput(cli, options.wsTarget, "cannot take the translation of " + unwritable[0]);
    plan.cChanged = translated.size();
    if (!options.wsAs.empty())
    {
        std::vector<std::string> lost;
        FindReplacedCopies(target, translated, plan.translations, wAs, plan, lost);
        if (!lost.empty() && !options.force)
        {
            for (const std::string& sLost : lost)
                WriteErr("pivra-cli po apply: would replace " + sLost + "\n");
            return ReportBadInput(cli, options.wsTarget,
                                  "already has " + Plural(lost.size(), "resource", "resources") + " in " +
                                      LanguageName(wAs) +
                                      " whose texts the new copies would lose; nothing was written "
                                      "(--force replaces them)");
        }
    }
    PlaceTranslations(target, translated, !options.wsAs.empty(), wAs);
    RebuildResult rebuilt;
    if (plan.cChanged > 0 && !RebuildResources(target.headers, target.entries, rebuilt))
        return ReportBadInput(cli, options.wsTarget, "cannot be rebuilt: " + rebuilt.sReason);
    std::vector<BYTE> image;
    if (plan.cChanged > 0)
        image.swap(rebuilt.image);
    else
        image.assign(target.view.Data(), target.view.Data() + target.view.Size());
    target.view.Close();

    PoRuleRun run;
    const bool fRun = !options.wsRuleSet.empty();
    WString wsRuleFile;
    if (fRun)
    {
        ResolveRuleSet(options.wsRuleSet, wsRuleFile, sReason);
        // The CNs go in after the image: a rule set that cannot take them is
        // known now, so no image is written whose rule set says otherwise.
        if (!plan.ruleWrites.empty() &&
            (!CheckWritableFile(wsRuleFile, true, sReason) || !CheckLogFile(wsRuleFile, sReason)))
            return ReportBadInput(cli, wsRuleFile, sReason);
        if (!RunRulesOver(wsRuleFile, plan.ruleWrites, image, run, sReason))
            return ReportBadInput(cli, wsRuleFile, sReason);
    }
    std::vector<std::string> refusals = plan.refused;
    size_t cNoCn = 0;
    for (const DryRule& rule : run.failed)
    {
        // A rule nobody has translated yet is open, as an untranslated entry
        // is: the run passes over it (and logs it, as the patch run does).
        if (rule.outcome == kDryZeroOneSide && rule.wsCn.empty())
        {
            ++cNoCn;
            continue;
        }
        WCHAR wsNode[kKeyChars];
        FormatNode(wsNode, rule.number);
        refusals.push_back("rule " + ToUtf8(WString(wsNode)) + " " + ShownQuoted(ToUtf8(rule.wsEn)) + ": " +
                           (rule.outcome == kDryNotFound   ? "its EN is not in the image"
                            : rule.outcome == kDryCnLonger ? "its CN is longer than its EN"
                                                           : "its CN is empty"));
    }
    if (cNoCn > 0)
        WriteErr("pivra-cli po apply: " + Plural(cNoCn, "rule has", "rules have") +
                 " no CN yet and changes nothing\n");
    for (const std::string& sReplaced : plan.replaced)
        WriteErr("pivra-cli po apply: replaces the copy " + sReplaced + "\n");
    for (const std::string& sUnsafe : run.unsafe)
        refusals.push_back("the patch run would break the image: " + sUnsafe);
    if (plan.cRulesLeft > 0)
        WriteErr("pivra-cli po apply: " + std::to_string(plan.cRulesLeft) +
                 " translated rule texts left alone: --rules names the rule set they go to\n");
    for (const std::string& sRefused : refusals)
        WriteErr("pivra-cli po apply: not applied: " + sRefused + "\n");

    const std::string sCounts =
        Plural(plan.translations.size(), "resource text", "resource texts") + " in " +
        Plural(plan.cChanged, "resource", "resources") + " " +
        (options.wsAs.empty()    ? "replaced (" + LanguageName(target.wLang) + ")"
         : plan.replaced.empty() ? "added as " + LanguageName(wAs)
                                 : "added as " + LanguageName(wAs) + ", replacing " +
                                       Plural(plan.replaced.size(), "copy", "copies") + " in that language") +
        ", " + Plural(plan.ruleWrites.size(), "rule text", "rule texts");
    if (!refusals.empty() && !options.partial)
    {
        WriteOut(ShownPath(options.wsTarget) + ": nothing written: " +
                 Plural(refusals.size(), "translation or rule", "translations and rules") +
                 " refused (--partial writes the rest); checked: " + sCounts + "\n");
        return kExitRulesFailed;
    }

    // The image (with the patch run's writes, unless they would break it),
    // then the rule set's CNs, then the failure log.
    const bool fPatch = fRun && run.unsafe.empty();
    if (fPatch)
        image.swap(run.image);
    bool fImageChanged = false;
    if (!WriteImage(cli, options, read, image, fImageChanged, exitCode))
        return exitCode;
    for (const std::string& sWarning : rebuilt.warnings)
        WriteErr("pivra-cli po apply: " + ShownPath(options.wsTarget) + ": " + sWarning + "\n");
    size_t cRules = 0;
    WCHAR wsKey[] = W("CN");
    for (const RuleCnWrite& write : plan.ruleWrites)
    {
        if (WriteRuleKey(wsRuleFile.c_str(), write.uRule, wsKey, write.wsCn.c_str()))
        {
            ++cRules;
            continue;
        }
        WCHAR wsNode[kKeyChars];
        FormatNode(wsNode, write.uRule);
        WriteErr("pivra-cli po apply: rule " + ToUtf8(WString(wsNode)) +
                 ": the rule set could not be written\n");
    }
    if (fPatch)
        LogFailedRules(wsLog, run.failed);

    const WString wsWritten = fInPlace ? options.wsTarget : options.wsOutput;
    std::string sText = ShownPath(options.wsTarget) + ": " + sCounts + "; written: ";
    sText += !fImageChanged
                 ? "the image unchanged"
                 : "the image to " + ShownPath(wsWritten) + " (" + std::to_string(image.size()) + " bytes)";
    if (fRun)
        sText += ", " + Plural(cRules, "CN", "CNs") + " into the rule set, " +
                 (fPatch ? "the patch run (" + std::to_string(run.uTried) + " rules tried, " +
                               std::to_string(run.uModified) + " changed the image)"
                         : std::string("not the patch run (it would break the image)"));
    if (fPatch && !run.failed.empty())
        WriteOut("failure log: " + ShownPath(wsLog) + "\n");
    WriteOut(sText + "\n");
    return refusals.empty() && cRules == plan.ruleWrites.size() ? kExitDone : kExitRulesFailed;
}
