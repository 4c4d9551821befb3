// CEditCtrl: an edit box of a dialog, bound by Attach; can keep IME characters out.
#pragma once

#include "framework/window.h"

class CEditCtrl : public CWindow
{
  public:
    // owner must exist. A null hCtrl binds nothing, and the caller then deletes the object.
    CEditCtrl(CWindow* owner, HWND hCtrl, int noIme) : m_noIme(noIme)
    {
        Attach(owner, owner->m_hInstance, hCtrl);
    }

    // 1 for WM_IME_CHAR when m_noIme is set: the character never reaches the control.
    int PreFilter(UINT message, WPARAM wParam, LPARAM lParam) override;

    BOOL SetText(LPCWSTR wsText) { return (BOOL)SendMessageW(WM_SETTEXT, 0, (LPARAM)wsText); }
    // Characters copied, without the terminator
    int GetText(LPWSTR wsText, int cch) { return (int)SendMessageW(WM_GETTEXT, cch, (LPARAM)wsText); }
    int GetTextLength() { return (int)SendMessageW(WM_GETTEXTLENGTH, 0, 0); }
    void LimitText(int cch) { SendMessageW(EM_LIMITTEXT, cch, 0); }
    void SetSel(int start, int end) { SendMessageW(EM_SETSEL, start, end); }
    void ReplaceSel(LPCWSTR wsText, BOOL canUndo) { SendMessageW(EM_REPLACESEL, canUndo, (LPARAM)wsText); }
    // Tab stops in dialog units
    BOOL SetTabStops(int count, const int* pTabs)
    {
        return (BOOL)SendMessageW(EM_SETTABSTOPS, count, (LPARAM)pTabs);
    }

    int m_noIme;
};
