#include "framework/listview_ctrl.h"

int CListviewCtrl::InsertColumn(int col, LPCWSTR wsText, int width)
{
    LVCOLUMNW stCol = {};
    stCol.mask = LVCF_TEXT | LVCF_WIDTH;
    stCol.pszText = const_cast<LPWSTR>(wsText);
    stCol.cx = width;
    return InsertColumn(col, &stCol);
}

LVITEMW CListviewCtrl::TextItem(int item, int subItem, LPWSTR wsText, int cch)
{
    LVITEMW stLvi = {};
    stLvi.mask = LVIF_TEXT;
    stLvi.iItem = item;
    stLvi.iSubItem = subItem;
    stLvi.pszText = wsText;
    stLvi.cchTextMax = cch;
    return stLvi;
}

int CListviewCtrl::InsertItem(int item, LPCWSTR wsText)
{
    LVITEMW stLvi = TextItem(item, 0, const_cast<LPWSTR>(wsText), 0);
    return InsertItem(&stLvi);
}

BOOL CListviewCtrl::SetItemText(int item, int subItem, LPCWSTR wsText)
{
    LVITEMW stLvi = TextItem(item, subItem, const_cast<LPWSTR>(wsText), 0);
    return SetItem(&stLvi);
}

BOOL CListviewCtrl::GetItemText(int item, int subItem, LPWSTR wsText, int cch)
{
    LVITEMW stLvi = TextItem(item, subItem, wsText, cch);
    if (cch > 0)
        wsText[0] = 0;
    return GetItem(&stLvi);
}

BOOL CListviewCtrl::SetItemState(int item, UINT state, UINT mask)
{
    LVITEMW stLvi = {};
    stLvi.state = state;
    stLvi.stateMask = mask;
    return SetItemState(item, &stLvi);
}
