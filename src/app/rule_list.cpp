#include "app/rule_list.h"

namespace
{
struct ColumnInfo
{
    LPCWSTR wsHeader;
    int baseWidth;
};

const ColumnInfo kColumns[kColumnCount] = {
    {L"序号", 40}, {L"英文", 288}, {L"中文", 288}, {L"宽字", 36}, {L"重复", 36}, {L"32位", 36}, {L"64位", 36},
};

// Rows and cells go straight to the list view's own procedure (the list's
// object handles none of these messages): a fill of thousands of rows would
// otherwise pay a window-server round trip per cell under Wine.
LRESULT CellMessage(CListviewCtrl& list, UINT message, int row, int column, LPWSTR wsText, int cchText)
{
    LVITEMW stLvi = CListviewCtrl::TextItem(row, column, wsText, cchText);
    return list.CallControlProc(message, 0, reinterpret_cast<LPARAM>(&stLvi));
}
} // namespace

int ScaledColumnWidth(int column, int scale)
{
    return scale * kColumns[column].baseWidth / 100;
}

void InitColumns(CListviewCtrl& list)
{
    DWORD dwStyle = list.GetExtendedListViewStyle();
    list.SetExtendedListViewStyle(0, dwStyle | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    int scale = list.GetDpiScale();
    for (int c = 0; c < kColumnCount; ++c)
        list.InsertColumn(c, kColumns[c].wsHeader, ScaledColumnWidth(c, scale));
}

int InsertRow(CListviewCtrl& list, LPCWSTR ws0, LPCWSTR ws1, LPCWSTR ws2, LPCWSTR ws3, LPCWSTR ws4,
              LPCWSTR ws5, LPCWSTR ws6)
{
    int index = static_cast<int>(list.CallControlProc(LVM_GETITEMCOUNT, 0, 0));
    if (ws0 != nullptr)
        CellMessage(list, LVM_INSERTITEMW, index, 0, const_cast<LPWSTR>(ws0), 0);
    LPCWSTR wsCells[kColumnCount] = {ws0, ws1, ws2, ws3, ws4, ws5, ws6};
    for (int c = 1; c < kColumnCount; ++c)
        if (wsCells[c] != nullptr)
            CellMessage(list, LVM_SETITEMW, index, c, const_cast<LPWSTR>(wsCells[c]), 0);
    return index;
}

void GetCellText(CListviewCtrl& list, int row, int column, LPWSTR wsText, int cchText)
{
    wsText[0] = 0;
    CellMessage(list, LVM_GETITEMW, row, column, wsText, cchText);
}

void SetCellText(CListviewCtrl& list, int row, int column, LPCWSTR wsText)
{
    CellMessage(list, LVM_SETITEMW, row, column, const_cast<LPWSTR>(wsText), 0);
}

void SelectRow(CListviewCtrl& list, int row, bool on)
{
    if (!on)
    {
        list.SetItemState(row, 0, LVIS_SELECTED | LVIS_FOCUSED);
        return;
    }
    list.EnsureVisible(row, TRUE);
    // For every row at once only the selection: the focus stays where it is.
    UINT state = row == -1 ? LVIS_SELECTED : LVIS_SELECTED | LVIS_FOCUSED;
    list.SetItemState(row, state, state);
}

void SetListRedraw(CListviewCtrl& list, bool on)
{
    list.SendMessageW(WM_SETREDRAW, on ? TRUE : FALSE, 0);
    if (on)
        RedrawWindow(list.m_hWnd, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}
