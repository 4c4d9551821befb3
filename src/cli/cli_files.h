// The files the command-line tool reads and writes, with a reason in words for
// every one it cannot use.
#pragma once

#include "util/fs_path.h"
#include "util/wstring.h"

#include <filesystem>
#include <string>
#include <vector>

WString AbsolutePath(const WString& wsPath);
bool PathExists(const WString& wsPath);

enum TargetUse
{
    kReadTarget, // shared reading, as a look at the file takes it
    kPatchTarget // exclusive reading and writing, as the patch run takes it
};

// Whether the target can be used as the patch run would: an existing file, not
// empty, below 4 GiB, that opens for the use (for patching, not read-only even
// to an administrator, as the profile store refuses such files). False with
// the reason otherwise.
bool CheckTarget(const WString& wsPath, TargetUse use, std::string& sReason);

// What a file is, whatever it is named by: device and inode on Linux, volume
// serial number and file index on Windows. False for a file that cannot be
// looked at (a missing one).
struct FileIdentity
{
    unsigned long long volume;
    unsigned long long index;
    bool operator<(const FileIdentity& other) const
    {
        return volume != other.volume ? volume < other.volume : index < other.index;
    }
    bool operator==(const FileIdentity& other) const
    {
        return volume == other.volume && index == other.index;
    }
};

enum TargetViewMode
{
    kViewReadOnly,
    // Writable, but every write goes to a private copy of its page: the file
    // never changes, and only the pages written take memory of their own.
    kViewCopyOnWrite
};

// A target's bytes, mapped under a shared open that stays until the object
// goes, so no other program changes them meanwhile and no copy of a large file
// is made.
class CTargetView
{
  public:
    CTargetView();
    ~CTargetView();
    CTargetView(const CTargetView&) = delete;
    CTargetView& operator=(const CTargetView&) = delete;

    bool Open(const WString& wsPath, std::string& sReason, TargetViewMode mode = kViewReadOnly);
    // Lets go of the file, so it can be replaced.
    void Close();
    // What the open file is (for ReplaceReadFile); false when no file is open.
    bool Identity(FileIdentity& identity) const;
    const BYTE* Data() const { return m_pView; }
    // Null unless opened copy-on-write.
    BYTE* WritableData() { return m_fCopyOnWrite ? m_pView : nullptr; }
    DWORD Size() const { return m_dwSize; }

  private:
    HANDLE m_hFile;
    HANDLE m_hMapping;
    BYTE* m_pView;
    DWORD m_dwSize;
    bool m_fCopyOnWrite;
};

bool GetFileIdentity(const WString& wsPath, FileIdentity& identity);
// The identity of a file the caller holds open, whatever its path names now.
bool GetOpenFileIdentity(HANDLE hFile, FileIdentity& identity);
// Whether the file has hard links besides wsPath (a replacement would leave
// them on the old file).
bool HasOtherNames(const WString& wsPath);
// Whether both paths name one existing file (a link, a letter case or a
// "..\\" make the names differ).
bool IsSameFile(const WString& wsA, const WString& wsB);

// Whether a file the tool is about to write can take the write: not a folder,
// not read-only, and without overwrite not there at all. A missing file is
// fine (its folder is tried by the write itself).
bool CheckWritableFile(const WString& wsPath, bool overwrite, std::string& sReason);

// A rule-set argument: a path when it ends in ".ini" or holds a separator, else
// the name of a rule set of the catalogue beside the executable. Gives the file
// of the set, which must exist and be readable.
bool IsRuleSetPath(const WString& wsArg);
bool ResolveRuleSet(const WString& wsArg, WString& wsFile, std::string& sReason);
bool CheckReadable(const WString& wsPath, std::string& sReason);
// A log file the run can append to: one that opens for writing, or a missing
// one in an existing folder. Checked without creating it.
bool CheckLogFile(const WString& wsPath, std::string& sReason);

// Writes a whole file through a temporary file in the same folder (created
// new, under an unpredictable name, flushed, then renamed in), so the old file
// (or none) stays until the new one is complete. A file it replaces keeps its
// owner, group and mode; a symbolic link at wsPath is itself replaced. Without overwrite
// an existing file is refused and left untouched.
bool WriteWholeFile(const WString& wsPath, const BYTE* pBytes, size_t cb, bool overwrite,
                    std::string& sReason);
bool WriteWholeFile(const WString& wsPath, const std::string& bytes, bool overwrite, std::string& sReason);

// Replaces the file at wsPath with the bytes, as WriteWholeFile does, only
// while it is still the file that was read (read: its identity, as
// CTargetView::Identity gave it); a file put there since is left as it is and
// the write refused. A symbolic link is written through: the file it names is
// replaced and the link stays. Close the view first: Windows replaces no open
// file.
bool ReplaceReadFile(const WString& wsPath, const FileIdentity& read, const BYTE* pBytes, size_t cb,
                     std::string& sReason);

// A backup: an exact copy of wsFrom at wsTo, with its mode and times (and
// owner and group where permitted), written through a temporary file.
bool CopyFileExact(const WString& wsFrom, const WString& wsTo, bool overwrite, std::string& sReason);

// A new temporary copy of wsFrom beside it, keeping owner, group and mode,
// for a run that patches the copy. The caller puts it in place with
// PutTempInPlace or removes it with RemoveFile.
// read: the identity of the file copied, for PutTempInPlace.
bool MakeTempCopy(const WString& wsFrom, WString& wsTemp, FileIdentity& read, std::string& sReason);
// Puts the complete temporary file wsTemp in place of wsPath while wsPath is
// still the file read; wsTemp is gone afterwards either way.
bool PutTempInPlace(const WString& wsTemp, const WString& wsPath, const FileIdentity& read,
                    std::string& sReason);
bool RemoveFile(const WString& wsPath);

// Moves a file to a new temporary name beside it (an older backup kept while
// a run may still change nothing), and back over wsPath.
bool MoveAside(const WString& wsPath, WString& wsAside, std::string& sReason);
bool MoveBack(const WString& wsAside, const WString& wsPath);

// The temporary files of the tool beside wsPath that a run which did not
// finish left (NAME.pivra-tmp-...), for the caller to name; never deleted.
// The files beside wsPath named wsPath's name followed by wsMark and more
// (letter case ignored on Windows), sorted.
std::vector<WString> FilesMarked(const WString& wsPath, const WString& wsMark);
std::vector<WString> StaleTempFiles(const WString& wsPath);
// Older backups (NAME.pivra-old-...) a run that did not finish had set aside
// while it made a new one: each may be the only copy of an original.
std::vector<WString> SetAsideFiles(const WString& wsPath);
// Whether two files hold the same bytes; false when either cannot be read.
bool SameBytes(const WString& wsA, const WString& wsB);
// Names, on standard error after szPrefix, the older backups of wsBackup a
// run that did not finish set aside.
void TellSetAsideBackups(const char* szPrefix, const WString& wsBackup);
