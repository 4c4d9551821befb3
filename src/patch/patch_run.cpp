#include "patch/patch_run.h"

#include "patch/failure_log.h"
#include "patch/grow_array.h"
#include "patch/patch_engine.h"
#include "patch/pe_test.h"
#include "patch/replace_text.h"
#include "port/profile_store.h"
#include "rules/escape.h"
#include "rules/rule_set.h"
#include "util/path.h"
#include "util/wide_text.h"

#include <cstring>
#include <new>

namespace
{
const UINT kReportChars = 100;
const UINT kAnsiPathBytes = 360;

// One rule read and tried but not yet applied: its decoded EN and CN stand
// behind each other in the run's text store from dwText on.
struct QueuedRule
{
    UINT uNumber;
    DWORD dwText;
    DWORD cbEn;
    DWORD cbCn;
    bool repeat;
    bool refused; // CN longer than EN, or zero first on one side only
    UINT uCount;
};

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
    bool sequential; // each rule applied as it is read, by its own searches
    UINT uTried;
    UINT uModified;
    CGrowArray<BYTE>* pTexts;
    CGrowArray<QueuedRule>* pQueue;
    FnRuleFailed fnRuleFailed; // may be null
};

char* AnsiText(WCHAR* ws)
{
    return reinterpret_cast<char*>(ws);
}

// Both log lines carry the texts as stored, read again with the wide read
// whatever the rule's kind.
void LogFailedRule(const PatchState& run, UINT uNumber)
{
    if (run.fnRuleFailed != nullptr)
        run.fnRuleFailed(run.pWindow->pContext, uNumber);
    const UINT cchPrefix = 9;
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, uNumber);
    WCHAR* wsEn = run.pRule->wsEn;
    WCHAR* wsCn = run.pRule->wsCn;
    WideCopy(wsEn, kTextChars, W("ERROR_EN:"));
    GetPrivateProfileStringW(wsNode, KEY_EN, W(""), wsEn + cchPrefix, kTextChars - cchPrefix, run.wsRuleFile);
    WideCopy(wsCn, kTextChars, W("ERROR_CN:"));
    GetPrivateProfileStringW(wsNode, KEY_CN, W(""), wsCn + cchPrefix, kTextChars - cchPrefix, run.wsRuleFile);
    WriteLogTo(run.wsLogFile, wsEn);
    WriteLogTo(run.wsLogFile, wsCn);
}

// Decodes the rule's texts in place; false when the rule is refused. The
// lengths come back in bytes.
bool DecodeRule(PatchRule& rule, DWORD& cbEn, DWORD& cbCn)
{
    if (rule.unicode)
    {
        UINT lenEn = UnescapeTextW(rule.wsEn);
        UINT lenCn = UnescapeTextW(rule.wsCn);
        cbEn = 2 * lenEn;
        cbCn = 2 * lenCn;
        return lenEn >= lenCn && (rule.wsEn[0] == 0) == (rule.wsCn[0] == 0);
    }
    char* szEn = AnsiText(rule.wsEn);
    char* szCn = AnsiText(rule.wsCn);
    cbEn = UnescapeTextA(szEn);
    cbCn = UnescapeTextA(szCn);
    return cbEn >= cbCn && (szEn[0] == 0) == (szCn[0] == 0);
}

// Applies the decoded rule by its own searches; returns how many occurrences
// it overwrote.
UINT ApplyRule(PatchState& run, DWORD cbEn, DWORD cbCn)
{
    PatchRule& rule = *run.pRule;
    if (rule.unicode)
    {
        UINT lenEn = cbEn / 2, lenCn = cbCn / 2;
        if (rule.repeat)
            return ReplaceEveryW(run.pView, run.dwSize, rule.wsEn, lenEn, rule.wsCn, lenCn);
        return static_cast<UINT>(ReplaceTextW(run.pView, run.dwSize, rule.wsEn, lenEn, rule.wsCn, lenCn));
    }
    const char* szEn = AnsiText(rule.wsEn);
    const char* szCn = AnsiText(rule.wsCn);
    if (rule.repeat)
        return ReplaceEveryA(run.pView, run.dwSize, szEn, cbEn, szCn, cbCn);
    return static_cast<UINT>(ReplaceTextA(run.pView, run.dwSize, szEn, cbEn, szCn, cbCn));
}

enum RuleRead
{
    kRuleEnd,    // the rules end here
    kRulePassed, // for the other bitness
    kRuleTried
};

// Reads rule uNumber into the run's rule, steps the bar and counts it as
// tried when it applies to the target.
RuleRead ReadRunRule(PatchState& run, UINT uNumber)
{
    PatchRule& rule = *run.pRule;
    if (!ReadRuleAsRun(run.wsRuleFile, run.szRuleFile, uNumber, rule))
        return kRuleEnd;
    run.pWindow->fnProgress(run.pWindow->pContext, kProgressStepIt, 0);
    if (!(run.pe64 ? rule.x64 : rule.x86))
        return kRulePassed;
    ++run.uTried;
    return kRuleTried;
}

// Reads and applies rule uNumber at once; false where the rules end.
bool ProcessRuleAlone(PatchState& run, UINT uNumber)
{
    RuleRead read = ReadRunRule(run, uNumber);
    if (read != kRuleTried)
        return read != kRuleEnd;
    DWORD cbEn = 0, cbCn = 0;
    if (DecodeRule(*run.pRule, cbEn, cbCn) && ApplyRule(run, cbEn, cbCn) > 0)
        ++run.uModified;
    else
        LogFailedRule(run, uNumber);
    return true;
}

// Applies the queued rules in their order with one scan of the target, then
// counts and logs them in the same order.
void FlushQueue(PatchState& run)
{
    CGrowArray<QueuedRule>& queue = *run.pQueue;
    const BYTE* pTexts = run.pTexts->Data();
    UINT cJobs = 0;
    for (size_t k = 0; k < queue.Size(); ++k)
        cJobs += !queue[k].refused;
    PatchJob* pJobs = new (std::nothrow) PatchJob[cJobs + 1];
    UINT* puCounts = new (std::nothrow) UINT[cJobs + 1];
    UINT j = 0;
    for (size_t k = 0; k < queue.Size(); ++k)
    {
        QueuedRule& q = queue[k];
        q.uCount = 0;
        if (q.refused)
            continue;
        PatchJob job = {pTexts + q.dwText, q.cbEn, pTexts + q.dwText + q.cbEn, q.cbCn, q.repeat};
        if (pJobs != nullptr && puCounts != nullptr)
            pJobs[j++] = job;
        else
            ApplyJobs(run.pView, run.dwSize, &job, 1, &q.uCount);
    }
    if (pJobs != nullptr && puCounts != nullptr)
    {
        ApplyJobs(run.pView, run.dwSize, pJobs, cJobs, puCounts);
        j = 0;
        for (size_t k = 0; k < queue.Size(); ++k)
            if (!queue[k].refused)
                queue[k].uCount = puCounts[j++];
    }
    delete[] puCounts;
    delete[] pJobs;
    for (size_t k = 0; k < queue.Size(); ++k)
    {
        if (queue[k].uCount > 0)
            ++run.uModified;
        else
            LogFailedRule(run, queue[k].uNumber);
    }
    queue.Clear();
    run.pTexts->Clear();
}

// Reads rule uNumber and queues it when it is tried; false where the rules
// end. Room for the rule is made before it is read: without it the queue is
// applied first, and a rule that finds no room even then is applied alone.
bool QueueRule(PatchState& run, UINT uNumber)
{
    const size_t cbRoom = 2 * kTextBytes;
    if (!run.pTexts->ReserveMore(cbRoom) || !run.pQueue->ReserveMore(1))
    {
        FlushQueue(run);
        if (!run.pTexts->ReserveMore(cbRoom) || !run.pQueue->ReserveMore(1))
            return ProcessRuleAlone(run, uNumber);
    }
    RuleRead read = ReadRunRule(run, uNumber);
    if (read != kRuleTried)
        return read != kRuleEnd;
    PatchRule& rule = *run.pRule;
    QueuedRule q = {uNumber, static_cast<DWORD>(run.pTexts->Size()), 0, 0, rule.repeat, false, 0};
    q.refused = !DecodeRule(rule, q.cbEn, q.cbCn);
    if (!q.refused)
    {
        BYTE* pText = run.pTexts->Data() + q.dwText;
        run.pTexts->Extend(q.cbEn + q.cbCn); // reserved above
        std::memcpy(pText, rule.wsEn, q.cbEn);
        std::memcpy(pText + q.cbEn, rule.wsCn, q.cbCn);
    }
    run.pQueue->Push(q); // reserved above
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
    if (run.sequential)
    {
        for (UINT n = 1; ProcessRuleAlone(run, n); ++n)
        {
        }
    }
    else
    {
        CGrowArray<BYTE> texts;
        CGrowArray<QueuedRule> queue;
        run.pTexts = &texts;
        run.pQueue = &queue;
        for (UINT n = 1; QueueRule(run, n); ++n)
        {
        }
        FlushQueue(run);
        run.pTexts = nullptr;
        run.pQueue = nullptr;
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

UINT RunPatchWith(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window, LPCWSTR wsLogFile,
                  bool sequential, FnRuleFailed fnRuleFailed)
{
    PatchState run = {wsRuleFile, nullptr,    wsLogFile, &window, nullptr, nullptr, 0,
                      false,      sequential, 0,         0,       nullptr, nullptr, fnRuleFailed};
    run.pRule = new (std::nothrow) PatchRule;
    if (run.pRule != nullptr)
    {
        // The run reads its rules, and logs the failed ones, from one version of the set.
        profile_store::SnapshotScope snapshot;
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
} // namespace

UINT RunPatchLoggingTo(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window, LPCWSTR wsLogFile,
                       FnRuleFailed fnRuleFailed)
{
    return RunPatchWith(wsRuleFile, wsTarget, window, wsLogFile, false, fnRuleFailed);
}

UINT RunPatchLoggingTo(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window, LPCWSTR wsLogFile)
{
    return RunPatchWith(wsRuleFile, wsTarget, window, wsLogFile, false, nullptr);
}

UINT RunPatchSequentialLoggingTo(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window,
                                 LPCWSTR wsLogFile)
{
    return RunPatchWith(wsRuleFile, wsTarget, window, wsLogFile, true, nullptr);
}

UINT RunPatch(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window)
{
    WCHAR wsLog[kPathChars];
    GetLogFile(wsLog);
    return RunPatchLoggingTo(wsRuleFile, wsTarget, window, wsLog);
}
