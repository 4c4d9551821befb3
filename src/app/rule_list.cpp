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
} // namespace

int ScaledColumnWidth(int column, int scale) { return scale * kColumns[column].baseWidth / 100; }

void InitColumns(CListviewCtrl& list)
{
    DWORD dwStyle = list.GetExtendedListViewStyle();
    list.SetExtendedListViewStyle(0, dwStyle | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    int scale = list.GetDpiScale();
    for (int c = 0; c < kColumnCount; ++c)
    {
        LVCOLUMNW stCol = {};
        stCol.mask = LVCF_WIDTH | LVCF_TEXT;
        stCol.cx = ScaledColumnWidth(c, scale);
        stCol.pszText = const_cast<LPWSTR>(kColumns[c].wsHeader);
        list.InsertColumn(c, &stCol);
    }
}

int InsertRow(CListviewCtrl& list, LPCWSTR ws0, LPCWSTR ws1, LPCWSTR ws2, LPCWSTR ws3, LPCWSTR ws4, LPCWSTR ws5,
              LPCWSTR ws6)
{
    int index = list.GetItemCount();
    if (ws0 != nullptr)
    {
        LVITEMW stLvi = {};
        stLvi.mask = LVIF_TEXT;
        stLvi.iItem = index;
        stLvi.pszText = const_cast<LPWSTR>(ws0);
        list.InsertItem(&stLvi);
    }
    LPCWSTR wsCells[kColumnCount] = {ws0, ws1, ws2, ws3, ws4, ws5, ws6};
    for (int c = 1; c < kColumnCount; ++c)
        if (wsCells[c] != nullptr)
            SetCellText(list, index, c, wsCells[c]);
    return index;
}

void GetCellText(CListviewCtrl& list, int row, int column, LPWSTR wsText, int cchText)
{
    wsText[0] = 0;
    LVITEMW stLvi = {};
    stLvi.mask = LVIF_TEXT;
    stLvi.iItem = row;
    stLvi.iSubItem = column;
    stLvi.pszText = wsText;
    stLvi.cchTextMax = cchText;
    list.GetItem(&stLvi);
}

void SetCellText(CListviewCtrl& list, int row, int column, LPCWSTR wsText)
{
    LVITEMW stLvi = {};
    stLvi.mask = LVIF_TEXT;
    stLvi.iItem = row;
    stLvi.iSubItem = column;
    stLvi.pszText = const_cast<LPWSTR>(wsText);
    list.SetItem(&stLvi);
}

void SelectRow(CListviewCtrl& list, int row, bool on)
{
    LVITEMW stLvi = {};
    if (on)
    {
        list.EnsureVisible(row, TRUE);
        stLvi.state = row == -1 ? LVIS_SELECTED : LVIS_SELECTED | LVIS_FOCUSED;
        stLvi.stateMask = stLvi.state;
    }
    else
        stLvi.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    list.SetItemState(row, &stLvi);
}
