#include "cli/apply_steps.h"
#include "cli/check_json.h"
#include "cli/cli_files.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "patch/patch_run.h"
#include "rules/rule_set.h"

#include <fstream>
#include <map>

namespace
{
struct FailedRule
{
    UINT number;
    WString wsEn, wsCn;
};

// Watches one run through the window it is given: the rule being processed
// (the run steps the bar once per listed rule, in number order), the numbers
// of the rules that fail, and the lines the run appends to the log for them,
// in the same order.
struct RunWatch
{
    LPCWSTR wsRuleFile;
    WString wsLog;
    std::uintmax_t cbLogSeen;
    UINT uRule;
    bool mapped; // the run asks for the rule count only once the target is mapped
    WString wsReport;
    std::vector<FailedRule> failed;
    CProgress* pProgress;
    std::vector<UINT> failedNumbers;
    bool cnPending; // the last line taken was an ERROR_EN line
};

void RuleFailed(void* pContext, UINT uNumber)
{
    static_cast<RunWatch*>(pContext)->failedNumbers.push_back(uNumber);
}

std::uintmax_t LogSize(const WString& wsLog)
{
    std::error_code ec;
    std::uintmax_t cb = std::filesystem::file_size(FsPath(wsLog), ec);
    return ec ? 0 : cb;
}

void TakeLogLine(RunWatch& watch, const WString& wsLine)
{
    size_t at = wsLine.find(W("] "));
    if (at == WString::npos)
        return;
    WString wsText = wsLine.substr(at + 2);
    const WString wsEnPrefix = W("ERROR_EN:"), wsCnPrefix = W("ERROR_CN:");
    bool en = wsText.compare(0, wsEnPrefix.size(), wsEnPrefix) == 0;
    if (en)
    {
        size_t k = watch.failed.size();
        UINT uNumber = k < watch.failedNumbers.size() ? watch.failedNumbers[k] : watch.uRule;
        watch.failed.push_back({uNumber, wsText.substr(wsEnPrefix.size()), WString()});
    }
    else if (wsText.compare(0, wsCnPrefix.size(), wsCnPrefix) == 0 && watch.cnPending)
        watch.failed.back().wsCn = wsText.substr(wsCnPrefix.size());
    watch.cnPending = en;
}

// Reads what the log gained since it was last looked at.
void CollectLog(RunWatch& watch)
{
    std::uintmax_t cbNow = LogSize(watch.wsLog);
    if (cbNow <= watch.cbLogSeen)
        return;
    std::ifstream in(FsPath(watch.wsLog), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(watch.cbLogSeen));
    std::string bytes(static_cast<size_t>(cbNow - watch.cbLogSeen), '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    size_t i = watch.cbLogSeen == 0 && bytes.compare(0, 2, "\xFF\xFE") == 0 ? 2 : 0;
    watch.cbLogSeen += bytes.size();
    WString wsText;
    for (; i + 1 < bytes.size(); i += 2)
        wsText += static_cast<WCHAR>(static_cast<BYTE>(bytes[i]) | static_cast<BYTE>(bytes[i + 1]) << 8);
    for (size_t start = 0; start < wsText.size();)
    {
        size_t end = wsText.find(W("\r\n"), start);
        TakeLogLine(watch, wsText.substr(start, end == WString::npos ? WString::npos : end - start));
        start = end == WString::npos ? wsText.size() : end + 2;
    }
}

// The count sets only the range of a bar this program does not draw; reading
// the whole set for it would parse it a second time.
UINT RuleCount(void* pContext)
{
    static_cast<RunWatch*>(pContext)->mapped = true;
    return 0;
}

// The log is read once, at the report: the run writes its lines after all
// its steps, and a look at the log per step costs a folder scan under Wine
// while the log does not exist.
void Progress(void* pContext, PatchProgress progress, UINT)
{
    RunWatch& watch = *static_cast<RunWatch*>(pContext);
    if (progress != kProgressStepIt)
        return;
    ++watch.uRule;
    watch.pProgress->Update(watch.uRule, 0, "rule " + std::to_string(watch.uRule));
}

void Report(void* pContext, LPCWSTR wsText, LPCWSTR, UINT)
{
    RunWatch& watch = *static_cast<RunWatch*>(pContext);
    CollectLog(watch);
    watch.wsReport = wsText;
}

// The two counts of the report, in their order.
void ReportCounts(const WString& wsReport, UINT& uTried, UINT& uModified)
{
    UINT* counts[2] = {&uTried, &uModified};
    size_t n = 0;
    for (size_t i = 0; i < wsReport.size() && n < 2;)
    {
        if (wsReport[i] < '0' || wsReport[i] > '9')
        {
            ++i;
            continue;
        }
        UINT u = 0;
        for (; i < wsReport.size() && wsReport[i] >= '0' && wsReport[i] <= '9'; ++i)
            u = u * 10 + static_cast<UINT>(wsReport[i] - '0');
        *counts[n++] = u;
    }
}

} // namespace

WString BackupPath(const WString& wsTarget)
{
    return wsTarget + W(".bak");
}

// Everything that can be known bad before the first byte changes. Files are
// told apart by what they are, not by their names, which a link, a letter
// case or a "..\\" makes differ for one file.
int CheckInputs(const CliContext& cli, const ApplyOptions& options, const WString& wsRuleFile,
                const WString& wsLog)
{
    std::string sReason;
    if (!CheckLogFile(wsLog, sReason))
        return ReportBadInput(cli, wsLog, sReason);
    FileIdentity identity;
    std::map<FileIdentity, std::string> used; // what each file already is to this run
    if (GetFileIdentity(wsRuleFile, identity))
        used[identity] = "the rule-set file";
    if (GetFileIdentity(wsLog, identity))
    {
        if (used.count(identity) > 0)
            return ReportBadInput(cli, wsLog, "is the rule-set file of this run, not a log");
        used[identity] = "the failure log";
    }
    for (const WString& wsTarget : options.targets)
    {
        if (!CheckTarget(wsTarget, kPatchTarget, sReason))
            return ReportBadInput(cli, wsTarget, sReason);
        if (GetFileIdentity(wsTarget, identity))
        {
            auto it = used.find(identity);
            if (it != used.end())
                return ReportBadInput(cli, wsTarget,
                                      it->second == "a target" ? "is named twice"
                                                               : "is " + it->second + " of this run");
            used[identity] = "a target";
        }
    }
    if (!options.backup)
        return kExitDone;
    for (const WString& wsTarget : options.targets)
    {
        const WString wsBackup = BackupPath(wsTarget);
        if (!CheckWritableFile(wsBackup, options.force, sReason))
            return ReportBadInput(cli, wsBackup, sReason);
        if (GetFileIdentity(wsBackup, identity) && used.count(identity) > 0)
            return ReportBadInput(cli, wsBackup, "is " + used[identity] + " of this run, not a backup");
    }
    return kExitDone;
}

// Temporary files a killed run left beside a target or its backup are named,
// not removed: one may hold the only copy of something.
void TellStaleFiles(const ApplyOptions& options)
{
    for (const WString& wsTarget : options.targets)
        for (const WString& wsBeside : {wsTarget, BackupPath(wsTarget)})
            for (const WString& wsStale : StaleTempFiles(wsBeside))
                WriteErr("pivra-cli apply: " + ShownPath(wsStale) +
                         ": left by an earlier run that did not finish; remove it\n");
    for (const WString& wsTarget : options.targets)
        TellSetAsideBackups("pivra-cli apply: ", BackupPath(wsTarget));
}

// A file the run meant to move back or remove and could not, named so the
// user finds it: an older backup may be the only copy of an original.
static void TellLeft(const WString& wsFile, const char* szWhat)
{
    WriteErr("pivra-cli apply: " + ShownPath(wsFile) + ": " + szWhat + "\n");
}

void PutAsideBack(const Backup& backup)
{
    if (!backup.wsAside.empty() && !MoveBack(backup.wsAside, backup.wsPath))
        TellLeft(backup.wsAside, "the older backup could not be put back");
}

static void RemoveCopy(const WString& wsCopy)
{
    if (!RemoveFile(wsCopy))
        TellLeft(wsCopy, "the run's copy of the target could not be removed");
}

// Takes back the backup of a target whose run failed: the older backup
// returns, or the new one goes.
void UndoBackup(const Backup& backup)
{
    if (backup.wsPath.empty())
        return;
    if (!backup.wsAside.empty())
        PutAsideBack(backup);
    else if (!RemoveFile(backup.wsPath))
        TellLeft(backup.wsPath, "the new backup could not be removed");
}

void KeepBackup(const Backup& backup)
{
    if (!backup.wsAside.empty() && !RemoveFile(backup.wsAside))
        TellLeft(backup.wsAside, "the older backup could not be removed");
}

// Every backup before the first target changes, so a backup that cannot be
// written stops the run with all targets and backups as they were.
int MakeBackups(const CliContext& cli, const ApplyOptions& options, std::vector<Backup>& backups)
{
    for (const WString& wsTarget : options.targets)
    {
        Backup backup = {options.backup ? BackupPath(wsTarget) : WString(), WString()};
        std::string sReason;
        bool made = backup.wsPath.empty() ||
                    ((!PathExists(backup.wsPath) || MoveAside(backup.wsPath, backup.wsAside, sReason)) &&
                     CopyFileExact(wsTarget, backup.wsPath, false, sReason));
        if (!made)
        {
            PutAsideBack(backup);
            for (const Backup& undo : backups)
                UndoBackup(undo);
            backups.clear();
            return ReportBadInput(cli, backup.wsPath, sReason);
        }
        backups.push_back(backup);
    }
    return kExitDone;
}

namespace
{
// Where the run patches: the target itself, or a new copy of it that takes
// the target's place once the run is complete, so a run that stops part-way
// leaves the target as it was.
struct PatchPlace
{
    WString wsFile;
    FileIdentity read;
    bool copy;
};

bool PreparePlace(const ApplyOptions& options, const WString& wsTarget, PatchPlace& place,
                  std::string& sReason)
{
    place = {wsTarget, FileIdentity(), false};
    // The other names would keep the old file: only a write in place reaches them.
    if (options.inPlace || HasOtherNames(wsTarget))
        return true;
    place.copy = true;
    if (MakeTempCopy(wsTarget, place.wsFile, place.read, sReason))
        return true;
    if (sReason.compare(0, 19, "cannot be written (") == 0)
        sReason = "cannot be copied beside itself for the run (no access to its folder, or no room; "
                  "--in-place patches it without a copy)";
    return false;
}

// Puts the patched copy in place, unless another program holds the target
// now or another file took its name.
bool CompletePlace(const WString& wsTarget, const PatchPlace& place, bool changed, std::string& sReason)
{
    if (!place.copy)
        return true;
    if (!changed)
    {
        RemoveCopy(place.wsFile);
        return true;
    }
    if (!CheckTarget(wsTarget, kPatchTarget, sReason))
    {
        RemoveCopy(place.wsFile);
        return false;
    }
    return PutTempInPlace(place.wsFile, wsTarget, place.read, sReason);
}

// The unsafe writes of the run on one target, found by a dry run on a copy.
int AddUnsafe(const CliContext& cli, const WString& wsRuleFile, const WString& wsTarget,
              UnsafeFindings& findings)
{
    CTargetView original, scratch;
    std::string sReason;
    if (!original.Open(wsTarget, sReason) || !scratch.Open(wsTarget, sReason, kViewCopyOnWrite))
        return ReportBadInput(cli, wsTarget, sReason);
    try
    {
        CImageMap image;
        image.Load(original.Data(), original.Size());
        if (!image.IsPe())
            return kExitDone;
        DryRunResult result;
        {
            CProgress progress("check " + ShownPath(wsTarget));
            DryRunPatch(
                wsRuleFile.c_str(), scratch.WritableData(), scratch.Size(), original.Data(), result,
                [&progress](UINT uRule) { progress.Update(uRule, 0, "rule " + std::to_string(uRule)); },
                &image);
        }
        findings.Add(wsTarget, result.rules, image);
    }
    catch (const std::bad_alloc&)
    {
        return ReportBadInput(cli, wsTarget, OutOfMemoryReason(original.Size()));
    }
    return kExitDone;
}

// A run that would break an image is refused before any backup is made or
// any byte of any target changes.
int RefuseUnsafe(const CliContext& cli, const ApplyOptions& options, const WString& wsRuleFile)
{
    UnsafeFindings findings;
    for (const WString& wsTarget : options.targets)
    {
        int exitCode = AddUnsafe(cli, wsRuleFile, wsTarget, findings);
        if (exitCode != kExitDone)
            return exitCode;
    }
    return findings.Refuse(cli, wsRuleFile);
}
} // namespace

void UnsafeFindings::Add(const WString& wsTarget, const std::vector<DryRule>& rules, const CImageMap& image)
{
    bool fFirst = true;
    for (const DryRule& rule : rules)
    {
        if (rule.unsafe.empty())
            continue;
        if (fFirst)
            sText += ShownPath(wsTarget) + ": the run would break the image\n";
        fFirst = false;
        if (wsFirst.empty())
            wsFirst = wsTarget;
        sText += RuleHeadText(rule) + UnsafeText(rule, image);
        writes.push_back({{"target", ShownPath(wsTarget)},
                          {"number", rule.number},
                          {"en", ToUtf8(rule.wsEn)},
                          {"cn", ToUtf8(rule.wsCn)},
                          {"writes", UnsafeJson(rule, image)}});
        cWrites += rule.unsafe.size();
    }
}

int UnsafeFindings::Refuse(const CliContext& cli, const WString& wsRuleFile) const
{
    if (cWrites == 0)
        return kExitDone;
    const std::string sReason = std::to_string(cWrites) + (cWrites == 1 ? " write" : " writes") +
                                " of the run would break the image; nothing was written (--allow-unsafe "
                                "writes them as the main window does)";
    TellBadInput(cli, wsFirst, sReason);
    if (cli.json)
        PrintJson({{"command", "apply"},
                   {"ruleSet", ShownPath(wsRuleFile)},
                   {"exitCode", kExitBadInput},
                   {"error", BadInputJson(wsFirst, sReason)},
                   {"unsafeWrites", writes}});
    else
        WriteOut(sText);
    return kExitBadInput;
}

WString ApplyLogPath(const ApplyOptions& options)
{
    WString wsLog = options.wsLog;
    if (wsLog.empty())
    {
        // The main window's log (pivra.exe writes pivra.log), so both front
        // ends of one tool folder log into one file.
        WCHAR wsToolLog[kPathChars];
        GetToolFile(W("pivra"), W(".log"), wsToolLog, kPathChars);
        wsLog = wsToolLog;
    }
    return AbsolutePath(wsLog);
}

int RunApply(const CliContext& cli, const ApplyOptions& options)
{
    if (options.relocate)
        return RunApplyRelocating(cli, options);
    WString wsRuleFile;
    std::string sReason;
    if (!ResolveRuleSet(options.wsRuleSet, wsRuleFile, sReason))
        return ReportBadInput(cli, wsRuleFile, sReason);
    const WString wsShownLog = options.wsLog; // as given, for the text output
    const WString wsLog = ApplyLogPath(options);
    int exitCode = CheckInputs(cli, options, wsRuleFile, wsLog);
    if (exitCode == kExitDone)
        TellStaleFiles(options);
    if (exitCode == kExitDone && !options.allowUnsafe)
        exitCode = RefuseUnsafe(cli, options, wsRuleFile);
    std::vector<Backup> backups;
    if (exitCode == kExitDone)
        exitCode = MakeBackups(cli, options, backups);
    if (exitCode != kExitDone)
        return exitCode;

    Json targets = Json::array();
    std::string sText;
    Json error;
    bool anyFailed = false;
    size_t t = 0;
    for (; t < options.targets.size() && exitCode == kExitDone; ++t)
    {
        const WString& wsTarget = options.targets[t];
        const WString& wsBackup = backups[t].wsPath;
        PatchPlace place;
        if (!PreparePlace(options, wsTarget, place, sReason))
        {
            TellBadInput(cli, wsTarget, sReason);
            error = BadInputJson(wsTarget, sReason);
            exitCode = kExitBadInput;
            break;
        }
        CProgress progress("apply " + std::to_string(t + 1) + "/" + std::to_string(options.targets.size()));
        RunWatch watch = {wsRuleFile.c_str(), wsLog, LogSize(wsLog), 0,  false,
                          WString(),          {},    &progress,      {}, false};
        PatchWindow stWindow = {&watch, RuleCount, Progress, Report};
        UINT uReturned =
            RunPatchLoggingTo(wsRuleFile.c_str(), place.wsFile.c_str(), stWindow, wsLog.c_str(), RuleFailed);
        progress.Finish();
        if (!watch.mapped)
        {
            // Checked a moment ago: another program took it since.
            if (place.copy)
                RemoveCopy(place.wsFile);
            std::string sNow;
            sReason = CheckTarget(wsTarget, kPatchTarget, sNow) ? "could not be mapped for patching" : sNow;
            TellBadInput(cli, wsTarget, sReason);
            error = BadInputJson(wsTarget, sReason);
            exitCode = kExitBadInput;
            break;
        }
        UINT uTried = 0, uModified = uReturned;
        ReportCounts(watch.wsReport, uTried, uModified);
        UINT uUnlogged = uTried - uModified > watch.failed.size()
                             ? uTried - uModified - static_cast<UINT>(watch.failed.size())
                             : 0;
        // A rule whose CN is its EN counts as a change but changes no byte: only
        // a run that changed bytes may replace an older backup.
        bool fChanged = uModified > 0;
        if (fChanged && place.copy)
            fChanged = !SameBytes(place.wsFile, wsTarget);
        else if (fChanged && !backups[t].wsAside.empty())
            fChanged = !SameBytes(wsTarget, backups[t].wsPath);
        if (!CompletePlace(wsTarget, place, fChanged, sReason))
        {
            TellBadInput(cli, wsTarget, sReason);
            error = BadInputJson(wsTarget, sReason);
            exitCode = kExitBadInput;
            break;
        }
        if (fChanged)
            KeepBackup(backups[t]);
        else
            PutAsideBack(backups[t]);
        anyFailed = anyFailed || uTried > uModified;

        sText += ShownPath(wsTarget) + ": " + ToUtf8(watch.wsReport) + "\n";
        if (!place.copy)
            sText += options.inPlace ? std::string() : "  patched in place: the file has other names\n";
        if (!wsBackup.empty())
            sText += "  backup: " + ShownPath(wsBackup) + "\n";
        Json failed = Json::array();
        for (const FailedRule& rule : watch.failed)
        {
            WCHAR wsNode[kKeyChars];
            FormatNode(wsNode, rule.number);
            sText += "  failed " + ToUtf8(WString(wsNode)) + "  EN=" + ShownText(rule.wsEn) +
                     "  CN=" + ShownText(rule.wsCn) + "\n";
            failed.push_back({{"number", rule.number}, {"en", ToUtf8(rule.wsEn)}, {"cn", ToUtf8(rule.wsCn)}});
        }
        if (uUnlogged > 0)
            sText += "  " + std::to_string(uUnlogged) + " more failed rules left no line in the log\n";
        targets.push_back({{"path", ShownPath(wsTarget)},
                           {"backup", wsBackup.empty() ? Json() : Json(ShownPath(wsBackup))},
                           {"tried", uTried},
                           {"modified", uModified},
                           {"report", ToUtf8(watch.wsReport)},
                           {"failed", failed},
                           {"unloggedFailures", uUnlogged}});
    }
    // The target that failed and those after it keep their backups as they were.
    for (; t < backups.size(); ++t)
        UndoBackup(backups[t]);
    if (exitCode == kExitDone)
        exitCode = anyFailed ? kExitRulesFailed : kExitDone;
    if (anyFailed)
        sText += "failure log: " + ShownPath(wsShownLog.empty() ? wsLog : wsShownLog) + "\n";
    if (cli.json)
    {
        // Also after a target that failed part-way: the ones before it are patched.
        Json doc = {{"command", "apply"},
                    {"ruleSet", ShownPath(wsRuleFile)},
                    {"log", ShownPath(wsLog)},
                    {"targets", targets},
                    {"exitCode", exitCode}};
        if (!error.is_null())
            doc["error"] = error;
        PrintJson(doc);
    }
    else
        WriteOut(sText);
    return exitCode;
}
