// The tool's whole-file writes on POSIX systems: every new file is made under
// a name nobody can foresee, never opened if something is already there, and
// renamed over its destination only once it is complete and flushed.
#include "cli/cli_files.h"

#include "port/native_path.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
const char kTempMark[] = ".pivra-tmp-";
// An older backup kept aside while a run may still change nothing.
const char kAsideMark[] = ".pivra-old-";
const int kTempNameAttempts = 16;
const char kNoRoom[] = "cannot be written (no access to its folder, or no room)";

std::string RandomPart()
{
    unsigned char bytes[8];
    if (getrandom(bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes)))
    {
        // The new-file-only open keeps even a foreseen name safe.
        std::random_device device;
        for (unsigned char& b : bytes)
            b = static_cast<unsigned char>(device());
    }
    static const char szHex[] = "0123456789abcdef";
    std::string s;
    for (unsigned char b : bytes)
        s += {szHex[b >> 4], szHex[b & 15]};
    return s;
}

// A new file beside path, writable by this process only until its mode is
// set; something planted at a name (a link, a file) makes it take another.
int CreateTempBeside(const std::string& path, std::string& temp)
{
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt)
    {
        temp = path + kTempMark + RandomPart();
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool WriteAll(int fd, const BYTE* p, size_t cb)
{
    while (cb > 0)
    {
        ssize_t n = write(fd, p, cb);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        cb -= static_cast<size_t>(n);
    }
    return true;
}

bool CopyAll(int fdFrom, int fdTo)
{
    // The kernel copies (or shares the blocks) without a pass through memory.
    for (;;)
    {
        ssize_t n = copy_file_range(fdFrom, nullptr, fdTo, nullptr, 1 << 30, 0);
        if (n == 0)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
    }
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
        return false;
    std::vector<BYTE> buffer(1 << 20);
    for (;;)
    {
        ssize_t n = read(fdFrom, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!WriteAll(fdTo, buffer.data(), static_cast<size_t>(n)))
            return false;
    }
}

mode_t NewFileMode()
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Owner and group before the mode, as a change of owner clears the set-id bits.
bool TakeOwnerAndMode(int fd, const struct stat& old, bool ownerRequired)
{
    struct stat now;
    if (fstat(fd, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && fchown(fd, old.st_uid, old.st_gid) != 0 &&
        ownerRequired)
        return false;
    return fchmod(fd, old.st_mode & 07777) == 0;
}

void SyncFolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
    {
        fsync(fd);
        close(fd);
    }
}

// Flushes and closes a complete temporary file; removes it when that fails.
bool FinishTemp(int fd, const std::string& temp)
{
    bool ok = fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

const char* OwnerReason()
{
    return "belongs to another user or group, which a replacement could not keep (no permission)";
}

// Ends a temporary whose bytes went in (written) or did not: flushed and kept,
// or removed, with the reason of what failed.
bool EndTemp(int fd, const std::string& temp, bool written, bool owned, std::string& sReason)
{
    if (!written)
    {
        close(fd);
        unlink(temp.c_str());
        sReason = owned ? kNoRoom : OwnerReason();
        return false;
    }
    if (!FinishTemp(fd, temp))
    {
        sReason = kNoRoom;
        return false;
    }
    return true;
}

// A new temporary beside path holding the bytes, with the owner, group and
// mode of pOld (a new file's mode when none).
bool WriteTemp(const std::string& path, const BYTE* pBytes, size_t cb, const struct stat* pOld,
               std::string& temp, std::string& sReason)
{
    int fd = CreateTempBeside(path, temp);
    if (fd < 0)
    {
        sReason = kNoRoom;
        return false;
    }
    bool owned = pOld == nullptr ? fchmod(fd, NewFileMode()) == 0 : TakeOwnerAndMode(fd, *pOld, true);
    return EndTemp(fd, temp, owned && WriteAll(fd, pBytes, cb), owned, sReason);
}

bool SameIdentity(const struct stat& st, const FileIdentity& identity)
{
    return static_cast<DWORD>(st.st_dev) == identity.volume &&
           static_cast<unsigned long long>(st.st_ino) == identity.index;
}

bool MoveInPlace(const std::string& from, const std::string& to, bool overwrite, bool& exists)
{
    if (!overwrite)
    {
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        exists = errno == EEXIST;
        // A file system without the no-replace rename: look first, then rename.
        if (exists || (errno != EINVAL && errno != ENOSYS))
            return false;
        struct stat st;
        if (lstat(to.c_str(), &st) == 0)
        {
            exists = true;
            return false;
        }
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

// A link is written through: the file it names is replaced, the link stays.
std::string RealPath(const std::string& path)
{
    char* szReal = realpath(path.c_str(), nullptr);
    if (szReal == nullptr)
        return path;
    std::string real = szReal;
    free(szReal);
    return real;
}

bool ExchangeIfStillRead(const std::string& temp, const std::string& path, const FileIdentity& read,
                         std::string& sReason)
{
    const char* szReplaced = "was replaced by another file while the tool worked; left as it is";
    struct stat st;
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0)
    {
        // No exchange on this file system: look, then rename, with the
        // moment between them unguarded.
        const int err = errno;
        const bool fallback = err == EINVAL || err == ENOSYS;
        const bool same = fallback && lstat(path.c_str(), &st) == 0 && SameIdentity(st, read);
        if (!same || rename(temp.c_str(), path.c_str()) != 0)
        {
            unlink(temp.c_str());
            sReason = err == ENOENT       ? "was removed while the tool worked"
                      : fallback && !same ? szReplaced
                                          : "cannot be replaced (no access)";
            return false;
        }
        SyncFolderOf(path);
        return true;
    }
    // What the temporary name holds now is what the path held.
    if (lstat(temp.c_str(), &st) != 0 || !SameIdentity(st, read))
    {
        renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
        unlink(temp.c_str());
        sReason = szReplaced;
        return false;
    }
    unlink(temp.c_str());
    SyncFolderOf(path);
    return true;
}

// Opens a file to copy from, sharing it as the tool's other reads do.
int OpenToCopy(const std::string& from, struct stat& st, std::string& sReason)
{
    int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        sReason = errno == ENOENT ? "does not exist" : "cannot be read (access denied)";
        return -1;
    }
    if (flock(fd, LOCK_SH | LOCK_NB) != 0)
        sReason = "is in use by another program (locked)";
    else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        sReason = "is not a regular file";
    else
        return fd;
    close(fd);
    return -1;
}

// A new temporary beside wsBeside with the bytes of the file at from and its
// owner, group and mode; exact copies take its times too, and keep the owner
// only where permitted.
bool CopyToTemp(const std::string& from, const std::string& beside, bool exact, std::string& temp,
                FileIdentity* pRead, std::string& sReason, bool& sourceFailed)
{
    struct stat st;
    sourceFailed = true;
    int fdFrom = OpenToCopy(from, st, sReason);
    if (fdFrom < 0)
        return false;
    if (pRead != nullptr)
        *pRead = {static_cast<DWORD>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
    sourceFailed = false;
    int fd = CreateTempBeside(beside, temp);
    if (fd < 0)
    {
        close(fdFrom);
        sReason = kNoRoom;
        return false;
    }
    bool owned = TakeOwnerAndMode(fd, st, !exact);
    bool ok = owned && CopyAll(fdFrom, fd);
    close(fdFrom);
    if (ok && exact)
    {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ok = futimens(fd, times) == 0;
    }
    return EndTemp(fd, temp, ok, owned, sReason);
}
} // namespace

bool WriteWholeFile(const WString& wsPath, const BYTE* pBytes, size_t cb, bool overwrite,
                    std::string& sReason)
{
    std::error_code ec;
    if (std::filesystem::is_directory(FsPath(wsPath), ec))
    {
        sReason = "is a folder, not a file";
        return false;
    }
    const std::string path = NativePath(wsPath.c_str());
    struct stat st;
    bool exists = lstat(path.c_str(), &st) == 0;
    if (!overwrite && exists)
    {
        sReason = "exists already (--force replaces it)";
        return false;
    }
    std::string temp;
    if (!WriteTemp(path, pBytes, cb, exists && S_ISREG(st.st_mode) ? &st : nullptr, temp, sReason))
        return false;
    bool taken = false;
    if (!MoveInPlace(temp, path, overwrite, taken))
    {
        unlink(temp.c_str());
        sReason = taken ? "exists already (--force replaces it)" : "cannot be replaced (no access)";
        return false;
    }
    SyncFolderOf(path);
    return true;
}

bool ReplaceReadFile(const WString& wsPath, const FileIdentity& read, const BYTE* pBytes, size_t cb,
                     std::string& sReason)
{
    const std::string path = RealPath(NativePath(wsPath.c_str()));
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !SameIdentity(st, read))
    {
        sReason = "was replaced by another file while the tool worked; left as it is";
        return false;
    }
    std::string temp;
    return WriteTemp(path, pBytes, cb, &st, temp, sReason) && ExchangeIfStillRead(temp, path, read, sReason);
}

bool CopyFileExact(const WString& wsFrom, const WString& wsTo, bool overwrite, std::string& sReason)
{
    std::error_code ec;
    if (std::filesystem::is_directory(FsPath(wsTo), ec))
    {
        sReason = "is a folder, not a file";
        return false;
    }
    const std::string to = NativePath(wsTo.c_str());
    struct stat st;
    if (!overwrite && lstat(to.c_str(), &st) == 0)
    {
        sReason = "exists already (--force replaces it)";
        return false;
    }
    std::string temp;
    bool sourceFailed = false;
    if (!CopyToTemp(NativePath(wsFrom.c_str()), to, true, temp, nullptr, sReason, sourceFailed))
    {
        if (sourceFailed)
            sReason = "cannot be made: the file it copies " + sReason;
        return false;
    }
    bool taken = false;
    if (!MoveInPlace(temp, to, overwrite, taken))
    {
        unlink(temp.c_str());
        sReason = taken ? "exists already (--force replaces it)" : "cannot be replaced (no access)";
        return false;
    }
    SyncFolderOf(to);
    return true;
}

bool MakeTempCopy(const WString& wsFrom, WString& wsTemp, FileIdentity& read, std::string& sReason)
{
    const std::string from = RealPath(NativePath(wsFrom.c_str()));
    std::string temp;
    bool sourceFailed = false;
    if (!CopyToTemp(from, from, false, temp, &read, sReason, sourceFailed))
        return false;
    wsTemp = Utf8ToUtf16(temp);
    return true;
}

bool PutTempInPlace(const WString& wsTemp, const WString& wsPath, const FileIdentity& read,
                    std::string& sReason)
{
    return ExchangeIfStillRead(NativePath(wsTemp.c_str()), RealPath(NativePath(wsPath.c_str())), read,
                               sReason);
}

bool RemoveFile(const WString& wsPath)
{
    return unlink(NativePath(wsPath.c_str()).c_str()) == 0;
}

bool MoveAside(const WString& wsPath, WString& wsAside, std::string& sReason)
{
    const std::string path = NativePath(wsPath.c_str());
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt)
    {
        const std::string aside = path + kAsideMark + RandomPart();
        bool taken = false;
        if (MoveInPlace(path, aside, false, taken))
        {
            wsAside = Utf8ToUtf16(aside);
            return true;
        }
        if (!taken)
            break;
    }
    sReason = "cannot be moved aside (no access to its folder)";
    return false;
}

bool MoveBack(const WString& wsAside, const WString& wsPath)
{
    return rename(NativePath(wsAside.c_str()).c_str(), NativePath(wsPath.c_str()).c_str()) == 0;
}

std::vector<WString> StaleTempFiles(const WString& wsPath)
{
    return FilesMarked(wsPath, Utf8ToUtf16(kTempMark));
}

std::vector<WString> SetAsideFiles(const WString& wsPath)
{
    return FilesMarked(wsPath, Utf8ToUtf16(kAsideMark));
}

bool HasOtherNames(const WString& wsPath)
{
    struct stat st;
    return stat(NativePath(wsPath.c_str()).c_str(), &st) == 0 && st.st_nlink > 1;
}
