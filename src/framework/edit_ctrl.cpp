#include "framework/edit_ctrl.h"

int CEditCtrl::PreFilter(UINT message, WPARAM, LPARAM)
{
    return message == WM_IME_CHAR && m_noIme != 0 ? 1 : 0;
}
