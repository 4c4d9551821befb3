// The rule list's columns and the row operations the main window uses on it.
#pragma once

#include "framework/listview_ctrl.h"

enum RuleColumn
{
    kColumnNumber,
    kColumnEn,
    kColumnCn,
    kColumnUnicode,
    kColumnRepeat,
    kColumnX86,
    kColumnX64,
    kColumnCount
};

// Extended styles and the seven columns, their widths scaled to the list's DPI.
void InitColumns(CListviewCtrl& list);
// Appends a row; an absent (null) text leaves its cell empty. Returns its index.
int InsertRow(CListviewCtrl& list, LPCWSTR ws0, LPCWSTR ws1, LPCWSTR ws2, LPCWSTR ws3, LPCWSTR ws4,
              LPCWSTR ws5, LPCWSTR ws6);
// The cell's text cut to cchText-1, or empty when there is no such cell.
void GetCellText(CListviewCtrl& list, int row, int column, LPWSTR wsText, int cchText);
void SetCellText(CListviewCtrl& list, int row, int column, LPCWSTR wsText);
// Selects (and focuses) or deselects a row; row -1 is every row, and then the
// focus does not move.
void SelectRow(CListviewCtrl& list, int row, bool on);
// Turns drawing off for a fill of many rows, or back on with the list drawn
// once anew: a list that draws every row as it comes costs seconds under Wine.
void SetListRedraw(CListviewCtrl& list, bool on);
// A column's width in pixels at a DPI scale (percent).
int ScaledColumnWidth(int column, int scale);
