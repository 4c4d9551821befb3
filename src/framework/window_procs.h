// The window procedures that find a CWindow for a window and pass its messages to WindowProc.
#pragma once

#include <windows.h>

// Name of the window property that holds an attached control's object.
extern const WCHAR c_wsUserDataProp[];

// Dialog procedure of CreateDlg: binds the object at WM_INITDIALOG, then answers FALSE.
INT_PTR CALLBACK InitDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Replaces a dialog's window procedure once InitDlgProc has bound it.
LRESULT CALLBACK DialogWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Class procedure of CreateWnd windows: binds at WM_NCCREATE.
LRESULT CALLBACK ClassWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Replaces an attached control's window procedure.
LRESULT CALLBACK SubclassWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
