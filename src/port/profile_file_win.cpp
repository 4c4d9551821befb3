#include "port/profile_file.h"

#include <vector>

namespace profile_store
{
namespace
{
FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    FileStamp stamp;
    stamp.exists = true;
    stamp.size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    stamp.modified =
        static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
    stamp.identity = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return stamp;
}
} // namespace

NativeName ToNativeName(LPCWSTR wsFile)
{
    return wsFile;
}

FileStamp StampFile(const NativeName& file)
{
    LPCWSTR wsFile = file.c_str();
    HANDLE hFile = CreateFileW(wsFile, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return FileStamp();
    BY_HANDLE_FILE_INFORMATION info;
    FileStamp stamp;
    if (GetFileInformationByHandle(hFile, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        stamp = StampOf(info);
    CloseHandle(hFile);
    return stamp;
}

bool ReadWholeFile(const NativeName& file, std::string& bytes, FileStamp& stamp)
{
    LPCWSTR wsFile = file.c_str();
    HANDLE hFile = CreateFileW(wsFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(hFile, &info) && info.nFileSizeHigh == 0;
    if (ok)
    {
        bytes.resize(info.nFileSizeLow);
        DWORD dwRead = 0;
        ok = bytes.empty() || ReadFile(hFile, &bytes[0], info.nFileSizeLow, &dwRead, nullptr);
        bytes.resize(dwRead);
        stamp = StampOf(info);
    }
    CloseHandle(hFile);
    return ok;
}

bool ReplaceWholeFile(const NativeName& file, const std::string& bytes)
{
    LPCWSTR wsFile = file.c_str();
    std::wstring wsTemp = std::wstring(wsFile) + L".pivra-new";
    HANDLE hFile =
        CreateFileW(wsTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD dwWritten = 0;
    bool ok = bytes.empty() ||
              (WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr) &&
               dwWritten == bytes.size());
    ok = FlushFileBuffers(hFile) && ok;
    CloseHandle(hFile);
    if (!ok || !MoveFileExW(wsTemp.c_str(), wsFile, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        DeleteFileW(wsTemp.c_str());
        return false;
    }
    return true;
}
} // namespace profile_store
