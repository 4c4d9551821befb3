// Message-to-handler dispatch, called directly on unbound objects.
#include "framework/edit_ctrl.h"
#include "framework/window.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace
{

// Halves chosen so that sign and zero widening give different values.
const WPARAM kWp = 0xFFFE8001u;
const LPARAM kLp = static_cast<LPARAM>(0xFFF9FFFBu);
const INT_PTR kWpV = static_cast<INT_PTR>(kWp);
const INT_PTR kLoW = 0x8001, kHiW = 0xFFFE;
const INT_PTR kLoL = 0xFFFB, kHiL = 0xFFF9;
const INT_PTR kSloL = -5, kShiL = -7;

int ResultOf(int slot)
{
    return 0x4000 + slot;
}

// Records which handler ran with which arguments; returned handlers answer ResultOf(slot).
class CRecorder : public CWindow
{
  public:
    int PreFilter(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        m_filtered = {static_cast<INT_PTR>(message), static_cast<INT_PTR>(wParam), lParam};
        return m_preFilterResult;
    }
    int OnInitDialog() override { return Rec(6); }
    int OnCreate(CREATESTRUCTW* p) override { return Rec(7, P(p)); }
    int OnNcCreate(CREATESTRUCTW* p) override { return Rec(8, P(p)); }
    void OnCancelMode() override { Rec(9); }
    int OnSetCursor(HWND h, UINT a, UINT b) override { return Rec(10, P(h), a, b); }
    int OnNcHitTest(int x, int y) override { return Rec(11, x, y); }
    void OnLButtonDown(WPARAM k, int x, int y) override { Rec(12, V(k), x, y); }
    void OnLButtonUp(WPARAM k, int x, int y) override { Rec(13, V(k), x, y); }
    void OnLButtonDblClk(WPARAM k, int x, int y) override { Rec(14, V(k), x, y); }
    void OnRButtonDown(WPARAM k, int x, int y) override { Rec(15, V(k), x, y); }
    void OnRButtonUp(WPARAM k, int x, int y) override { Rec(16, V(k), x, y); }
    void OnRButtonDblClk(WPARAM k, int x, int y) override { Rec(17, V(k), x, y); }
    void OnNcLButtonDown(WPARAM h, POINTS pt) override { Rec(18, V(h), pt.x, pt.y); }
    void OnNcLButtonUp(WPARAM h, POINTS pt) override { Rec(19, V(h), pt.x, pt.y); }
    int OnMouseActivate(HWND h, UINT a, UINT b) override { return Rec(20, P(h), a, b); }
    void OnMouseMove(WPARAM k, int x, int y) override { Rec(21, V(k), x, y); }
    int OnMouseWheel(UINT k, UINT d, int x, int y) override { return Rec(22, k, d, x, y); }
    void OnNcPaint() override { Rec(23); }
    int OnPaint() override { return Rec(24); }
    int OnDrawItem(UINT id, DRAWITEMSTRUCT* p) override { return Rec(25, static_cast<INT_PTR>(id), P(p)); }
    int OnCtlColor(HDC d, HWND h) override { return Rec(26, P(d), P(h)); }
    int OnEraseBkgnd(HDC d) override { return Rec(27, P(d)); }
    void OnSize(UINT t, int cx, int cy) override { Rec(28, t, cx, cy); }
    void OnNcCalcSize(WPARAM f, LPARAM l) override { Rec(29, V(f), l); }
    void OnMove(int x, int y) override { Rec(30, x, y); }
    int OnMoving(UINT e, RECT* p) override { return Rec(31, static_cast<INT_PTR>(e), P(p)); }
    void OnWindowPosChanging(WINDOWPOS* p) override { Rec(32, P(p)); }
    void OnGetMinMaxInfo(MINMAXINFO* p) override { Rec(33, P(p)); }
    void OnEnable(WPARAM e) override { Rec(34, V(e)); }
    void OnShowWindow(WPARAM s, LPARAM st) override { Rec(35, V(s), st); }
    void OnActivate(UINT s, HWND h, UINT m) override { Rec(36, s, P(h), m); }
    void OnActivateApp(WPARAM a, DWORD t) override { Rec(37, V(a), static_cast<INT_PTR>(t)); }
    int OnNcActivate(WPARAM a) override { return Rec(38, V(a)); }
    int OnContextMenu(HWND h, int x, int y) override { return Rec(39, P(h), x, y); }
    int OnCommand(WPARAM w, HWND h) override { return Rec(40, V(w), P(h)); }
    void OnSysCommand(WPARAM c, LPARAM p) override { Rec(41, V(c), p); }
    void OnInitMenu(HMENU m) override { Rec(42, P(m)); }
    void OnInitMenuPopup(HMENU m, UINT p, UINT s) override { Rec(43, P(m), p, s); }
    int OnKeyDown(WPARAM vk, UINT r, UINT f) override { return Rec(44, V(vk), r, f); }
    int OnKeyUp(WPARAM vk, UINT r, UINT f) override { return Rec(45, V(vk), r, f); }
    void OnSysKeyDown(WPARAM vk, UINT r, UINT f) override { Rec(46, V(vk), r, f); }
    void OnSysKeyUp(WPARAM vk, UINT r, UINT f) override { Rec(47, V(vk), r, f); }
    void OnChar(WPARAM c, UINT r, UINT f) override { Rec(48, V(c), r, f); }
    void OnHotKey(WPARAM id, UINT m, UINT vk) override { Rec(49, V(id), m, vk); }
    void OnSetFocus(HWND h) override { Rec(50, P(h)); }
    void OnKillFocus(HWND h) override { Rec(51, P(h)); }
    int OnNotify(WPARAM id, NMHDR* p) override { return Rec(52, V(id), P(p)); }
    int OnGetDlgCode(WPARAM vk) override { return Rec(53, V(vk)); }
    void OnTimer(WPARAM id) override { Rec(54, V(id)); }
    int OnCopyData(HWND h, COPYDATASTRUCT* p) override { return Rec(55, P(h), P(p)); }
    void OnVScroll(UINT r, UINT p, HWND h) override { Rec(56, r, p, P(h)); }
    void OnHScroll(UINT r, UINT p, HWND h) override { Rec(57, r, p, P(h)); }
    void OnDropFiles(HDROP d) override { Rec(58, P(d)); }
    void OnParentNotify(WPARAM w, LPARAM l) override { Rec(59, V(w), l); }
    void OnSetFont(HFONT f, UINT r) override { Rec(60, P(f), r); }
    INT_PTR OnGetFont() override { return Rec(61); }
    void OnClose(WPARAM w) override { Rec(62, V(w)); }
    void OnDestroy() override { Rec(63); }
    void OnNcDestroy() override { Rec(64); }
    void OnDisplayChange(WPARAM b, UINT cx, UINT cy) override { Rec(65, V(b), cx, cy); }

    int m_preFilterResult = 0;
    std::vector<INT_PTR> m_filtered;
    int m_calls = 0;
    int m_slot = -1;
    std::vector<INT_PTR> m_args;

  private:
    template <class T> static INT_PTR P(T p) { return reinterpret_cast<INT_PTR>(p); }
    static INT_PTR V(WPARAM w) { return static_cast<INT_PTR>(w); }
    template <class... A> int Rec(int slot, A... args)
    {
        ++m_calls;
        m_slot = slot;
        m_args = {static_cast<INT_PTR>(args)...};
        return ResultOf(slot);
    }
};

struct DispatchRow
{
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int slot; // -1: no handler
    bool returned;
    std::vector<INT_PTR> args;
};

std::vector<DispatchRow> DispatchTable()
{
    std::vector<DispatchRow> rows = {
        {WM_INITDIALOG, kWp, kLp, 6, true, {}},
        {WM_CREATE, kWp, kLp, 7, true, {kLp}},
        {WM_NCCREATE, kWp, kLp, 8, true, {kLp}},
        {WM_CANCELMODE, kWp, kLp, 9, false, {}},
        {WM_SETCURSOR, kWp, kLp, 10, true, {kWpV, kLoL, kHiL}},
        {WM_NCHITTEST, kWp, kLp, 11, true, {kSloL, kShiL}},
        {WM_LBUTTONDOWN, kWp, kLp, 12, false, {kWpV, kSloL, kShiL}},
        {WM_LBUTTONUP, kWp, kLp, 13, false, {kWpV, kSloL, kShiL}},
        {WM_LBUTTONDBLCLK, kWp, kLp, 14, false, {kWpV, kSloL, kShiL}},
        {WM_RBUTTONDOWN, kWp, kLp, 15, false, {kWpV, kSloL, kShiL}},
        {WM_RBUTTONUP, kWp, kLp, 16, false, {kWpV, kSloL, kShiL}},
        {WM_RBUTTONDBLCLK, kWp, kLp, 17, false, {kWpV, kSloL, kShiL}},
        {WM_NCLBUTTONDOWN, kWp, kLp, 18, false, {kWpV, kSloL, kShiL}},
        {WM_NCLBUTTONUP, kWp, kLp, 19, false, {kWpV, kSloL, kShiL}},
        {WM_MOUSEACTIVATE, kWp, kLp, 20, true, {kWpV, kLoL, kHiL}},
        {WM_MOUSEMOVE, kWp, kLp, 21, false, {kWpV, kSloL, kShiL}},
        {WM_MOUSEWHEEL, kWp, kLp, 22, true, {kLoW, kHiW, kSloL, kShiL}},
        {WM_NCPAINT, kWp, kLp, 23, false, {}},
        {WM_PAINT, kWp, kLp, 24, true, {}},
        {WM_DRAWITEM, kWp, kLp, 25, true, {kWpV, kLp}},
        {WM_ERASEBKGND, kWp, kLp, 27, true, {kWpV}},
        {WM_SIZE, SIZE_RESTORED, kLp, 28, false, {SIZE_RESTORED, kSloL, kShiL}},
        {WM_SIZE, SIZE_MAXIMIZED, kLp, 28, false, {SIZE_MAXIMIZED, kSloL, kShiL}},
        {WM_SIZE, SIZE_MINIMIZED, kLp, -1, false, {}},
        {WM_SIZE, SIZE_MAXSHOW, kLp, -1, false, {}},
        {WM_SIZE, SIZE_MAXHIDE, kLp, -1, false, {}},
        {WM_NCCALCSIZE, kWp, kLp, 29, false, {kWpV, kLp}},
        {WM_MOVE, kWp, kLp, 30, false, {kSloL, kShiL}},
        {WM_MOVING, kWp, kLp, 31, true, {kWpV, kLp}},
        {WM_WINDOWPOSCHANGING, kWp, kLp, 32, false, {kLp}},
        {WM_GETMINMAXINFO, kWp, kLp, 33, false, {kLp}},
        {WM_ENABLE, kWp, kLp, 34, false, {kWpV}},
        {WM_SHOWWINDOW, kWp, kLp, 35, false, {kWpV, kLp}},
        {WM_ACTIVATE, kWp, kLp, 36, false, {kLoW, kLp, kHiW}},
        {WM_ACTIVATEAPP, kWp, kLp, 37, false, {kWpV, kLp}},
        {WM_NCACTIVATE, kWp, kLp, 38, true, {kWpV}},
        {WM_CONTEXTMENU, kWp, kLp, 39, true, {kWpV, kSloL, kShiL}},
        {WM_COMMAND, kWp, kLp, 40, true, {kWpV, kLp}},
        {WM_SYSCOMMAND, kWp, kLp, 41, false, {kWpV, kLp}},
        {WM_INITMENU, kWp, kLp, 42, false, {kWpV}},
        {WM_INITMENUPOPUP, kWp, kLp, 43, false, {kWpV, kLoL, kHiL}},
        {WM_KEYDOWN, kWp, kLp, 44, true, {kWpV, kLoL, kHiL}},
        {WM_KEYUP, kWp, kLp, 45, true, {kWpV, kLoL, kHiL}},
        {WM_SYSKEYDOWN, kWp, kLp, 46, false, {kWpV, kLoL, kHiL}},
        {WM_SYSKEYUP, kWp, kLp, 47, false, {kWpV, kLoL, kHiL}},
        {WM_CHAR, kWp, kLp, 48, false, {kWpV, kLoL, kHiL}},
        {WM_HOTKEY, kWp, kLp, 49, false, {kWpV, kLoL, kHiL}},
        {WM_SETFOCUS, kWp, kLp, 50, false, {kWpV}},
        {WM_KILLFOCUS, kWp, kLp, 51, false, {kWpV}},
        {WM_NOTIFY, kWp, kLp, 52, true, {kWpV, kLp}},
        {WM_GETDLGCODE, kWp, kLp, 53, true, {kWpV}},
        {WM_TIMER, kWp, kLp, 54, false, {kWpV}},
        {WM_COPYDATA, kWp, kLp, 55, true, {kWpV, kLp}},
        {WM_VSCROLL, kWp, kLp, 56, false, {kLoW, kHiW, kLp}},
        {WM_HSCROLL, kWp, kLp, 57, false, {kLoW, kHiW, kLp}},
        {WM_DROPFILES, kWp, kLp, 58, false, {kWpV}},
        {WM_PARENTNOTIFY, kWp, kLp, 59, false, {kWpV, kLp}},
        {WM_SETFONT, kWp, kLp, 60, false, {kWpV, kLoL}},
        {WM_GETFONT, kWp, kLp, 61, true, {}},
        {WM_CLOSE, kWp, kLp, 62, false, {kWpV}},
        {WM_DESTROY, kWp, kLp, 63, false, {}},
        {WM_NCDESTROY, kWp, kLp, 64, false, {}},
        {WM_DISPLAYCHANGE, kWp, kLp, 65, false, {kWpV, kLoL, kHiL}},
        {WM_NULL, kWp, kLp, -1, false, {}},
        {WM_USER + 5, kWp, kLp, -1, false, {}},
        {WM_IME_CHAR, kWp, kLp, -1, false, {}},
        {WM_CTLCOLORMSGBOX - 1, kWp, kLp, -1, false, {}},
        {WM_CTLCOLORSTATIC + 1, kWp, kLp, -1, false, {}},
    };
    for (UINT message = WM_CTLCOLORMSGBOX; message <= WM_CTLCOLORSTATIC; ++message)
        rows.push_back({message, kWp, kLp, 26, true, {kWpV, kLp}});
    return rows;
}

TEST(Dispatch, EachMessageReachesItsSlotWithCrackedArguments)
{
    std::set<int> slotsReached;
    for (const DispatchRow& row : DispatchTable())
    {
        SCOPED_TRACE(testing::Message()
                     << "message 0x" << std::hex << row.message << " wParam " << row.wParam);
        CRecorder rec;
        LRESULT r = rec.WindowProc(row.message, row.wParam, row.lParam);
        EXPECT_EQ(rec.m_filtered, (std::vector<INT_PTR>{static_cast<INT_PTR>(row.message),
                                                        static_cast<INT_PTR>(row.wParam), row.lParam}));
        if (row.slot < 0)
        {
            EXPECT_EQ(rec.m_calls, 0);
            EXPECT_EQ(r, 0);
            continue;
        }
        slotsReached.insert(row.slot);
        EXPECT_EQ(rec.m_calls, 1);
        EXPECT_EQ(rec.m_slot, row.slot);
        EXPECT_EQ(rec.m_args, row.args);
        EXPECT_EQ(r, row.returned ? ResultOf(row.slot) : 0);
    }
    std::set<int> handlerSlots;
    for (int slot = 6; slot <= 65; ++slot)
        handlerSlots.insert(slot);
    EXPECT_EQ(slotsReached, handlerSlots);
}

TEST(Dispatch, NonzeroPreFilterResultWinsOverEveryHandler)
{
    for (const DispatchRow& row : DispatchTable())
    {
        SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << row.message);
        CRecorder rec;
        rec.m_preFilterResult = -3;
        EXPECT_EQ(rec.WindowProc(row.message, row.wParam, row.lParam), -3);
        EXPECT_EQ(rec.m_calls, 0);
    }
}

TEST(Dispatch, BaseClassDefaults)
{
    for (const DispatchRow& row : DispatchTable())
    {
        SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << row.message);
        CWindow wnd;
        LRESULT expected = row.message == WM_INITDIALOG ? 1 : 0;
        if (row.message != WM_SETFONT)
        {
            EXPECT_EQ(wnd.WindowProc(row.message, row.wParam, row.lParam), expected);
        }
        EXPECT_EQ(wnd.m_font, nullptr);
    }

    CWindow wnd;
    HFONT hFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    EXPECT_EQ(wnd.WindowProc(WM_SETFONT, reinterpret_cast<WPARAM>(hFont), TRUE), 0);
    EXPECT_EQ(wnd.m_font, hFont);
    EXPECT_EQ(wnd.WindowProc(WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(hFont));
    EXPECT_EQ(wnd.WindowProc(WM_SETFONT, 0, FALSE), 0);
    EXPECT_EQ(wnd.WindowProc(WM_GETFONT, 0, 0), 0);
}

TEST(Dispatch, ConstructionLeavesTheObjectUnbound)
{
    CWindow wnd;
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_EQ(wnd.m_hInstance, nullptr);
    EXPECT_EQ(wnd.m_prevWndProc, nullptr);
    EXPECT_EQ(wnd.m_id, 0);
    EXPECT_EQ(wnd.m_param, 0);
    EXPECT_EQ(wnd.m_modal, 0);
    EXPECT_EQ(wnd.m_font, nullptr);
    EXPECT_EQ(wnd.m_owner, nullptr);
}

TEST(Dispatch, EditBoxFiltersOnlyImeCharactersAndOnlyWhenAsked)
{
    struct Case
    {
        int noIme;
        UINT message;
        LRESULT expected;
    };
    const Case cases[] = {
        {1, WM_IME_CHAR, 1}, {0, WM_IME_CHAR, 0}, {1, WM_CHAR, 0},    {1, WM_IME_COMPOSITION, 0},
        {1, WM_KEYDOWN, 0},  {7, WM_IME_CHAR, 1}, {0, WM_SETTEXT, 0},
    };
    CWindow owner;
    owner.m_hInstance = GetModuleHandleW(nullptr);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "noIme " << c.noIme << " message 0x" << std::hex << c.message);
        CEditCtrl edit(&owner, nullptr, c.noIme);
        EXPECT_EQ(edit.PreFilter(c.message, 0x4E2D, 1), c.expected);
        EXPECT_EQ(edit.WindowProc(c.message, 0x4E2D, 1), c.expected);
    }
}

TEST(Dispatch, DpiScaleArithmetic)
{
    const int cases[][2] = {{0, 100},   {72, 100},  {95, 100},  {96, 100},  {97, 101},
                            {100, 104}, {120, 125}, {144, 150}, {192, 200}, {-1, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(DpiScalePercent(c[0]), c[1]) << "at " << c[0] << " DPI";
}

// The member-pointer layout of the mingw (Itanium) ABI: a virtual function is named by 1 plus its
// byte offset in the dispatch table.
template <class F> int SlotOf(F CWindow::*pMember)
{
    uintptr_t raw[2];
    static_assert(sizeof(pMember) == sizeof(raw), "Itanium member pointer");
    memcpy(raw, &pMember, sizeof(raw));
    return raw[0] % 2 == 1 ? static_cast<int>((raw[0] - 1) / sizeof(void*)) : -1;
}

TEST(Dispatch, VirtualOperationsKeepTheirSlotOrder)
{
    const int slots[] = {SlotOf(&CWindow::CreateDlg),
                         SlotOf(&CWindow::CreateWnd),
                         SlotOf(&CWindow::RunMessageLoop),
                         SlotOf(&CWindow::WindowProc),
                         SlotOf(&CWindow::PreFilter),
                         SlotOf(&CWindow::PreTranslateMessage),
                         SlotOf(&CWindow::OnInitDialog),
                         SlotOf(&CWindow::OnCreate),
                         SlotOf(&CWindow::OnNcCreate),
                         SlotOf(&CWindow::OnCancelMode),
                         SlotOf(&CWindow::OnSetCursor),
                         SlotOf(&CWindow::OnNcHitTest),
                         SlotOf(&CWindow::OnLButtonDown),
                         SlotOf(&CWindow::OnLButtonUp),
                         SlotOf(&CWindow::OnLButtonDblClk),
                         SlotOf(&CWindow::OnRButtonDown),
                         SlotOf(&CWindow::OnRButtonUp),
                         SlotOf(&CWindow::OnRButtonDblClk),
                         SlotOf(&CWindow::OnNcLButtonDown),
                         SlotOf(&CWindow::OnNcLButtonUp),
                         SlotOf(&CWindow::OnMouseActivate),
                         SlotOf(&CWindow::OnMouseMove),
                         SlotOf(&CWindow::OnMouseWheel),
                         SlotOf(&CWindow::OnNcPaint),
                         SlotOf(&CWindow::OnPaint),
                         SlotOf(&CWindow::OnDrawItem),
                         SlotOf(&CWindow::OnCtlColor),
                         SlotOf(&CWindow::OnEraseBkgnd),
                         SlotOf(&CWindow::OnSize),
                         SlotOf(&CWindow::OnNcCalcSize),
                         SlotOf(&CWindow::OnMove),
                         SlotOf(&CWindow::OnMoving),
                         SlotOf(&CWindow::OnWindowPosChanging),
                         SlotOf(&CWindow::OnGetMinMaxInfo),
                         SlotOf(&CWindow::OnEnable),
                         SlotOf(&CWindow::OnShowWindow),
                         SlotOf(&CWindow::OnActivate),
                         SlotOf(&CWindow::OnActivateApp),
                         SlotOf(&CWindow::OnNcActivate),
                         SlotOf(&CWindow::OnContextMenu),
                         SlotOf(&CWindow::OnCommand),
                         SlotOf(&CWindow::OnSysCommand),
                         SlotOf(&CWindow::OnInitMenu),
                         SlotOf(&CWindow::OnInitMenuPopup),
                         SlotOf(&CWindow::OnKeyDown),
                         SlotOf(&CWindow::OnKeyUp),
                         SlotOf(&CWindow::OnSysKeyDown),
                         SlotOf(&CWindow::OnSysKeyUp),
                         SlotOf(&CWindow::OnChar),
                         SlotOf(&CWindow::OnHotKey),
                         SlotOf(&CWindow::OnSetFocus),
                         SlotOf(&CWindow::OnKillFocus),
                         SlotOf(&CWindow::OnNotify),
                         SlotOf(&CWindow::OnGetDlgCode),
                         SlotOf(&CWindow::OnTimer),
                         SlotOf(&CWindow::OnCopyData),
                         SlotOf(&CWindow::OnVScroll),
                         SlotOf(&CWindow::OnHScroll),
                         SlotOf(&CWindow::OnDropFiles),
                         SlotOf(&CWindow::OnParentNotify),
                         SlotOf(&CWindow::OnSetFont),
                         SlotOf(&CWindow::OnGetFont),
                         SlotOf(&CWindow::OnClose),
                         SlotOf(&CWindow::OnDestroy),
                         SlotOf(&CWindow::OnNcDestroy),
                         SlotOf(&CWindow::OnDisplayChange)};
    ASSERT_EQ(sizeof(slots) / sizeof(slots[0]), 66u);
    for (int i = 0; i < 66; ++i)
        EXPECT_EQ(slots[i], i);
}

} // namespace
