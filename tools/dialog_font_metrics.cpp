// Prints the rows of src/layout/dialog_font_metrics.inc: for each dialog font
// a template may name, the font the dialog manager really chose for it, the
// base units it converts dialog units with, and the advance widths of its
// characters. Run under Wine in the zh_CN locale (tools/make-dialog-font-metrics):
// the portable core measures texts with these rows, so they must be what a
// Chinese system draws, substitutions included.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace
{

const wchar_t* const kFaces[] = {
    L"MS Shell Dlg",    L"MS Shell Dlg 2",           L"MS Sans Serif", L"Tahoma",
    L"Segoe UI",        L"Microsoft Sans Serif",     L"SimSun",        L"\u5B8B\u4F53",
    L"Microsoft YaHei", L"\u5FAE\u8F6F\u96C5\u9ED1", L"System"};
const int kPointSizes[] = {8, 9, 10, 11, 12};
const int kWeights[] = {FW_NORMAL, FW_BOLD};
const wchar_t kCjk[] = L"\u4E00\u6C49\u56FE\u50CF\u786E";                  // 一汉图像确
const wchar_t kFullWidthPunct[] = L"\uFF08\uFF09\uFF0C\u3002\uFF1A\u3001"; // （），。：、
const wchar_t kMixed[] = L"\u6253\u5F00\u56FE\u50CF(&O)...";               // 打开图像(&O)...

std::string Utf8(const std::wstring& ws)
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, ws.c_str(), (int)ws.size(), nullptr, 0, nullptr, nullptr);
    std::string st(cb > 0 ? cb : 0, '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, ws.c_str(), (int)ws.size(), &st[0], cb, nullptr, nullptr);
    return st;
}

// An empty DLGTEMPLATEEX as rc writes one for "FONT size, face, weight, 0, 1".
std::vector<WORD> MakeTemplate(const wchar_t* pszFace, int nPoint, int nWeight)
{
    bool fShell = wcsncmp(pszFace, L"MS Shell Dlg", 12) == 0;
    DWORD dwStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | (fShell ? DS_SHELLFONT : DS_SETFONT);
    std::vector<WORD> tpl;
    auto put16 = [&](WORD w) { tpl.push_back(w); };
    auto put32 = [&](DWORD dw) {
        tpl.push_back(LOWORD(dw));
        tpl.push_back(HIWORD(dw));
    };
    put16(1);      // dlgVer
    put16(0xFFFF); // signature
    put32(0);      // helpID
    put32(0);      // exStyle
    put32(dwStyle);
    put16(0); // cDlgItems
    put16(0); // x
    put16(0); // y
    put16(200);
    put16(100);
    put16(0); // no menu
    put16(0); // the standard dialog class
    put16(0); // no title
    put16((WORD)nPoint);
    put16((WORD)nWeight);
    put16(MAKEWORD(0 /*italic*/, 1 /*DEFAULT_CHARSET*/));
    for (const wchar_t* p = pszFace; *p; ++p)
        put16(*p);
    put16(0);
    return tpl;
}

INT_PTR CALLBACK NoDlgProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

int Extent(HDC hdc, const wchar_t* psz, int cch)
{
    SIZE size = {};
    GetTextExtentPoint32W(hdc, psz, cch, &size);
    return size.cx;
}

// Whether the selected font itself has the glyph, rather than a linked one.
bool HasGlyph(HDC hdc, wchar_t ch)
{
    WORD wGlyph = 0;
    return GetGlyphIndicesW(hdc, &ch, 1, &wGlyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 && wGlyph != 0xFFFF;
}

// The family name (name id 1) of the selected font's name table, the US English
// Windows record first; empty when the font has none.
std::wstring FamilyName(HDC hdc)
{
    const DWORD kNameTable = 0x656D616E; // 'name', as GetFontData takes a tag
    DWORD cb = GetFontData(hdc, kNameTable, 0, nullptr, 0);
    if (cb == GDI_ERROR || cb < 6)
        return std::wstring();
    std::vector<BYTE> table(cb);
    if (GetFontData(hdc, kNameTable, 0, table.data(), cb) != cb)
        return std::wstring();
    auto be16 = [&](size_t ib) -> unsigned { return ib + 2 <= cb ? table[ib] << 8 | table[ib + 1] : 0; };
    unsigned cRecords = be16(2), ibStrings = be16(4);
    std::wstring wsBest;
    int nBest = 0;
    for (unsigned i = 0; i < cRecords; ++i)
    {
        size_t ib = 6 + 12 * (size_t)i;
        if (ib + 12 > cb)
            break;
        unsigned idPlatform = be16(ib), idLanguage = be16(ib + 4), idName = be16(ib + 6);
        size_t cbText = be16(ib + 8), ibText = ibStrings + be16(ib + 10);
        if (idName != 1 || idPlatform != 3 || ibText + cbText > cb)
            continue;
        int nRank = idLanguage == 0x0409 ? 2 : 1;
        if (nRank <= nBest)
            continue;
        nBest = nRank;
        wsBest.clear();
        for (size_t k = 0; k + 1 < cbText; k += 2)
            wsBest.push_back((wchar_t)be16(ibText + k));
    }
    return wsBest;
}

int Row(const wchar_t* pszFace, int nPoint, int nWeight, int& nReports)
{
    std::vector<WORD> tpl = MakeTemplate(pszFace, nPoint, nWeight);
    HWND hDlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), (LPCDLGTEMPLATEW)tpl.data(), nullptr,
                                           NoDlgProc, 0);
    std::string stName = Utf8(pszFace);
    if (!hDlg)
    {
        fprintf(stderr, "%s %d %d: CreateDialogIndirectParamW failed (%lu)\n", stName.c_str(), nPoint,
                nWeight, GetLastError());
        ++nReports;
        return 0;
    }
    HFONT hFont = (HFONT)SendMessageW(hDlg, WM_GETFONT, 0, 0);
    LOGFONTW lf = {};
    if (hFont)
        GetObjectW(hFont, sizeof(lf), &lf);
    RECT rc = {0, 0, 4, 8};
    MapDialogRect(hDlg, &rc);

    HDC hdc = GetDC(hDlg);
    HGDIOBJ hOld = hFont ? SelectObject(hdc, hFont) : nullptr;
    wchar_t szTextFace[LF_FACESIZE] = {};
    GetTextFaceW(hdc, LF_FACESIZE, szTextFace);
    // GetTextFaceW, and the outline metrics, give back the name a
    // replacement was asked for under; the English family name in the font
    // file's own name table says which font draws the glyphs.
    std::wstring wsFaceUsed = FamilyName(hdc);
    if (wsFaceUsed.empty())
        wsFaceUsed = szTextFace;
    TEXTMETRICW tm = {};
    GetTextMetricsW(hdc, &tm);
    int nPointUsed = lf.lfHeight < 0
                         ? MulDiv(-lf.lfHeight, 72, GetDeviceCaps(hdc, LOGPIXELSY))
                         : MulDiv(tm.tmHeight - tm.tmInternalLeading, 72, GetDeviceCaps(hdc, LOGPIXELSY));

    int rgAdvance[95];
    for (int i = 0; i < 95; ++i)
    {
        wchar_t ch = (wchar_t)(0x20 + i);
        rgAdvance[i] = Extent(hdc, &ch, 1);
    }
    int cxCjk = Extent(hdc, kCjk, 1);
    for (int i = 1; kCjk[i]; ++i)
        if (Extent(hdc, kCjk + i, 1) != cxCjk)
        {
            fprintf(stderr, "%s %d %d: U+%04X is %d wide, U+4E00 %d\n", stName.c_str(), nPoint, nWeight,
                    kCjk[i], Extent(hdc, kCjk + i, 1), cxCjk);
            ++nReports;
        }
    std::string stPunct;
    int cxPunct = Extent(hdc, kFullWidthPunct, 1);
    bool fPunctSame = true;
    for (int i = 0; kFullWidthPunct[i]; ++i)
    {
        int cx = Extent(hdc, kFullWidthPunct + i, 1);
        fPunctSame = fPunctSame && cx == cxPunct;
        stPunct += (i ? " " : "") + std::to_string(cx);
    }
    const wchar_t chEllipsis = 0x2026, chEAcute = 0xE9;
    int cxEllipsis = Extent(hdc, &chEllipsis, 1), cxEAcute = Extent(hdc, &chEAcute, 1);
    bool fEllipsisOwn = HasGlyph(hdc, chEllipsis), fEAcuteOwn = HasGlyph(hdc, chEAcute);

    int cxMixed = Extent(hdc, kMixed, (int)wcslen(kMixed)), cxSum = 0;
    for (int i = 0; kMixed[i]; ++i)
        cxSum += Extent(hdc, kMixed + i, 1);
    if (cxMixed != cxSum)
    {
        fprintf(stderr, "%s %d %d: the mixed text is %d wide, its characters %d\n", stName.c_str(), nPoint,
                nWeight, cxMixed, cxSum);
        ++nReports;
    }
    if (hOld)
        SelectObject(hdc, hOld);
    ReleaseDC(hDlg, hdc);
    DestroyWindow(hDlg);

    printf("// %s %d %d: GetTextFaceW \"%s\", LOGFONT \"%s\" height %ld weight %ld charset %d; U+2026 %d "
           "(%s), U+00E9 %d (%s);"
           " full-width punctuation %s%s; mixed text %d, its characters %d\n",
           stName.c_str(), nPoint, nWeight, Utf8(szTextFace).c_str(), Utf8(lf.lfFaceName).c_str(),
           lf.lfHeight, lf.lfWeight, lf.lfCharSet, cxEllipsis, fEllipsisOwn ? "own glyph" : "linked font",
           cxEAcute, fEAcuteOwn ? "own glyph" : "linked font", stPunct.c_str(),
           fPunctSame ? "" : " (they differ)", cxMixed, cxSum);
    printf("{u\"%s\", %d, %d, /*face used*/ u\"%s\", /*point used*/ %d, /*cxBase*/ %ld, /*cyBase*/ %ld,"
           " /*tmHeight*/ %ld, /*tmExternalLeading*/ %ld, /*cxCjk*/ %d, /*cxFullWidthPunct*/ %d, {",
           stName.c_str(), nPoint, nWeight, Utf8(wsFaceUsed).c_str(), nPointUsed, rc.right, rc.bottom,
           tm.tmHeight, tm.tmExternalLeading, cxCjk, cxPunct);
    for (int i = 0; i < 95; ++i)
        printf("%s%d", i ? ", " : "", rgAdvance[i]);
    printf("}},\n");
    return 1;
}

} // namespace

int main()
{
    // Rows are UTF-8 source text with LF line ends, whatever the console's code page.
    _setmode(_fileno(stdout), _O_BINARY);
    int nReports = 0, nRows = 0;
    for (const wchar_t* pszFace : kFaces)
        for (int nPoint : kPointSizes)
            for (int nWeight : kWeights)
                nRows += Row(pszFace, nPoint, nWeight, nReports);
    fflush(stdout);
    fprintf(stderr, "rows %d, reports %d\n", nRows, nReports);
    return nRows == (int)(sizeof(kFaces) / sizeof(kFaces[0]) * 10) ? 0 : 1;
}
