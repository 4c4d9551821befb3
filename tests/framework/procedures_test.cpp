// The window procedures with real dialogs, class windows and subclassed windows.
#include "framework/window.h"
#include "framework/window_procs.h"

#include "test_resource.h"
#include "window_test_util.h"

#include <gtest/gtest.h>

namespace
{

const UINT WM_TEST_CONSUMED = WM_APP + 1;
const UINT WM_TEST_PASSED = WM_APP + 2;
const UINT_PTR SAFETY_TIMER = 77;

// What a probe saw; it outlives the probe, which the framework may delete.
struct ProbeLog
{
    int initCalls = 0;
    int closeCalls = 0;
    int destroyCalls = 0;
    int ncDestroyCalls = 0;
    int paintCalls = 0;
    int ncCreateCalls = 0;
    int createCalls = 0;
    int consumedSeen = 0;
    int passedSeen = 0;
    int safetyFired = 0;
    LONG_PTR idAtInit = -1;
    LONG_PTR userDataAtInit = 0;
    LONG_PTR procAtInit = 0;
    WNDPROC prevAtInit = nullptr;
    HWND ownerAtInit = nullptr;
    HFONT fontAtInit = nullptr;
    LRESULT getFontAtInit = 0;
    HWND hWndAtNcCreate = nullptr;
    LONG_PTR userDataAtNcCreate = 0;
    int modalAtDestroy = -1;
    LONG_PTR userDataAtDelete = -1;
    HANDLE propAtDelete = nullptr;
    LONG_PTR procAtDelete = 0;
};

class CProbe : public CWindow
{
  public:
    explicit CProbe(ProbeLog* pLog) : m_pLog(pLog) {}
    ~CProbe() override
    {
        // Called at WM_NCDESTROY, when the window still exists.
        if (IsWindow(m_hWnd))
        {
            m_pLog->userDataAtDelete = GetWindowLongPtrW(m_hWnd, GWLP_USERDATA);
            m_pLog->propAtDelete = GetPropW(m_hWnd, L"USERDATA");
            m_pLog->procAtDelete = GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC);
        }
    }

    int PreFilter(UINT message, WPARAM, LPARAM) override
    {
        if (message == WM_INITDIALOG && m_closeAtInit)
            PostMessageW(WM_CLOSE, 0, 0);
        if (message == WM_INITDIALOG)
            return m_filterInit;
        if (message == WM_NCDESTROY)
            return m_filterNcDestroy;
        if (message == WM_TEST_CONSUMED)
            ++m_pLog->consumedSeen;
        if (message == WM_TEST_PASSED)
            ++m_pLog->passedSeen;
        return 0;
    }
    int PreTranslateMessage(MSG* pMsg) override
    {
        if (pMsg->message == WM_TIMER && pMsg->hwnd == nullptr && pMsg->wParam == m_safetyTimer)
        {
            ++m_pLog->safetyFired;
            PostQuitMessage(0);
        }
        return pMsg->message == WM_TEST_CONSUMED ? 1 : 0;
    }
    int OnInitDialog() override
    {
        ++m_pLog->initCalls;
        m_pLog->idAtInit = GetWindowLongPtrW(m_hWnd, GWLP_ID);
        m_pLog->userDataAtInit = GetWindowLongPtrW(m_hWnd, GWLP_USERDATA);
        m_pLog->procAtInit = GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC);
        m_pLog->prevAtInit = m_prevWndProc;
        m_pLog->ownerAtInit = GetWindow(m_hWnd, GW_OWNER);
        m_pLog->fontAtInit = m_font;
        m_pLog->getFontAtInit = SendMessageW(WM_GETFONT, 0, 0);
        return 1;
    }
    int OnNcCreate(CREATESTRUCTW*) override
    {
        ++m_pLog->ncCreateCalls;
        m_pLog->hWndAtNcCreate = m_hWnd;
        m_pLog->userDataAtNcCreate = GetWindowLongPtrW(m_hWnd, GWLP_USERDATA);
        return 0;
    }
    int OnCreate(CREATESTRUCTW*) override
    {
        ++m_pLog->createCalls;
        return 0;
    }
    int OnPaint() override
    {
        ++m_pLog->paintCalls;
        return m_paintResult;
    }
    void OnClose(WPARAM) override
    {
        ++m_pLog->closeCalls;
        if (m_endOnClose)
            EndDialog(m_endResult);
    }
    void OnDestroy() override
    {
        ++m_pLog->destroyCalls;
        m_pLog->modalAtDestroy = m_modal;
        if (m_quitOnDestroy)
            PostQuitMessage(0);
    }
    void OnNcDestroy() override { ++m_pLog->ncDestroyCalls; }

    int m_filterInit = 0;
    int m_filterNcDestroy = 0;
    int m_closeAtInit = 0;
    int m_endOnClose = 0;
    INT_PTR m_endResult = 0;
    int m_paintResult = 0;
    int m_quitOnDestroy = 0;
    UINT_PTR m_safetyTimer = 0;

  private:
    ProbeLog* m_pLog;
};

typedef Counted<CProbe> CCountedProbe;

class Procedures : public testing::Test
{
  protected:
    void SetUp() override
    {
        InitTestClasses();
        g_ncDestroySeen.clear();
    }
    void TearDown() override
    {
        for (HWND hWnd : m_windows)
            if (IsWindow(hWnd))
                DestroyWindow(hWnd);
    }
    HWND PlainWindow(DWORD style)
    {
        HWND hWnd = CreateWindowExW(0, c_wsTestCtrlClass, L"", style, 0, 0, 200, 120, nullptr, nullptr,
                                    TestInstance(), nullptr);
        m_windows.push_back(hWnd);
        return hWnd;
    }
    std::vector<HWND> m_windows;
};

TEST_F(Procedures, ModalDialogEndsWithItsResultAndOutlivesItsWindow)
{
    CWindow owner;
    owner.m_hWnd = PlainWindow(WS_OVERLAPPEDWINDOW);
    for (CWindow* pOwner : {static_cast<CWindow*>(nullptr), &owner})
    {
        SCOPED_TRACE(pOwner ? "with owner" : "without owner");
        LifeCount count;
        ProbeLog log;
        CCountedProbe* pDlg = new CCountedProbe(&count, &log);
        pDlg->m_closeAtInit = 1;
        pDlg->m_endOnClose = 1;
        pDlg->m_endResult = 42;
        INT_PTR r = pDlg->CreateDlg(pOwner, TestInstance(), IDD_FW_CONTROLS, 1, 0x55);

        EXPECT_EQ(r, 42);
        EXPECT_EQ(log.initCalls, 1);
        EXPECT_EQ(log.closeCalls, 1);
        EXPECT_EQ(log.ncDestroyCalls, 1);
        EXPECT_EQ(log.idAtInit, 0) << "a modal dialog keeps its own id";
        EXPECT_EQ(log.userDataAtInit, reinterpret_cast<LONG_PTR>(pDlg));
        EXPECT_EQ(log.procAtInit, reinterpret_cast<LONG_PTR>(DialogWndProc));
        EXPECT_NE(log.prevAtInit, nullptr);
        EXPECT_NE(log.prevAtInit, DialogWndProc);
        EXPECT_EQ(log.ownerAtInit, pOwner ? pOwner->m_hWnd : nullptr);
        // The template's WM_SETFONT came before the object was bound.
        EXPECT_EQ(log.fontAtInit, nullptr);
        EXPECT_NE(log.getFontAtInit, 0);

        EXPECT_EQ(count.destroyed, 0);
        EXPECT_FALSE(IsWindow(pDlg->m_hWnd));
        EXPECT_EQ(pDlg->m_modal, 1);
        EXPECT_EQ(pDlg->m_id, IDD_FW_CONTROLS);
        EXPECT_EQ(pDlg->m_param, 0x55);
        EXPECT_EQ(pDlg->m_owner, pOwner);
        EXPECT_EQ(pDlg->m_hInstance, TestInstance());
        EXPECT_EQ(pDlg->GetDpiScale(), 100) << "no device context for a destroyed window";
        delete pDlg;
        EXPECT_EQ(count.destroyed, 1);
    }
}

TEST_F(Procedures, ModelessDialogIsOwnedByItsWindow)
{
    LifeCount count;
    ProbeLog log;
    CCountedProbe* pDlg = new CCountedProbe(&count, &log);
    HWND hDlg = reinterpret_cast<HWND>(pDlg->CreateDlg(nullptr, TestInstance(), IDD_FW_CONTROLS, 0, 0x66));
    ASSERT_NE(hDlg, nullptr);
    m_windows.push_back(hDlg);

    EXPECT_EQ(pDlg->m_hWnd, hDlg);
    EXPECT_EQ(pDlg->m_modal, 0);
    EXPECT_EQ(log.initCalls, 1);
    EXPECT_EQ(log.idAtInit, IDD_FW_CONTROLS);
    EXPECT_EQ(GetWindowLongPtrW(hDlg, GWLP_ID), IDD_FW_CONTROLS);
    EXPECT_EQ(GetWindowLongPtrW(hDlg, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(pDlg));

    // WM_CLOSE reaches OnClose, and the dialog's default processing that follows leaves it open.
    PostMessageW(hDlg, WM_CLOSE, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return log.closeCalls == 1; }));
    EXPECT_TRUE(IsWindow(hDlg));
    EXPECT_EQ(count.destroyed, 0);

    DestroyWindow(hDlg);
    EXPECT_EQ(log.ncDestroyCalls, 1);
    EXPECT_EQ(count.constructed, 1);
    EXPECT_EQ(count.destroyed, 1);
    EXPECT_EQ(log.userDataAtDelete, 0);
}

TEST_F(Procedures, DialogUnbindingAtNcDestroy)
{
    struct Case
    {
        int modal;
        int filterInit;
        int filterNcDestroy;
    };
    const Case cases[] = {{1, 0, 0}, {1, 0, 1}, {1, 1, 0}, {0, 0, 0}, {0, 1, 1}, {0, 0, 1}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "modal " << c.modal << " filter init " << c.filterInit
                                        << " filter WM_NCDESTROY " << c.filterNcDestroy);
        g_ncDestroySeen.clear();
        LifeCount count;
        ProbeLog log;
        CCountedProbe* pDlg = new CCountedProbe(&count, &log);
        pDlg->m_filterInit = c.filterInit ? 9 : 0;
        pDlg->m_filterNcDestroy = c.filterNcDestroy ? 9 : 0;
        pDlg->m_closeAtInit = c.modal;
        pDlg->m_endOnClose = c.modal;
        INT_PTR r = pDlg->CreateDlg(nullptr, TestInstance(), IDD_FW_CLASSED, c.modal, 0);
        HWND hDlg = pDlg->m_hWnd;
        ASSERT_NE(hDlg, nullptr);
        if (!c.modal)
        {
            EXPECT_EQ(reinterpret_cast<HWND>(r), hDlg);
            // Bound even though OnInitDialog never ran.
            EXPECT_EQ(GetWindowLongPtrW(hDlg, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(pDlg));
            EXPECT_EQ(GetWindowLongPtrW(hDlg, GWLP_ID), IDD_FW_CLASSED);
            DestroyWindow(hDlg);
        }
        EXPECT_FALSE(IsWindow(hDlg));
        EXPECT_EQ(log.initCalls, c.filterInit ? 0 : 1);
        EXPECT_EQ(log.ncDestroyCalls, c.filterNcDestroy ? 0 : 1);

        // The dialog class's own procedure gets WM_NCDESTROY only when no filter claimed it.
        if (c.filterNcDestroy)
        {
            EXPECT_TRUE(g_ncDestroySeen.empty());
        }
        else
        {
            ASSERT_EQ(g_ncDestroySeen.size(), 1u);
            EXPECT_EQ(g_ncDestroySeen[0].hWnd, hDlg);
            EXPECT_EQ(g_ncDestroySeen[0].userData, c.modal ? reinterpret_cast<LONG_PTR>(pDlg) : 0);
        }
        if (c.modal)
        {
            EXPECT_EQ(count.destroyed, 0);
            delete pDlg;
        }
        else
        {
            EXPECT_EQ(log.userDataAtDelete, 0);
        }
        EXPECT_EQ(count.destroyed, 1);
    }
}

TEST_F(Procedures, ClassWindowRunsInTheMessageLoopAndIsDeletedWithItsWindow)
{
    LifeCount count;
    ProbeLog log;
    CCountedProbe* pWnd = new CCountedProbe(&count, &log);
    pWnd->m_quitOnDestroy = 1;
    // Bounds the loop should WM_QUIT never come; a passing run never sees it.
    pWnd->m_safetyTimer = SetTimer(nullptr, SAFETY_TIMER, 10000, nullptr);
    WndPlacement stPlace = {10, 20, 200, 100};
    HWND hWnd = pWnd->CreateWnd(nullptr, TestInstance(), 0, WS_OVERLAPPEDWINDOW, 0, L"PivraFwClassWnd",
                                &stPlace, 0x77);
    ASSERT_NE(hWnd, nullptr);
    m_windows.push_back(hWnd);
    EXPECT_EQ(pWnd->m_hWnd, hWnd);
    EXPECT_EQ(pWnd->m_param, 0x77);
    EXPECT_EQ(log.ncCreateCalls, 1);
    EXPECT_EQ(log.hWndAtNcCreate, hWnd);
    EXPECT_EQ(log.userDataAtNcCreate, reinterpret_cast<LONG_PTR>(pWnd));
    EXPECT_EQ(log.createCalls, 1);
    EXPECT_EQ(GetClassLongPtrW(hWnd, GCLP_WNDPROC), reinterpret_cast<LONG_PTR>(ClassWndProc));
    EXPECT_EQ(GetClassLongW(hWnd, GCL_STYLE), static_cast<DWORD>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
    RECT stRect;
    GetWindowRect(hWnd, &stRect);
    EXPECT_EQ(stRect.left, 10);
    EXPECT_EQ(stRect.top, 20);
    EXPECT_EQ(stRect.right - stRect.left, 200);
    EXPECT_EQ(stRect.bottom - stRect.top, 100);

    PostMessageW(hWnd, WM_TEST_CONSUMED, 0, 0);
    PostMessageW(hWnd, WM_TEST_PASSED, 0, 0);
    // OnClose returns nothing, so DefWindowProcW destroys the window.
    PostMessageW(hWnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(pWnd->RunMessageLoop(), 1);
    KillTimer(nullptr, SAFETY_TIMER);

    EXPECT_EQ(log.safetyFired, 0);
    EXPECT_EQ(log.consumedSeen, 0);
    EXPECT_EQ(log.passedSeen, 1);
    EXPECT_EQ(log.closeCalls, 1);
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(log.modalAtDestroy, 1);
    EXPECT_EQ(log.ncDestroyCalls, 1);
    EXPECT_EQ(log.userDataAtDelete, 0);
    EXPECT_EQ(count.destroyed, 1);

    // The class exists now; a second window uses it as it is.
    ProbeLog log2;
    CCountedProbe* pWnd2 = new CCountedProbe(&count, &log2);
    HWND hWnd2 = pWnd2->CreateWnd(nullptr, TestInstance(), 0, WS_POPUP, 0, L"PivraFwClassWnd", nullptr, 0);
    ASSERT_NE(hWnd2, nullptr);
    m_windows.push_back(hWnd2);
    GetWindowRect(hWnd2, &stRect);
    EXPECT_EQ(stRect.right - stRect.left, 0);
    EXPECT_EQ(log2.ncCreateCalls, 1);
    DestroyWindow(hWnd2);
    EXPECT_EQ(count.constructed, 2);
    EXPECT_EQ(count.destroyed, 2);
}

TEST_F(Procedures, NonzeroPaintResultSkipsDefaultPainting)
{
    // Child windows of one shown frame: only windows on screen keep an update region.
    CWindow frame;
    frame.m_hWnd = PlainWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    enum Kind
    {
        kClassWindow,
        kDialog,
        kAttached
    };
    for (Kind kind : {kClassWindow, kDialog, kAttached})
    {
        for (int paintResult : {0, 5})
        {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " OnPaint result " << paintResult);
            LifeCount count;
            ProbeLog log;
            CCountedProbe* pProbe = new CCountedProbe(&count, &log);
            pProbe->m_paintResult = paintResult;
            HWND hWnd = nullptr;
            WndPlacement stPlace = {0, 0, 100, 60};
            if (kind == kClassWindow)
            {
                hWnd = pProbe->CreateWnd(&frame, TestInstance(), 5, WS_CHILD | WS_VISIBLE, 0,
                                         L"PivraFwPaintWnd", &stPlace, 0);
            }
            else if (kind == kDialog)
            {
                hWnd = reinterpret_cast<HWND>(pProbe->CreateDlg(&frame, TestInstance(), IDD_FW_CHILD, 0, 0));
            }
            else
            {
                hWnd = CreateWindowExW(0, c_wsTestCtrlClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 60,
                                       frame.m_hWnd, nullptr, TestInstance(), nullptr);
                pProbe->Attach(&frame, TestInstance(), hWnd);
            }
            ASSERT_NE(hWnd, nullptr);
            m_windows.push_back(hWnd);
            EXPECT_EQ(GetParent(hWnd), frame.m_hWnd);
            ValidateRect(hWnd, nullptr);
            InvalidateRect(hWnd, nullptr, FALSE);
            RECT stRect;
            ASSERT_TRUE(GetUpdateRect(hWnd, &stRect, FALSE));

            EXPECT_EQ(SendMessageW(hWnd, WM_PAINT, 0, 0), 0);
            EXPECT_EQ(log.paintCalls, 1);
            EXPECT_EQ(GetUpdateRect(hWnd, &stRect, FALSE) != 0, paintResult != 0);

            ValidateRect(hWnd, nullptr);
            DestroyWindow(hWnd);
            EXPECT_EQ(count.destroyed, 1);
        }
    }
}

TEST_F(Procedures, AttachedWindowIsUnboundBeforeItsOwnProcedureSeesNcDestroy)
{
    CWindow owner;
    owner.m_hInstance = TestInstance();
    for (int filter : {0, 1})
    {
        SCOPED_TRACE(testing::Message() << "filter WM_NCDESTROY " << filter);
        g_ncDestroySeen.clear();
        HWND hWnd = PlainWindow(WS_POPUP);
        LONG_PTR ownProc = GetWindowLongPtrW(hWnd, GWLP_WNDPROC);
        LifeCount count;
        ProbeLog log;
        CCountedProbe* pProbe = new CCountedProbe(&count, &log);
        pProbe->m_filterNcDestroy = filter ? 3 : 0;
        pProbe->Attach(&owner, owner.m_hInstance, hWnd);

        EXPECT_EQ(pProbe->m_hWnd, hWnd);
        EXPECT_EQ(pProbe->m_owner, &owner);
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(pProbe->m_prevWndProc), ownProc);
        EXPECT_EQ(GetPropW(hWnd, L"USERDATA"), pProbe);
        EXPECT_EQ(GetWindowLongPtrW(hWnd, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(SubclassWndProc));

        DestroyWindow(hWnd);
        EXPECT_EQ(count.destroyed, 1);
        EXPECT_EQ(log.propAtDelete, nullptr);
        EXPECT_EQ(log.procAtDelete, ownProc);
        EXPECT_EQ(log.ncDestroyCalls, filter ? 0 : 1);
        if (filter)
        {
            EXPECT_TRUE(g_ncDestroySeen.empty());
        }
        else
        {
            ASSERT_EQ(g_ncDestroySeen.size(), 1u);
            EXPECT_EQ(g_ncDestroySeen[0].prop, nullptr);
            EXPECT_EQ(g_ncDestroySeen[0].wndProc, ownProc);
        }
    }
}

TEST_F(Procedures, WindowWithoutObjectGetsDefaultProcessing)
{
    // Windows of the framework's classes that carry no object are left to DefWindowProcW.
    HWND hWnd = PlainWindow(WS_POPUP);
    SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassWndProc));
    EXPECT_EQ(SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"abc")), TRUE);
    EXPECT_EQ(SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0), 3);
    SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DialogWndProc));
    EXPECT_EQ(SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0), 3);
    DestroyWindow(hWnd);

    // A window of a CreateWnd class made without an object stays unbound.
    LifeCount count;
    ProbeLog log;
    CCountedProbe* pWnd = new CCountedProbe(&count, &log);
    HWND hBound = pWnd->CreateWnd(nullptr, TestInstance(), 0, WS_POPUP, 0, L"PivraFwClassWnd2", nullptr, 0);
    ASSERT_NE(hBound, nullptr);
    m_windows.push_back(hBound);
    HWND hLoose = CreateWindowExW(0, L"PivraFwClassWnd2", L"x", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  TestInstance(), nullptr);
    ASSERT_NE(hLoose, nullptr);
    m_windows.push_back(hLoose);
    EXPECT_EQ(GetWindowLongPtrW(hLoose, GWLP_USERDATA), 0);
    EXPECT_EQ(SendMessageW(hLoose, WM_GETTEXTLENGTH, 0, 0), 1);
    DestroyWindow(hLoose);
    EXPECT_EQ(log.ncCreateCalls, 1);
    DestroyWindow(hBound);
    EXPECT_EQ(count.destroyed, 1);
}

} // namespace
