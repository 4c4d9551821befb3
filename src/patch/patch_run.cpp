#include "patch/patch_run.h"

#include "patch/failure_log.h"
#include "patch/pe_test.h"
#include "patch/replace_text.h"
#include "rules/escape.h"
#include "rules/rule_set.h"
#include "util/path.h"
#include "util/wide_text.h"

#include <new>

namespace
{
const UINT kReportChars = 100;
const UINT kAnsiPathBytes = 360;

struct PatchState
{
    LPCWSTR wsRuleFile;
    const char* szRuleFile; // null when the path has no exact ANSI form
    LPCWSTR wsLogFile;
    const PatchWindow* pWindow;
    PatchRule* pRule; // its two texts are the EN and CN buffers of the run
    BYTE* pView;
    DWORD dwSize;
    bool pe64;
    UINT uTried;
    UINT uModified;
};

char* AnsiText(WCHAR* ws)
{
    return reinterpret_cast<char*>(ws);
}

void FormatNodeA(char* szNode, LPCWSTR wsNode)
{
    UINT i = 0;
    for (; wsNode[i] != 0 && i + 1 < kKeyChars; ++i)
        szNode[i] = static_cast<char>(wsNode[i]);
    szNode[i] = 0;
}

void ReadAnsiText(const PatchState& run, const char* szNode, const char* szKey, WCHAR* wsBuffer)
{
    if (run.szRuleFile == nullptr)
        AnsiText(wsBuffer)[0] = 0;
    else
        GetPrivateProfileStringA(szNode, szKey, "", AnsiText(wsBuffer), kTextChars, run.szRuleFile);
}

// Both log lines carry the texts as stored, read again with the wide read
// whatever the rule's kind.
void LogFailedRule(const PatchState& run, LPCWSTR wsNode)
{
    const UINT cchPrefix = 9;
    WCHAR* wsEn = run.pRule->wsEn;
    WCHAR* wsCn = run.pRule->wsCn;
    WideCopy(wsEn, kTextChars, W("ERROR_EN:"));
    GetPrivateProfileStringW(wsNode, KEY_EN, W(""), wsEn + cchPrefix, kTextChars - cchPrefix, run.wsRuleFile);
    WideCopy(wsCn, kTextChars, W("ERROR_CN:"));
    GetPrivateProfileStringW(wsNode, KEY_CN, W(""), wsCn + cchPrefix, kTextChars - cchPrefix, run.wsRuleFile);
    WriteLogTo(run.wsLogFile, wsEn);
    WriteLogTo(run.wsLogFile, wsCn);
}

// Applies the decoded rule; returns how many occurrences it overwrote.
UINT ApplyRule(PatchState& run, bool unicode, bool repeat)
{
    PatchRule& rule = *run.pRule;
    if (unicode)
    {
        UINT lenEn = UnescapeTextW(rule.wsEn);
        UINT lenCn = UnescapeTextW(rule.wsCn);
        if (lenEn < lenCn || (rule.wsEn[0] == 0) != (rule.wsCn[0] == 0))
            return 0;
        if (repeat)
            return ReplaceEveryW(run.pView, run.dwSize, rule.wsEn, lenEn, rule.wsCn, lenCn);
        return static_cast<UINT>(ReplaceTextW(run.pView, run.dwSize, rule.wsEn, lenEn, rule.wsCn, lenCn));
    }
    char* szEn = AnsiText(rule.wsEn);
    char* szCn = AnsiText(rule.wsCn);
    UINT lenEn = UnescapeTextA(szEn);
    UINT lenCn = UnescapeTextA(szCn);
    if (lenEn < lenCn || (szEn[0] == 0) != (szCn[0] == 0))
        return 0;
    if (repeat)
        return ReplaceEveryA(run.pView, run.dwSize, szEn, lenEn, szCn, lenCn);
    return static_cast<UINT>(ReplaceTextA(run.pView, run.dwSize, szEn, lenEn, szCn, lenCn));
}

// Processes rule uNumber; false where the rules end.
bool ProcessRule(PatchState& run, UINT uNumber)
{
    PatchRule& rule = *run.pRule;
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, uNumber);
    char szNode[kKeyChars];
    FormatNodeA(szNode, wsNode);
    ReadRuleSwitches(run.wsRuleFile, wsNode, rule);
    bool enEmpty;
    if (rule.unicode)
    {
        GetPrivateProfileStringW(wsNode, KEY_EN, W(""), rule.wsEn, kTextChars, run.wsRuleFile);
        GetPrivateProfileStringW(wsNode, KEY_CN, W(""), rule.wsCn, kTextChars, run.wsRuleFile);
        enEmpty = rule.wsEn[0] == 0;
    }
    else
    {
        ReadAnsiText(run, szNode, "EN", rule.wsEn);
        ReadAnsiText(run, szNode, "CN", rule.wsCn);
        enEmpty = AnsiText(rule.wsEn)[0] == 0;
    }
    if (IsListEnd(enEmpty, rule.x86, rule.x64))
        return false;
    run.pWindow->fnProgress(run.pWindow->pContext, kProgressStepIt, 0);
    if (!(run.pe64 ? rule.x64 : rule.x86))
        return true;
    ++run.uTried;
    if (ApplyRule(run, rule.unicode, rule.repeat) > 0)
        ++run.uModified;
    else
        LogFailedRule(run, wsNode);
    return true;
}

void PatchView(PatchState& run)
{
    run.pe64 = IsPe64(run.pView, run.dwSize) != 0;
    char szRuleFile[kAnsiPathBytes];
    run.szRuleFile = GetExactAnsiPath(run.wsRuleFile, szRuleFile, kAnsiPathBytes) ? szRuleFile : nullptr;
    const PatchWindow& window = *run.pWindow;
    window.fnProgress(window.pContext, kProgressSetRange, window.fnRuleCount(window.pContext));
    window.fnProgress(window.pContext, kProgressSetStep, 1);
    for (UINT n = 1; ProcessRule(run, n); ++n)
    {
    }
    run.szRuleFile = nullptr;
}

// Opens and maps the target, patches it and releases everything in reverse
// order. A target of 4 GiB or more is refused whole: sizes here are 32-bit.
void PatchTarget(PatchState& run, LPCWSTR wsTarget)
{
    HANDLE hFile = CreateFileW(wsTarget, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    DWORD dwHigh = 0;
    SetLastError(ERROR_SUCCESS);
    run.dwSize = GetFileSize(hFile, &dwHigh);
    bool sizeKnown = !(run.dwSize == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS);
    if (sizeKnown && dwHigh == 0)
    {
        HANDLE hMapping = CreateFileMappingW(hFile, nullptr, PAGE_READWRITE, 0, 0, nullptr);
        if (hMapping != nullptr)
        {
            run.pView = static_cast<BYTE*>(MapViewOfFile(hMapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
            if (run.pView != nullptr)
            {
                PatchView(run);
                UnmapViewOfFile(run.pView);
                run.pView = nullptr;
            }
            CloseHandle(hMapping);
        }
    }
    CloseHandle(hFile);
}

void AppendCount(LPWSTR wsText, UINT uCount, LPCWSTR wsAfter)
{
    WCHAR wsNumber[16];
    FormatUnsigned(wsNumber, 16, uCount, 1);
    WideAppend(wsText, kReportChars, wsNumber);
    WideAppend(wsText, kReportChars, wsAfter);
}
} // namespace

UINT RunPatchLoggingTo(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window, LPCWSTR wsLogFile)
{
    PatchState run = {wsRuleFile, nullptr, wsLogFile, &window, nullptr, nullptr, 0, false, 0, 0};
    run.pRule = new (std::nothrow) PatchRule;
    if (run.pRule != nullptr)
    {
        PatchTarget(run, wsTarget);
        delete run.pRule;
    }
    WCHAR wsReport[kReportChars];
    WideCopy(wsReport, kReportChars, W("汉化完成，搜索 "));
    AppendCount(wsReport, run.uTried, W(" 处文本，修改 "));
    AppendCount(wsReport, run.uModified, W(" 处文本！"));
    window.fnReport(window.pContext, wsReport, W("提示"), MB_OK | MB_ICONINFORMATION);
    window.fnProgress(window.pContext, kProgressSetPos, 0);
    return run.uModified;
}

UINT RunPatch(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window)
{
    WCHAR wsLog[kPathChars];
    GetLogFile(wsLog);
    return RunPatchLoggingTo(wsRuleFile, wsTarget, window, wsLog);
}
