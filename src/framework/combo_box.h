// CComboBox: a combo box of a dialog, bound by Attach.
#pragma once

#include "framework/window.h"

class CComboBox : public CWindow
{
  public:
    // owner must exist. A null hCtrl binds nothing, and the caller then deletes the object.
    CComboBox(CWindow* owner, HWND hCtrl)
    {
        Attach(owner, owner->m_hInstance, hCtrl);
    }

    // The new item's index, or CB_ERR / CB_ERRSPACE
    int AddString(LPCWSTR wsText) { return (int)SendMessageW(CB_ADDSTRING, 0, (LPARAM)wsText); }
    int InsertString(int index, LPCWSTR wsText)
    {
        return (int)SendMessageW(CB_INSERTSTRING, index, (LPARAM)wsText);
    }
    int DeleteString(int index) { return (int)SendMessageW(CB_DELETESTRING, index, 0); }
    void ResetContent() { SendMessageW(CB_RESETCONTENT, 0, 0); }
    int GetCount() { return (int)SendMessageW(CB_GETCOUNT, 0, 0); }
    // CB_ERR when nothing is selected
    int GetCurSel() { return (int)SendMessageW(CB_GETCURSEL, 0, 0); }
    // CB_ERR when index is -1 or out of range
    int SetCurSel(int index) { return (int)SendMessageW(CB_SETCURSEL, index, 0); }
    // wsText must hold GetLBTextLen(index) + 1 characters; CB_ERR for a bad index
    int GetLBText(int index, LPWSTR wsText) { return (int)SendMessageW(CB_GETLBTEXT, index, (LPARAM)wsText); }
    int GetLBTextLen(int index) { return (int)SendMessageW(CB_GETLBTEXTLEN, index, 0); }
    // Case-insensitive; CB_ERR when not found. start -1 searches from the top.
    int FindStringExact(int start, LPCWSTR wsText)
    {
        return (int)SendMessageW(CB_FINDSTRINGEXACT, start, (LPARAM)wsText);
    }
};
