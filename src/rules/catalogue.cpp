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
    // A buffer of three or more units: into two, a quoted one-character name
    // could read as empty and be overwritten.
    WCHAR wsStored[kNameChars];
    if (uKey == 0)
        uKey = 1;
    for (;; ++uKey)
    {
        FormatUnsigned(wsKey, kKeyChars, uKey, 1);
        if (GetPrivateProfileStringW(SECTION_CONFIG, wsKey, W(""), wsStored, kNameChars, wsCatalogue) == 0)
            break;
    }
    CreateUnicodeFile(wsCatalogue);
    if (!WritePrivateProfileStringW(SECTION_CONFIG, wsKey, wsName, wsCatalogue))
        return 0;
    return uKey;
}
