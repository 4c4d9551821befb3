#include "framework/window_procs.h"

#include "framework/window.h"

const WCHAR c_wsUserDataProp[] = L"USERDATA";

namespace
{

// A subclassed window with no procedure to fall back on gets the same answer as an unbound one.
LRESULT CallPrevious(WNDPROC fnPrev, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (fnPrev == nullptr)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    return CallWindowProcW(fnPrev, hWnd, message, wParam, lParam);
}

CWindow* FromUserData(HWND hWnd)
{
    return reinterpret_cast<CWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
}

} // namespace

INT_PTR CALLBACK InitDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    CWindow* pWnd = reinterpret_cast<CWindow*>(lParam);
    pWnd->m_hWnd = hWnd;
    if (pWnd->m_modal == 0)
        SetWindowLongPtrW(hWnd, GWLP_ID, pWnd->m_id);
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pWnd));
    pWnd->m_prevWndProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DialogWndProc)));
    return pWnd->WindowProc(message, wParam, lParam);
}

// The previous procedure is read before dispatch in every procedure below: a handler may destroy
// its own window, and with it the object.

LRESULT CALLBACK DialogWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWindow* pWnd = FromUserData(hWnd);
    if (pWnd == nullptr)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    WNDPROC fnPrev = pWnd->m_prevWndProc;
    int modal = pWnd->m_modal;
    LRESULT r = pWnd->WindowProc(message, wParam, lParam);
    if (message == WM_PAINT && r != 0)
        return 0;
    if (message == WM_NCDESTROY && modal == 0)
    {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        if (r == 0)
            r = CallPrevious(fnPrev, hWnd, message, wParam, lParam);
        delete pWnd; // a modeless dialog owns its object
        return r;
    }
    if (r != 0)
        return r;
    return CallPrevious(fnPrev, hWnd, message, wParam, lParam);
}

LRESULT CALLBACK ClassWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        CWindow* pNew = static_cast<CWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        // A window of the class made without CreateWnd has no object and stays unbound.
        if (pNew != nullptr)
        {
            pNew->m_hWnd = hWnd;
            SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pNew));
        }
    }
    CWindow* pWnd = FromUserData(hWnd);
    if (pWnd == nullptr)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    LRESULT r = pWnd->WindowProc(message, wParam, lParam);
    if (message == WM_PAINT && r != 0)
        return 0;
    if (message == WM_NCDESTROY)
    {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        if (r == 0)
            r = DefWindowProcW(hWnd, message, wParam, lParam);
        delete pWnd; // a class window always owns its object
        return r;
    }
    if (r != 0)
        return r;
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

LRESULT CALLBACK SubclassWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWindow* pWnd = static_cast<CWindow*>(GetPropW(hWnd, c_wsUserDataProp));
    if (pWnd == nullptr)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    WNDPROC fnPrev = pWnd->m_prevWndProc;
    LRESULT r = pWnd->WindowProc(message, wParam, lParam);
    if (message == WM_PAINT && r != 0)
        return 0;
    if (message == WM_NCDESTROY)
    {
        // The control's own procedure must be back before it sees WM_NCDESTROY.
        RemovePropW(hWnd, c_wsUserDataProp);
        if (fnPrev != nullptr)
            SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(fnPrev));
        if (r == 0)
            r = CallPrevious(fnPrev, hWnd, message, wParam, lParam);
        delete pWnd; // an attached control owns its object
        return r;
    }
    if (r != 0)
        return r;
    return CallPrevious(fnPrev, hWnd, message, wParam, lParam);
}
