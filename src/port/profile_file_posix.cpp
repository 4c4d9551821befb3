#include "port/native_path.h"
#include "port/profile_file.h"

#include <cerrno>
#include <cstdio>
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

bool ReplaceWholeFile(const NativeName& file, const std::string& bytes)
{
    const std::string& path = file;
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0)
        return false;
    struct stat st;
    mode_t mode = 0666 & ~[] {
        mode_t mask = umask(0);
        umask(mask);
        return mask;
    }();
    if (stat(path.c_str(), &st) == 0)
        mode = st.st_mode & 07777;
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0)
    {
        unlink(temp.c_str());
        return false;
    }
    // The rename itself is on disk only once the folder is flushed.
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0)
    {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}
} // namespace profile_store
