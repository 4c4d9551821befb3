#include "port/profile_file.h"

#include <vector>

namespace profile_store
{
namespace
{
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A write time closer to now than this may be shared by a later rewrite of the
// same size (NTFS and Wine keep it in steps of a clock tick, some milliseconds),
// so only then is the file index worth the handle it takes (about 0.1 ms under
// Wine, against some microseconds for the size and times). On FAT, with its 2 s
// steps, a rewrite of the same size within those 2 s is not seen.
const uint64_t kRecentWriteTicks = 100 * 10000; // 100 ms in 100 ns ticks
const int kTempNameAttempts = 100;
// Attributes a rewrite keeps; read-only files are refused before this matters.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_ARCHIVE;

uint64_t Ticks(const FILETIME& ft)
{
    return static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

bool IsRecent(const FILETIME& ftWrite)
{
    FILETIME ftNow;
    GetSystemTimeAsFileTime(&ftNow);
    return Ticks(ftWrite) + kRecentWriteTicks > Ticks(ftNow);
}

// The identity is the file index, taken only while the write time cannot be
// trusted to change (0 otherwise): a replacement then has another index.
FileStamp StampOf(uint64_t size, const FILETIME& ftWrite, uint64_t identity)
{
    FileStamp stamp;
    stamp.exists = true;
    stamp.size = size;
    stamp.modified = Ticks(ftWrite);
    stamp.identity = identity;
    return stamp;
}

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info, bool withIdentity = false)
{
    uint64_t size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    uint64_t identity = withIdentity || IsRecent(info.ftLastWriteTime)
                            ? static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow
                            : 0;
    return StampOf(size, info.ftLastWriteTime, identity);
}

bool WriteAll(HANDLE hFile, const char* p, size_t cb)
{
    size_t done = 0;
    while (done < cb)
    {
        DWORD dwWritten = 0;
        if (!WriteFile(hFile, p + done, static_cast<DWORD>(cb - done), &dwWritten, nullptr) || dwWritten == 0)
            return false;
        done += dwWritten;
    }
    return true;
}

// A link is written through to the file it names; a link that names nothing
// is refused rather than replaced by a file of its own.
bool ResolveLink(const std::wstring& wsLink, std::wstring& wsTarget)
{
    HANDLE hFile =
        CreateFileW(wsLink.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    std::vector<WCHAR> wsPath(MAX_PATH);
    DWORD dwLen = GetFinalPathNameByHandleW(hFile, wsPath.data(), static_cast<DWORD>(wsPath.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (dwLen >= wsPath.size())
    {
        wsPath.resize(dwLen + 1);
        dwLen = GetFinalPathNameByHandleW(hFile, wsPath.data(), static_cast<DWORD>(wsPath.size()),
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    DWORD dwError = GetLastError();
    CloseHandle(hFile);
    if (dwLen == 0 || dwLen >= wsPath.size())
    {
        SetLastError(dwError);
        return false;
    }
    wsTarget.assign(wsPath.data(), dwLen);
    return true;
}

// Creates a file beside the target under a name no other writer uses.
HANDLE CreateTempBeside(const std::wstring& wsTarget, DWORD dwAttributes, std::wstring& wsTemp)
{
    static unsigned s_uCounter = 0; // callers hold the store's lock
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt)
    {
        wsTemp = wsTarget + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++s_uCounter) + L".tmp";
        HANDLE hFile =
            CreateFileW(wsTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, dwAttributes, nullptr);
        if (hFile != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return hFile;
    }
    return INVALID_HANDLE_VALUE;
}

bool SeekTo(HANDLE hFile, uint64_t at)
{
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(at);
    return SetFilePointerEx(hFile, li, nullptr, FILE_BEGIN) != 0;
}

bool WriteAt(HANDLE hFile, const char* p, size_t cb, uint64_t at)
{
    return SeekTo(hFile, at) && WriteAll(hFile, p, cb);
}

// Writes the file where it stands, so that a failure changes nothing: the part
// beyond the old end goes first (on a full disk that fails, and the file is cut
// back to its old size), then the part over the old bytes, which takes no new
// room, then the cut to the new size. (A compressed file can need room to be
// overwritten too; a disk filling up just then can leave it half written.)
// Shares everything, as the profile functions do, so a file another program
// holds open is written all the same.
bool RewriteInPlace(const std::wstring& wsTarget, const std::string& bytes, FileStamp& stamp)
{
    HANDLE hFile = CreateFileW(wsTarget.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(hFile, &info) != 0;
    uint64_t cbOld = ok ? static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow : 0;
    if (ok && bytes.size() > cbOld)
    {
        size_t cbKept = static_cast<size_t>(cbOld);
        ok = WriteAt(hFile, bytes.data() + cbKept, bytes.size() - cbKept, cbOld) && FlushFileBuffers(hFile);
        if (!ok)
        {
            // Nothing before the old end was touched yet.
            if (SeekTo(hFile, cbOld) && SetEndOfFile(hFile))
                FlushFileBuffers(hFile);
            CloseHandle(hFile);
            return false;
        }
    }
    size_t cbOver = bytes.size() < cbOld ? bytes.size() : static_cast<size_t>(cbOld);
    ok = ok && WriteAt(hFile, bytes.data(), cbOver, 0) && SeekTo(hFile, bytes.size()) &&
         SetEndOfFile(hFile) && FlushFileBuffers(hFile) && GetFileInformationByHandle(hFile, &info);
    if (ok)
        stamp = StampOf(info);
    // Once flushed, the bytes are on the disk whatever the close says.
    DWORD dwError = GetLastError();
    CloseHandle(hFile);
    if (!ok)
        SetLastError(dwError);
    return ok;
}

// Writes a new file beside the target and moves it over the target. False when
// any step fails; the target is then as it was and no temporary file is left.
bool ReplaceByMove(const std::wstring& wsTarget, const std::string& bytes, DWORD dwAttributes, bool exists,
                   FileStamp& stamp)
{
    std::wstring wsTemp;
    HANDLE hTemp = CreateTempBeside(wsTarget, dwAttributes, wsTemp);
    if (hTemp == INVALID_HANDLE_VALUE)
        return false;
    bool ok = WriteAll(hTemp, bytes.data(), bytes.size());
    ok = ok && FlushFileBuffers(hTemp);
    // The stamp of what was written, from the file itself before it takes the
    // name: a change another program makes after the move differs from it.
    BY_HANDLE_FILE_INFORMATION info;
    ok = ok && GetFileInformationByHandle(hTemp, &info);
    ok = CloseHandle(hTemp) && ok;
    // Write-through: the call returns once the new name is on the disk.
    DWORD dwMove = MOVEFILE_WRITE_THROUGH | (exists ? MOVEFILE_REPLACE_EXISTING : 0);
    if (ok && MoveFileExW(wsTemp.c_str(), wsTarget.c_str(), dwMove))
    {
        stamp = StampOf(info);
        return true;
    }
    DWORD dwError = GetLastError();
    DeleteFileW(wsTemp.c_str());
    SetLastError(dwError);
    return false;
}
} // namespace

NativeName ToNativeName(LPCWSTR wsFile)
{
    return wsFile;
}

FileStamp StampFile(const NativeName& file, bool withIdentity)
{
    // Size and times come without opening the file; only a recent write time
    // needs the handle that the file index takes.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return FileStamp();
    if (!withIdentity && !IsRecent(data.ftLastWriteTime) &&
        !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return StampOf(static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow,
                       data.ftLastWriteTime, 0);
    HANDLE hFile =
        CreateFileW(file.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return FileStamp();
    BY_HANDLE_FILE_INFORMATION info;
    FileStamp stamp;
    if (GetFileInformationByHandle(hFile, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        stamp = StampOf(info, withIdentity);
    CloseHandle(hFile);
    return stamp;
}

bool ReadWholeFile(const NativeName& file, std::string& bytes, FileStamp& stamp)
{
    HANDLE hFile = CreateFileW(file.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(hFile, &info) && info.nFileSizeHigh == 0 &&
              !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (ok)
    {
        bytes.resize(info.nFileSizeLow);
        size_t done = 0;
        while (done < bytes.size())
        {
            DWORD dwRead = 0;
            if (!ReadFile(hFile, &bytes[done], static_cast<DWORD>(bytes.size() - done), &dwRead, nullptr))
            {
                ok = false;
                break;
            }
            if (dwRead == 0)
                break;
            done += dwRead;
        }
        bytes.resize(done); // a file that shrank while being read yields what was there
        stamp = StampOf(info);
    }
    CloseHandle(hFile);
    return ok;
}

bool ReplaceWholeFile(const NativeName& file, const std::string& bytes, FileStamp& stamp)
{
    std::wstring wsTarget = file;
    DWORD dwAttributes = GetFileAttributesW(wsTarget.c_str());
    bool exists = dwAttributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    if (exists && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    {
        // A name that still is a link was not resolved (Wine gives back the
        // link's own name): refused, as the move would replace the link.
        if (!ResolveLink(file, wsTarget))
            return false;
        dwAttributes = GetFileAttributesW(wsTarget.c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES)
            return false;
        if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
    }
    if (exists && (dwAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (exists)
    {
        // A file another program holds without sharing it for writing, or that
        // the user may not write, is refused, as by the profile functions. A
        // file with more than one name keeps them all only when written in place.
        HANDLE hFile = CreateFileW(wsTarget.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE)
            return false;
        BY_HANDLE_FILE_INFORMATION info;
        bool linked = GetFileInformationByHandle(hFile, &info) && info.nNumberOfLinks > 1;
        CloseHandle(hFile);
        if (linked)
            return RewriteInPlace(wsTarget, bytes, stamp);
    }
    DWORD dwNewAttributes = (exists ? dwAttributes & kKeptAttributes : 0) | FILE_ATTRIBUTE_ARCHIVE;
    if (ReplaceByMove(wsTarget, bytes, dwNewAttributes, exists, stamp))
        return true;
    // Another program has the file open, the folder takes no new file, or the
    // disk has no room for a second copy: the file itself may still be written.
    return exists && RewriteInPlace(wsTarget, bytes, stamp);
}
} // namespace profile_store
