// The text measurement against DrawTextW itself: random texts of Latin
// words, ideographs, punctuation, '&' marks and line breaks, measured in the
// fonts Wine's dialog manager chooses under zh_CN, at random widths, with and
// without word breaks. Runs under Wine.
#include "layout/line_breaks.h"
#include "layout/text_fit.h"
#include "port/utf8.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <usp10.h>

#include <random>
#include <string>
#include <vector>

namespace
{
INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// A hidden dialog in the font a template names, so the font is the one the
// dialog manager chooses for it.
HWND DialogInFont(const wchar_t* szFace, WORD wPoint, WORD wWeight)
{
    std::vector<WORD> t;
    auto put32 = [&t](DWORD dw) {
        t.push_back(LOWORD(dw));
        t.push_back(HIWORD(dw));
    };
    t.push_back(1);
    t.push_back(0xFFFF);
    put32(0);
    put32(0);
    put32(DS_SETFONT | DS_FIXEDSYS | WS_POPUP);
    t.push_back(0); // no controls
    for (int i = 0; i < 4; ++i)
        t.push_back(i < 2 ? 0 : 100);
    t.push_back(0); // menu
    t.push_back(0); // class
    t.push_back(0); // caption
    t.push_back(wPoint);
    t.push_back(wWeight);
    t.push_back(0x0100); // not italic, DEFAULT_CHARSET
    for (const wchar_t* p = szFace; *p != 0; ++p)
        t.push_back(static_cast<WORD>(*p));
    t.push_back(0);
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(t.data()),
                                      nullptr, NoDialogProc, 0);
}

std::u16string RandomText(std::mt19937& random)
{
    static const char16_t* const kPieces[] = {u"Open",
                                              u"file",
                                              u"the",
                                              u"a",
                                              u"Settings",
                                              u"...",
                                              u"(&O)",
                                              u"&",
                                              u"&&",
                                              u" ",
                                              u" ",
                                              u" ",
                                              u"打开",
                                              u"文件",
                                              u"设置",
                                              u"图像",
                                              u"确定",
                                              u"取消",
                                              u"，",
                                              u"。",
                                              u"：",
                                              u"（",
                                              u"）",
                                              u"、",
                                              u"\n",
                                              u"Ok",
                                              u"%s",
                                              u"100%",
                                              u":",
                                              u"(",
                                              u")",
                                              u"-",
                                              u"的一是",
                                              u"这是一段很长的说明文字",
                                              u"WordThatIsVeryLongIndeed",
                                              u"x"};
    std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1), count(1, 14);
    std::u16string ws;
    for (size_t n = count(random); n > 0; --n)
        ws += kPieces[piece(random)];
    return ws;
}
} // namespace

TEST(DrawTextOracle, TheModelMeasuresAsDrawTextDoes)
{
    struct Font
    {
        const wchar_t* szFace;
        WORD wPoint, wWeight;
    } fonts[] = {{L"MS Shell Dlg", 8, 400},
                 {L"MS Shell Dlg", 9, 400},
                 {L"MS Shell Dlg", 8, 700},
                 {L"MS Shell Dlg 2", 8, 400},
                 {L"Tahoma", 8, 400}};
    std::mt19937 random(1);
    std::uniform_int_distribution<int> width(12, 240), flavour(0, 3);
    int cCases = 0, cWrong = 0;
    for (const Font& font : fonts)
    {
        std::u16string wsFace;
        for (const wchar_t* p = font.szFace; *p != 0; ++p)
            wsFace += static_cast<char16_t>(*p);
        const DialogFontMetrics* pMetrics = FindDialogFont(wsFace, font.wPoint, font.wWeight);
        ASSERT_NE(nullptr, pMetrics) << "no metrics for a font every dialog uses";
        HWND hDialog = DialogInFont(font.szFace, font.wPoint, font.wWeight);
        ASSERT_NE(nullptr, hDialog);
        HDC hdc = GetDC(hDialog);
        HGDIOBJ hOld = SelectObject(hdc, reinterpret_cast<HFONT>(SendMessageW(hDialog, WM_GETFONT, 0, 0)));
        for (int i = 0; i < 400; ++i)
        {
            const std::u16string ws = RandomText(random);
            const int f = flavour(random);
            const DrawTextFlags flags = {f != 3, f == 3, f != 2, false};
            const int cxWidth = width(random);
            const TextExtent at = DrawTextExtent(ws, *pMetrics, cxWidth, flags);
            if (!at.fKnown)
                continue;
            RECT rc = {0, 0, cxWidth, 0};
            const UINT uFormat = DT_CALCRECT | DT_LEFT | (flags.fWordBreak ? DT_WORDBREAK : 0) |
                                 (flags.fSingleLine ? DT_SINGLELINE : 0) | (flags.fPrefix ? 0 : DT_NOPREFIX);
            DrawTextW(hdc, reinterpret_cast<const wchar_t*>(ws.c_str()), -1, &rc, uFormat);
            ++cCases;
            if (rc.right - rc.left != at.cx || rc.bottom - rc.top != at.cy)
            {
                if (++cWrong <= 60)
                    ADD_FAILURE() << "width " << cxWidth << " flags " << f << ": DrawTextW "
                                  << rc.right - rc.left << " x " << rc.bottom - rc.top << ", the model "
                                  << at.cx << " x " << at.cy << " for \"" << Utf16ToUtf8(ws) << "\" ("
                                  << ws.size() << " units)";
            }
        }
        SelectObject(hdc, hOld);
        ReleaseDC(hDialog, hdc);
        DestroyWindow(hDialog);
    }
    EXPECT_GT(cCases, 1500);
    EXPECT_EQ(0, cWrong) << "of " << cCases;
}

TEST(DrawTextOracle, BreaksAreWhereScriptBreakPutsThem)
{
    std::mt19937 random(2);
    int cWrong = 0, cCases = 0;
    for (int i = 0; i < 3000; ++i)
    {
        const std::u16string ws = RandomText(random);
        std::vector<SCRIPT_LOGATTR> attrs(ws.size());
        SCRIPT_ANALYSIS analysis = {};
        ASSERT_EQ(S_OK, ScriptBreak(reinterpret_cast<const wchar_t*>(ws.c_str()), static_cast<int>(ws.size()),
                                    &analysis, attrs.data()));
        const std::vector<bool> soft = SoftBreaks(ws);
        std::string sWine, sModel;
        for (size_t k = 0; k < ws.size(); ++k)
        {
            sWine += attrs[k].fSoftBreak ? '+' : '.';
            sModel += soft[k] ? '+' : '.';
        }
        ++cCases;
        if (sWine != sModel && ++cWrong <= 40)
            ADD_FAILURE() << "\"" << Utf16ToUtf8(ws) << "\"\n  ScriptBreak " << sWine << "\n  the model   "
                          << sModel;
    }
    EXPECT_EQ(0, cWrong) << "of " << cCases;
}
