/* Shows the dialog of fit_demo.rc until it is closed. */
#include <windows.h>

static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (uMsg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
    {
        EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
    }
    return uMsg == WM_INITDIALOG;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPSTR szCmdLine, int nShow)
{
    (void)hPrev;
    (void)szCmdLine;
    (void)nShow;
    return (int)DialogBoxParamW(hInstance, MAKEINTRESOURCEW(100), NULL, DialogProc, 0);
}
