/* A small program whose interface texts sit in its code and data, not in its
   resources: the target of the demo rule set. */
#include <windows.h>

/* Arrays, not pooled literals: each text stands in the file as often as it is
   written here, so a rule that replaces every occurrence has work to do. */
static const WCHAR g_wsTitle[] = L"Pivra Demo Target";
static const WCHAR g_wsGreeting[] = L"Welcome to the demo program";
static const WCHAR g_wsOpen[] = L"Open the sample document";
static const WCHAR g_wsStatus1[] = L"Ready";
static const WCHAR g_wsStatus2[] = L"Ready";
static const WCHAR g_wsQuit[] = L"Quit";
static const char g_szAnsiNote[] = "This line is ANSI text";

static void AddLabel(HWND hParent, const WCHAR* wsText, int y)
{
    CreateWindowExW(0, L"STATIC", wsText, WS_CHILD | WS_VISIBLE, 20, y, 360, 24, hParent, NULL, NULL, NULL);
}

static LRESULT CALLBACK DemoProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CREATE:
        AddLabel(hWnd, g_wsGreeting, 20);
        AddLabel(hWnd, g_wsOpen, 50);
        AddLabel(hWnd, g_wsStatus1, 80);
        AddLabel(hWnd, g_wsStatus2, 110);
        CreateWindowExA(0, "STATIC", g_szAnsiNote, WS_CHILD | WS_VISIBLE, 20, 140, 360, 24, hWnd, NULL, NULL, NULL);
        CreateWindowExW(0, L"BUTTON", g_wsQuit, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 180, 100, 28, hWnd,
                        (HMENU)IDCANCEL, NULL, NULL);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPSTR szCmdLine, int nShow)
{
    WNDCLASSW stWc = {0};
    MSG stMsg;
    HWND hWnd;
    (void)hPrev;
    (void)szCmdLine;
    stWc.lpfnWndProc = DemoProc;
    stWc.hInstance = hInstance;
    stWc.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    stWc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    stWc.lpszClassName = L"PivraDemoTarget";
    RegisterClassW(&stWc);
    hWnd = CreateWindowExW(0, L"PivraDemoTarget", g_wsTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                           CW_USEDEFAULT, 420, 260, NULL, NULL, hInstance, NULL);
    ShowWindow(hWnd, nShow);
    while (GetMessageW(&stMsg, NULL, 0, 0) > 0)
    {
        TranslateMessage(&stMsg);
        DispatchMessageW(&stMsg);
    }
    return 0;
}
