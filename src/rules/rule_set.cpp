#include "rules/rule_set.h"

#include "port/profile_store.h"
#include "util/wide_text.h"

#include <new>

void FormatNode(LPWSTR wsNode, UINT uNumber)
{
    FormatUnsigned(wsNode, kKeyChars, uNumber, 3);
}

bool IsListEnd(bool enEmpty, bool x86, bool x64)
{
    return enEmpty || (!x86 && !x64);
}

void ReadRuleSwitches(LPCWSTR wsFile, LPCWSTR wsNode, PatchRule& rule)
{
    rule.x86 = (GetPrivateProfileIntW(wsNode, KEY_X86, 1, wsFile) & 1) != 0;
    rule.x64 = (GetPrivateProfileIntW(wsNode, KEY_X64, 1, wsFile) & 1) != 0;
    rule.unicode = (GetPrivateProfileIntW(wsNode, KEY_UNICODE, 1, wsFile) & 1) != 0;
    rule.repeat = (GetPrivateProfileIntW(wsNode, KEY_REPEAT, 0, wsFile) & 1) != 0;
}

bool ReadRule(LPCWSTR wsFile, UINT uNumber, PatchRule& rule)
{
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, uNumber);
    rule.number = uNumber;
    DWORD dwEn = GetPrivateProfileStringW(wsNode, KEY_EN, W(""), rule.wsEn, kTextChars, wsFile);
    GetPrivateProfileStringW(wsNode, KEY_CN, W(""), rule.wsCn, kTextChars, wsFile);
    ReadRuleSwitches(wsFile, wsNode, rule);
    return !IsListEnd(dwEn == 0, rule.x86, rule.x64);
}

bool ReadRuleAsRun(LPCWSTR wsFile, LPCSTR szFile, UINT uNumber, PatchRule& rule)
{
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, uNumber);
    rule.number = uNumber;
    ReadRuleSwitches(wsFile, wsNode, rule);
    if (rule.unicode)
    {
        GetPrivateProfileStringW(wsNode, KEY_EN, W(""), rule.wsEn, kTextChars, wsFile);
        GetPrivateProfileStringW(wsNode, KEY_CN, W(""), rule.wsCn, kTextChars, wsFile);
        return !IsListEnd(rule.wsEn[0] == 0, rule.x86, rule.x64);
    }
    char szNode[kKeyChars];
    UINT i = 0;
    for (; wsNode[i] != 0 && i + 1 < kKeyChars; ++i)
        szNode[i] = static_cast<char>(wsNode[i]);
    szNode[i] = 0;
    char* szEn = reinterpret_cast<char*>(rule.wsEn);
    char* szCn = reinterpret_cast<char*>(rule.wsCn);
    szEn[0] = szCn[0] = 0;
    if (szFile != nullptr)
    {
        GetPrivateProfileStringA(szNode, "EN", "", szEn, kTextChars, szFile);
        GetPrivateProfileStringA(szNode, "CN", "", szCn, kTextChars, szFile);
    }
    return !IsListEnd(szEn[0] == 0, rule.x86, rule.x64);
}

UINT ReadRuleList(LPCWSTR wsFile, FnRuleRow fnRow, void* pContext)
{
    PatchRule* pRule = new (std::nothrow) PatchRule;
    if (pRule == nullptr)
        return 0;
    // One version of the file, checked once rather than at each of its thousands of reads.
    profile_store::SnapshotScope snapshot;
    UINT n = 1;
    for (; ReadRule(wsFile, n, *pRule); ++n)
        fnRow(pContext, *pRule);
    delete pRule;
    return n - 1;
}

DWORD ReadTargetPath(LPCWSTR wsFile, LPWSTR wsPath, DWORD cchPath)
{
    return GetPrivateProfileStringW(SECTION_CONFIG, KEY_FILE, W(""), wsPath, cchPath, wsFile);
}

BOOL WriteTargetPath(LPCWSTR wsFile, LPCWSTR wsPath)
{
    return WriteNodeKey(wsFile, SECTION_CONFIG, KEY_FILE, wsPath);
}

BOOL WriteNodeKey(LPCWSTR wsFile, LPCWSTR wsNode, LPCWSTR wsKey, LPCWSTR wsValue)
{
    CreateUnicodeFile(wsFile);
    return WritePrivateProfileStringW(wsNode, wsKey, wsValue, wsFile);
}

BOOL WriteRuleKey(LPCWSTR wsFile, UINT uNumber, LPCWSTR wsKey, LPCWSTR wsValue)
{
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, uNumber);
    return WriteNodeKey(wsFile, wsNode, wsKey, wsValue);
}

LPCWSTR ToggleRuleSwitch(LPCWSTR wsFile, UINT uNumber, LPCWSTR wsKey, LPCWSTR wsCell)
{
    LPCWSTR wsNew = ParseUnsigned(wsCell) == 0 ? W("1") : W("0");
    WriteRuleKey(wsFile, uNumber, wsKey, wsNew);
    return wsNew;
}

namespace
{
// A section read that filled the buffer up to its last two units may have been
// cut (the list then ends with two zeros and the size less two comes back).
bool MayBeCut(DWORD dwRead, DWORD cchBuffer)
{
    return dwRead + 2 >= cchBuffer;
}

// Reads a section whole, growing the buffer as needed. False when a larger
// buffer cannot be had.
bool ReadWholeSection(LPCWSTR wsFile, LPCWSTR wsNode, WCHAR*& wsBuffer, DWORD& cchBuffer, DWORD& dwRead)
{
    for (;;)
    {
        dwRead = GetPrivateProfileSectionW(wsNode, wsBuffer, cchBuffer, wsFile);
        if (!MayBeCut(dwRead, cchBuffer))
            return true;
        if (cchBuffer > 0x7FFFFFFFu / 2 / sizeof(WCHAR))
            return false;
        WCHAR* wsLarger = new (std::nothrow) WCHAR[cchBuffer * 2];
        if (wsLarger == nullptr)
            return false;
        delete[] wsBuffer;
        wsBuffer = wsLarger;
        cchBuffer *= 2;
    }
}
} // namespace

int DeleteRule(LPCWSTR wsFile, UINT uNumber)
{
    if (uNumber == 0)
        return -1;
    DWORD cchBuffer = kSectionChars;
    WCHAR* wsBuffer = new (std::nothrow) WCHAR[cchBuffer];
    if (wsBuffer == nullptr)
        return -1;
    WCHAR wsNode[kKeyChars];
    DWORD dwRead = 0;
    // First pass, before any write: size the buffer for the largest section
    // that moves, so no key is cut and no allocation can fail half-way.
    for (UINT i = uNumber + 1;; ++i)
    {
        FormatNode(wsNode, i);
        if (!ReadWholeSection(wsFile, wsNode, wsBuffer, cchBuffer, dwRead))
        {
            delete[] wsBuffer;
            return -1;
        }
        if (dwRead == 0)
            break;
    }
    // The moves reach the file as one replacement: a large set is not
    // rewritten once a section, and a crash leaves it before or after.
    profile_store::BeginDeferredWrites();
    FormatNode(wsNode, uNumber);
    WritePrivateProfileSectionW(wsNode, nullptr, wsFile);
    int moved = 0;
    for (UINT i = uNumber;; ++i)
    {
        WCHAR wsTarget[kKeyChars];
        FormatNode(wsTarget, i);
        FormatNode(wsNode, i + 1);
        dwRead = GetPrivateProfileSectionW(wsNode, wsBuffer, cchBuffer, wsFile);
        if (dwRead == 0)
        {
            WritePrivateProfileSectionW(wsTarget, nullptr, wsFile);
            break;
        }
        WritePrivateProfileSectionW(wsTarget, wsBuffer, wsFile);
        ++moved;
    }
    BOOL written = profile_store::EndDeferredWrites();
    delete[] wsBuffer;
    return written ? moved : -1;
}
