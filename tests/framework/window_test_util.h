// Shared pieces of the framework tests that use real windows.
#pragma once

#include "framework/window.h"

#include <vector>

struct LifeCount
{
    int constructed = 0;
    int destroyed = 0;
};

// Counts constructions and destructions of any CWindow class; deletion through a CWindow
// pointer must reach ~Counted.
template <class TBase> class Counted : public TBase
{
  public:
    template <class... A> explicit Counted(LifeCount* pCount, A... args) : TBase(args...), m_pCount(pCount)
    {
        ++m_pCount->constructed;
    }
    ~Counted() override { ++m_pCount->destroyed; }

  private:
    LifeCount* m_pCount;
};

HINSTANCE TestInstance();

// Registers the test classes and the common controls once.
void InitTestClasses();

// Dispatches queued messages until fnDone() holds or the queue is empty; returns fnDone().
template <class F> bool PumpUntil(F fnDone)
{
    MSG stMsg;
    for (int i = 0; i < 10000 && !fnDone(); ++i)
    {
        if (!PeekMessageW(&stMsg, nullptr, 0, 0, PM_REMOVE))
            break;
        TranslateMessage(&stMsg);
        DispatchMessageW(&stMsg);
    }
    return fnDone();
}

// What the test classes' own procedures saw of WM_NCDESTROY.
struct NcDestroySeen
{
    HWND hWnd;
    LONG_PTR userData;
    HANDLE prop;
    LONG_PTR wndProc;
};
extern std::vector<NcDestroySeen> g_ncDestroySeen;

// Own procedure of the dialog class FW_DIALOG_CLASS and of the plain class c_wsTestCtrlClass.
LRESULT CALLBACK TestDialogClassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TestCtrlClassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
extern const WCHAR c_wsTestCtrlClass[];
