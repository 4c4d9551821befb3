#include "app/patch_window.h"

#include "app/main_wnd.h"
#include "patch/patch_run.h"

namespace
{
UINT RuleCount(void* pContext)
{
    return static_cast<UINT>(static_cast<CMainWnd*>(pContext)->m_list->GetItemCount());
}

void Progress(void* pContext, PatchProgress progress, UINT uValue)
{
    CProcessCtrl* pBar = static_cast<CMainWnd*>(pContext)->m_progress;
    switch (progress)
    {
    case kProgressSetRange:
        pBar->SetRange32(0, static_cast<int>(uValue));
        break;
    case kProgressSetStep:
        pBar->SetStep(static_cast<int>(uValue));
        break;
    case kProgressStepIt:
        pBar->StepIt();
        break;
    case kProgressSetPos:
        pBar->SetPos(static_cast<int>(uValue));
        break;
    }
}

void Report(void* pContext, LPCWSTR wsText, LPCWSTR wsCaption, UINT uType)
{
    static_cast<CMainWnd*>(pContext)->MessageBoxW(wsText, wsCaption, uType);
}
} // namespace

void RunPatchFromWindow(CMainWnd& main, const wchar_t* wsRuleFile, const wchar_t* wsTarget)
{
    PatchWindow stWindow = {&main, RuleCount, Progress, Report};
    RunPatch(wsRuleFile, wsTarget, stWindow);
}
