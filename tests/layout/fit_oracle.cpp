// fit_oracle IMAGE [LANGUAGE]: every dialog of IMAGE (in that language only) created the way a program would
// create it, and for each text control whether Wine, drawing it in the font
// the dialog manager chose, cuts its text off. Run in the zh_CN locale
// (scripts/wine-run --console); tests/layout/fit_wine_test.py compares it
// with po check and po apply --fit.
//
// Prints, per judged control:
//   DIALOG <name> / control <i> \t <class> \t <clipped> \t <needed px> \t <room px> \t <x,y,cx,cy> \t <text>
// <class> is "Button" or "Static", or "Static wrap <needed>/<room>" with
// heights for a control that wraps its text; the px columns are widths (for
// a wrapping control the width of its text on one line).
// Then OUTSIDE and OVERLAP lines per dialog and the totals.
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

// What Wine's user32 button.c (the classes a program without a comctl32 v6
// manifest gets) takes of a button's client width before its label.
// PB_Paint: DrawFrameControl(DFCS_BUTTONPUSH) draws a two-pixel raised edge
// inside the client rect; the label is centred over it, so a wider text runs
// into the edge.
const int kPushEdge = 2;
// PB_Paint: a default push button first draws a one-pixel Rectangle and
// insets by InflateRect(&rc, -1, -1).
const int kDefPushFrame = 1;
// CB_Paint: checkBoxWidth = 12 * LOGPIXELSX / 96 + 1, then the text starts
// text_offset = GetCharWidthW('0') / 2 further on.
const int kCheckBoxAt96Dpi = 12;
// BUTTON_CalcLabelRect: a left- or right-aligned label moves one pixel away
// from its side to leave room for the focus rectangle.
const int kFocusShift = 1;
// GB_Paint: InflateRect(&rc, -7, 1) before laying the label out; the frame
// runs on to the same inset on the right.
const int kGroupIndent = 7;

struct DialogItem
{
    DWORD dwStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD dwId = 0;
    WORD wClassOrdinal = 0; // 0x80 button, 0x82 static; 0 for a named class
    std::wstring wsClass;
};

// A bounds-checked walk over a DLGTEMPLATE or DLGTEMPLATEEX.
class CTemplateReader
{
  public:
    CTemplateReader(const BYTE* pb, DWORD cb) : m_pb(pb), m_cb(cb) {}

    bool Read(std::vector<DialogItem>& items, bool& fEx)
    {
        WORD wVersion = 0, wSignature = 0, cItems = 0;
        DWORD dwStyle = 0;
        if (!Word(0, wVersion) || !Word(2, wSignature))
            return false;
        fEx = wVersion == 1 && wSignature == 0xFFFF;
        if (!Dword(fEx ? 12 : 0, dwStyle) || !Word(fEx ? 16 : 8, cItems))
            return false;
        DWORD dwAt = fEx ? 26 : 18;
        if (!SkipNameOrOrdinal(dwAt, nullptr, nullptr) || !SkipNameOrOrdinal(dwAt, nullptr, nullptr) ||
            !SkipText(dwAt, nullptr))
            return false;
        if (dwStyle & DS_SETFONT)
        {
            dwAt += fEx ? 6 : 2;
            if (!SkipText(dwAt, nullptr))
                return false;
        }
        for (WORD i = 0; i < cItems; ++i)
        {
            DialogItem item;
            dwAt = (dwAt + 3) & ~3u;
            WORD w = 0;
            if (fEx)
            {
                if (!Dword(dwAt + 8, item.dwStyle) || !Dword(dwAt + 20, item.dwId))
                    return false;
                if (!Short(dwAt + 12, item.x) || !Short(dwAt + 14, item.y) || !Short(dwAt + 16, item.cx) ||
                    !Short(dwAt + 18, item.cy))
                    return false;
                dwAt += 24;
            }
            else
            {
                if (!Dword(dwAt, item.dwStyle) || !Word(dwAt + 16, w))
                    return false;
                item.dwId = w;
                if (!Short(dwAt + 8, item.x) || !Short(dwAt + 10, item.y) || !Short(dwAt + 12, item.cx) ||
                    !Short(dwAt + 14, item.cy))
                    return false;
                dwAt += 18;
            }
            if (!SkipNameOrOrdinal(dwAt, &item.wClassOrdinal, &item.wsClass) ||
                !SkipNameOrOrdinal(dwAt, nullptr, nullptr))
                return false;
            WORD cbExtra = 0;
            if (!Word(dwAt, cbExtra))
                return false;
            dwAt += 2 + cbExtra;
            items.push_back(item);
        }
        return true;
    }

  private:
    bool Word(DWORD dwAt, WORD& w) const
    {
        if (dwAt > m_cb || m_cb - dwAt < 2)
            return false;
        w = (WORD)(m_pb[dwAt] | m_pb[dwAt + 1] << 8);
        return true;
    }
    bool Short(DWORD dwAt, short& s) const
    {
        WORD w = 0;
        if (!Word(dwAt, w))
            return false;
        s = (short)w;
        return true;
    }
    bool Dword(DWORD dwAt, DWORD& dw) const
    {
        WORD wLow = 0, wHigh = 0;
        if (!Word(dwAt, wLow) || !Word(dwAt + 2, wHigh))
            return false;
        dw = MAKELONG(wLow, wHigh);
        return true;
    }
    bool SkipText(DWORD& dwAt, std::wstring* pws) const
    {
        for (WORD w = 0;; dwAt += 2)
        {
            if (!Word(dwAt, w))
                return false;
            if (w == 0)
                break;
            if (pws)
                pws->push_back((wchar_t)w);
        }
        dwAt += 2;
        return true;
    }
    bool SkipNameOrOrdinal(DWORD& dwAt, WORD* pwOrdinal, std::wstring* pws) const
    {
        WORD w = 0;
        if (!Word(dwAt, w))
            return false;
        if (w == 0xFFFF)
        {
            if (pwOrdinal && !Word(dwAt + 2, *pwOrdinal))
                return false;
            dwAt += 4;
            return true;
        }
        return SkipText(dwAt, pws);
    }

    const BYTE* m_pb;
    DWORD m_cb;
};

void PutUtf8(const std::wstring& ws)
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, ws.c_str(), (int)ws.size(), nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        return;
    std::string st(cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, ws.c_str(), (int)ws.size(), &st[0], cb, nullptr, nullptr);
    fwrite(st.data(), 1, st.size(), stdout);
}

std::wstring WindowText(HWND hwnd)
{
    int cch = GetWindowTextLengthW(hwnd);
    std::wstring ws(cch + 1, L'\0');
    ws.resize(GetWindowTextW(hwnd, &ws[0], cch + 1));
    return ws;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t sz[64] = {};
    GetClassNameW(hwnd, sz, 64);
    return sz;
}

// Text lines keep no tabs or line ends of their own.
std::wstring OneLine(std::wstring ws)
{
    for (wchar_t& ch : ws)
        if (ch == L'\t' || ch == L'\r' || ch == L'\n')
            ch = L' ';
    return ws;
}

INT_PTR CALLBACK NoDlgProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

struct Totals
{
    int cDialogs = 0, cJudged = 0, cSkipped = 0;
};

struct Judgement
{
    bool fJudge = false;
    bool fWrap = false;
    bool fClipped = false;
    int cxNeeded = 0, cxRoom = 0, cyNeeded = 0, cyRoom = 0;
};

// How Wine's static.c and button.c lay the control's text out, and whether it fits.
Judgement Judge(HWND hCtrl, HWND hDlg, const std::wstring& wsText)
{
    Judgement j;
    std::wstring wsClass = ClassOf(hCtrl);
    DWORD dwStyle = (DWORD)GetWindowLongW(hCtrl, GWL_STYLE);
    RECT rcClient = {};
    GetClientRect(hCtrl, &rcClient);
    int cxClient = rcClient.right, cyClient = rcClient.bottom;
    HFONT hFont = (HFONT)SendMessageW(hCtrl, WM_GETFONT, 0, 0);
    if (!hFont)
        hFont = (HFONT)SendMessageW(hDlg, WM_GETFONT, 0, 0);
    UINT uFormat = 0;
    if (lstrcmpiW(wsClass.c_str(), L"Static") == 0)
    {
        switch (dwStyle & SS_TYPEMASK)
        {
        case SS_LEFT:
        case SS_CENTER:
        case SS_RIGHT:
            j.fWrap = true;
            uFormat = DT_EXPANDTABS | DT_WORDBREAK;
            break;
        case SS_LEFTNOWORDWRAP:
            uFormat = DT_EXPANDTABS;
            break;
        case SS_SIMPLE:
            uFormat = DT_SINGLELINE;
            break;
        default:
            return j;
        }
        // STATIC_PaintTextfn: these make the text one line (and cut it with an ellipsis).
        if ((dwStyle & SS_TYPEMASK) != SS_SIMPLE &&
            (dwStyle & (SS_CENTERIMAGE | SS_ENDELLIPSIS | SS_PATHELLIPSIS | SS_WORDELLIPSIS)))
        {
            j.fWrap = false;
            uFormat = (uFormat & ~DT_WORDBREAK) | DT_SINGLELINE;
        }
        if (dwStyle & SS_NOPREFIX)
            uFormat |= DT_NOPREFIX;
        j.cxRoom = cxClient;
        j.cyRoom = cyClient;
    }
    else if (lstrcmpiW(wsClass.c_str(), L"Button") == 0)
    {
        DWORD dwType = dwStyle & BS_TYPEMASK;
        if (dwStyle & (BS_ICON | BS_BITMAP))
            return j;
        // BUTTON_BStoDT: BS_MULTILINE wraps, else one line; a group box is always one line.
        bool fMultiline = (dwStyle & BS_MULTILINE) && dwType != BS_GROUPBOX;
        uFormat = fMultiline ? DT_WORDBREAK : DT_SINGLELINE;
        j.fWrap = fMultiline;
        // BUTTON_BStoDT turns a push-like button into a push button before
        // it picks the default alignment, so its label is centred too.
        if (dwStyle & BS_PUSHLIKE)
            dwType = BS_PUSHBUTTON;
        bool fCentred =
            (dwStyle & BS_CENTER) == BS_CENTER ||
            ((dwStyle & BS_CENTER) == 0 && (dwType == BS_PUSHBUTTON || dwType == BS_DEFPUSHBUTTON));
        int cxTaken = fCentred ? 0 : kFocusShift, cyTaken = 0;
        switch (dwType)
        {
        case BS_DEFPUSHBUTTON:
            cxTaken += 2 * kDefPushFrame;
            cyTaken += 2 * kDefPushFrame;
            [[fallthrough]];
        case BS_PUSHBUTTON:
            cxTaken += 2 * kPushEdge;
            cyTaken += 2 * kPushEdge;
            break;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
        case BS_3STATE:
        case BS_AUTO3STATE: {
            HDC hdc = GetDC(hCtrl);
            HGDIOBJ hOld = hFont ? SelectObject(hdc, hFont) : nullptr;
            int cxZero = 0;
            GetCharWidthW(hdc, L'0', L'0', &cxZero);
            int cxBox = kCheckBoxAt96Dpi * GetDeviceCaps(hdc, LOGPIXELSX) / 96 + 1;
            if (hOld)
                SelectObject(hdc, hOld);
            ReleaseDC(hCtrl, hdc);
            cxTaken += cxBox + cxZero / 2;
            break;
        }
        case BS_GROUPBOX:
            cxTaken += 2 * kGroupIndent;
            break;
        default:
            return j; // owner-drawn, user buttons and the rest draw no label of their own
        }
        j.cxRoom = cxClient - cxTaken;
        j.cyRoom = cyClient - cyTaken;
    }
    else
        return j;
    j.fJudge = true;

    HDC hdc = GetDC(hCtrl);
    HGDIOBJ hOld = hFont ? SelectObject(hdc, hFont) : nullptr;
    RECT rc = {0, 0, 0, 0};
    DrawTextW(hdc, wsText.c_str(), (int)wsText.size(), &rc,
              DT_CALCRECT | DT_SINGLELINE | (uFormat & (DT_NOPREFIX | DT_EXPANDTABS)));
    j.cxNeeded = rc.right - rc.left;
    j.cyNeeded = rc.bottom - rc.top;
    j.fClipped = j.cxNeeded > j.cxRoom || j.cyNeeded > j.cyRoom;
    if (!(uFormat & DT_SINGLELINE))
    {
        // Laid out at the room's width, broken at its own line ends and, when
        // it wraps, between words; a word wider than the room widens the
        // rectangle DT_CALCRECT returns.
        RECT rcLines = {0, 0, j.cxRoom > 0 ? j.cxRoom : 0, 0};
        DrawTextW(hdc, wsText.c_str(), (int)wsText.size(), &rcLines, DT_CALCRECT | uFormat);
        j.cyNeeded = rcLines.bottom - rcLines.top;
        int cxLines = rcLines.right - rcLines.left;
        if (!j.fWrap)
            j.cxNeeded = cxLines;
        j.fClipped = cxLines > j.cxRoom || j.cyNeeded > j.cyRoom;
    }
    if (hOld)
        SelectObject(hdc, hOld);
    ReleaseDC(hCtrl, hdc);
    return j;
}

std::wstring NameOf(LPCWSTR pszName)
{
    if (IS_INTRESOURCE(pszName))
        return std::to_wstring((unsigned)(ULONG_PTR)pszName);
    return pszName;
}

struct Enumeration
{
    HMODULE hModule;
    HWND hParent;
    int nLang; // the one language to judge, or -1 for all
    Totals* pTotals;
};

void OneDialog(const Enumeration& en, const std::wstring& wsName, LPCWSTR pszName, WORD wLang)
{
    ++en.pTotals->cDialogs;
    std::wstring wsWhere = L"DIALOG " + wsName;
    HRSRC hRes = FindResourceExW(en.hModule, (LPCWSTR)RT_DIALOG, pszName, wLang);
    HGLOBAL hData = hRes ? LoadResource(en.hModule, hRes) : nullptr;
    const BYTE* pb = hData ? (const BYTE*)LockResource(hData) : nullptr;
    DWORD cb = hRes ? SizeofResource(en.hModule, hRes) : 0;
    std::vector<DialogItem> items;
    bool fEx = false;
    if (!pb || !CTemplateReader(pb, cb).Read(items, fEx))
    {
        fputs("SKIP ", stdout);
        PutUtf8(wsWhere);
        puts(": the template cannot be read");
        ++en.pTotals->cSkipped;
        return;
    }
    HWND hDlg = CreateDialogIndirectParamW(en.hModule, (LPCDLGTEMPLATEW)pb, en.hParent, NoDlgProc, 0);
    if (!hDlg)
    {
        fputs("SKIP ", stdout);
        PutUtf8(wsWhere);
        printf(": CreateDialogIndirectParamW failed (error %lu)\n", GetLastError());
        ++en.pTotals->cSkipped;
        return;
    }
    std::vector<HWND> controls;
    for (HWND h = GetWindow(hDlg, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        controls.push_back(h);
    bool fOrdered = controls.size() == items.size();
    for (size_t i = 0; fOrdered && i < items.size(); ++i)
        fOrdered = (WORD)GetDlgCtrlID(controls[i]) == (WORD)items[i].dwId;
    if (!fOrdered)
    {
        fputs("ORDER ", stdout);
        PutUtf8(wsWhere);
        printf(": the template has %u controls, the dialog %u windows not in its order\n",
               (unsigned)items.size(), (unsigned)controls.size());
    }
    size_t cControls = controls.size() < items.size() ? controls.size() : items.size();
    RECT rcDlg = {};
    GetClientRect(hDlg, &rcDlg);
    std::vector<RECT> rects(cControls);
    for (size_t i = 0; i < cControls; ++i)
    {
        GetWindowRect(controls[i], &rects[i]);
        MapWindowPoints(nullptr, hDlg, (POINT*)&rects[i], 2);
        std::wstring wsText = WindowText(controls[i]);
        if (wsText.empty())
            continue;
        Judgement j = Judge(controls[i], hDlg, wsText);
        if (!j.fJudge)
            continue;
        ++en.pTotals->cJudged;
        PutUtf8(wsWhere);
        printf(" / control %u\t", (unsigned)i);
        PutUtf8(ClassOf(controls[i]));
        if (j.fWrap)
            printf(" wrap %d/%d", j.cyNeeded, j.cyRoom);
        printf("\t%d\t%d\t%d\t%d,%d,%d,%d\t", j.fClipped ? 1 : 0, j.cxNeeded, j.cxRoom, items[i].x,
               items[i].y, items[i].cx, items[i].cy);
        PutUtf8(OneLine(wsText));
        putchar('\n');
    }
    for (size_t i = 0; i < cControls; ++i)
    {
        const RECT& rc = rects[i];
        if (rc.right <= rc.left || rc.bottom <= rc.top)
            continue;
        if (rc.left < 0 || rc.top < 0 || rc.right > rcDlg.right || rc.bottom > rcDlg.bottom)
        {
            fputs("OUTSIDE ", stdout);
            PutUtf8(wsWhere);
            printf(" / control %u\n", (unsigned)i);
        }
        for (size_t k = i + 1; k < cControls; ++k)
        {
            RECT rcBoth;
            if (IntersectRect(&rcBoth, &rc, &rects[k]))
            {
                fputs("OVERLAP ", stdout);
                PutUtf8(wsWhere);
                printf(" / control %u control %u\n", (unsigned)i, (unsigned)k);
            }
        }
    }
    DestroyWindow(hDlg);
}

BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR, LPCWSTR pszName, WORD wLang, LONG_PTR lParam)
{
    auto* pLangs = (std::vector<WORD>*)lParam;
    pLangs->push_back(wLang);
    (void)pszName;
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE hModule, LPCWSTR, LPWSTR pszName, LONG_PTR lParam)
{
    const Enumeration& en = *(const Enumeration*)lParam;
    std::vector<WORD> langs;
    if (en.nLang >= 0)
    {
        if (FindResourceExW(hModule, (LPCWSTR)RT_DIALOG, pszName, (WORD)en.nLang))
            langs.push_back((WORD)en.nLang);
    }
    else
        EnumResourceLanguagesW(hModule, (LPCWSTR)RT_DIALOG, pszName, OnLanguage, (LONG_PTR)&langs);
    std::wstring wsName = NameOf(pszName);
    for (WORD wLang : langs)
    {
        // One dialog in several languages: each is named with its language.
        wchar_t szLang[16];
        wsprintfW(szLang, L" [%04x]", wLang);
        OneDialog(en, langs.size() > 1 ? wsName + szLang : wsName, pszName, wLang);
    }
    return TRUE;
}

// The classes a dialog template may name: the common controls and rich edit.
void RegisterControlClasses()
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                                                 ICC_COOL_CLASSES | ICC_INTERNET_CLASSES |
                                                 ICC_PAGESCROLLER_CLASS | ICC_NATIVEFNTCTL_CLASS |
                                                 ICC_STANDARD_CLASSES | ICC_LINK_CLASS};
    InitCommonControlsEx(&icc);
    LoadLibraryW(L"riched20.dll");
    LoadLibraryW(L"riched32.dll");
    LoadLibraryW(L"msftedit.dll");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    wchar_t* pszEnd = nullptr;
    int nLang = argc == 3 ? (int)wcstoul(argv[2], &pszEnd, 16) : -1;
    if (argc < 2 || argc > 3 || (argc == 3 && (*pszEnd || nLang > 0xFFFF)))
    {
        fputs("usage: fit_oracle IMAGE [LANGUAGE]  (a language id in hex: 0409)\n", stderr);
        return 2;
    }
    HMODULE hModule =
        LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!hModule)
    {
        fprintf(stderr, "fit_oracle: cannot load the image (error %lu)\n", GetLastError());
        return 1;
    }
    RegisterControlClasses();
    // A parent for templates with WS_CHILD (DS_CONTROL pages), which cannot be top-level.
    HWND hParent =
        CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    if (!hParent)
    {
        // Under Wine this is a missing display: scripts/wine-run --console gives none.
        fprintf(stderr, "fit_oracle: cannot create a window (error %lu); is there a display?\n",
                GetLastError());
        FreeLibrary(hModule);
        return 1;
    }
    Totals totals;
    Enumeration en = {hModule, hParent, nLang, &totals};
    EnumResourceNamesW(hModule, (LPCWSTR)RT_DIALOG, OnName, (LONG_PTR)&en);
    printf("dialogs %d, controls judged %d, skipped %d\n", totals.cDialogs, totals.cJudged, totals.cSkipped);
    DestroyWindow(hParent);
    FreeLibrary(hModule);
    return 0;
}
