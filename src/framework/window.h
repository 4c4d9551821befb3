// CWindow: one object bound to one window; each message becomes one virtual handler call.
#pragma once

#include <windows.h>

#include <shellapi.h>

// Position and size for CreateWnd.
struct WndPlacement
{
    int x;
    int y;
    int width;
    int height;
};

// Display resolution as a percentage of 96 DPI, never below 100.
inline int DpiScalePercent(int logPixels)
{
    return (logPixels > 96 ? logPixels : 96) * 100 / 96;
}

class CWindow
{
  public:
    CWindow();

    // The virtual functions keep this order; the destructor comes after them so that it does not
    // take a slot in between.
    virtual INT_PTR CreateDlg(CWindow* owner, HINSTANCE instance, int templateId, int modal, LONG_PTR param);
    virtual HWND CreateWnd(CWindow* owner, HINSTANCE instance, int id, DWORD style, DWORD exStyle,
                           LPCWSTR className, const WndPlacement* placement, LONG_PTR param);
    virtual int RunMessageLoop();
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual int PreFilter(UINT message, WPARAM wParam, LPARAM lParam);
    virtual int PreTranslateMessage(MSG* pMsg);

    virtual int OnInitDialog();
    virtual int OnCreate(CREATESTRUCTW* pCs);
    virtual int OnNcCreate(CREATESTRUCTW* pCs);
    virtual void OnCancelMode();
    virtual int OnSetCursor(HWND hWnd, UINT hitTest, UINT mouseMsg);
    virtual int OnNcHitTest(int x, int y);
    virtual void OnLButtonDown(WPARAM keys, int x, int y);
    virtual void OnLButtonUp(WPARAM keys, int x, int y);
    virtual void OnLButtonDblClk(WPARAM keys, int x, int y);
    virtual void OnRButtonDown(WPARAM keys, int x, int y);
    virtual void OnRButtonUp(WPARAM keys, int x, int y);
    virtual void OnRButtonDblClk(WPARAM keys, int x, int y);
    virtual void OnNcLButtonDown(WPARAM hitTest, POINTS pt);
    virtual void OnNcLButtonUp(WPARAM hitTest, POINTS pt);
    virtual int OnMouseActivate(HWND hTop, UINT hitTest, UINT mouseMsg);
    virtual void OnMouseMove(WPARAM keys, int x, int y);
    // distance is the raw 16-bit field: cast it to short for its sign.
    virtual int OnMouseWheel(UINT keys, UINT distance, int x, int y);
    virtual void OnNcPaint();
    virtual int OnPaint();
    virtual int OnDrawItem(UINT id, DRAWITEMSTRUCT* pDis);
    virtual int OnCtlColor(HDC hDc, HWND hCtrl);
    virtual int OnEraseBkgnd(HDC hDc);
    virtual void OnSize(UINT type, int cx, int cy);
    virtual void OnNcCalcSize(WPARAM calcRects, LPARAM lParam);
    virtual void OnMove(int x, int y);
    virtual int OnMoving(UINT edge, RECT* pRect);
    virtual void OnWindowPosChanging(WINDOWPOS* pPos);
    virtual void OnGetMinMaxInfo(MINMAXINFO* pInfo);
    virtual void OnEnable(WPARAM enabled);
    virtual void OnShowWindow(WPARAM shown, LPARAM status);
    virtual void OnActivate(UINT state, HWND hOther, UINT minimized);
    virtual void OnActivateApp(WPARAM active, DWORD threadId);
    virtual int OnNcActivate(WPARAM active);
    virtual int OnContextMenu(HWND hWnd, int x, int y);
    virtual int OnCommand(WPARAM wParam, HWND hCtrl);
    virtual void OnSysCommand(WPARAM command, LPARAM position);
    virtual void OnInitMenu(HMENU hMenu);
    virtual void OnInitMenuPopup(HMENU hMenu, UINT position, UINT windowMenu);
    virtual int OnKeyDown(WPARAM vk, UINT repeat, UINT flags);
    virtual int OnKeyUp(WPARAM vk, UINT repeat, UINT flags);
    virtual void OnSysKeyDown(WPARAM vk, UINT repeat, UINT flags);
    virtual void OnSysKeyUp(WPARAM vk, UINT repeat, UINT flags);
    virtual void OnChar(WPARAM ch, UINT repeat, UINT flags);
    virtual void OnHotKey(WPARAM id, UINT modifiers, UINT vk);
    virtual void OnSetFocus(HWND hLosing);
    virtual void OnKillFocus(HWND hGaining);
    virtual int OnNotify(WPARAM id, NMHDR* pHdr);
    virtual int OnGetDlgCode(WPARAM vk);
    virtual void OnTimer(WPARAM id);
    virtual int OnCopyData(HWND hSender, COPYDATASTRUCT* pCds);
    virtual void OnVScroll(UINT request, UINT position, HWND hBar);
    virtual void OnHScroll(UINT request, UINT position, HWND hBar);
    virtual void OnDropFiles(HDROP hDrop);
    virtual void OnParentNotify(WPARAM wParam, LPARAM lParam);
    virtual void OnSetFont(HFONT hFont, UINT redraw);
    // Pointer-sized so that the handle comes back whole.
    virtual INT_PTR OnGetFont();
    virtual void OnClose(WPARAM wParam);
    virtual void OnDestroy();
    virtual void OnNcDestroy();
    virtual void OnDisplayChange(WPARAM bitsPerPixel, UINT cx, UINT cy);

    // Virtual: the window procedures delete bound objects through a CWindow pointer.
    virtual ~CWindow() = default;

    // Binds to an existing window by subclassing it. A null window binds nothing, and the object
    // then stays with whoever created it.
    void Attach(CWindow* owner, HINSTANCE instance, HWND hWnd);

    HWND GetDlgItem(int id) { return ::GetDlgItem(m_hWnd, id); }
    LRESULT SendMessageW(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    LRESULT SendMessageA(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    // Hands a message straight to the procedure the subclass replaced, for bulk
    // work the object has no handler for: finding the object of a subclassed
    // control costs a round trip to the window server under Wine, per message.
    // The object's PreFilter and handlers never see the message, so this is not
    // for input or any message a control object filters.
    LRESULT CallControlProc(UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (m_prevWndProc == nullptr)
            return ::SendMessageW(m_hWnd, message, wParam, lParam);
        return ::CallWindowProcW(m_prevWndProc, m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessageW(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL EndDialog(INT_PTR result) { return ::EndDialog(m_hWnd, result); }
    int MessageBoxW(LPCWSTR text, LPCWSTR caption, UINT type)
    {
        return ::MessageBoxW(m_hWnd, text, caption, type);
    }
    HDC GetDC() { return ::GetDC(m_hWnd); }
    int ReleaseDC(HDC hDc) { return ::ReleaseDC(m_hWnd, hDc); }
    HWND SetFocus() { return ::SetFocus(m_hWnd); }

    // 100 when no device context can be had.
    int GetDpiScale();

    HWND m_hWnd;
    HINSTANCE m_hInstance;
    WNDPROC m_prevWndProc;
    int m_id;
    LONG_PTR m_param;
    // Read by the dialog procedures only. 1: the caller owns the object (modal dialog); 0: the
    // dialog deletes it at WM_NCDESTROY. Class windows and attached controls always delete theirs.
    int m_modal;
    HFONT m_font;
    CWindow* m_owner;
};
