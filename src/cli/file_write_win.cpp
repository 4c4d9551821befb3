// The tool's whole-file writes on Windows: every new file is made under a
// name nobody can foresee, created only as a new file, and moved over its
// destination only once it is complete and flushed.
// rand_s is declared only when asked for before the first C library header.
#define _CRT_RAND_S
#include "cli/cli_files.h"

#include <algorithm>
#include <stdlib.h>
#include <vector>

namespace
{
const wchar_t kTempMark[] = L".pivra-tmp-";
// An older backup kept aside while a run may still change nothing.
const wchar_t kAsideMark[] = L".pivra-old-";
const int kTempNameAttempts = 16;
const char kNoRoom[] = "cannot be written (no access to its folder, or no room)";

WString RandomPart()
{
    static const wchar_t szHex[] = L"0123456789abcdef";
    WString ws;
    for (int i = 0; i < 2; ++i)
    {
        unsigned int u = 0;
        // A foreseen name is still safe: the file is created only as a new one.
        if (rand_s(&u) != 0)
            u = GetTickCount() ^ (GetCurrentProcessId() << 16);
        for (int k = 0; k < 8; ++k, u >>= 4)
            ws += szHex[u & 15];
    }
    return ws;
}

HANDLE CreateTempBeside(const WString& wsPath, WString& wsTemp)
{
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt)
    {
        wsTemp = wsPath + kTempMark + RandomPart();
        HANDLE hFile = CreateFileW(wsTemp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD dwError = GetLastError();
        if (hFile != INVALID_HANDLE_VALUE ||
            (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS))
            return hFile;
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE hFile, const BYTE* p, size_t cb)
{
    while (cb > 0)
    {
        DWORD dwChunk = cb > (1u << 30) ? (1u << 30) : static_cast<DWORD>(cb), dwWritten = 0;
        if (!WriteFile(hFile, p, dwChunk, &dwWritten, nullptr) || dwWritten == 0)
            return false;
        p += dwWritten;
        cb -= dwWritten;
    }
    return true;
}

bool CopyAll(HANDLE hFrom, HANDLE hTo)
{
    std::vector<BYTE> buffer(1 << 20);
    for (;;)
    {
        DWORD dwRead = 0;
        if (!ReadFile(hFrom, buffer.data(), static_cast<DWORD>(buffer.size()), &dwRead, nullptr))
            return false;
        if (dwRead == 0)
            return true;
        if (!WriteAll(hTo, buffer.data(), dwRead))
            return false;
    }
}

// The attributes a replacement keeps (hidden, system, archive, ...).
DWORD KeptAttributes(const WString& wsPath)
{
    DWORD dw = GetFileAttributesW(wsPath.c_str());
    return dw == INVALID_FILE_ATTRIBUTES ? 0 : dw & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
}

// Flushes and closes a complete temporary file, then gives it the attributes;
// removes it when any of that fails.
bool FinishTemp(HANDLE hFile, const WString& wsTemp, DWORD dwAttributes)
{
    bool ok = FlushFileBuffers(hFile) != 0;
    ok = CloseHandle(hFile) != 0 && ok;
    ok = ok && (dwAttributes == 0 || SetFileAttributesW(wsTemp.c_str(), dwAttributes));
    if (!ok)
        DeleteFileW(wsTemp.c_str());
    return ok;
}

bool WriteTemp(const WString& wsPath, const BYTE* pBytes, size_t cb, WString& wsTemp, std::string& sReason)
{
    HANDLE hFile = CreateTempBeside(wsPath, wsTemp);
    sReason = kNoRoom;
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    if (!WriteAll(hFile, pBytes, cb))
    {
        CloseHandle(hFile);
        DeleteFileW(wsTemp.c_str());
        return false;
    }
    return FinishTemp(hFile, wsTemp, KeptAttributes(wsPath));
}

bool MoveInPlace(const WString& wsFrom, const WString& wsTo, bool overwrite, std::string& sReason)
{
    // A replaced file hands its security, attributes and creation time on to
    // the new one, as a file rewritten in place would keep them.
    if (overwrite && PathExists(wsTo) &&
        ReplaceFileW(wsTo.c_str(), wsFrom.c_str(), nullptr, 0, nullptr, nullptr))
        return true;
    DWORD dwFlags = MOVEFILE_WRITE_THROUGH | (overwrite ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(wsFrom.c_str(), wsTo.c_str(), dwFlags))
        return true;
    DWORD dwError = GetLastError();
    DeleteFileW(wsFrom.c_str());
    sReason = dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_FILE_EXISTS
                  ? "exists already (--force replaces it)"
              : dwError == ERROR_SHARING_VIOLATION ? "is in use by another program (locked)"
                                                   : "cannot be replaced (no access)";
    return false;
}

// The file a link names, so the link stays and its file is replaced.
WString RealPath(const WString& wsPath)
{
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(FsPath(wsPath), ec);
    return ec ? wsPath : ToolPath(real);
}

bool CopyToTemp(const WString& wsFrom, const WString& wsBeside, bool exact, WString& wsTemp,
                FileIdentity* pRead, std::string& sReason, bool& sourceFailed)
{
    sourceFailed = true;
    HANDLE hFrom = CreateFileW(wsFrom.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFrom == INVALID_HANDLE_VALUE)
    {
        DWORD dwError = GetLastError();
        sReason = dwError == ERROR_SHARING_VIOLATION ? "is in use by another program (locked)"
                  : dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND
                      ? "does not exist"
                      : "cannot be read (access denied)";
        return false;
    }
    if (pRead != nullptr && !GetOpenFileIdentity(hFrom, *pRead))
    {
        CloseHandle(hFrom);
        sReason = "cannot be looked at";
        return false;
    }
    sourceFailed = false;
    HANDLE hTemp = CreateTempBeside(wsBeside, wsTemp);
    sReason = kNoRoom;
    if (hTemp == INVALID_HANDLE_VALUE)
    {
        CloseHandle(hFrom);
        return false;
    }
    FILETIME ftCreation, ftAccess, ftWrite;
    bool ok = CopyAll(hFrom, hTemp);
    if (ok && exact)
        ok = GetFileTime(hFrom, &ftCreation, &ftAccess, &ftWrite) &&
             SetFileTime(hTemp, &ftCreation, &ftAccess, &ftWrite);
    CloseHandle(hFrom);
    if (!ok)
    {
        CloseHandle(hTemp);
        DeleteFileW(wsTemp.c_str());
        return false;
    }
    return FinishTemp(hTemp, wsTemp, KeptAttributes(wsFrom));
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
    if (!overwrite && PathExists(wsPath))
    {
        sReason = "exists already (--force replaces it)";
        return false;
    }
    WString wsTemp;
    return WriteTemp(wsPath, pBytes, cb, wsTemp, sReason) && MoveInPlace(wsTemp, wsPath, overwrite, sReason);
}

// The caller's view held the file without FILE_SHARE_DELETE, so nothing could
// move another file onto its name until the view was closed; the look at its
// identity covers the moment since.
bool ReplaceReadFile(const WString& wsPath, const FileIdentity& read, const BYTE* pBytes, size_t cb,
                     std::string& sReason)
{
    const WString wsReal = RealPath(wsPath);
    FileIdentity now;
    if (!GetFileIdentity(wsReal, now) || !(now == read))
    {
        sReason = "was replaced by another file while the tool worked; left as it is";
        return false;
    }
    WString wsTemp;
    return WriteTemp(wsReal, pBytes, cb, wsTemp, sReason) && PutTempInPlace(wsTemp, wsReal, read, sReason);
}

bool CopyFileExact(const WString& wsFrom, const WString& wsTo, bool overwrite, std::string& sReason)
{
    std::error_code ec;
    if (std::filesystem::is_directory(FsPath(wsTo), ec))
    {
        sReason = "is a folder, not a file";
        return false;
    }
    if (!overwrite && PathExists(wsTo))
    {
        sReason = "exists already (--force replaces it)";
        return false;
    }
    WString wsTemp;
    bool sourceFailed = false;
    if (!CopyToTemp(wsFrom, wsTo, true, wsTemp, nullptr, sReason, sourceFailed))
    {
        if (sourceFailed)
            sReason = "cannot be made: the file it copies " + sReason;
        return false;
    }
    return MoveInPlace(wsTemp, wsTo, overwrite, sReason);
}

bool MakeTempCopy(const WString& wsFrom, WString& wsTemp, FileIdentity& read, std::string& sReason)
{
    const WString wsReal = RealPath(wsFrom);
    bool sourceFailed = false;
    return CopyToTemp(wsReal, wsReal, false, wsTemp, &read, sReason, sourceFailed);
}

bool PutTempInPlace(const WString& wsTemp, const WString& wsPath, const FileIdentity& read,
                    std::string& sReason)
{
    const WString wsReal = RealPath(wsPath);
    FileIdentity now;
    if (!GetFileIdentity(wsReal, now) || !(now == read))
    {
        DeleteFileW(wsTemp.c_str());
        sReason = "was replaced by another file while the tool worked; left as it is";
        return false;
    }
    return MoveInPlace(wsTemp, wsReal, true, sReason);
}

bool RemoveFile(const WString& wsPath)
{
    return DeleteFileW(wsPath.c_str()) != 0;
}

bool MoveAside(const WString& wsPath, WString& wsAside, std::string& sReason)
{
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt)
    {
        wsAside = wsPath + kAsideMark + RandomPart();
        if (MoveFileExW(wsPath.c_str(), wsAside.c_str(), MOVEFILE_WRITE_THROUGH))
            return true;
        DWORD dwError = GetLastError();
        if (dwError != ERROR_ALREADY_EXISTS && dwError != ERROR_FILE_EXISTS)
            break;
    }
    sReason = "cannot be moved aside (no access to its folder)";
    return false;
}

bool MoveBack(const WString& wsAside, const WString& wsPath)
{
    return MoveFileExW(wsAside.c_str(), wsPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           0;
}

std::vector<WString> StaleTempFiles(const WString& wsPath)
{
    return FilesMarked(wsPath, kTempMark);
}

std::vector<WString> SetAsideFiles(const WString& wsPath)
{
    return FilesMarked(wsPath, kAsideMark);
}

bool HasOtherNames(const WString& wsPath)
{
    HANDLE hFile = CreateFileW(wsPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool linked = GetFileInformationByHandle(hFile, &info) && info.nNumberOfLinks > 1;
    CloseHandle(hFile);
    return linked;
}
