#include "cli/cli_files.h"

#include "cli/cli_output.h"

#include "rules/catalogue.h"
#include "rules/rule_files.h"

#ifndef _WIN32
#include "port/native_path.h"
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <fstream>

namespace
{
std::string OpenFailure(DWORD dwError, TargetUse use)
{
    switch (dwError)
    {
    case ERROR_SHARING_VIOLATION:
        return "is in use by another program (locked)";
    case ERROR_ACCESS_DENIED:
        return use == kPatchTarget ? "cannot be opened for writing (read-only or access denied)"
                                   : "cannot be read (access denied)";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "does not exist";
    default:
        return "cannot be opened (error " + std::to_string(dwError) + ")";
    }
}

// Missing and folder are told apart before the open, which reports both alike.
bool CheckIsFile(const WString& wsPath, std::string& sReason)
{
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(FsPath(wsPath), ec);
    if (!std::filesystem::exists(status))
    {
        sReason = "does not exist";
        return false;
    }
    if (std::filesystem::is_directory(status))
    {
        sReason = "is a folder, not a file";
        return false;
    }
    return true;
}

bool IsReadOnly(const WString& wsPath)
{
#ifdef _WIN32
    DWORD dwAttributes = GetFileAttributesW(wsPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY) != 0;
#else
    // No write bit for anyone: an administrator could still open it for
    // writing, but the tool takes it as read-only, as its profile store does.
    struct stat st;
    return stat(NativePath(wsPath.c_str()).c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
#endif
}

HANDLE OpenTarget(const WString& wsPath, TargetUse use, std::string& sReason, DWORD& dwSize)
{
    if (!CheckIsFile(wsPath, sReason))
        return INVALID_HANDLE_VALUE;
    if (use == kPatchTarget && IsReadOnly(wsPath))
    {
        sReason = "is read-only";
        return INVALID_HANDLE_VALUE;
    }
    DWORD dwAccess = use == kPatchTarget ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    DWORD dwShare = use == kPatchTarget ? 0 : FILE_SHARE_READ;
    HANDLE hFile = CreateFileW(wsPath.c_str(), dwAccess, dwShare, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        sReason = OpenFailure(GetLastError(), use);
        return INVALID_HANDLE_VALUE;
    }
    DWORD dwHigh = 0;
    SetLastError(ERROR_SUCCESS);
    dwSize = GetFileSize(hFile, &dwHigh);
    // 0xFFFFFFFF is also the size of a file of 4 GiB less one byte.
    if (dwSize == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)
        sReason = "cannot be measured (error " + std::to_string(GetLastError()) + ")";
    else if (dwHigh != 0)
        sReason = "is 4 GiB or larger; the patch engine takes smaller files only";
    else if (dwSize == 0)
        sReason = "is empty";
    else
        return hFile;
    CloseHandle(hFile);
    return INVALID_HANDLE_VALUE;
}

} // namespace

WString AbsolutePath(const WString& wsPath)
{
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(FsPath(wsPath), ec);
    return ec ? wsPath : ToolPath(abs.lexically_normal());
}

bool PathExists(const WString& wsPath)
{
    std::error_code ec;
    return std::filesystem::exists(FsPath(wsPath), ec);
}

bool CheckTarget(const WString& wsPath, TargetUse use, std::string& sReason)
{
    DWORD dwSize = 0;
    HANDLE hFile = OpenTarget(wsPath, use, sReason, dwSize);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(hFile);
    return true;
}

CTargetView::CTargetView()
    : m_hFile(INVALID_HANDLE_VALUE), m_hMapping(nullptr), m_pView(nullptr), m_dwSize(0), m_fCopyOnWrite(false)
{
}

CTargetView::~CTargetView()
{
    Close();
}

void CTargetView::Close()
{
    // The view before the mapping before the file, as they were made.
    if (m_pView != nullptr)
        UnmapViewOfFile(m_pView);
    if (m_hMapping != nullptr)
        CloseHandle(m_hMapping);
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
    m_pView = nullptr;
    m_hMapping = nullptr;
    m_hFile = INVALID_HANDLE_VALUE;
    m_dwSize = 0;
    m_fCopyOnWrite = false;
}

bool CTargetView::Open(const WString& wsPath, std::string& sReason, TargetViewMode mode)
{
    m_hFile = OpenTarget(wsPath, kReadTarget, sReason, m_dwSize);
    if (m_hFile == INVALID_HANDLE_VALUE)
        return false;
    // A file opened for reading only takes a PAGE_WRITECOPY mapping, and
    // FILE_MAP_COPY views of it.
    const bool fCopy = mode == kViewCopyOnWrite;
    m_hMapping = CreateFileMappingW(m_hFile, nullptr, fCopy ? PAGE_WRITECOPY : PAGE_READONLY, 0, 0, nullptr);
    if (m_hMapping != nullptr)
        m_pView =
            static_cast<BYTE*>(MapViewOfFile(m_hMapping, fCopy ? FILE_MAP_COPY : FILE_MAP_READ, 0, 0, 0));
    if (m_pView != nullptr)
    {
        m_fCopyOnWrite = fCopy;
        return true;
    }
    DWORD dwError = GetLastError();
    sReason = "cannot be mapped into memory (" + std::to_string(m_dwSize) + " bytes, error " +
              std::to_string(dwError) + ")";
    if (sizeof(void*) == 4)
        sReason += ": more than a 32-bit program's address space holds at once";
    return false;
}

bool GetFileIdentity(const WString& wsPath, FileIdentity& identity)
{
#ifdef _WIN32
    // No access asked: a file another program holds alone is still looked at.
    HANDLE hFile = CreateFileW(wsPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = GetFileInformationByHandle(hFile, &info);
    CloseHandle(hFile);
    if (!ok)
        return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
#else
    struct stat st;
    if (stat(NativePath(wsPath.c_str()).c_str(), &st) != 0)
        return false;
    // 32 bits of the device, as the handle's volume serial number holds.
    identity.volume = static_cast<DWORD>(st.st_dev);
    identity.index = static_cast<unsigned long long>(st.st_ino);
    return true;
#endif
}

bool GetOpenFileIdentity(HANDLE hFile, FileIdentity& identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (hFile == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(hFile, &info))
        return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
}

bool CTargetView::Identity(FileIdentity& identity) const
{
    return GetOpenFileIdentity(m_hFile, identity);
}

bool IsSameFile(const WString& wsA, const WString& wsB)
{
    FileIdentity a, b;
    return GetFileIdentity(wsA, a) && GetFileIdentity(wsB, b) && a == b;
}

bool CheckWritableFile(const WString& wsPath, bool overwrite, std::string& sReason)
{
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(FsPath(wsPath), ec);
    if (std::filesystem::is_directory(status))
    {
        sReason = "is a folder, not a file";
        return false;
    }
    if (!std::filesystem::exists(status))
        return true;
    if (!overwrite)
    {
        sReason = "exists already (--force replaces it)";
        return false;
    }
    if (IsReadOnly(wsPath))
    {
        sReason = "is read-only";
        return false;
    }
    return true;
}

bool IsRuleSetPath(const WString& wsArg)
{
    return EndsWithNoCase(wsArg, W(".ini")) || wsArg.find_first_of(W("/\\")) != WString::npos;
}

bool CheckReadable(const WString& wsPath, std::string& sReason)
{
    if (!CheckIsFile(wsPath, sReason))
        return false;
    HANDLE hFile = CreateFileW(wsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        sReason = OpenFailure(GetLastError(), kReadTarget);
        return false;
    }
    CloseHandle(hFile);
    return true;
}

namespace
{
struct CatalogueSearch
{
    const WString* pName;
    WString found;
    std::string names;
};

void LookAtName(void* pContext, LPCWSTR wsName)
{
    CatalogueSearch& search = *static_cast<CatalogueSearch*>(pContext);
    if (search.found.empty() && EqualsNoCase(wsName, *search.pName))
        search.found = wsName;
    search.names += (search.names.empty() ? "" : ", ") + ToUtf8(WString(wsName));
}
} // namespace

bool ResolveRuleSet(const WString& wsArg, WString& wsFile, std::string& sReason)
{
    if (IsRuleSetPath(wsArg))
    {
        // The Windows profile functions look for a relative name in the
        // Windows folder, not in the current one.
        wsFile = AbsolutePath(wsArg);
        return CheckReadable(wsFile, sReason);
    }
    WCHAR wsCatalogue[kPathChars];
    GetCatalogueFile(wsCatalogue);
    CatalogueSearch search = {&wsArg, WString(), std::string()};
    ReadCatalogue(wsCatalogue, LookAtName, &search);
    if (search.found.empty())
    {
        wsFile = wsCatalogue;
        sReason = "names no rule set '" + ToUtf8(wsArg) + "' (" +
                  (search.names.empty() ? std::string("it lists none") : "it lists: " + search.names) +
                  "); a rule-set file is named by a path ending in .ini";
        return false;
    }
    WCHAR wsSet[kPathChars];
    GetToolFile(search.found.c_str(), W(".ini"), wsSet, kPathChars);
    wsFile = wsSet;
    return CheckReadable(wsFile, sReason);
}

bool CheckLogFile(const WString& wsPath, std::string& sReason)
{
    std::error_code ec;
    std::filesystem::path path = FsPath(wsPath);
    if (std::filesystem::is_directory(path, ec))
    {
        sReason = "is a folder, not a file";
        return false;
    }
    if (!std::filesystem::exists(path, ec))
    {
        std::filesystem::path dir = std::filesystem::absolute(path, ec).parent_path();
        if (!std::filesystem::is_directory(dir, ec))
        {
            sReason = "lies in a folder that does not exist";
            return false;
        }
        return true;
    }
    HANDLE hFile = CreateFileW(wsPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        sReason = OpenFailure(GetLastError(), kPatchTarget);
        return false;
    }
    CloseHandle(hFile);
    return true;
}

bool WriteWholeFile(const WString& wsPath, const std::string& bytes, bool overwrite, std::string& sReason)
{
    return WriteWholeFile(wsPath, reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), overwrite,
                          sReason);
}

bool SameBytes(const WString& wsA, const WString& wsB)
{
    CTargetView a, b;
    std::string sReason;
    return a.Open(wsA, sReason) && b.Open(wsB, sReason) && a.Size() == b.Size() &&
           std::memcmp(a.Data(), b.Data(), a.Size()) == 0;
}

void TellSetAsideBackups(const char* szPrefix, const WString& wsBackup)
{
    for (const WString& wsAside : SetAsideFiles(wsBackup))
        WriteErr(szPrefix + ShownPath(wsAside) +
                 ": an older backup that a run which did not finish set aside; " + "if " +
                 ShownPath(wsBackup) + " is not the original, move this one back to it\n");
}

std::vector<WString> FilesMarked(const WString& wsPath, const WString& wsMark)
{
    std::vector<WString> found;
    std::error_code ec;
    const std::filesystem::path path = FsPath(wsPath);
    const WString wsPrefix = ToolPath(path.filename()) + wsMark;
    std::filesystem::path folder =
        path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    {
        const WString wsName = ToolPath(it->path().filename());
        if (wsName.size() <= wsPrefix.size())
            continue;
#ifdef _WIN32
        const bool fMarked = EqualsNoCase(wsName.substr(0, wsPrefix.size()), wsPrefix);
#else
        const bool fMarked = wsName.compare(0, wsPrefix.size(), wsPrefix) == 0;
#endif
        if (fMarked)
            found.push_back(ToolPath(path.parent_path() / it->path().filename()));
    }
    std::sort(found.begin(), found.end());
    return found;
}
