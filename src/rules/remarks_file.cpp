#include "rules/remarks_file.h"

#include "util/wide_text.h"

#include <new>

namespace
{
const BYTE kBom[2] = {0xFF, 0xFE};

int WriteNewFile(LPCWSTR wsFile, const void* pBytes, DWORD cb)
{
    HANDLE hFile =
        CreateFileW(wsFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    DWORD dwWritten = 0;
    BOOL ok = WriteFile(hFile, pBytes, cb, &dwWritten, nullptr) && dwWritten == cb;
    ok = SetEndOfFile(hFile) && ok;
    CloseHandle(hFile);
    return ok ? 1 : 0;
}
} // namespace

int ReadRemarksFile(LPCWSTR wsFile, RemarksFile& remarks)
{
    remarks.unicode = 0;
    remarks.pBytes = nullptr;
    remarks.cbFile = 0;
    HANDLE hFile = CreateFileW(wsFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        DWORD dwError = GetLastError();
        if (dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND)
            return 0;
        // A file the tool creates is UTF-16LE, so no character typed is lost.
        remarks.unicode = 1;
        return 1;
    }
    int result = 1;
    DWORD dwHigh = 0;
    SetLastError(ERROR_SUCCESS);
    DWORD dwSize = GetFileSize(hFile, &dwHigh);
    bool sizeKnown = !(dwSize == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS);
    // A remarks file beyond what a text box holds is not one the tool wrote:
    // it is not loaded, and so never saved over.
    if (!sizeKnown || dwHigh != 0 || dwSize >= 0x7FFFFFF0u)
        result = 0;
    else if (dwSize > 0)
    {
        // Three zero bytes after the data: with an odd byte count the UTF-16
        // text after FF FE still ends in a whole zero unit inside the buffer.
        remarks.pBytes = new (std::nothrow) BYTE[dwSize + 3];
        if (remarks.pBytes == nullptr)
            result = 0;
        else
        {
            DWORD dwRead = 0;
            if (!ReadFile(hFile, remarks.pBytes, dwSize, &dwRead, nullptr) || dwRead != dwSize)
            {
                result = 0;
                dwRead = 0;
            }
            remarks.cbFile = dwRead;
            remarks.pBytes[dwRead] = 0;
            remarks.pBytes[dwRead + 1] = 0;
            remarks.pBytes[dwRead + 2] = 0;
            remarks.unicode = dwRead >= 2 && remarks.pBytes[0] == kBom[0] && remarks.pBytes[1] == kBom[1];
        }
    }
    CloseHandle(hFile);
    return result;
}

void FreeRemarksFile(RemarksFile& remarks)
{
    delete[] remarks.pBytes;
    remarks.pBytes = nullptr;
    remarks.cbFile = 0;
}

LPCWSTR RemarksTextW(const RemarksFile& remarks)
{
    static const WCHAR wsEmpty[1] = {0};
    if (remarks.pBytes == nullptr || !remarks.unicode)
        return wsEmpty;
    // The units start at byte 2; an odd last byte is followed by the two zeros.
    static_assert(sizeof(WCHAR) == 2, "UTF-16 units");
    return reinterpret_cast<LPCWSTR>(remarks.pBytes + 2);
}

LPCSTR RemarksTextA(const RemarksFile& remarks)
{
    return remarks.pBytes != nullptr ? reinterpret_cast<LPCSTR>(remarks.pBytes) : "";
}

int WriteRemarksFile(LPCWSTR wsFile, int unicode, LPCWSTR wsText, LPCWSTR wsShown)
{
    if (wsShown != nullptr && WideCompare(wsText, wsShown) == 0)
        return 1;
    UINT cch = WideLength(wsText);
    if (cch == 0)
    {
        DeleteFileW(wsFile);
        return 1;
    }
    if (unicode)
    {
        BYTE* pBuffer = new (std::nothrow) BYTE[2 + 2 * static_cast<size_t>(cch)];
        if (pBuffer == nullptr)
            return 0;
        pBuffer[0] = kBom[0];
        pBuffer[1] = kBom[1];
        for (UINT i = 0; i < cch; ++i)
        {
            pBuffer[2 + 2 * i] = static_cast<BYTE>(wsText[i] & 0xFF);
            pBuffer[3 + 2 * i] = static_cast<BYTE>(wsText[i] >> 8);
        }
        int result = WriteNewFile(wsFile, pBuffer, 2 + 2 * cch);
        delete[] pBuffer;
        return result;
    }
    int cb = WideCharToMultiByte(CP_ACP, 0, wsText, static_cast<int>(cch), nullptr, 0, nullptr, nullptr);
    char* szBuffer = cb > 0 ? new (std::nothrow) char[cb] : nullptr;
    if (szBuffer == nullptr)
        return 0;
    WideCharToMultiByte(CP_ACP, 0, wsText, static_cast<int>(cch), szBuffer, cb, nullptr, nullptr);
    int result = WriteNewFile(wsFile, szBuffer, static_cast<DWORD>(cb));
    delete[] szBuffer;
    return result;
}
