#include "rules/rule_files.h"

#include "util/path.h"
#include "util/wide_text.h"

namespace
{
void GetToolFile(LPCWSTR wsName, LPCWSTR wsEnding, LPWSTR wsFile)
{
    GetModuleDir(nullptr, wsFile, kPathChars);
    JoinPath(wsFile, kPathChars, wsName);
    WideAppend(wsFile, kPathChars, wsEnding);
}
} // namespace

void GetCatalogueFile(LPWSTR wsFile)
{
    GetToolFile(CATALOGUE_FILE_NAME, W(""), wsFile);
}
void GetRuleSetFileOf(LPCWSTR wsName, LPWSTR wsFile)
{
    GetToolFile(wsName, W(".ini"), wsFile);
}
void GetRemarksFileOf(LPCWSTR wsName, LPWSTR wsFile)
{
    GetToolFile(wsName, W(".txt"), wsFile);
}
