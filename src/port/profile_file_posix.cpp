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

FileStamp StampFile(const NativeName& file)
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
// Rewrites the file where it stands: for a file we may write but whose owner a
// replacement could not keep.
bool RewriteInPlace(const std::string& path, const std::string& bytes)
{
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, bytes) && ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}
} // namespace

bool ReplaceWholeFile(const NativeName& file, const std::string& bytes)
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
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0)
        return false; // a folder that takes no new file refuses the write
    mode_t mode = 0666 & ~[] {
        mode_t mask = umask(0);
        umask(mask);
        return mask;
    }();
    if (exists)
        mode = st.st_mode & 07777;
    bool ownerKept = !exists || (st.st_uid == geteuid() && st.st_gid == getegid()) ||
                     fchown(fd, st.st_uid, st.st_gid) == 0;
    if (!ownerKept)
    {
        close(fd);
        unlink(temp.c_str());
        return RewriteInPlace(path, bytes);
    }
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0)
    {
        unlink(temp.c_str());
        return false;
    }
    // The rename itself is on disk only once the folder is flushed.
    int dirFd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0)
    {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}
} // namespace profile_store
