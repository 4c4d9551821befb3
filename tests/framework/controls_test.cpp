// Control objects attached to the controls of a dialog made from a template.
#include "framework/combo_box.h"
#include "framework/edit_ctrl.h"
#include "framework/listview_ctrl.h"
#include "framework/process_ctrl.h"
#include "framework/window_procs.h"

#include "test_resource.h"
#include "window_test_util.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

const int c_controlIds[] = {IDC_FW_LIST, IDC_FW_COMBO, IDC_FW_EN, IDC_FW_CN, IDC_FW_PROGRESS};

// Binds its controls in OnInitDialog, the way the tool's dialogs do. The controls delete their
// objects; m_absent, whose control does not exist, stays with whoever made the dialog.
class CControlsDlg : public CWindow
{
  public:
    explicit CControlsDlg(LifeCount* pControls) : m_pControls(pControls) {}

    int OnInitDialog() override
    {
        for (int i = 0; i < 5; ++i)
            m_ownProcs[i] = GetWindowLongPtrW(GetDlgItem(c_controlIds[i]), GWLP_WNDPROC);
        m_list = new Counted<CListviewCtrl>(m_pControls, this, GetDlgItem(IDC_FW_LIST));
        m_combo = new Counted<CComboBox>(m_pControls, this, GetDlgItem(IDC_FW_COMBO));
        m_en = new Counted<CEditCtrl>(m_pControls, this, GetDlgItem(IDC_FW_EN), 1);
        m_cn = new Counted<CEditCtrl>(m_pControls, this, GetDlgItem(IDC_FW_CN), 0);
        m_progress = new Counted<CProcessCtrl>(m_pControls, this, GetDlgItem(IDC_FW_PROGRESS));
        m_absent = new Counted<CEditCtrl>(m_pControls, this, GetDlgItem(IDC_FW_ABSENT), 1);
        if (m_closeAtInit)
            PostMessageW(WM_CLOSE, 0, 0);
        return 1;
    }
    void OnClose(WPARAM) override { EndDialog(7); }

    CWindow* Control(int i)
    {
        CWindow* controls[] = {m_list, m_combo, m_en, m_cn, m_progress};
        return controls[i];
    }

    LifeCount* m_pControls;
    int m_closeAtInit = 0;
    LONG_PTR m_ownProcs[5] = {};
    CListviewCtrl* m_list = nullptr;
    CComboBox* m_combo = nullptr;
    CEditCtrl* m_en = nullptr;
    CEditCtrl* m_cn = nullptr;
    CProcessCtrl* m_progress = nullptr;
    CEditCtrl* m_absent = nullptr;
};

std::wstring TextOf(HWND hWnd)
{
    WCHAR wsText[64] = {};
    GetWindowTextW(hWnd, wsText, 64);
    return wsText;
}

class Controls : public testing::Test
{
  protected:
    void SetUp() override
    {
        InitTestClasses();
        m_pDlg = new Counted<CControlsDlg>(&m_dialogs, &m_controls);
        m_hDlg = reinterpret_cast<HWND>(m_pDlg->CreateDlg(nullptr, TestInstance(), IDD_FW_CONTROLS, 0, 0));
        ASSERT_NE(m_hDlg, nullptr);
    }
    void TearDown() override
    {
        if (IsWindow(m_hDlg))
            DestroyWindow(m_hDlg);
    }

    LifeCount m_dialogs;
    LifeCount m_controls;
    CControlsDlg* m_pDlg = nullptr;
    HWND m_hDlg = nullptr;
};

TEST_F(Controls, AttachBindsEachControlAndTheDialogDeletesThemOnce)
{
    CEditCtrl* pAbsent = m_pDlg->m_absent;
    for (int i = 0; i < 5; ++i)
    {
        SCOPED_TRACE(testing::Message() << "control " << c_controlIds[i]);
        CWindow* pCtrl = m_pDlg->Control(i);
        HWND hCtrl = GetDlgItem(m_hDlg, c_controlIds[i]);
        EXPECT_EQ(pCtrl->m_hWnd, hCtrl);
        EXPECT_EQ(pCtrl->m_owner, m_pDlg);
        EXPECT_EQ(pCtrl->m_hInstance, TestInstance());
        EXPECT_EQ(pCtrl->m_id, 0);
        EXPECT_EQ(pCtrl->m_param, 0);
        EXPECT_EQ(GetPropW(hCtrl, L"USERDATA"), pCtrl);
        EXPECT_EQ(GetWindowLongPtrW(hCtrl, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(SubclassWndProc));
        EXPECT_NE(pCtrl->m_prevWndProc, nullptr);
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(pCtrl->m_prevWndProc), m_pDlg->m_ownProcs[i]);
    }
    EXPECT_EQ(m_pDlg->m_en->m_noIme, 1);
    EXPECT_EQ(m_pDlg->m_cn->m_noIme, 0);

    // No such control: constructed, but nothing bound.
    EXPECT_EQ(pAbsent->m_hWnd, nullptr);
    EXPECT_EQ(pAbsent->m_prevWndProc, nullptr);
    EXPECT_EQ(pAbsent->m_owner, m_pDlg);
    EXPECT_EQ(pAbsent->m_hInstance, TestInstance());

    EXPECT_EQ(m_controls.constructed, 6);
    DestroyWindow(m_hDlg);
    EXPECT_EQ(m_dialogs.destroyed, 1);
    EXPECT_EQ(m_controls.destroyed, 5);
    delete pAbsent;
    EXPECT_EQ(m_controls.destroyed, 6);
}

TEST_F(Controls, ModalDialogDeletesItsControlsButNotItself)
{
    LifeCount dialogs;
    LifeCount controls;
    CControlsDlg* pDlg = new Counted<CControlsDlg>(&dialogs, &controls);
    pDlg->m_closeAtInit = 1;
    EXPECT_EQ(pDlg->CreateDlg(nullptr, TestInstance(), IDD_FW_CONTROLS, 1, 0), 7);
    EXPECT_EQ(controls.constructed, 6);
    EXPECT_EQ(controls.destroyed, 5);
    EXPECT_EQ(dialogs.destroyed, 0);
    delete pDlg->m_absent;
    delete pDlg;
    EXPECT_EQ(controls.destroyed, 6);
    EXPECT_EQ(dialogs.destroyed, 1);
}

TEST_F(Controls, ImeCharacterIsSwallowedOnlyByTheBoxThatAsks)
{
    HWND hEn = m_pDlg->m_en->m_hWnd;
    HWND hCn = m_pDlg->m_cn->m_hWnd;
    const WCHAR wcIme = 0x4E2D;

    EXPECT_EQ(SendMessageW(hEn, WM_IME_CHAR, wcIme, 1), 1);
    PumpUntil([] { return false; });
    EXPECT_EQ(TextOf(hEn), L"");

    SendMessageW(hCn, WM_IME_CHAR, wcIme, 1);
    EXPECT_TRUE(PumpUntil([&] { return GetWindowTextLengthW(hCn) == 1; }));
    EXPECT_EQ(TextOf(hCn), std::wstring(1, wcIme));

    // Plain characters still reach the box that refuses IME input.
    SendMessageW(hEn, WM_CHAR, L'a', 1);
    EXPECT_EQ(TextOf(hEn), L"a");
}

TEST_F(Controls, FontMessagesReachTheObjectAndTheControl)
{
    CEditCtrl* pEdit = m_pDlg->m_cn;
    HWND hEdit = pEdit->m_hWnd;
    HFONT hDialogFont = reinterpret_cast<HFONT>(SendMessageW(m_hDlg, WM_GETFONT, 0, 0));
    ASSERT_NE(hDialogFont, nullptr);
    EXPECT_EQ(pEdit->m_font, nullptr);
    // Nothing stored yet: the edit control answers with the font the dialog gave it.
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(hEdit, WM_GETFONT, 0, 0)), hDialogFont);

    HFONT hFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    ASSERT_NE(hFont, hDialogFont);
    SendMessageW(hEdit, WM_SETFONT, reinterpret_cast<WPARAM>(hFont), FALSE);
    EXPECT_EQ(pEdit->m_font, hFont);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(hEdit, WM_GETFONT, 0, 0)), hFont);
    EXPECT_EQ(reinterpret_cast<HFONT>(CallWindowProcW(pEdit->m_prevWndProc, hEdit, WM_GETFONT, 0, 0)), hFont);
}

TEST_F(Controls, ListViewWrappers)
{
    CListviewCtrl* pList = m_pDlg->m_list;
    EXPECT_EQ(pList->InsertColumn(0, L"No", 50), 0);
    EXPECT_EQ(pList->InsertColumn(1, L"EN", 80), 1);
    EXPECT_EQ(pList->InsertItem(0, L"001"), 0);
    EXPECT_EQ(pList->InsertItem(1, L"002"), 1);
    EXPECT_EQ(pList->GetItemCount(), 2);
    EXPECT_TRUE(pList->SetItemText(1, 1, L"hello"));

    WCHAR wsText[16];
    EXPECT_TRUE(pList->GetItemText(1, 1, wsText, 16));
    EXPECT_STREQ(wsText, L"hello");
    EXPECT_TRUE(pList->GetItemText(1, 1, wsText, 3));
    EXPECT_STREQ(wsText, L"he");
    EXPECT_TRUE(pList->GetItemText(0, 0, wsText, 16));
    EXPECT_STREQ(wsText, L"001");

    EXPECT_EQ(pList->GetNextItem(-1, LVNI_SELECTED), -1);
    EXPECT_TRUE(pList->SetItemState(1, LVIS_SELECTED, LVIS_SELECTED));
    EXPECT_EQ(pList->GetNextItem(-1, LVNI_SELECTED), 1);
    EXPECT_TRUE(pList->EnsureVisible(1, FALSE));

    pList->SetExtendedListViewStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES, LVS_EX_FULLROWSELECT);
    EXPECT_EQ(pList->GetExtendedListViewStyle() & (LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES),
              static_cast<DWORD>(LVS_EX_FULLROWSELECT));

    EXPECT_TRUE(pList->DeleteItem(0));
    EXPECT_EQ(pList->GetItemCount(), 1);
    EXPECT_TRUE(pList->GetItemText(0, 0, wsText, 16));
    EXPECT_STREQ(wsText, L"002");
    EXPECT_TRUE(pList->DeleteAllItems());
    EXPECT_EQ(pList->GetItemCount(), 0);
}

TEST_F(Controls, ComboBoxWrappers)
{
    CComboBox* pCombo = m_pDlg->m_combo;
    EXPECT_EQ(pCombo->GetCurSel(), CB_ERR);
    EXPECT_EQ(pCombo->InsertString(0, L"beta"), 0);
    EXPECT_EQ(pCombo->InsertString(0, L"alpha"), 0);
    EXPECT_EQ(pCombo->AddString(L"gamma"), 2);
    EXPECT_EQ(pCombo->GetCount(), 3);
    EXPECT_EQ(pCombo->FindStringExact(-1, L"BETA"), 1);
    EXPECT_EQ(pCombo->FindStringExact(-1, L"bet"), CB_ERR);
    EXPECT_EQ(pCombo->SetCurSel(2), 2);
    EXPECT_EQ(pCombo->GetCurSel(), 2);
    EXPECT_EQ(pCombo->GetLBTextLen(2), 5);
    WCHAR wsText[8];
    EXPECT_EQ(pCombo->GetLBText(2, wsText), 5);
    EXPECT_STREQ(wsText, L"gamma");
    EXPECT_EQ(pCombo->GetLBText(3, wsText), CB_ERR);
    EXPECT_EQ(pCombo->SetCurSel(-1), CB_ERR);
    EXPECT_EQ(pCombo->GetCurSel(), CB_ERR);
    EXPECT_EQ(pCombo->DeleteString(0), 2);
    pCombo->ResetContent();
    EXPECT_EQ(pCombo->GetCount(), 0);
}

TEST_F(Controls, EditAndProgressWrappers)
{
    CEditCtrl* pEdit = m_pDlg->m_cn;
    EXPECT_TRUE(pEdit->SetText(L"abcdef"));
    EXPECT_EQ(pEdit->GetTextLength(), 6);
    WCHAR wsText[8];
    EXPECT_EQ(pEdit->GetText(wsText, 4), 3);
    EXPECT_STREQ(wsText, L"abc");
    pEdit->SetSel(1, 3);
    pEdit->ReplaceSel(L"XY", FALSE);
    EXPECT_EQ(TextOf(pEdit->m_hWnd), L"aXYdef");
    pEdit->LimitText(7);
    pEdit->SetSel(6, 6);
    pEdit->ReplaceSel(L"123", FALSE);
    EXPECT_EQ(TextOf(pEdit->m_hWnd), L"aXYdef1");

    CProcessCtrl* pProgress = m_pDlg->m_progress;
    pProgress->SetRange(0, 10);
    EXPECT_EQ(pProgress->SetRange32(0, 4), MAKELONG(0, 10));
    pProgress->SetStep(1);
    EXPECT_EQ(pProgress->StepIt(), 0);
    EXPECT_EQ(pProgress->StepIt(), 1);
    EXPECT_EQ(pProgress->GetPos(), 2);
    EXPECT_EQ(pProgress->SetPos(9), 2);
    EXPECT_EQ(pProgress->GetPos(), 4) << "clamped to the range";
}

// Straight to the control's own procedure, with the answers a sent message
// gets; an object with no replaced procedure sends the message instead.
TEST_F(Controls, CallControlProcAnswersAsTheControl)
{
    CListviewCtrl* pList = m_pDlg->m_list;
    pList->InsertColumn(0, L"a", 40);
    pList->InsertColumn(1, L"b", 40);
    WCHAR wsRow[] = L"row", wsCell[] = L"cell";
    LVITEMW stLvi = {};
    stLvi.mask = LVIF_TEXT;
    stLvi.pszText = wsRow;
    EXPECT_EQ(pList->CallControlProc(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&stLvi)), 0);
    stLvi.iSubItem = 1;
    stLvi.pszText = wsCell;
    EXPECT_EQ(pList->CallControlProc(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&stLvi)), TRUE);
    WCHAR wsText[8];
    EXPECT_TRUE(pList->GetItemText(0, 1, wsText, 8));
    EXPECT_STREQ(wsText, L"cell");
    CWindow unbound;
    unbound.m_hWnd = pList->m_hWnd;
    EXPECT_EQ(unbound.CallControlProc(LVM_GETITEMCOUNT, 0, 0), 1);

    CProcessCtrl* pProgress = m_pDlg->m_progress;
    pProgress->SetRange32(0, 4);
    pProgress->SetStep(1);
    EXPECT_EQ(pProgress->CallControlProc(PBM_STEPIT, 0, 0), 0);
    EXPECT_EQ(pProgress->CallControlProc(PBM_STEPIT, 0, 0), 1);
    EXPECT_EQ(pProgress->GetPos(), 2);
}

TEST_F(Controls, WindowHelpersForwardToTheirWindow)
{
    CListviewCtrl* pList = m_pDlg->m_list;
    EXPECT_EQ(m_pDlg->GetDlgItem(IDC_FW_LIST), pList->m_hWnd);
    EXPECT_EQ(m_pDlg->GetDlgItem(IDC_FW_ABSENT), nullptr);

    HDC hScreen = ::GetDC(nullptr);
    int logPixels = GetDeviceCaps(hScreen, LOGPIXELSX);
    ::ReleaseDC(nullptr, hScreen);
    EXPECT_EQ(pList->GetDpiScale(), DpiScalePercent(logPixels));

    EXPECT_EQ(m_pDlg->m_cn->SendMessageW(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"wide")), TRUE);
    EXPECT_EQ(m_pDlg->m_cn->SendMessageA(WM_GETTEXTLENGTH, 0, 0), 4);
    char szText[8] = {};
    EXPECT_EQ(m_pDlg->m_cn->SendMessageA(WM_GETTEXT, 8, reinterpret_cast<LPARAM>(szText)), 4);
    EXPECT_STREQ(szText, "wide");

    ShowWindow(m_hDlg, SW_SHOW);
    m_pDlg->m_en->SetFocus();
    EXPECT_EQ(m_pDlg->m_cn->SetFocus(), m_pDlg->m_en->m_hWnd);
    EXPECT_EQ(GetFocus(), m_pDlg->m_cn->m_hWnd);

    HWND hCn = m_pDlg->m_cn->m_hWnd;
    EXPECT_TRUE(m_pDlg->m_cn->PostMessageW(WM_CHAR, L'z', 1));
    EXPECT_TRUE(PumpUntil([&] { return TextOf(hCn) == L"zwide"; }));
}

} // namespace
