#include "cli/cli_output.h"
#include "cli/cli_report.h"
#include "cli/commands.h"
#include "cli/po_target.h"
#include "image/image_map.h"
#include "image/image_rebuild.h"
#include "patch/failure_log.h"
#include "po/po_checks.h"
#include "po/po_fit.h"
#include "po/po_plan.h"
#include "po/po_rule_run.h"
#include "rules/rule_files.h"
#include "rules/rule_set.h"

#include <cstring>

namespace
{
// What one run has read and worked out, step by step, before it writes.
struct ApplyRun
{
    PoTranslations po;
    PoTarget target;
    WORD wAs = 0;
    WString wsLog;
    WString wsRuleFile; // empty without --rules
    FileIdentity read = {0, 0};
    ApplyPlan plan;
    std::vector<std::string> rebuildWarnings;
    DialogFitFindings fits;  // of the translated dialogs, made room in with --fit
    std::vector<BYTE> image; // the image with the translated resources
    PoRuleRun rules;
    std::vector<std::string> refusals;
    bool relocate = false;
};

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
// An older backup set aside goes back in its place; where it cannot, the
// user learns where it is, since it may be the only copy of the original.
void PutBackupBack(const WString& wsAside, const WString& wsBackup)
{
    if (!wsAside.empty() && !MoveBack(wsAside, wsBackup))
        WriteErr("pivra-cli po apply: " + ShownPath(wsAside) +
                 ": the older backup could not be put back as " + ShownPath(wsBackup) + "\n");
}

int WriteImage(const CliContext& cli, const PoOptions& options, const FileIdentity& read,
               const std::vector<BYTE>& image, bool& fChanged)
{
    std::string sReason;
    if (!options.wsOutput.empty())
    {
        fChanged = true;
        if (!WriteWholeFile(options.wsOutput, image.data(), image.size(), options.force, sReason))
            return ReportBadInput(cli, options.wsOutput, sReason);
        return kExitDone;
    }
    CTargetView now;
    if (!now.Open(options.wsTarget, sReason))
        return ReportBadInput(cli, options.wsTarget, sReason);
    fChanged = now.Size() != image.size() || std::memcmp(now.Data(), image.data(), image.size()) != 0;
    now.Close();
    if (!fChanged)
        return kExitDone;
    // The new image replaces the file a link names, so the link stays.
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(FsPath(options.wsTarget), ec);
    const WString wsWrite = ec ? options.wsTarget : ToolPath(real);
    // An older backup stays aside until the new image is in place, so a write
    // that fails leaves it as it was.
    const WString wsBackup = options.wsTarget + W(".bak");
    WString wsAside;
    if (options.backup && PathExists(wsBackup) && (!options.force || !MoveAside(wsBackup, wsAside, sReason)))
        return ReportBadInput(cli, wsBackup,
                              options.force ? sReason : "exists already (--force replaces it)");
    if (options.backup && !CopyFileExact(wsWrite, wsBackup, false, sReason))
    {
        PutBackupBack(wsAside, wsBackup);
        return ReportBadInput(cli, wsBackup, sReason);
    }
    if (HasOtherNames(wsWrite))
        WriteErr("pivra-cli po apply: " + ShownPath(options.wsTarget) +
                 ": the file has other names (hard links); they keep the old image\n");
    if (ReplaceReadFile(wsWrite, read, image.data(), image.size(), sReason))
    {
        if (!wsAside.empty() && !RemoveFile(wsAside))
            WriteErr("pivra-cli po apply: " + ShownPath(wsAside) +
                     ": the older backup could not be removed\n");
        return kExitDone;
    }
    if (!wsAside.empty())
        PutBackupBack(wsAside, wsBackup);
    else if (options.backup && !RemoveFile(wsBackup))
        WriteErr("pivra-cli po apply: " + ShownPath(wsBackup) + ": the new backup could not be removed\n");
    return ReportBadInput(cli, options.wsTarget, sReason);
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

// The inputs, each checked before the target is read.
int ReadInputs(const CliContext& cli, const PoOptions& options, ApplyRun& run)
{
    std::string sReason;
    if (!LoadPoFile(options.wsPo, run.po, sReason))
        return ReportBadInput(cli, options.wsPo, sReason);
    const bool fInPlace = options.wsOutput.empty();
    if (!CheckTarget(options.wsTarget, fInPlace ? kPatchTarget : kReadTarget, sReason))
        return ReportBadInput(cli, options.wsTarget, sReason);
    int exitCode = kExitDone;
    if (!fInPlace && (exitCode = CheckOutput(cli, options)) != kExitDone)
        return exitCode;
    if (!options.wsAs.empty() && !ParseLanguage(ToUtf8(options.wsAs), run.wAs))
        return ReportBadInput(cli, options.wsTarget,
                              "cannot take language '" + ToUtf8(options.wsAs) +
                                  "': not a language name (\"zh-CN\", \"0x0804\")");
    run.wsLog = AbsolutePath(options.wsLog.empty() ? DefaultLog() : options.wsLog);
    if (!options.wsRuleSet.empty() && !CheckLogFile(run.wsLog, sReason))
        return ReportBadInput(cli, run.wsLog, sReason);
    const std::string sLang = !options.wsLang.empty() ? ToUtf8(options.wsLang) : run.po.sSourceLanguage;
    WString wsFailed;
    run.target.forms.extraProperties = FormPropertiesAsked(run.po, options);
    run.target.forms.sCharset = options.sFormCharset;
    if (!LoadPoSources(options.wsTarget, sLang, options.wsRuleSet, run.target, run.wsRuleFile, wsFailed,
                       sReason, options.relocate))
        return ReportBadInput(cli, wsFailed, sReason);
    // What the sources leave out (a resource that cannot be read, a second
    // text of one context) stays as it is; the translator is told why.
    for (const std::string& sLeftOut : run.target.leftOut)
        WriteErr("pivra-cli po apply: note: " + sLeftOut + "\n");
    run.relocate = options.relocate;
    if (!run.target.view.Identity(run.read))
        return ReportBadInput(cli, options.wsTarget, "cannot be read");
    return kExitDone;
}

// The files an earlier run left beside the target, its backup and the output.
void TellLeftovers(const PoOptions& options)
{
    TellSetAsideBackups("pivra-cli po apply: ", options.wsTarget + W(".bak"));
    for (const WString& wsBeside : {options.wsTarget, options.wsTarget + W(".bak"), options.wsOutput})
        for (const WString& wsStale : wsBeside.empty() ? std::vector<WString>() : StaleTempFiles(wsBeside))
            WriteErr("pivra-cli po apply: " + ShownPath(wsStale) +
                     ": left by an earlier run that did not finish; remove it\n");
}

// A translation that loses or adds an argument's specifier makes the program
// read the wrong argument, so none is written unless asked.
int CheckFormats(const CliContext& cli, const PoOptions& options, const ApplyRun& run)
{
    std::vector<std::string> formats =
        FormatFindings(run.po.entries, run.target.sources, !options.wsRuleSet.empty());
    for (const std::string& sFormat : formats)
        WriteErr("pivra-cli po apply: format specifiers: " + sFormat + "\n");
    if (!formats.empty() && !options.allowFormat)
        return ReportBadInput(
            cli, options.wsPo,
            "has " + std::to_string(formats.size()) + " translation" + (formats.size() == 1 ? "" : "s") +
                " whose format specifiers differ from their source texts (listed above); nothing "
                "written, --allow-format writes them anyway");
    return kExitDone;
}

// The translated resources in place and the image rebuilt around them.
int TranslateImage(const CliContext& cli, const PoOptions& options, ApplyRun& run)
{
    PlanTranslations(MatchPoEntries(run.po.entries, run.target.sources, !options.wsRuleSet.empty()),
                     run.plan);
    std::vector<TranslatedResource> translated;
    std::vector<std::string> unwritable;
    TranslateSources(run.target.entries, run.target.sources, run.plan.translations, translated, unwritable,
                     &run.target.forms);
    if (!unwritable.empty())
        return ReportBadInput(cli, options.wsTarget, "cannot take the translation of " + unwritable[0]);
    FitTranslatedDialogs(run.target.entries, translated, run.plan.translations, options.fit, run.fits);
    run.plan.cChanged = translated.size();
    if (!options.wsAs.empty())
    {
        std::vector<std::string> lost;
        FindReplacedCopies(run.target.entries, run.target.sources, translated, run.wAs, run.plan, lost,
                           &run.target.forms);
        if (!lost.empty() && !options.force)
        {
            for (const std::string& sLost : lost)
                WriteErr("pivra-cli po apply: would replace " + sLost + "\n");
            return ReportBadInput(cli, options.wsTarget,
                                  "already has " + Plural(lost.size(), "resource", "resources") + " in " +
                                      LanguageName(run.wAs) +
                                      " whose texts the new copies would lose; nothing was written "
                                      "(--force replaces them)");
        }
    }
    PlaceTranslations(run.target.entries, translated, !options.wsAs.empty(), run.wAs);
    RebuildResult rebuilt;
    if (run.plan.cChanged > 0 && !RebuildResources(run.target.headers, run.target.entries, rebuilt))
        return ReportBadInput(cli, options.wsTarget, "cannot be rebuilt: " + rebuilt.sReason);
    if (run.plan.cChanged > 0)
        run.image.swap(rebuilt.image);
    else
        run.image.assign(run.target.view.Data(), run.target.view.Data() + run.target.view.Size());
    run.rebuildWarnings.swap(rebuilt.warnings);
    run.target.view.Close();
    return kExitDone;
}

// The rule set's patch run over the new image, with the CNs the PO file
// gives: a rule set that cannot take them is known now, so no image is
// written whose rule set says otherwise.
int RunRuleSet(const CliContext& cli, ApplyRun& run)
{
    std::string sReason;
    if (!run.plan.ruleWrites.empty() &&
        (!CheckWritableFile(run.wsRuleFile, true, sReason) || !CheckLogFile(run.wsRuleFile, sReason)))
        return ReportBadInput(cli, run.wsRuleFile, sReason);
    if (!RunRulesOver(run.wsRuleFile, run.plan.ruleWrites, run.image, run.rules, sReason, run.relocate))
        return ReportBadInput(cli, run.wsRuleFile, sReason);
    return kExitDone;
}

std::string NodeText(UINT uRule)
{
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, uRule);
    return ToUtf8(WString(wsNode));
}

// What stops the run from writing all it was given, and the notes on what it
// passes over, on standard error.
void TellRefusals(ApplyRun& run)
{
    run.refusals = run.plan.refused;
    size_t cNoCn = 0;
    for (const DryRule& rule : run.rules.failed)
    {
        // A rule nobody has translated yet is open, as an untranslated entry
        // is: the run passes over it (and logs it, as the patch run does).
        if (rule.outcome == kDryZeroOneSide && rule.wsCn.empty())
        {
            ++cNoCn;
            continue;
        }
        run.refusals.push_back("rule " + NodeText(rule.number) + " " + ShownQuoted(ToUtf8(rule.wsEn)) + ": " +
                               (rule.outcome == kDryNotFound ? "its EN is not in the image"
                                : run.rules.notRelocated.count(rule.number) > 0
                                    ? "its CN is longer than its EN and cannot be relocated: " +
                                          run.rules.notRelocated[rule.number]
                                : rule.outcome == kDryCnLonger ? "its CN is longer than its EN"
                                                               : "its CN is empty"));
    }
    if (cNoCn > 0)
        WriteErr("pivra-cli po apply: " + Plural(cNoCn, "rule has", "rules have") +
                 " no CN yet and changes nothing\n");
    for (const std::string& sReplaced : run.plan.replaced)
        WriteErr("pivra-cli po apply: replaces the copy " + sReplaced + "\n");
    for (const std::string& sRelocated : run.rules.relocated)
        WriteErr("pivra-cli po apply: relocated (a longer CN in a new section): " + sRelocated);
    for (const std::string& sUnsafe : run.rules.unsafe)
        run.refusals.push_back("the patch run would break the image: " + sUnsafe);
    if (run.plan.cRulesLeft > 0)
        WriteErr("pivra-cli po apply: " + std::to_string(run.plan.cRulesLeft) +
                 " translated rule texts left alone: --rules names the rule set they go to\n");
    for (const std::string& sRefused : run.refusals)
        WriteErr("pivra-cli po apply: not applied: " + sRefused + "\n");
}

std::string CountsText(const PoOptions& options, const ApplyRun& run)
{
    const ApplyPlan& plan = run.plan;
    return Plural(plan.translations.size(), "resource text", "resource texts") + " in " +
           Plural(plan.cChanged, "resource", "resources") + " " +
           (options.wsAs.empty() ? "replaced (" + LanguageName(run.target.wLang) + ")"
            : plan.replaced.empty()
                ? "added as " + LanguageName(run.wAs)
                : "added as " + LanguageName(run.wAs) + ", replacing " +
                      Plural(plan.replaced.size(), "copy", "copies") + " in that language") +
           ", " + Plural(plan.ruleWrites.size(), "rule text", "rule texts");
}

// The CNs into the rule set; how many went in.
size_t WriteRuleCns(const ApplyRun& run)
{
    size_t cRules = 0;
    WCHAR wsKey[] = W("CN");
    for (const RuleCnWrite& write : run.plan.ruleWrites)
    {
        if (WriteRuleKey(run.wsRuleFile.c_str(), write.uRule, wsKey, write.wsCn.c_str()))
        {
            ++cRules;
            continue;
        }
        WriteErr("pivra-cli po apply: rule " + NodeText(write.uRule) +
                 ": the rule set could not be written\n");
    }
    return cRules;
}

// The image (with the patch run's writes, unless they would break it), then
// the rule set's CNs, then the failure log, and what was written.
int WriteResults(const CliContext& cli, const PoOptions& options, ApplyRun& run, const std::string& sCounts)
{
    const bool fRun = !run.wsRuleFile.empty();
    const bool fPatch = fRun && run.rules.unsafe.empty();
    if (fPatch)
        run.image.swap(run.rules.image);
    bool fImageChanged = false;
    const int exitCode = WriteImage(cli, options, run.read, run.image, fImageChanged);
    if (exitCode != kExitDone)
        return exitCode;
    for (const std::string& sWarning : run.rebuildWarnings)
        WriteErr("pivra-cli po apply: " + ShownPath(options.wsTarget) + ": " + sWarning + "\n");
    for (const std::string& sChange : run.fits.changes)
        WriteOut("fitted " + sChange + "\n");
    for (const std::string& sRefused : run.fits.refused)
        WriteErr("pivra-cli po apply: no room made for " + sRefused + "\n");
    if (options.fit)
        for (const std::string& sForm : run.fits.forms)
            WriteErr("pivra-cli po apply: --fit leaves " + sForm +
                     " as it is (not laid out in dialog units)\n");
    if (!options.fit && !run.fits.clipped.empty())
        WriteErr("pivra-cli po apply: " +
                 Plural(run.fits.clipped.size(), "translated text is wider than its control",
                        "translated texts are wider than their controls") +
                 " on a Chinese system (po check names them; --fit makes room)\n");
    const size_t cRules = WriteRuleCns(run);
    if (fPatch)
        LogFailedRules(run.wsLog, run.rules.failed);

    const WString wsWritten = options.wsOutput.empty() ? options.wsTarget : options.wsOutput;
    std::string sText = ShownPath(options.wsTarget) + ": " + sCounts + "; written: ";
    sText += !fImageChanged ? "the image unchanged"
                            : "the image to " + ShownPath(wsWritten) + " (" +
                                  std::to_string(run.image.size()) + " bytes)";
    if (fRun)
        sText += ", " + Plural(cRules, "CN", "CNs") + " into the rule set, " +
                 (fPatch ? "the patch run (" + std::to_string(run.rules.uTried) + " rules tried, " +
                               std::to_string(run.rules.uModified) + " changed the image)"
                         : std::string("not the patch run (it would break the image)"));
    if (fPatch && !run.rules.failed.empty())
        WriteOut("failure log: " + ShownPath(run.wsLog) + "\n");
    WriteOut(sText + "\n");
    return run.refusals.empty() && cRules == run.plan.ruleWrites.size() ? kExitDone : kExitRulesFailed;
}
} // namespace

int RunPoApply(const CliContext& cli, const PoOptions& options)
{
    ApplyRun run;
    int exitCode = ReadInputs(cli, options, run);
    if (exitCode != kExitDone)
        return exitCode;
    TellLeftovers(options);
    if (!options.wsAs.empty() && run.wAs == run.target.wLang)
        return ReportBadInput(
            cli, options.wsTarget,
            "cannot take the translations as a copy in its source language; leave out --as");
    if ((exitCode = CheckFormats(cli, options, run)) != kExitDone)
        return exitCode;
    // Everything is worked out before anything is written: the resources, the
    // rules' budgets, the patch run of the rule set over the new image.
    if ((exitCode = TranslateImage(cli, options, run)) != kExitDone)
        return exitCode;
    if (!run.wsRuleFile.empty() && (exitCode = RunRuleSet(cli, run)) != kExitDone)
        return exitCode;
    TellRefusals(run);
    const std::string sCounts = CountsText(options, run);
    if (!run.refusals.empty() && !options.partial)
    {
        WriteOut(ShownPath(options.wsTarget) + ": nothing written: " +
                 Plural(run.refusals.size(), "translation or rule", "translations and rules") +
                 " refused (--partial writes the rest); checked: " + sCounts + "\n");
        return kExitRulesFailed;
    }
    return WriteResults(cli, options, run, sCounts);
}
