#include "rules/rule_files.h"

#include "util/path.h"
#include "util/wide_text.h"

void GetToolFile(LPCWSTR wsName, LPCWSTR wsEnding, LPWSTR wsFile, UINT cchFile)
{
    GetModuleDir(nullptr, wsFile, cchFile);
    JoinPath(wsFile, cchFile, wsName);
    WideAppend(wsFile, cchFile, wsEnding);
}

void GetCatalogueFile(LPWSTR wsFile)
{
    GetToolFile(CATALOGUE_FILE_NAME, W(""), wsFile, kPathChars);
}

void CreateUnicodeFile(LPCWSTR wsFile)
{
    static const BYTE kBom[2] = {0xFF, 0xFE};
    // CREATE_NEW: a file that exists, or comes into being meanwhile, is never touched.
    HANDLE hFile = CreateFileW(wsFile, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    DWORD dwWritten = 0;
    BOOL ok = WriteFile(hFile, kBom, sizeof(kBom), &dwWritten, nullptr) && dwWritten == sizeof(kBom);
    CloseHandle(hFile);
    // An empty file would read as ANSI: better none, which the next write
    // tries to create again.
    if (!ok)
        DeleteFileW(wsFile);
}
