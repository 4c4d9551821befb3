// The files the command-line tool reads and writes, with a reason in words for
// every one it cannot use.
#pragma once

#include "cli/cli_text.h"

#include <filesystem>
#include <string>
#include <vector>

std::filesystem::path FsPath(const WString& wsPath);
WString ToolPath(const std::filesystem::path& path);
WString AbsolutePath(const WString& wsPath);
bool PathExists(const WString& wsPath);

enum TargetUse
{
    kReadTarget, // shared reading, as a look at the file takes it
    kPatchTarget // exclusive reading and writing, as the patch run takes it
};

// Whether the target can be used as the patch run would: an existing file, not
// empty, below 4 GiB, that opens for the use. False with the reason otherwise.
bool CheckTarget(const WString& wsPath, TargetUse use, std::string& sReason);
// Reads the whole target under a shared open, so a file another program holds
// alone is refused rather than read half-written.
bool ReadTarget(const WString& wsPath, std::vector<BYTE>& bytes, std::string& sReason);

// A rule-set argument: a path when it ends in ".ini" or holds a separator, else
// the name of a rule set of the catalogue beside the executable. Gives the file
// of the set, which must exist and be readable.
bool IsRuleSetPath(const WString& wsArg);
bool ResolveRuleSet(const WString& wsArg, WString& wsFile, std::string& sReason);
bool CheckReadable(const WString& wsPath, std::string& sReason);
// A log file the run can append to: one that opens for writing, or a missing
// one in an existing folder. Checked without creating it.
bool CheckLogFile(const WString& wsPath, std::string& sReason);

// Writes a whole file through a temporary file in the same folder, so the old
// file (or none) stays until the new one is complete. Without overwrite an
// existing file is refused and left untouched.
bool WriteWholeFile(const WString& wsPath, const std::string& bytes, bool overwrite, std::string& sReason);
