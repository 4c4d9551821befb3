#include "layout/text_fit.h"

#include "layout/line_breaks.h"

#include <algorithm>
#include <vector>

namespace
{
const DWORD kButtonClass = 0x80, kStaticClass = 0x82;
const DWORD kButtonTypeMask = 0x0F;
const DWORD kPushButton = 0x0, kDefPushButton = 0x1, kCheckBox = 0x2, kAutoCheckBox = 0x3, kRadioButton = 0x4,
            k3State = 0x5, kAuto3State = 0x6, kGroupBox = 0x7, kAutoRadioButton = 0x9;
const DWORD kButtonIcon = 0x40, kButtonBitmap = 0x80, kButtonPushLike = 0x1000, kButtonMultiLine = 0x2000;
const DWORD kButtonAlignMask = 0x300, kButtonCenter = 0x300;
const DWORD kStaticTypeMask = 0x1F;
const DWORD kStaticLeft = 0x0, kStaticCenter = 0x1, kStaticRight = 0x2, kStaticSimple = 0xB,
            kStaticLeftNoWordWrap = 0xC;
const DWORD kStaticNoPrefix = 0x80, kStaticCenterImage = 0x200, kStaticEditControl = 0x2000,
            kStaticSunken = 0x1000, kStaticEllipsisMask = 0xC000;
const DWORD kBorder = 0x00800000, kExDlgModalFrame = 0x1, kExRight = 0x1000, kExClientEdge = 0x200,
            kExStaticEdge = 0x20000;
// user32's check box: a box of 12 * dpi / 96 + 1 pixels, then half the
// width of '0', then the label one pixel in.
const int kCheckBoxWidth = 13;
const int kPushFrame = 2;
// user32's group box: the label 7 pixels in from each side, then one more.
const int kGroupBoxIndent = 7;

int ScaleRounded(int a, int b, int c)
{
    long long n = static_cast<long long>(a) * b;
    long long r = n >= 0 ? (n + c / 2) / c : -((-n + c / 2) / c);
    return static_cast<int>(r);
}

bool IsClass(const DialogControl& control, DWORD dwOrdinal, const char16_t* wsName)
{
    return control.dwClass == dwOrdinal || (control.dwClass == 0 && control.wsClass == wsName);
}

int CharWidth(char16_t w, const DialogFontMetrics& font)
{
    if (w >= 0x20 && w <= 0x7E)
        return font.acxAscii[w - 0x20];
    if ((w >= 0x4E00 && w <= 0x9FFF) || (w >= 0x3400 && w <= 0x4DBF) || (w >= 0xF900 && w <= 0xFAFF))
        return font.cxCjk;
    if ((w >= 0x3000 && w <= 0x303F) || (w >= 0xFF01 && w <= 0xFF60))
        return font.cxFullWidthPunct;
    return -1;
}

// The text as drawn: '&' marks dropped, "&&" one '&'.
std::u16string Drawn(const std::u16string& ws, bool fPrefix)
{
    if (!fPrefix)
        return ws;
    std::u16string s;
    for (size_t i = 0; i < ws.size(); ++i)
    {
        if (ws[i] == u'&' && i + 1 < ws.size())
            ++i;
        s += ws[i];
    }
    return s;
}

// The widths of one paragraph's characters; false when one is unknown.
bool Widths(const std::u16string& ws, const DialogFontMetrics& font, std::vector<int>& widths)
{
    widths.clear();
    for (char16_t w : ws)
    {
        int cx = CharWidth(w, font);
        if (cx < 0)
            return false;
        widths.push_back(cx);
    }
    return true;
}

// DrawTextW's word break of one paragraph at cxLine. Each line takes the
// characters that fit; when more follow, it ends at the last place before
// them where a line may break; without one, a word wider than the line takes
// its line whole up to the next space (with fBreakWords it is cut where it
// overflows). A space a line ends before is dropped. The lines, and the widest.
// True when its last line ended at a break rather than with the paragraph.
bool WrapParagraph(const std::u16string& ws, const std::vector<int>& widths, int cxLine, bool fBreakWords,
                   int& cLines, int& cxWidest)
{
    bool fBroken = false;
    size_t at = 0;
    const size_t n = ws.size();
    do
    {
        int cx = 0;
        size_t fit = 0;
        while (at + fit < n && cx + widths[at + fit] <= cxLine)
            cx += widths[at + fit++];
        size_t cLine = 0, cUsed = 0;
        fBroken = at + fit != n;
        if (!fBroken)
            cLine = cUsed = fit;
        else
        {
            // The breaks of what is left, as the line's own text is broken.
            const std::vector<bool> soft = SoftBreaks(ws.substr(at));
            size_t q = fit;
            while (q > 0 && !soft[q])
                --q;
            if (q > 0)
            {
                cLine = q;
                cUsed = q + (ws[at + q] == u' ' ? 1 : 0);
            }
            else if (fBreakWords)
                cLine = cUsed = fit > 0 ? fit : 1;
            else
            {
                size_t e = at + fit;
                while (e < n && ws[e] != u' ')
                    ++e;
                cLine = e - at;
                cUsed = cLine + (e < n ? 1 : 0);
            }
        }
        int cxThis = 0;
        for (size_t i = at; i < at + cLine; ++i)
            cxThis += widths[i];
        cxWidest = std::max(cxWidest, cxThis);
        ++cLines;
        at += cUsed;
    } while (at < n);
    return fBroken;
}

const int kMaxGrowth = 2000; // dialog units

int BorderOf(const DialogControl& control, bool fStatic)
{
    int cx = 0;
    if (control.dwStyle & kBorder)
        cx += 1;
    if (control.dwExStyle & kExClientEdge)
        cx += 2;
    if ((control.dwExStyle & kExStaticEdge) || (fStatic && (control.dwStyle & kStaticSunken)))
        cx += 1;
    return cx;
}
} // namespace

int DialogUnitsToPixelsX(int du, const DialogFontMetrics& font)
{
    return ScaleRounded(du, font.cxBase, 4);
}

int DialogUnitsToPixelsY(int du, const DialogFontMetrics& font)
{
    return ScaleRounded(du, font.cyBase, 8);
}

int LineWidth(const std::u16string& ws, const DialogFontMetrics& font, bool fPrefix)
{
    std::vector<int> widths;
    if (!Widths(Drawn(ws, fPrefix), font, widths))
        return -1;
    int cx = 0;
    for (int w : widths)
        cx += w;
    return cx;
}

TextExtent DrawTextExtent(const std::u16string& ws, const DialogFontMetrics& font, int cxWidth,
                          const DrawTextFlags& flags)
{
    TextExtent extent = {false, 0, 0, 0};
    // Paragraphs end at line breaks, except on one line, which draws them.
    const std::u16string wsDrawn = Drawn(ws, flags.fPrefix);
    // Each paragraph, and whether a line break ends it.
    std::vector<std::pair<std::u16string, bool>> paragraphs(1);
    for (size_t i = 0; i < wsDrawn.size(); ++i)
    {
        const char16_t w = wsDrawn[i];
        if (w == u'\t')
            return extent;
        if ((w == u'\r' || w == u'\n') && !flags.fSingleLine)
        {
            // CR LF and LF CR are one break; a break at the very end opens no line.
            const char16_t wOther = w == u'\r' ? u'\n' : u'\r';
            if (i + 1 < wsDrawn.size() && wsDrawn[i + 1] == wOther)
                ++i;
            paragraphs.back().second = true;
            if (i + 1 < wsDrawn.size())
                paragraphs.emplace_back();
        }
        else if (w == u'\r' || w == u'\n')
            return extent;
        else
            paragraphs.back().first += w;
    }
    int cLines = 0, cxWidest = 0;
    std::vector<int> widths;
    for (const auto& paragraph : paragraphs)
    {
        if (!Widths(paragraph.first, font, widths))
            return extent;
        // A line that ended at a break leaves the line break for a line of its own.
        if (flags.fWordBreak && !paragraph.first.empty())
        {
            const bool fBroken = WrapParagraph(paragraph.first, widths, std::max(cxWidth, 1),
                                               flags.fBreakWords, cLines, cxWidest);
            cLines += fBroken && paragraph.second ? 1 : 0;
        }
        else
        {
            int cxLine = 0;
            for (int w : widths)
                cxLine += w;
            cxWidest = std::max(cxWidest, cxLine);
            ++cLines;
        }
    }
    extent = {true, cxWidest, cLines * font.cyHeight, cLines};
    return extent;
}

TextFit FitText(const DialogControl& control, const std::u16string& ws, int cx, int cy,
                const DialogFontMetrics& font)
{
    TextFit fit = {false, false, false, 0, 0, 0, 0};
    const bool fButton = IsClass(control, kButtonClass, u"BUTTON");
    const bool fStatic = IsClass(control, kStaticClass, u"STATIC");
    // A control of no width or height is hidden on purpose; growing it would show it.
    if ((!fButton && !fStatic) || (control.dwExStyle & kExDlgModalFrame) || ws.empty() ||
        control.rect.cx <= 0 || control.rect.cy <= 0)
        return fit;
    const int cxBorder = BorderOf(control, fStatic);
    const int cxClient = DialogUnitsToPixelsX(cx, font) - 2 * cxBorder;
    const int cyClient = DialogUnitsToPixelsY(cy, font) - 2 * cxBorder;
    bool fPrefix = true, fWraps = false, fBreakWords = false;
    int cxRoom = cxClient, cyRoom = cyClient;
    if (fButton)
    {
        DWORD dwType = control.dwStyle & kButtonTypeMask;
        if (control.dwStyle & (kButtonIcon | kButtonBitmap))
            return fit;
        if (control.dwStyle & kButtonPushLike)
            dwType = kPushButton;
        const DWORD dwAlign = control.dwStyle & kButtonAlignMask;
        const bool fPush = dwType == kPushButton || dwType == kDefPushButton;
        // A label aligned to a side keeps one pixel from it for the focus rectangle.
        const bool fCentred =
            (control.dwExStyle & kExRight) == 0 && (dwAlign == kButtonCenter || (dwAlign == 0 && fPush));
        const int cxSide = fCentred ? 0 : 1;
        // A push button's text stays inside the frame its face is drawn
        // with, two pixels a side; a default button's outline takes one more.
        if (fPush)
        {
            const int cFrame = 2 * kPushFrame + (dwType == kDefPushButton ? 2 : 0);
            cxRoom = cxClient - cFrame - cxSide;
            cyRoom = cyClient - cFrame;
        }
        else if (dwType == kCheckBox || dwType == kAutoCheckBox || dwType == kRadioButton ||
                 dwType == k3State || dwType == kAuto3State || dwType == kAutoRadioButton)
            cxRoom = cxClient - (kCheckBoxWidth + font.acxAscii['0' - 0x20] / 2) - cxSide;
        else if (dwType == kGroupBox)
            cxRoom = cxClient - 2 * kGroupBoxIndent - cxSide;
        else
            return fit;
        fWraps = (control.dwStyle & kButtonMultiLine) != 0 && dwType != kGroupBox;
    }
    else
    {
        const DWORD dwType = control.dwStyle & kStaticTypeMask;
        if (dwType != kStaticLeft && dwType != kStaticCenter && dwType != kStaticRight &&
            dwType != kStaticSimple && dwType != kStaticLeftNoWordWrap)
            return fit;
        fPrefix = (control.dwStyle & kStaticNoPrefix) == 0;
        fWraps = (dwType == kStaticLeft || dwType == kStaticCenter || dwType == kStaticRight) &&
                 (control.dwStyle & (kStaticCenterImage | kStaticEllipsisMask)) == 0;
        fBreakWords = (control.dwStyle & kStaticEditControl) != 0;
    }
    const bool fSingleLine = fButton ? !fWraps
                                     : (control.dwStyle & kStaticTypeMask) == kStaticSimple ||
                                           (control.dwStyle & (kStaticCenterImage | kStaticEllipsisMask));
    const TextExtent extent = DrawTextExtent(ws, font, cxRoom, {fWraps, fSingleLine, fPrefix, fBreakWords});
    if (!extent.fKnown)
        return fit;
    const int cxWidest = extent.cx, cLines = extent.cLines;
    fit.fJudged = true;
    fit.fWraps = fWraps;
    fit.cxNeeded = cxWidest;
    fit.cxRoom = cxRoom;
    fit.cyNeeded = cLines * font.cyHeight;
    fit.cyRoom = cyRoom;
    fit.fOneLine = fWraps && cyRoom < 2 * font.cyHeight;
    return fit;
}

bool LeastFittingSize(const DialogControl& control, const DialogFontMetrics& font, int& cx, int& cy)
{
    cx = control.rect.cx;
    cy = control.rect.cy;
    for (TextFit fit = FitText(control, control.wsText, cx, cy, font);
         (fit.cxNeeded > fit.cxRoom || (fit.fOneLine && fit.cyNeeded > font.cyHeight)) &&
         cx < control.rect.cx + kMaxGrowth;
         fit = FitText(control, control.wsText, cx, cy, font))
        ++cx;
    while (cy < control.rect.cy + kMaxGrowth && !FitText(control, control.wsText, cx, cy, font).Fits())
        ++cy;
    return FitText(control, control.wsText, cx, cy, font).Fits();
}
