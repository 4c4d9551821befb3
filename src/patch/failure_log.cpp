#include "patch/failure_log.h"

#include "rules/rule_files.h"
#include "util/path.h"
#include "util/wide_text.h"

namespace
{
const UINT kStampChars = 40;

void AppendNumber(LPWSTR wsDst, UINT cchDst, UINT uValue, UINT uDigits, LPCWSTR wsAfter)
{
    WCHAR wsNumber[16];
    FormatUnsigned(wsNumber, 16, uValue, uDigits);
    WideAppend(wsDst, cchDst, wsNumber);
    WideAppend(wsDst, cchDst, wsAfter);
}

void WriteUnits(HANDLE hFile, LPCWSTR ws, UINT cch)
{
    DWORD dwWritten;
    WriteFile(hFile, ws, cch * static_cast<DWORD>(sizeof(WCHAR)), &dwWritten, nullptr);
}
} // namespace

void GetLogFile(LPWSTR wsLog)
{
    DWORD dwLen = GetModuleFileNameW(nullptr, wsLog, kPathChars);
    wsLog[dwLen < kPathChars ? dwLen : kPathChars - 1] = 0;
    LPWSTR wsExt = FindExtension(wsLog);
    WideCopy(wsExt, kPathChars - static_cast<UINT>(wsExt - wsLog), W("log"));
}

void FormatLogStamp(LPWSTR wsStamp, UINT cchStamp, const SYSTEMTIME& stTime)
{
    if (cchStamp == 0)
        return;
    wsStamp[0] = 0;
    WideAppend(wsStamp, cchStamp, W("["));
    AppendNumber(wsStamp, cchStamp, stTime.wYear, 4, W("-"));
    AppendNumber(wsStamp, cchStamp, stTime.wMonth, 2, W("-"));
    AppendNumber(wsStamp, cchStamp, stTime.wDay, 2, W(" "));
    AppendNumber(wsStamp, cchStamp, stTime.wHour, 2, W(":"));
    AppendNumber(wsStamp, cchStamp, stTime.wMinute, 2, W(":"));
    AppendNumber(wsStamp, cchStamp, stTime.wSecond, 2, W("."));
    AppendNumber(wsStamp, cchStamp, stTime.wMilliseconds, 3, W("] "));
}

void WriteLogTo(LPCWSTR wsLogFile, LPCWSTR wsText)
{
    HANDLE hFile =
        CreateFileW(wsLogFile, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    DWORD dwHigh = 0;
    if (GetFileSize(hFile, &dwHigh) == 0 && dwHigh == 0)
    {
        const BYTE bom[2] = {0xFF, 0xFE};
        DWORD dwWritten;
        WriteFile(hFile, bom, 2, &dwWritten, nullptr);
    }
    LONG lHigh = 0;
    SetFilePointer(hFile, 0, &lHigh, FILE_END);
    SYSTEMTIME stTime;
    GetLocalTime(&stTime);
    WCHAR wsStamp[kStampChars];
    FormatLogStamp(wsStamp, kStampChars, stTime);
    WriteUnits(hFile, wsStamp, WideLength(wsStamp));
    WriteUnits(hFile, wsText, WideLength(wsText));
    WriteUnits(hFile, W("\r\n"), 2);
    CloseHandle(hFile);
}

void WriteLog(LPCWSTR wsText)
{
    WCHAR wsLog[kPathChars];
    GetLogFile(wsLog);
    WriteLogTo(wsLog, wsText);
}
