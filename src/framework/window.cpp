#include "framework/window.h"

#include "framework/window_procs.h"

CWindow::CWindow()
    : m_hWnd(nullptr), m_hInstance(nullptr), m_prevWndProc(nullptr), m_id(0), m_param(0), m_modal(0),
      m_font(nullptr), m_owner(nullptr)
{
}

INT_PTR CWindow::CreateDlg(CWindow* owner, HINSTANCE instance, int templateId, int modal, LONG_PTR param)
{
    HWND hParent = owner != nullptr ? owner->m_hWnd : nullptr;
    m_owner = owner;
    m_hInstance = instance;
    m_id = templateId;
    m_param = param;
    if (modal != 0)
    {
        // The caller keeps the object: it outlives the dialog.
        m_modal = 1;
        return DialogBoxParamW(m_hInstance, MAKEINTRESOURCEW(LOWORD(templateId)), hParent, InitDlgProc,
                               reinterpret_cast<LPARAM>(this));
    }
    // From WM_INITDIALOG on, the dialog owns the object and deletes it at WM_NCDESTROY.
    m_modal = 0;
    return reinterpret_cast<INT_PTR>(CreateDialogParamW(instance, MAKEINTRESOURCEW(LOWORD(templateId)),
                                                        hParent, InitDlgProc,
                                                        reinterpret_cast<LPARAM>(this)));
}

HWND CWindow::CreateWnd(CWindow* owner, HINSTANCE instance, int id, DWORD style, DWORD exStyle,
                        LPCWSTR className, const WndPlacement* placement, LONG_PTR param)
{
    HWND hParent = owner != nullptr ? owner->m_hWnd : nullptr;
    m_owner = owner;
    m_hInstance = instance;
    m_id = id;
    m_param = param;

    WNDCLASSEXW stWc = {};
    stWc.cbSize = sizeof(stWc);
    stWc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    stWc.lpfnWndProc = ClassWndProc;
    stWc.hInstance = instance;
    stWc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    stWc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    stWc.lpszClassName = className;
    // Fails when the class exists already; the existing class serves as well.
    RegisterClassExW(&stWc);

    WndPlacement stPlace = {};
    if (placement != nullptr)
        stPlace = *placement;
    // From WM_NCCREATE on, the window owns the object and deletes it at WM_NCDESTROY, which can come
    // before this call returns: nothing here may touch the object afterwards.
    return CreateWindowExW(exStyle, className, nullptr, style, stPlace.x, stPlace.y, stPlace.width,
                           stPlace.height, hParent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           instance, this);
}

int CWindow::RunMessageLoop()
{
    m_modal = 1;
    MSG stMsg = {};
    // GetMessageW gives 0 at WM_QUIT and -1 on error.
    while (GetMessageW(&stMsg, nullptr, 0, 0) > 0)
    {
        if (PreTranslateMessage(&stMsg) == 0)
        {
            TranslateMessage(&stMsg);
            DispatchMessageW(&stMsg);
        }
    }
    return 1;
}

LRESULT CWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT r = PreFilter(message, wParam, lParam);
    if (r != 0)
        return r;

    UINT lo = LOWORD(lParam);
    UINT hi = HIWORD(lParam);
    int x = static_cast<short>(LOWORD(lParam));
    int y = static_cast<short>(HIWORD(lParam));
    switch (message)
    {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_CREATE:
        return OnCreate(reinterpret_cast<CREATESTRUCTW*>(lParam));
    case WM_NCCREATE:
        return OnNcCreate(reinterpret_cast<CREATESTRUCTW*>(lParam));
    case WM_CANCELMODE:
        OnCancelMode();
        return 0;
    case WM_SETCURSOR:
        return OnSetCursor(reinterpret_cast<HWND>(wParam), lo, hi);
    case WM_NCHITTEST:
        return OnNcHitTest(x, y);
    case WM_LBUTTONDOWN:
        OnLButtonDown(wParam, x, y);
        return 0;
    case WM_LBUTTONUP:
        OnLButtonUp(wParam, x, y);
        return 0;
    case WM_LBUTTONDBLCLK:
        OnLButtonDblClk(wParam, x, y);
        return 0;
    case WM_RBUTTONDOWN:
        OnRButtonDown(wParam, x, y);
        return 0;
    case WM_RBUTTONUP:
        OnRButtonUp(wParam, x, y);
        return 0;
    case WM_RBUTTONDBLCLK:
        OnRButtonDblClk(wParam, x, y);
        return 0;
    case WM_NCLBUTTONDOWN:
        OnNcLButtonDown(wParam, MAKEPOINTS(lParam));
        return 0;
    case WM_NCLBUTTONUP:
        OnNcLButtonUp(wParam, MAKEPOINTS(lParam));
        return 0;
    case WM_MOUSEACTIVATE:
        return OnMouseActivate(reinterpret_cast<HWND>(wParam), lo, hi);
    case WM_MOUSEMOVE:
        OnMouseMove(wParam, x, y);
        return 0;
    case WM_MOUSEWHEEL:
        return OnMouseWheel(LOWORD(wParam), HIWORD(wParam), x, y);
    case WM_NCPAINT:
        OnNcPaint();
        return 0;
    case WM_PAINT:
        return OnPaint();
    case WM_DRAWITEM:
        return OnDrawItem(static_cast<UINT>(wParam), reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_ERASEBKGND:
        return OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
    case WM_SIZE:
        // Minimized and the other windows' max-show / max-hide notices get default processing only.
        if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED)
            OnSize(static_cast<UINT>(wParam), x, y);
        return 0;
    case WM_NCCALCSIZE:
        OnNcCalcSize(wParam, lParam);
        return 0;
    case WM_MOVE:
        OnMove(x, y);
        return 0;
    case WM_MOVING:
        return OnMoving(static_cast<UINT>(wParam), reinterpret_cast<RECT*>(lParam));
    case WM_WINDOWPOSCHANGING:
        OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lParam));
        return 0;
    case WM_GETMINMAXINFO:
        OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_ENABLE:
        OnEnable(wParam);
        return 0;
    case WM_SHOWWINDOW:
        OnShowWindow(wParam, lParam);
        return 0;
    case WM_ACTIVATE:
        OnActivate(LOWORD(wParam), reinterpret_cast<HWND>(lParam), HIWORD(wParam));
        return 0;
    case WM_ACTIVATEAPP:
        OnActivateApp(wParam, static_cast<DWORD>(lParam));
        return 0;
    case WM_NCACTIVATE:
        return OnNcActivate(wParam);
    case WM_CONTEXTMENU:
        return OnContextMenu(reinterpret_cast<HWND>(wParam), x, y);
    case WM_COMMAND:
        return OnCommand(wParam, reinterpret_cast<HWND>(lParam));
    case WM_SYSCOMMAND:
        OnSysCommand(wParam, lParam);
        return 0;
    case WM_INITMENU:
        OnInitMenu(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_INITMENUPOPUP:
        OnInitMenuPopup(reinterpret_cast<HMENU>(wParam), lo, hi);
        return 0;
    case WM_KEYDOWN:
        return OnKeyDown(wParam, lo, hi);
    case WM_KEYUP:
        return OnKeyUp(wParam, lo, hi);
    case WM_SYSKEYDOWN:
        OnSysKeyDown(wParam, lo, hi);
        return 0;
    case WM_SYSKEYUP:
        OnSysKeyUp(wParam, lo, hi);
        return 0;
    case WM_CHAR:
        OnChar(wParam, lo, hi);
        return 0;
    case WM_HOTKEY:
        OnHotKey(wParam, lo, hi);
        return 0;
    case WM_SETFOCUS:
        OnSetFocus(reinterpret_cast<HWND>(wParam));
        return 0;
    case WM_KILLFOCUS:
        OnKillFocus(reinterpret_cast<HWND>(wParam));
        return 0;
    case WM_NOTIFY:
        return OnNotify(wParam, reinterpret_cast<NMHDR*>(lParam));
    case WM_GETDLGCODE:
        return OnGetDlgCode(wParam);
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    case WM_COPYDATA:
        return OnCopyData(reinterpret_cast<HWND>(wParam), reinterpret_cast<COPYDATASTRUCT*>(lParam));
    case WM_VSCROLL:
        OnVScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_HSCROLL:
        OnHScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_PARENTNOTIFY:
        OnParentNotify(wParam, lParam);
        return 0;
    case WM_SETFONT:
        OnSetFont(reinterpret_cast<HFONT>(wParam), lo);
        return 0;
    case WM_GETFONT:
        return OnGetFont();
    case WM_CLOSE:
        OnClose(wParam);
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NCDESTROY:
        OnNcDestroy();
        return 0;
    case WM_DISPLAYCHANGE:
        OnDisplayChange(wParam, lo, hi);
        return 0;
    }
    return 0;
}

int CWindow::PreFilter(UINT, WPARAM, LPARAM)
{
    return 0;
}
int CWindow::PreTranslateMessage(MSG*)
{
    return 0;
}

// Nonzero lets the dialog manager give the focus to the first control.
int CWindow::OnInitDialog()
{
    return 1;
}
int CWindow::OnCreate(CREATESTRUCTW*)
{
    return 0;
}
int CWindow::OnNcCreate(CREATESTRUCTW*)
{
    return 0;
}
void CWindow::OnCancelMode() {}
int CWindow::OnSetCursor(HWND, UINT, UINT)
{
    return 0;
}
int CWindow::OnNcHitTest(int, int)
{
    return 0;
}
void CWindow::OnLButtonDown(WPARAM, int, int) {}
void CWindow::OnLButtonUp(WPARAM, int, int) {}
void CWindow::OnLButtonDblClk(WPARAM, int, int) {}
void CWindow::OnRButtonDown(WPARAM, int, int) {}
void CWindow::OnRButtonUp(WPARAM, int, int) {}
void CWindow::OnRButtonDblClk(WPARAM, int, int) {}
void CWindow::OnNcLButtonDown(WPARAM, POINTS) {}
void CWindow::OnNcLButtonUp(WPARAM, POINTS) {}
int CWindow::OnMouseActivate(HWND, UINT, UINT)
{
    return 0;
}
void CWindow::OnMouseMove(WPARAM, int, int) {}
int CWindow::OnMouseWheel(UINT, UINT, int, int)
{
    return 0;
}
void CWindow::OnNcPaint() {}
int CWindow::OnPaint()
{
    return 0;
}
int CWindow::OnDrawItem(UINT, DRAWITEMSTRUCT*)
{
    return 0;
}
int CWindow::OnCtlColor(HDC, HWND)
{
    return 0;
}
int CWindow::OnEraseBkgnd(HDC)
{
    return 0;
}
void CWindow::OnSize(UINT, int, int) {}
void CWindow::OnNcCalcSize(WPARAM, LPARAM) {}
void CWindow::OnMove(int, int) {}
int CWindow::OnMoving(UINT, RECT*)
{
    return 0;
}
void CWindow::OnWindowPosChanging(WINDOWPOS*) {}
void CWindow::OnGetMinMaxInfo(MINMAXINFO*) {}
void CWindow::OnEnable(WPARAM) {}
void CWindow::OnShowWindow(WPARAM, LPARAM) {}
void CWindow::OnActivate(UINT, HWND, UINT) {}
void CWindow::OnActivateApp(WPARAM, DWORD) {}
int CWindow::OnNcActivate(WPARAM)
{
    return 0;
}
int CWindow::OnContextMenu(HWND, int, int)
{
    return 0;
}
int CWindow::OnCommand(WPARAM, HWND)
{
    return 0;
}
void CWindow::OnSysCommand(WPARAM, LPARAM) {}
void CWindow::OnInitMenu(HMENU) {}
void CWindow::OnInitMenuPopup(HMENU, UINT, UINT) {}
int CWindow::OnKeyDown(WPARAM, UINT, UINT)
{
    return 0;
}
int CWindow::OnKeyUp(WPARAM, UINT, UINT)
{
    return 0;
}
void CWindow::OnSysKeyDown(WPARAM, UINT, UINT) {}
void CWindow::OnSysKeyUp(WPARAM, UINT, UINT) {}
void CWindow::OnChar(WPARAM, UINT, UINT) {}
void CWindow::OnHotKey(WPARAM, UINT, UINT) {}
void CWindow::OnSetFocus(HWND) {}
void CWindow::OnKillFocus(HWND) {}
int CWindow::OnNotify(WPARAM, NMHDR*)
{
    return 0;
}
int CWindow::OnGetDlgCode(WPARAM)
{
    return 0;
}
void CWindow::OnTimer(WPARAM) {}
int CWindow::OnCopyData(HWND, COPYDATASTRUCT*)
{
    return 0;
}
void CWindow::OnVScroll(UINT, UINT, HWND) {}
void CWindow::OnHScroll(UINT, UINT, HWND) {}
void CWindow::OnDropFiles(HDROP) {}
void CWindow::OnParentNotify(WPARAM, LPARAM) {}
void CWindow::OnSetFont(HFONT hFont, UINT)
{
    m_font = hFont;
}
// Null lets the window's default processing answer.
INT_PTR CWindow::OnGetFont()
{
    return reinterpret_cast<INT_PTR>(m_font);
}
void CWindow::OnClose(WPARAM) {}
void CWindow::OnDestroy() {}
void CWindow::OnNcDestroy() {}
void CWindow::OnDisplayChange(WPARAM, UINT, UINT) {}

void CWindow::Attach(CWindow* owner, HINSTANCE instance, HWND hWnd)
{
    m_owner = owner;
    m_hInstance = instance;
    m_hWnd = hWnd;
    if (hWnd == nullptr)
        return;
    // The property comes first so that the very first message to SubclassWndProc finds the object.
    SetPropW(hWnd, c_wsUserDataProp, this);
    WNDPROC fnPrev = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassWndProc)));
    if (fnPrev != nullptr && fnPrev != SubclassWndProc)
        m_prevWndProc = fnPrev;
}

int CWindow::GetDpiScale()
{
    HDC hDc = GetDC();
    if (hDc == nullptr)
        return 100;
    int nScale = DpiScalePercent(GetDeviceCaps(hDc, LOGPIXELSX));
    ReleaseDC(hDc);
    return nScale;
}
