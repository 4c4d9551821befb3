// apply --relocate: the rule set runs over a copy of each target as the patch
// run would run it, each rule whose CN is longer than its EN is relocated,
// and each new image replaces its target only once all are worked out.
#include "cli/apply_steps.h"
#include "cli/check_json.h"
#include "cli/cli_files.h"
#include "cli/cli_output.h"
#include "cli/relocation_report.h"
#include "patch/failure_log.h"
#include "rules/rule_set.h"

#include <cstring>
#include <memory>

namespace
{
struct TargetRun
{
    WString wsTarget;
    FileIdentity read = {0, 0};
    RelocatingRun run;
    std::vector<std::string> lines; // per rule, for the text output
};

std::string NodeOf(UINT uRule)
{
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, uRule);
    return ToUtf8(WString(wsNode));
}

std::string ReportText(UINT uTried, UINT uModified)
{
    return "汉化完成，搜索 " + std::to_string(uTried) + " 处文本，修改 " + std::to_string(uModified) +
           " 处文本！";
}

bool Failed(const TargetRun& target, size_t i)
{
    const DryRule& rule = target.run.dry.rules[i];
    const RuleRelocation* pRelocation = target.run.RelocationOf(i);
    return rule.outcome != kDryChanges && rule.outcome != kDryOtherBitness &&
           (pRelocation == nullptr || !pRelocation->relocated);
}

// Reads one target and works out its new image; nothing is written.
int RunOver(const CliContext& cli, const WString& wsRuleFile, TargetRun& target)
{
    CTargetView view;
    std::string sReason;
    if (!view.Open(target.wsTarget, sReason))
        return ReportBadInput(cli, target.wsTarget, sReason);
    view.Identity(target.read);
    try
    {
        CImageMap image;
        image.Load(view.Data(), view.Size());
        CProgress progress("apply " + ShownPath(target.wsTarget));
        RunRelocating(
            wsRuleFile.c_str(), view.Data(), view.Size(), image.IsPe() ? &image : nullptr,
            [&progress](UINT uRule) { progress.Update(uRule, 0, "rule " + std::to_string(uRule)); },
            target.run);
    }
    catch (const std::bad_alloc&)
    {
        return ReportBadInput(cli, target.wsTarget, OutOfMemoryReason(view.Size()));
    }
    return kExitDone;
}

// As apply refuses a run that would break an image, before anything is written.
int RefuseUnsafe(const CliContext& cli, const WString& wsRuleFile, const std::vector<TargetRun>& targets)
{
    UnsafeFindings findings;
    for (const TargetRun& target : targets)
    {
        CImageMap image;
        image.Load(target.run.image.data(), static_cast<DWORD>(target.run.image.size()));
        findings.Add(target.wsTarget, target.run.dry.rules, image);
    }
    return findings.Refuse(cli, wsRuleFile);
}

// The new image in the target's place, if it is still the file that was read.
bool WriteTarget(const TargetRun& target, bool& fChanged, std::string& sReason)
{
    const std::vector<BYTE>& image = target.run.image;
    CTargetView now;
    if (!now.Open(target.wsTarget, sReason))
        return false;
    fChanged = now.Size() != image.size() || std::memcmp(now.Data(), image.data(), image.size()) != 0;
    now.Close();
    if (!fChanged)
        return true;
    if (HasOtherNames(target.wsTarget))
        WriteErr("pivra-cli apply: " + ShownPath(target.wsTarget) +
                 ": the file has other names (hard links); they keep the old image\n");
    return ReplaceReadFile(target.wsTarget, target.read, image.data(), image.size(), sReason);
}

void LogFailures(const WString& wsLog, const TargetRun& target)
{
    for (size_t i = 0; i < target.run.dry.rules.size(); ++i)
    {
        if (!Failed(target, i))
            continue;
        const DryRule& rule = target.run.dry.rules[i];
        WriteLogTo(wsLog.c_str(), (W("ERROR_EN:") + rule.wsEn).c_str());
        WriteLogTo(wsLog.c_str(), (W("ERROR_CN:") + rule.wsCn).c_str());
    }
}

std::string FailureReason(const DryRule& rule, const RuleRelocation* pRelocation)
{
    if (pRelocation != nullptr)
        return "cannot be relocated: " + pRelocation->sReason;
    return rule.outcome == kDryNotFound ? "EN is not in the target"
                                        : "the first units of EN and CN are not both zero or both not";
}

// The text lines and JSON of one target's run.
void Describe(const TargetRun& target, const WString& wsBackup, std::string& sText, Json& doc)
{
    const RelocatingRun& run = target.run;
    const std::string sReport = ReportText(run.uTried, run.uModified);
    sText += ShownPath(target.wsTarget) + ": " + sReport + "\n";
    if (!wsBackup.empty())
        sText += "  backup: " + ShownPath(wsBackup) + "\n";
    PeHeaders headers;
    std::string sIgnored;
    const bool fPe = headers.Read(run.image.data(), static_cast<DWORD>(run.image.size()), sIgnored) != 0;
    Json relocated = Json::array(), failed = Json::array();
    for (size_t i = 0; i < run.dry.rules.size(); ++i)
    {
        const DryRule& rule = run.dry.rules[i];
        const RuleRelocation* pRelocation = run.RelocationOf(i);
        const std::string sHead =
            NodeOf(rule.number) + "  EN=" + ShownText(rule.wsEn) + "  CN=" + ShownText(rule.wsCn);
        if (pRelocation != nullptr && pRelocation->relocated)
        {
            sText += "  relocated " + sHead + "  " + RelocationSummary(*pRelocation) + "\n";
            for (const std::string& sWarning : pRelocation->warnings)
                sText += "    warning: " + sWarning + "\n";
            relocated.push_back(
                {{"number", rule.number},
                 {"en", ToUtf8(rule.wsEn)},
                 {"cn", ToUtf8(rule.wsCn)},
                 {"relocation", fPe ? RelocationJson(headers, run.plan, *pRelocation) : Json()}});
        }
        else if (Failed(target, i))
        {
            const std::string sReason = FailureReason(rule, pRelocation);
            sText += "  failed " + sHead + "  (" + sReason + ")\n";
            failed.push_back({{"number", rule.number},
                              {"en", ToUtf8(rule.wsEn)},
                              {"cn", ToUtf8(rule.wsCn)},
                              {"reason", sReason}});
        }
    }
    sText += RelocationScopeText(run.plan, "  ");
    for (const std::string& sWarning : run.plan.warnings)
        sText += "  warning: " + sWarning + "\n";
    doc = {{"path", ShownPath(target.wsTarget)},
           {"backup", wsBackup.empty() ? Json() : Json(ShownPath(wsBackup))},
           {"tried", run.uTried},
           {"modified", run.uModified},
           {"report", sReport},
           {"relocated", relocated},
           {"scanned", run.plan.scanned},
           {"warnings", run.plan.warnings},
           {"failed", failed}};
}
} // namespace

int RunApplyRelocating(const CliContext& cli, const ApplyOptions& options)
{
    if (options.inPlace)
        return ReportBadInput(
            cli, WString(),
            "--relocate writes a new image with one more section; --in-place cannot patch that");
    WString wsRuleFile;
    std::string sReason;
    if (!ResolveRuleSet(options.wsRuleSet, wsRuleFile, sReason))
        return ReportBadInput(cli, wsRuleFile, sReason);
    const WString wsLog = ApplyLogPath(options);
    int exitCode = CheckInputs(cli, options, wsRuleFile, wsLog);
    if (exitCode != kExitDone)
        return exitCode;
    TellStaleFiles(options);
    std::vector<TargetRun> targets(options.targets.size());
    for (size_t t = 0; t < targets.size() && exitCode == kExitDone; ++t)
    {
        targets[t].wsTarget = options.targets[t];
        exitCode = RunOver(cli, wsRuleFile, targets[t]);
    }
    if (exitCode == kExitDone && !options.allowUnsafe)
        exitCode = RefuseUnsafe(cli, wsRuleFile, targets);
    std::vector<Backup> backups;
    if (exitCode == kExitDone)
        exitCode = MakeBackups(cli, options, backups);
    if (exitCode != kExitDone)
        return exitCode;

    Json docs = Json::array(), error;
    std::string sText;
    bool anyFailed = false;
    size_t t = 0;
    for (; t < targets.size(); ++t)
    {
        bool fChanged = false;
        if (!WriteTarget(targets[t], fChanged, sReason))
        {
            TellBadInput(cli, targets[t].wsTarget, sReason);
            error = BadInputJson(targets[t].wsTarget, sReason);
            exitCode = kExitBadInput;
            break;
        }
        if (fChanged)
            KeepBackup(backups[t]);
        else
            PutAsideBack(backups[t]);
        LogFailures(wsLog, targets[t]);
        anyFailed = anyFailed || targets[t].run.uTried > targets[t].run.uModified;
        Json doc;
        Describe(targets[t], backups[t].wsPath, sText, doc);
        docs.push_back(doc);
    }
    for (; t < backups.size(); ++t)
        UndoBackup(backups[t]);
    if (exitCode == kExitDone)
        exitCode = anyFailed ? kExitRulesFailed : kExitDone;
    if (anyFailed)
        sText += "failure log: " + ShownPath(options.wsLog.empty() ? wsLog : options.wsLog) + "\n";
    if (cli.json)
    {
        Json doc = {{"command", "apply"},      {"ruleSet", ShownPath(wsRuleFile)},
                    {"log", ShownPath(wsLog)}, {"relocate", true},
                    {"targets", docs},         {"exitCode", exitCode}};
        if (!error.is_null())
            doc["error"] = error;
        PrintJson(doc);
    }
    else
        WriteOut(sText);
    return exitCode;
}
