// kernel32 file and mapping functions over POSIX descriptors.
#include "port/native_path.h"
#include "port/win32.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
struct PortHandle
{
    enum Kind
    {
        File,
        Mapping
    } kind;
    int fd;
    uint64_t cbMapping; // mappings only
    bool writable;
};

std::mutex g_viewLock;
std::map<const void*, size_t> g_views; // view address -> length, for UnmapViewOfFile

DWORD ErrorFromErrno(int err)
{
    switch (err)
    {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EWOULDBLOCK:
        return ERROR_SHARING_VIOLATION;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

PortHandle* AsHandle(HANDLE h, PortHandle::Kind kind)
{
    PortHandle* p = static_cast<PortHandle*>(h);
    if (p == nullptr || h == INVALID_HANDLE_VALUE || p->kind != kind)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return p;
}
} // namespace

HANDLE CreateFileW(LPCWSTR wsFile, DWORD dwAccess, DWORD dwShare, void*, DWORD dwDisposition, DWORD, HANDLE)
{
    if (wsFile == nullptr || wsFile[0] == 0)
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = NativePath(wsFile);
    bool read = dwAccess & GENERIC_READ, write = dwAccess & GENERIC_WRITE;
    int flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
    switch (dwDisposition)
    {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(path.c_str(), flags, 0666);
    if (fd < 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))
    {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // Share mode 0 holds the file alone; any other open shares it. Either fails
    // at once while a conflicting holder exists, as a sharing violation does.
    if (flock(fd, (dwShare == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
    {
        close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    // Truncate only once the lock is ours, so a refused open changes nothing.
    if ((dwDisposition == CREATE_ALWAYS || dwDisposition == TRUNCATE_EXISTING) && ftruncate(fd, 0) != 0)
    {
        close(fd);
        SetLastError(ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return new PortHandle{PortHandle::File, fd, 0, write};
}

BOOL CloseHandle(HANDLE hObject)
{
    PortHandle* p = static_cast<PortHandle*>(hObject);
    if (p == nullptr || hObject == INVALID_HANDLE_VALUE)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    close(p->fd);
    delete p;
    return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD pdwSizeHigh)
{
    PortHandle* p = AsHandle(hFile, PortHandle::File);
    struct stat st;
    if (p == nullptr || fstat(p->fd, &st) != 0)
        return INVALID_FILE_SIZE;
    uint64_t cb = static_cast<uint64_t>(st.st_size);
    if (pdwSizeHigh != nullptr)
        *pdwSizeHigh = static_cast<DWORD>(cb >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(cb);
}

namespace
{
FILETIME FileTimeOf(const struct timespec& ts)
{
    // 1601 to 1970 in 100 ns ticks.
    uint64_t u = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull +
                 static_cast<uint64_t>(ts.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(u), static_cast<DWORD>(u >> 32)};
}
} // namespace

BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION pInfo)
{
    PortHandle* p = AsHandle(hFile, PortHandle::File);
    struct stat st;
    if (p == nullptr || pInfo == nullptr || fstat(p->fd, &st) != 0)
        return FALSE;
    uint64_t cb = static_cast<uint64_t>(st.st_size), ino = static_cast<uint64_t>(st.st_ino);
    pInfo->dwFileAttributes = (st.st_mode & 0222) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    pInfo->ftCreationTime = FileTimeOf(st.st_ctim);
    pInfo->ftLastAccessTime = FileTimeOf(st.st_atim);
    pInfo->ftLastWriteTime = FileTimeOf(st.st_mtim);
    pInfo->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    pInfo->nFileSizeHigh = static_cast<DWORD>(cb >> 32);
    pInfo->nFileSizeLow = static_cast<DWORD>(cb);
    pInfo->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    pInfo->nFileIndexHigh = static_cast<DWORD>(ino >> 32);
    pInfo->nFileIndexLow = static_cast<DWORD>(ino);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID pBuffer, DWORD dwToRead, LPDWORD pdwRead, void*)
{
    PortHandle* p = AsHandle(hFile, PortHandle::File);
    if (pdwRead != nullptr)
        *pdwRead = 0;
    if (p == nullptr)
        return FALSE;
    DWORD dwDone = 0;
    while (dwDone < dwToRead)
    {
        ssize_t cb = read(p->fd, static_cast<char*>(pBuffer) + dwDone, dwToRead - dwDone);
        if (cb < 0 && errno == EINTR)
            continue;
        if (cb < 0)
        {
            SetLastError(ErrorFromErrno(errno));
            return FALSE;
        }
        if (cb == 0)
            break;
        dwDone += static_cast<DWORD>(cb);
    }
    if (pdwRead != nullptr)
        *pdwRead = dwDone;
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID pBuffer, DWORD dwToWrite, LPDWORD pdwWritten, void*)
{
    PortHandle* p = AsHandle(hFile, PortHandle::File);
    if (pdwWritten != nullptr)
        *pdwWritten = 0;
    if (p == nullptr)
        return FALSE;
    DWORD dwDone = 0;
    while (dwDone < dwToWrite)
    {
        ssize_t cb = write(p->fd, static_cast<const char*>(pBuffer) + dwDone, dwToWrite - dwDone);
        if (cb < 0 && errno == EINTR)
            continue;
        if (cb <= 0)
        {
            SetLastError(ErrorFromErrno(errno));
            if (pdwWritten != nullptr)
                *pdwWritten = dwDone;
            return FALSE;
        }
        dwDone += static_cast<DWORD>(cb);
    }
    if (pdwWritten != nullptr)
        *pdwWritten = dwDone;
    return TRUE;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistance, PLONG plDistanceHigh, DWORD dwMethod)
{
    PortHandle* p = AsHandle(hFile, PortHandle::File);
    if (p == nullptr)
        return INVALID_SET_FILE_POINTER;
    int64_t distance =
        plDistanceHigh != nullptr
            ? static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(*plDistanceHigh)) << 32 |
                                   static_cast<uint32_t>(lDistance))
            : lDistance;
    int whence = dwMethod == FILE_BEGIN ? SEEK_SET : dwMethod == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t pos = lseek(p->fd, distance, whence);
    if (pos < 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (plDistanceHigh != nullptr)
        *plDistanceHigh = static_cast<LONG>(static_cast<uint64_t>(pos) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(pos);
}

BOOL SetEndOfFile(HANDLE hFile)
{
    PortHandle* p = AsHandle(hFile, PortHandle::File);
    if (p == nullptr)
        return FALSE;
    off_t pos = lseek(p->fd, 0, SEEK_CUR);
    if (pos < 0 || ftruncate(p->fd, pos) != 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR wsFile)
{
    std::string path = NativePath(wsFile);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(path.c_str()) != 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

HANDLE CreateFileMappingW(HANDLE hFile, void*, DWORD dwProtect, DWORD dwSizeHigh, DWORD dwSizeLow, LPCWSTR)
{
    PortHandle* p = AsHandle(hFile, PortHandle::File);
    struct stat st;
    if (p == nullptr || fstat(p->fd, &st) != 0)
        return nullptr;
    uint64_t cb = static_cast<uint64_t>(dwSizeHigh) << 32 | dwSizeLow;
    if (cb == 0)
        cb = static_cast<uint64_t>(st.st_size);
    // PAGE_WRITECOPY is PAGE_READONLY to the mapping: any mapping takes
    // copy-on-write views, whose writes go to private pages only.
    bool writable = dwProtect == PAGE_READWRITE;
    // Windows refuses to map an empty file, and a larger mapping than the file
    // would need the file grown, which the callers here never ask for.
    if (cb == 0 || cb > static_cast<uint64_t>(st.st_size) || (writable && !p->writable))
    {
        SetLastError(cb == 0 ? 1006u /* ERROR_FILE_INVALID */ : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    int fd = dup(p->fd); // the mapping keeps the file open after its handle is closed
    if (fd < 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    return new PortHandle{PortHandle::Mapping, fd, cb, writable};
}

LPVOID MapViewOfFile(HANDLE hMapping, DWORD dwAccess, DWORD dwOffsetHigh, DWORD dwOffsetLow, SIZE_T cbSize)
{
    PortHandle* p = AsHandle(hMapping, PortHandle::Mapping);
    if (p == nullptr)
        return nullptr;
    uint64_t offset = static_cast<uint64_t>(dwOffsetHigh) << 32 | dwOffsetLow;
    // FILE_MAP_ALL_ACCESS holds the copy bit too and is a shared writable view.
    bool write = (dwAccess & FILE_MAP_WRITE) != 0;
    bool copy = !write && (dwAccess & FILE_MAP_COPY) != 0;
    if (offset >= p->cbMapping || (write && !p->writable) || cbSize > p->cbMapping - offset ||
        p->cbMapping - offset > SIZE_MAX)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    size_t cb = cbSize != 0 ? cbSize : static_cast<size_t>(p->cbMapping - offset);
    void* pView = mmap(nullptr, cb, PROT_READ | (write || copy ? PROT_WRITE : 0),
                       copy ? MAP_PRIVATE : MAP_SHARED, p->fd, static_cast<off_t>(offset));
    if (pView == MAP_FAILED)
    {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_viewLock);
    g_views[pView] = cb;
    return pView;
}

BOOL UnmapViewOfFile(LPCVOID pView)
{
    size_t cb;
    {
        std::lock_guard<std::mutex> lock(g_viewLock);
        auto it = g_views.find(pView);
        if (it == g_views.end())
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        cb = it->second;
        g_views.erase(it);
    }
    return munmap(const_cast<void*>(pView), cb) == 0;
}
