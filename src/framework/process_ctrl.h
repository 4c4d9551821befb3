// CProcessCtrl: a progress bar of a dialog, bound by Attach.
#pragma once

#include "framework/window.h"

#include <commctrl.h>

class CProcessCtrl : public CWindow
{
  public:
    // owner must exist. A null hCtrl binds nothing, and the caller then deletes the object.
    CProcessCtrl(CWindow* owner, HWND hCtrl)
    {
        Attach(owner, owner->m_hInstance, hCtrl);
    }

    // 16-bit bounds; returns the previous range, low word minimum
    DWORD SetRange(int lower, int upper)
    {
        return (DWORD)SendMessageW(PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
    }
    DWORD SetRange32(int lower, int upper) { return (DWORD)SendMessageW(PBM_SETRANGE32, lower, upper); }
    // Return the previous step or position
    int SetStep(int step) { return (int)SendMessageW(PBM_SETSTEP, step, 0); }
    int StepIt() { return (int)SendMessageW(PBM_STEPIT, 0, 0); }
    int SetPos(int pos) { return (int)SendMessageW(PBM_SETPOS, pos, 0); }
    int GetPos() { return (int)SendMessageW(PBM_GETPOS, 0, 0); }
};
