#include "port/native_path.h"
#include "port/profile_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace profile_store
{
namespace
{
FileStamp StampOf(const struct stat& st)
{
    FileStamp stamp;
    stamp.exists = true;
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.modified =
        static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u + static_cast<uint64_t>(st.st_mtim.tv_nsec);
    stamp.identity = static_cast<uint64_t>(st.st_ino) ^ (static_cast<uint64_t>(st.st_dev) << 40);
    return stamp;
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size())
    {
        ssize_t cb = write(fd, bytes.data() + done, bytes.size() - done);
        if (cb < 0 && errno == EINTR)
            continue;
        if (cb <= 0)
            return false;
        done += static_cast<size_t>(cb);
    }
    return true;
}
} // namespace

NativeName ToNativeName(LPCWSTR wsFile)
{
    return NativePath(wsFile);
}

FileStamp StampFile(const NativeName& file, bool)
{
    struct stat st;
    if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return FileStamp();
    return StampOf(st);
}

bool ReadWholeFile(const NativeName& file, std::string& bytes, FileStamp& stamp)
{
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok)
    {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (done < bytes.size())
        {
            ssize_t cb = read(fd, &bytes[done], bytes.size() - done);
            if (cb < 0 && errno == EINTR)
                continue;
            if (cb <= 0)
                break;
            done += static_cast<size_t>(cb);
        }
        bytes.resize(done); // a file that shrank while being read yields what was there
        stamp = StampOf(st);
    }
    close(fd);
    return ok;
}

namespace
{
bool WriteAllAt(int fd, const char* p, size_t cb, off_t at)
{
    while (cb > 0)
    {
        ssize_t done = pwrite(fd, p, cb, at);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        p += done;
        cb -= static_cast<size_t>(done);
        at += done;
    }
    return true;
}

// Writes the file where it stands, so that a failure changes nothing: the part
// beyond the old end goes first (on a full disk that fails, and the file is cut
// back to its old size), then the part over the old bytes, which takes no new
// room, then the cut to the new size. (On a copy-on-write file system an
// overwrite needs room too; a disk filling up just then can leave the file
// half written.)
bool RewriteInPlace(const std::string& path, const std::string& bytes, FileStamp& stamp)
{
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    size_t cbOld = ok ? static_cast<size_t>(st.st_size) : 0;
    if (ok && bytes.size() > cbOld)
    {
        ok = WriteAllAt(fd, bytes.data() + cbOld, bytes.size() - cbOld, static_cast<off_t>(cbOld)) &&
             fsync(fd) == 0;
        if (!ok)
        {
            // Nothing before the old end was touched yet.
            if (ftruncate(fd, static_cast<off_t>(cbOld)) == 0)
                fsync(fd);
            close(fd);
            return false;
        }
    }
    ok = ok && WriteAllAt(fd, bytes.data(), bytes.size() < cbOld ? bytes.size() : cbOld, 0) &&
         ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && fsync(fd) == 0 && fstat(fd, &st) == 0;
    if (ok)
        stamp = StampOf(st);
    // Once flushed, the bytes are on the disk whatever the close says.
    close(fd);
    return ok;
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Writes a new file beside path and renames it over path. False when any step
// fails; path is then as it was and no temporary file is left.
bool ReplaceByRename(const std::string& path, const std::string& bytes, mode_t mode, const struct stat* pOld,
                     FileStamp& stamp)
{
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0)
        return false;
    bool ok = (pOld == nullptr || (pOld->st_uid == geteuid() && pOld->st_gid == getegid()) ||
               fchown(fd, pOld->st_uid, pOld->st_gid) == 0) &&
              fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
    struct stat st;
    // The stamp of what was written, from the file itself before it takes the
    // name: a change another program makes after the rename differs from it.
    ok = ok && fstat(fd, &st) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0)
    {
        unlink(temp.c_str());
        return false;
    }
    stamp = StampOf(st);
    // The rename itself is on disk only once the folder is flushed.
    int dirFd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0)
    {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}
} // namespace

bool ReplaceWholeFile(const NativeName& file, const std::string& bytes, FileStamp& stamp)
{
    std::string path = file;
    struct stat st;
    bool exists = false;
    if (lstat(path.c_str(), &st) == 0)
    {
        if (S_ISLNK(st.st_mode))
        {
            // A link is written through to its target, which must exist.
            char* szTarget = realpath(path.c_str(), nullptr);
            if (szTarget == nullptr)
                return false;
            path = szTarget;
            free(szTarget);
            if (stat(path.c_str(), &st) != 0)
                return false;
        }
        if (!S_ISREG(st.st_mode))
            return false;
        exists = true;
        // Read-only (no write bit, which binds the superuser too) or not ours to
        // write: refused, the file is left as it is.
        if ((st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0)
            return false;
    }
    mode_t mode = 0666 & ~[] {
        mode_t mask = umask(0);
        umask(mask);
        return mask;
    }();
    if (exists)
        mode = st.st_mode & 07777;
    // A file with more than one name keeps them all only when written in place.
    if (exists && st.st_nlink > 1)
        return RewriteInPlace(path, bytes, stamp);
    if (ReplaceByRename(path, bytes, mode, exists ? &st : nullptr, stamp))
        return true;
    // No new file beside it (a folder that takes none, a full disk, an owner
    // that cannot be kept): the file itself may still be written.
    return exists && RewriteInPlace(path, bytes, stamp);
}
} // namespace profile_store
