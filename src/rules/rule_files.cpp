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
