#include "app/main_wnd.h"

#include "app/patch_window.h"
#include "app/remark_wnd.h"
#include "app/rule_list.h"
#include "resource.h"
#include "rules/catalogue.h"
#include "rules/escape.h"
#include "rules/rule_set.h"
#include "util/wide_text.h"

#include <commdlg.h>

#include <new>

namespace
{
void AddNameToBox(void* pContext, LPCWSTR wsName)
{
    // CB_INSERTSTRING at -1 appends without sorting, although the box sorts.
    static_cast<CComboBox*>(pContext)->InsertString(-1, wsName);
}

void AddRuleRow(void* pContext, const PatchRule& rule)
{
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, rule.number);
    auto bit = [](bool on) { return on ? W("1") : W("0"); };
    InsertRow(*static_cast<CListviewCtrl*>(pContext), wsNode, rule.wsEn, rule.wsCn, bit(rule.unicode),
              bit(rule.repeat), bit(rule.x86), bit(rule.x64));
}

LPCWSTR SwitchKeyOfColumn(int column)
{
    switch (column)
    {
    case kColumnUnicode:
        return KEY_UNICODE;
    case kColumnRepeat:
        return KEY_REPEAT;
    case kColumnX86:
        return KEY_X86;
    case kColumnX64:
        return KEY_X64;
    default:
        return nullptr;
    }
}
} // namespace

CMainWnd::CMainWnd()
    : m_list(nullptr), m_ruleSets(nullptr), m_enEdit(nullptr), m_cnEdit(nullptr), m_fileEdit(nullptr),
      m_progress(nullptr), m_loadingPath(0)
{
}

int CMainWnd::OnInitDialog()
{
    m_list = new CListviewCtrl(this, GetDlgItem(IDC_RULE_LIST));
    InitColumns(*m_list);
    m_ruleSets = new CComboBox(this, GetDlgItem(IDC_RULE_SETS));
    m_enEdit = new CEditCtrl(this, GetDlgItem(IDC_EN_EDIT), 1);
    m_enEdit->LimitText(kTextChars);
    m_cnEdit = new CEditCtrl(this, GetDlgItem(IDC_CN_EDIT), 0);
    m_cnEdit->LimitText(kTextChars);
    m_fileEdit = new CEditCtrl(this, GetDlgItem(IDC_FILE_EDIT), 0);
    m_fileEdit->LimitText(kPathChars);
    m_progress = new CProcessCtrl(this, GetDlgItem(IDC_PROGRESS));

    WCHAR wsCatalogue[kPathChars];
    GetCatalogueFile(wsCatalogue);
    ReadCatalogue(wsCatalogue, AddNameToBox, m_ruleSets);
    return 1;
}

int CMainWnd::GetToolFileOfSelection(LPWSTR wsFile, UINT cchFile, LPCWSTR wsEnding)
{
    int sel = m_ruleSets->GetCurSel();
    if (sel < 0 || m_ruleSets->GetLBTextLen(sel) >= static_cast<int>(kNameChars))
        return 0;
    WCHAR wsName[kNameChars];
    if (m_ruleSets->GetLBText(sel, wsName) <= 0)
        return 0;
    GetToolFile(wsName, wsEnding, wsFile, cchFile);
    return 1;
}

int CMainWnd::GetRuleSetFile(LPWSTR wsFile, UINT cchFile)
{
    return GetToolFileOfSelection(wsFile, cchFile, W(".ini"));
}

int CMainWnd::GetRemarksFile(LPWSTR wsFile, UINT cchFile)
{
    return GetToolFileOfSelection(wsFile, cchFile, W(".txt"));
}

void CMainWnd::LoadRuleList()
{
    m_list->DeleteAllItems();
    m_loadingPath = 1;
    m_fileEdit->SetText(nullptr);
    WCHAR wsFile[kPathChars];
    if (GetRuleSetFile(wsFile, kPathChars))
    {
        WCHAR* wsPath = new (std::nothrow) WCHAR[kTextChars];
        if (wsPath != nullptr)
        {
            ReadTargetPath(wsFile, wsPath, kTextChars);
            m_fileEdit->SetText(wsPath);
            delete[] wsPath;
            SetListRedraw(*m_list, false);
            ReadRuleList(wsFile, AddRuleRow, m_list);
            SetListRedraw(*m_list, true);
        }
    }
    m_loadingPath = 0;
    m_enEdit->SetText(nullptr);
    m_cnEdit->SetText(nullptr);
}

int CMainWnd::ChooseFile(LPWSTR wsFile, LPCWSTR wsTitle, LPCWSTR wsFilter)
{
    OPENFILENAMEW stOfn = {};
    stOfn.lStructSize = sizeof(stOfn);
    stOfn.hwndOwner = m_hWnd;
    stOfn.hInstance = m_hInstance;
    stOfn.lpstrFilter = wsFilter;
    stOfn.nFilterIndex = 1;
    stOfn.lpstrFile = wsFile;
    stOfn.nMaxFile = MAX_PATH;
    stOfn.lpstrTitle = wsTitle;
    stOfn.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_LONGNAMES | OFN_ENABLESIZING;
    return GetOpenFileNameW(&stOfn);
}

void CMainWnd::OnClose(WPARAM wParam)
{
    EndDialog(static_cast<INT_PTR>(wParam));
}

int CMainWnd::OnCommand(WPARAM wParam, HWND)
{
    switch (wParam)
    {
    case IDCANCEL:
        PostMessageW(WM_CLOSE, 0, 0);
        return 0;
    case IDC_REMARKS:
        ShowRemarks();
        return 0;
    case IDC_ADD_RULE_SET:
        AddRuleSet();
        return 0;
    case IDC_START:
        StartPatch();
        return 0;
    case IDC_BROWSE:
        Browse();
        return 0;
    }
    if (HIWORD(wParam) == EN_CHANGE)
    {
        if (LOWORD(wParam) == IDC_FILE_EDIT)
            SaveTargetPath();
        else if (LOWORD(wParam) == IDC_EN_EDIT)
            SaveText(m_enEdit, KEY_EN, kColumnEn);
        else if (LOWORD(wParam) == IDC_CN_EDIT)
            SaveText(m_cnEdit, KEY_CN, kColumnCn);
    }
    else if (LOWORD(wParam) == IDC_RULE_SETS && HIWORD(wParam) == CBN_SELCHANGE)
        LoadRuleList();
    return 0;
}

int CMainWnd::OnNotify(WPARAM id, NMHDR* pHdr)
{
    if (id != IDC_RULE_LIST || pHdr == nullptr)
        return 0;
    switch (pHdr->code)
    {
    case LVN_ITEMCHANGED:
        ShowRule();
        break;
    case NM_DBLCLK: {
        const NMITEMACTIVATE* pHit = reinterpret_cast<const NMITEMACTIVATE*>(pHdr);
        ToggleOrAddRule(pHit->iItem, pHit->iSubItem);
        break;
    }
    case LVN_KEYDOWN:
        if (reinterpret_cast<const NMLVKEYDOWN*>(pHdr)->wVKey == VK_DELETE)
            DeleteSelectedRule();
        break;
    }
    return 0;
}

int CMainWnd::GetSelectedRow()
{
    // The list finds its first selected row by walking its rows. With none
    // selected, as while a delete renumbers every later row and each change is
    // reported to the show-rule action, the count says so at once.
    if (m_list->GetSelectedCount() == 0)
        return -1;
    return m_list->GetNextItem(-1, LVNI_SELECTED);
}

void CMainWnd::ShowRemarks()
{
    WCHAR wsFile[kPathChars];
    if (!GetRemarksFile(wsFile, kPathChars))
        return;
    // A modal dialog's object stays with its creator: this command deletes it.
    CRemarkWnd* pRemarks = new CRemarkWnd;
    pRemarks->CreateDlg(this, m_hInstance, IDD_REMARKS, 1, reinterpret_cast<LONG_PTR>(wsFile));
    delete pRemarks;
}

void CMainWnd::AddRuleSet()
{
    if (m_ruleSets->GetCurSel() >= 0)
        return;
    WCHAR wsName[kNameChars];
    if (m_ruleSets->SendMessageW(WM_GETTEXT, kNameChars, reinterpret_cast<LPARAM>(wsName)) == 0)
        return;
    if (m_ruleSets->FindStringExact(-1, wsName) >= 0)
        return;
    int index = m_ruleSets->InsertString(-1, wsName);
    m_list->DeleteAllItems();
    m_enEdit->SetText(nullptr);
    m_cnEdit->SetText(nullptr);
    m_fileEdit->SetText(nullptr);
    WCHAR wsCatalogue[kPathChars];
    GetCatalogueFile(wsCatalogue);
    // A name the catalogue did not take is not shown as a rule set: it would
    // be gone at the next start, with the rules typed into it.
    if (AddCatalogueEntry(wsCatalogue, static_cast<UINT>(m_ruleSets->GetCount()), wsName) == 0 && index >= 0)
        m_ruleSets->DeleteString(index);
}

void CMainWnd::StartPatch()
{
    WCHAR wsTarget[kPathChars];
    if (m_fileEdit->GetText(wsTarget, kPathChars) == 0)
        return;
    WCHAR wsFile[kPathChars];
    if (!GetRuleSetFile(wsFile, kPathChars))
        return;
    RunPatchFromWindow(*this, wsFile, wsTarget);
}

void CMainWnd::Browse()
{
    WCHAR wsFile[kPathChars];
    m_fileEdit->GetText(wsFile, kPathChars);
    // The double zero ends the filter list.
    static const WCHAR wsFilter[] = W("执行文件 (*.exe;*.dll)\0*.exe;*.dll\0");
    if (ChooseFile(wsFile, nullptr, wsFilter))
        m_fileEdit->SetText(wsFile); // its change notification saves the path
}

void CMainWnd::SaveTargetPath()
{
    if (m_loadingPath)
        return;
    WCHAR wsFile[kPathChars];
    if (!GetRuleSetFile(wsFile, kPathChars))
        return;
    WCHAR wsPath[kPathChars];
    m_fileEdit->GetText(wsPath, kPathChars);
    WriteTargetPath(wsFile, wsPath);
}

int CMainWnd::GetSelectedNode(LPWSTR wsNode)
{
    int row = GetSelectedRow();
    if (row < 0)
        return -1;
    GetCellText(*m_list, row, kColumnNumber, wsNode, kKeyChars);
    return wsNode[0] != 0 ? row : -1;
}

void CMainWnd::SaveText(CEditCtrl* pEdit, LPCWSTR wsKey, int column)
{
    WCHAR wsNode[kKeyChars];
    int row = GetSelectedNode(wsNode);
    if (row < 0)
        return;
    WCHAR wsFile[kPathChars];
    if (!GetRuleSetFile(wsFile, kPathChars))
        return;
    WCHAR* wsText = new (std::nothrow) WCHAR[kTextChars];
    if (wsText == nullptr)
        return;
    wsText[0] = 0;
    pEdit->GetText(wsText, kTextChars);
    if (EscapeText(wsText, false))
    {
        // Multi-line boxes raise no change notification for this, so it does
        // not come back here; the caret moves once this message is handled.
        pEdit->SetText(wsText);
        int end = static_cast<int>(WideLength(wsText));
        pEdit->PostMessageW(EM_SETSEL, end, end);
    }
    // A blank at either end is stored as an escape, so that it reads back; the
    // box keeps it as typed, since the next character typed may follow it.
    EscapeText(wsText);
    // The list shows what the file holds: a text that could not be written
    // leaves its cell as it was.
    if (WriteNodeKey(wsFile, wsNode, wsKey, wsText))
        SetCellText(*m_list, row, column, wsText);
    delete[] wsText;
}

void CMainWnd::ShowRule()
{
    WCHAR wsNode[kKeyChars];
    if (GetSelectedNode(wsNode) < 0)
        return;
    WCHAR* wsEn = new (std::nothrow) WCHAR[kTextChars];
    WCHAR* wsCn = new (std::nothrow) WCHAR[kTextChars];
    if (wsEn != nullptr && wsCn != nullptr)
    {
        wsEn[0] = wsCn[0] = 0;
        WCHAR wsFile[kPathChars];
        if (GetRuleSetFile(wsFile, kPathChars))
        {
            GetPrivateProfileStringW(wsNode, KEY_EN, W(""), wsEn, kTextChars, wsFile);
            GetPrivateProfileStringW(wsNode, KEY_CN, W(""), wsCn, kTextChars, wsFile);
        }
        m_enEdit->SetText(wsEn);
        m_cnEdit->SetText(wsCn);
    }
    delete[] wsEn;
    delete[] wsCn;
}

void CMainWnd::ToggleOrAddRule(int item, int subItem)
{
    int row = GetSelectedRow();
    WCHAR wsFile[kPathChars];
    if (!GetRuleSetFile(wsFile, kPathChars))
        return;
    LPCWSTR wsKey = SwitchKeyOfColumn(subItem);
    if (wsKey == nullptr || row < 0 || row != item)
    {
        AddRule();
        return;
    }
    WCHAR wsCell[kKeyChars];
    GetCellText(*m_list, row, subItem, wsCell, kKeyChars);
    LPCWSTR wsNew = ParseUnsigned(wsCell) == 0 ? W("1") : W("0");
    WCHAR wsNode[kKeyChars];
    GetCellText(*m_list, row, kColumnNumber, wsNode, kKeyChars);
    if (wsNode[0] != 0 && WriteNodeKey(wsFile, wsNode, wsKey, wsNew))
        SetCellText(*m_list, row, subItem, wsNew);
}

void CMainWnd::AddRule()
{
    WCHAR wsFile[kPathChars];
    if (!GetRuleSetFile(wsFile, kPathChars))
        return;
    WCHAR wsNode[kKeyChars] = W("001");
    WCHAR wsUnicode[kKeyChars] = W("1");
    int count = m_list->GetItemCount();
    if (count > 0)
    {
        WCHAR wsLast[kKeyChars];
        GetCellText(*m_list, count - 1, kColumnNumber, wsLast, kKeyChars);
        FormatNode(wsNode, ParseUnsigned(wsLast) + 1);
        GetCellText(*m_list, count - 1, kColumnUnicode, wsUnicode, kKeyChars);
        // Without its UNICODE=0 the new rule would read as a UTF-16 rule.
        if (WideCompare(wsUnicode, W("0")) == 0 && !WriteNodeKey(wsFile, wsNode, KEY_UNICODE, W("0")))
            return;
    }
    int r = InsertRow(*m_list, wsNode, W(""), W(""), wsUnicode, W("0"), W("1"), W("1"));
    if (r >= 0)
    {
        SelectRow(*m_list, -1, false);
        SelectRow(*m_list, r, true);
        m_enEdit->SetFocus();
    }
}

void CMainWnd::DeleteSelectedRule()
{
    int row = GetSelectedRow();
    if (row < 0)
        return;
    WCHAR wsFile[kPathChars];
    if (!GetRuleSetFile(wsFile, kPathChars))
        return;
    WCHAR wsNode[kKeyChars];
    GetCellText(*m_list, row, kColumnNumber, wsNode, kKeyChars);
    UINT n = ParseUnsigned(wsNode);
    if (n == 0)
        return;
    // The renumbering reaches the file whole or not at all. When it does not,
    // the rows keep their numbers, as the file does, so that nothing typed
    // afterwards lands in another rule's section.
    int moved = DeleteRule(wsFile, n);
    if (moved < 0)
        return;
    m_list->DeleteItem(row);
    // Every later row moves up one number, also a new row whose section does
    // not exist yet: its first text must land right after the last rule.
    int count = m_list->GetItemCount();
    SetListRedraw(*m_list, false);
    for (int r = row; r < count; ++r)
    {
        FormatNode(wsNode, n + static_cast<UINT>(r - row));
        SetCellText(*m_list, r, kColumnNumber, wsNode);
    }
    SetListRedraw(*m_list, true);
    m_enEdit->SetText(nullptr);
    m_cnEdit->SetText(nullptr);
}
