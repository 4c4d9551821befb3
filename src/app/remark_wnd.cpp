#include "app/remark_wnd.h"

#include "resource.h"
#include "rules/remarks_file.h"

#include <new>

namespace
{
const int kTypingLimit = 2048;
const int kTabStop = 8; // dialog template units
} // namespace

CRemarkWnd::CRemarkWnd() : m_edit(nullptr), m_unicode(0), m_loaded(0), m_shown(nullptr) {}

CRemarkWnd::~CRemarkWnd()
{
    delete[] m_shown;
}

WCHAR* CRemarkWnd::GetBoxText()
{
    int cch = m_edit->GetTextLength();
    WCHAR* wsText = new (std::nothrow) WCHAR[static_cast<size_t>(cch) + 1];
    if (wsText != nullptr)
    {
        wsText[0] = 0;
        m_edit->GetText(wsText, cch + 1);
    }
    return wsText;
}

int CRemarkWnd::OnInitDialog()
{
    m_edit = new CEditCtrl(this, GetDlgItem(IDC_REMARKS_EDIT), 0);
    m_edit->LimitText(kTypingLimit);
    m_edit->SetTabStops(1, &kTabStop);
    RemarksFile remarks;
    m_loaded = ReadRemarksFile(reinterpret_cast<LPCWSTR>(m_param), remarks);
    if (m_loaded)
        m_unicode = remarks.unicode; // a missing file is created as UTF-16LE
    if (m_loaded && remarks.pBytes != nullptr)
    {
        if (m_unicode)
            m_edit->SendMessageW(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(RemarksTextW(remarks)));
        else
            m_edit->SendMessageA(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(RemarksTextA(remarks)));
        // Posted: the dialog's own focus handling would select the whole text.
        m_edit->PostMessageW(EM_SETSEL, 0, 0);
    }
    // Only a file with text in it can be damaged by a save of what the box
    // shows; a missing or empty one (or FF FE alone) follows the text, and an
    // empty text deletes it.
    if (remarks.cbFile > (m_unicode ? 2u : 0u))
        m_shown = GetBoxText();
    FreeRemarksFile(remarks);
    return 1;
}

int CRemarkWnd::OnCommand(WPARAM wParam, HWND)
{
    if (wParam == IDCANCEL)
        PostMessageW(WM_CLOSE, 0, 0);
    return 0;
}

void CRemarkWnd::OnClose(WPARAM wParam)
{
    WCHAR* wsText = m_loaded ? GetBoxText() : nullptr;
    if (wsText != nullptr)
    {
        WriteRemarksFile(reinterpret_cast<LPCWSTR>(m_param), m_unicode, wsText, m_shown);
        delete[] wsText;
    }
    EndDialog(static_cast<INT_PTR>(wParam));
}
