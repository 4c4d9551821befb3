// CListviewCtrl: a list view control of a dialog, bound by Attach.
#pragma once

#include "framework/window.h"

#include <commctrl.h>

class CListviewCtrl : public CWindow
{
  public:
    // owner must exist. A null hCtrl binds nothing, and the caller then deletes the object.
    CListviewCtrl(CWindow* owner, HWND hCtrl) { Attach(owner, owner->m_hInstance, hCtrl); }

    // -1 on failure
    int InsertColumn(int col, const LVCOLUMNW* pCol)
    {
        return (int)SendMessageW(LVM_INSERTCOLUMNW, col, (LPARAM)pCol);
    }
    int InsertColumn(int col, LPCWSTR wsText, int width);
    // The new item's index, or -1
    int InsertItem(const LVITEMW* pItem) { return (int)SendMessageW(LVM_INSERTITEMW, 0, (LPARAM)pItem); }
    int InsertItem(int item, LPCWSTR wsText);
    // An item naming one cell's text (LVIF_TEXT), for the item and text messages.
    static LVITEMW TextItem(int item, int subItem, LPWSTR wsText, int cch);
    BOOL SetItem(const LVITEMW* pItem) { return (BOOL)SendMessageW(LVM_SETITEMW, 0, (LPARAM)pItem); }
    BOOL SetItemText(int item, int subItem, LPCWSTR wsText);
    BOOL GetItem(LVITEMW* pItem) { return (BOOL)SendMessageW(LVM_GETITEMW, 0, (LPARAM)pItem); }
    // Fills wsText (capacity cch, in characters) with the cell's text; FALSE when there is no such item.
    BOOL GetItemText(int item, int subItem, LPWSTR wsText, int cch);
    BOOL SetItemState(int item, const LVITEMW* pItem)
    {
        return (BOOL)SendMessageW(LVM_SETITEMSTATE, item, (LPARAM)pItem);
    }
    BOOL SetItemState(int item, UINT state, UINT mask);
    int GetItemCount() { return (int)SendMessageW(LVM_GETITEMCOUNT, 0, 0); }
    UINT GetSelectedCount() { return (UINT)SendMessageW(LVM_GETSELECTEDCOUNT, 0, 0); }
    // -1 when no item after start has the flags
    int GetNextItem(int start, UINT flags)
    {
        return (int)SendMessageW(LVM_GETNEXTITEM, start, MAKELPARAM(flags, 0));
    }
    BOOL EnsureVisible(int item, BOOL partialOk)
    {
        return (BOOL)SendMessageW(LVM_ENSUREVISIBLE, item, MAKELPARAM(partialOk, 0));
    }
    BOOL DeleteItem(int item) { return (BOOL)SendMessageW(LVM_DELETEITEM, item, 0); }
    BOOL DeleteAllItems() { return (BOOL)SendMessageW(LVM_DELETEALLITEMS, 0, 0); }
    // Returns the previous extended style
    DWORD SetExtendedListViewStyle(DWORD mask, DWORD style)
    {
        return (DWORD)SendMessageW(LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style);
    }
    DWORD GetExtendedListViewStyle() { return (DWORD)SendMessageW(LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0); }
};
