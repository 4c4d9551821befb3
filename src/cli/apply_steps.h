// The steps apply takes around each run, shared by the run that patches in
// place and the one that relocates longer texts.
#pragma once

#include "cli/cli_report.h"
#include "cli/commands.h"
#include "image/image_map.h"
#include "scan/dry_run.h"
#include "util/wstring.h"

#include <vector>

// A target's backup while its run may still change nothing: an older backup
// is kept aside until the run has changed the target, and put back otherwise,
// so a rerun that finds nothing left to translate keeps the only original.
struct Backup
{
    WString wsPath; // empty: none asked for
    WString wsAside;
};

WString BackupPath(const WString& wsTarget);
// Everything that can be known bad before the first byte changes.
int CheckInputs(const CliContext& cli, const ApplyOptions& options, const WString& wsRuleFile,
                const WString& wsLog);
// Temporary files and older backups a killed run left, named, not removed.
void TellStaleFiles(const ApplyOptions& options);
void PutAsideBack(const Backup& backup);
// Takes back the backup of a target whose run failed.
void UndoBackup(const Backup& backup);
void KeepBackup(const Backup& backup);
// Every backup before the first target changes.
int MakeBackups(const CliContext& cli, const ApplyOptions& options, std::vector<Backup>& backups);
// The failure log apply writes to: --log, else the main window's.
WString ApplyLogPath(const ApplyOptions& options);

// The writes of the runs that would break their images, gathered over the
// targets; a run with any is refused before anything is written.
struct UnsafeFindings
{
    std::string sText;
    Json writes = Json::array();
    size_t cWrites = 0;
    WString wsFirst; // the first target with one

    void Add(const WString& wsTarget, const std::vector<DryRule>& rules, const CImageMap& image);
    // kExitDone when there are none; else tells them and returns kExitBadInput.
    int Refuse(const CliContext& cli, const WString& wsRuleFile) const;
};
