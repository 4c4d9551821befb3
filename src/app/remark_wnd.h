// The remarks window: one multi-line box over the rule set's remarks file,
// loaded when the window opens and saved (or deleted when empty) when it closes.
#pragma once

#include "framework/edit_ctrl.h"
#include "framework/window.h"

class CRemarkWnd : public CWindow
{
  public:
    CRemarkWnd();
    ~CRemarkWnd() override;

    int OnInitDialog() override;
    int OnCommand(WPARAM wParam, HWND hCtrl) override;
    void OnClose(WPARAM wParam) override;

    CEditCtrl* m_edit; // deleted with the edit box
    int m_unicode;     // 1: the file began with FF FE
    // 0: the file exists but could not be read; closing leaves it untouched.
    int m_loaded;
    // The text as the window showed it on opening; a close without a change
    // leaves the file exactly as it was.
    WCHAR* m_shown;

  private:
    WCHAR* GetBoxText();
};
