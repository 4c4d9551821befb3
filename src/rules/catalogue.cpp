#include "rules/catalogue.h"

#include "rules/rule_files.h"
#include "util/wide_text.h"

UINT ReadCatalogue(LPCWSTR wsCatalogue, FnCatalogueName fnName, void* pContext)
{
    WCHAR wsKey[kKeyChars];
    WCHAR wsName[kNameChars];
    UINT k = 1;
    for (;; ++k)
    {
        FormatUnsigned(wsKey, kKeyChars, k, 1);
        if (GetPrivateProfileStringW(SECTION_CONFIG, wsKey, W(""), wsName, kNameChars, wsCatalogue) == 0)
            break;
        fnName(pContext, wsName);
    }
    return k - 1;
}

UINT AddCatalogueEntry(LPCWSTR wsCatalogue, UINT uKey, LPCWSTR wsName)
{
    WCHAR wsKey[kKeyChars];
    WCHAR wsStored[2];
    if (uKey == 0)
        uKey = 1;
    for (;; ++uKey)
    {
        FormatUnsigned(wsKey, kKeyChars, uKey, 1);
        if (GetPrivateProfileStringW(SECTION_CONFIG, wsKey, W(""), wsStored, 2, wsCatalogue) == 0)
            break;
    }
    WritePrivateProfileStringW(SECTION_CONFIG, wsKey, wsName, wsCatalogue);
    return uKey;
}
