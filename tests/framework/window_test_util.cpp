#include "window_test_util.h"

#include "test_resource.h"

#include <commctrl.h>

std::vector<NcDestroySeen> g_ncDestroySeen;
const WCHAR c_wsTestCtrlClass[] = L"PivraFwTestCtrl";

namespace
{
void NoteNcDestroy(HWND hWnd)
{
    g_ncDestroySeen.push_back({hWnd, GetWindowLongPtrW(hWnd, GWLP_USERDATA), GetPropW(hWnd, L"USERDATA"),
                               GetWindowLongPtrW(hWnd, GWLP_WNDPROC)});
}
} // namespace

HINSTANCE TestInstance()
{
    return GetModuleHandleW(nullptr);
}

LRESULT CALLBACK TestDialogClassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCDESTROY)
        NoteNcDestroy(hWnd);
    return DefDlgProcW(hWnd, message, wParam, lParam);
}

LRESULT CALLBACK TestCtrlClassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCDESTROY)
        NoteNcDestroy(hWnd);
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

void InitTestClasses()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    INITCOMMONCONTROLSEX stIcc = {sizeof(stIcc), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&stIcc);

    WNDCLASSEXW stWc = {};
    stWc.cbSize = sizeof(stWc);
    stWc.lpfnWndProc = TestDialogClassProc;
    stWc.cbWndExtra = DLGWINDOWEXTRA;
    stWc.hInstance = TestInstance();
    stWc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    stWc.lpszClassName = FW_DIALOG_CLASS;
    RegisterClassExW(&stWc);

    stWc.lpfnWndProc = TestCtrlClassProc;
    stWc.cbWndExtra = 0;
    stWc.lpszClassName = c_wsTestCtrlClass;
    RegisterClassExW(&stWc);
}
