// Fills a bare report-view list view with rows of seven cells, the rule list's
// shape, and prints the median time of each way of filling it: drawing on or
// off, and each message through a subclass that finds its object by window
// property (as the framework's attached controls do), straight to the list
// view's own procedure, or sent to a list view with no subclass. Under Wine
// the property look-up is a round trip to the window server.
// Usage: listview_bench [rows=5000] [runs=5]
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
const wchar_t kProp[] = L"USERDATA";
WNDPROC g_fnList = nullptr;

LRESULT CALLBACK Subclass(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (GetPropW(hWnd, kProp) == nullptr)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    return CallWindowProcW(g_fnList, hWnd, message, wParam, lParam);
}

double Seconds()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

struct Way
{
    const char* szName;
    bool redraw;
    bool straight;
    bool subclassed;
};

double Fill(HWND hList, int rows, const Way& way)
{
    auto send = [&](UINT message, WPARAM wParam, LPARAM lParam) {
        return way.straight ? CallWindowProcW(g_fnList, hList, message, wParam, lParam)
                            : SendMessageW(hList, message, wParam, lParam);
    };
    SendMessageW(hList, LVM_DELETEALLITEMS, 0, 0);
    double t0 = Seconds();
    if (!way.redraw)
        SendMessageW(hList, WM_SETREDRAW, FALSE, 0);
    wchar_t wsText[] = L"Some text of a rule";
    for (int row = 0; row < rows; ++row)
    {
        LVITEMW stLvi = {};
        stLvi.mask = LVIF_TEXT;
        stLvi.iItem = static_cast<int>(send(LVM_GETITEMCOUNT, 0, 0));
        stLvi.pszText = wsText;
        send(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&stLvi));
        for (stLvi.iSubItem = 1; stLvi.iSubItem < 7; ++stLvi.iSubItem)
            send(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&stLvi));
    }
    if (!way.redraw)
    {
        SendMessageW(hList, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(hList, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
    UpdateWindow(hList);
    return Seconds() - t0;
}
} // namespace

int main(int argc, char** argv)
{
    int rows = argc > 1 ? std::atoi(argv[1]) : 5000;
    int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (rows <= 0 || runs <= 0)
    {
        std::fprintf(stderr, "usage: listview_bench [rows=5000] [runs=5]\n");
        return 2;
    }
    INITCOMMONCONTROLSEX stInit = {sizeof(stInit), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&stInit);
    HWND hList = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE | LVS_REPORT, 0, 0,
                                 900, 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (hList == nullptr)
        return 1;
    for (int c = 0; c < 7; ++c)
    {
        LVCOLUMNW stCol = {};
        stCol.mask = LVCF_WIDTH;
        stCol.cx = 120;
        SendMessageW(hList, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&stCol));
    }
    SetPropW(hList, kProp, reinterpret_cast<HANDLE>(1));
    g_fnList = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Subclass)));
    const Way ways[] = {{"drawing on, through the subclass", true, false, true},
                        {"drawing off, through the subclass", false, false, true},
                        {"drawing off, straight to the list view", false, true, true},
                        {"drawing off, sent to a list view with no subclass", false, false, false}};
    for (const Way& way : ways)
    {
        SetWindowLongPtrW(hList, GWLP_WNDPROC,
                          way.subclassed ? reinterpret_cast<LONG_PTR>(Subclass)
                                         : reinterpret_cast<LONG_PTR>(g_fnList));
        std::vector<double> seconds;
        for (int run = 0; run < runs; ++run)
            seconds.push_back(Fill(hList, rows, way));
        std::sort(seconds.begin(), seconds.end());
        std::printf("%d rows x 7 cells, %s: median %.3f s of %d runs\n", rows, way.szName,
                    seconds[seconds.size() / 2], runs);
        std::fflush(stdout);
    }
    DestroyWindow(hList);
    return 0;
}
