#include "app/patch_window.h"

#include "app/main_wnd.h"
#include "patch/patch_run.h"

namespace
{
// The bar steps once a rule, with its own drawing off: each drawn step costs
// about a millisecond under Wine, seconds for a large set. It is drawn anew
// every tenth of a second of the run, and before the report.
const DWORD kDrawEveryMs = 100;

struct PatchBar
{
    CMainWnd* pMain;
    DWORD dwDrawnAt; // tick count of the last drawing
};

void DrawBar(CProcessCtrl* pBar, bool on)
{
    pBar->SendMessageW(WM_SETREDRAW, on ? TRUE : FALSE, 0);
    if (on)
        RedrawWindow(pBar->m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

UINT RuleCount(void* pContext)
{
    return static_cast<UINT>(static_cast<PatchBar*>(pContext)->pMain->m_list->GetItemCount());
}

void Progress(void* pContext, PatchProgress progress, UINT uValue)
{
    PatchBar& bar = *static_cast<PatchBar*>(pContext);
    CProcessCtrl* pBar = bar.pMain->m_progress;
    switch (progress)
    {
    case kProgressSetRange:
        pBar->SetRange32(0, static_cast<int>(uValue));
        bar.dwDrawnAt = GetTickCount();
        DrawBar(pBar, false);
        break;
    case kProgressSetStep:
        pBar->SetStep(static_cast<int>(uValue));
        break;
    case kProgressStepIt:
        // Straight to the bar's own procedure, as the list's cells go (see rule_list).
        pBar->CallControlProc(PBM_STEPIT, 0, 0);
        if (GetTickCount() - bar.dwDrawnAt >= kDrawEveryMs)
        {
            bar.dwDrawnAt = GetTickCount();
            DrawBar(pBar, true);
            DrawBar(pBar, false);
        }
        break;
    case kProgressSetPos:
        pBar->SetPos(static_cast<int>(uValue));
        break;
    }
}

void Report(void* pContext, LPCWSTR wsText, LPCWSTR wsCaption, UINT uType)
{
    CMainWnd* pMain = static_cast<PatchBar*>(pContext)->pMain;
    DrawBar(pMain->m_progress, true);
    pMain->MessageBoxW(wsText, wsCaption, uType);
}
} // namespace

void RunPatchFromWindow(CMainWnd& main, const wchar_t* wsRuleFile, const wchar_t* wsTarget)
{
    PatchBar stBar = {&main, 0};
    PatchWindow stWindow = {&stBar, RuleCount, Progress, Report};
    RunPatch(wsRuleFile, wsTarget, stWindow);
}
