// The entry: one modal main dialog, whose result is the exit code.
#include "app/main_wnd.h"
#include "resource.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    // Lives until the process ends: the dialog runs inside CreateDlg.
    CMainWnd* pMain = new CMainWnd;
    InitCommonControls();
    return static_cast<int>(pMain->CreateDlg(nullptr, hInstance, IDD_MAIN, 1, 0));
}
