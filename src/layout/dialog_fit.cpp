#include "layout/dialog_fit.h"

#include <algorithm>
#include <climits>

namespace
{
const DWORD kButtonClass = 0x80;
const DWORD kGroupBox = 0x7;
const int kScreenWidth = 1024, kScreenHeight = 768;
// Room for the frame and caption a dialog's window adds to its client area.
const int kFrameWidth = 16, kFrameHeight = 40;

bool Intersect(const DialogRect& a, const DialogRect& b)
{
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy && a.cx > 0 &&
           a.cy > 0 && b.cx > 0 && b.cy > 0;
}

bool Inside(const DialogRect& r, int cx, int cy)
{
    return r.x >= 0 && r.y >= 0 && r.x + r.cx <= cx && r.y + r.cy <= cy;
}

// A rectangle in pixels as the dialog manager places the window: position and
// size each converted, so two controls that touch in dialog units may
// overlap by a pixel.
DialogRect InPixels(const DialogRect& r, const DialogFontMetrics& font)
{
    return {DialogUnitsToPixelsX(r.x, font), DialogUnitsToPixelsY(r.y, font),
            DialogUnitsToPixelsX(r.cx, font), DialogUnitsToPixelsY(r.cy, font)};
}

bool IsGroupBox(const DialogControl& control)
{
    return (control.dwClass == kButtonClass || (control.dwClass == 0 && control.wsClass == u"BUTTON")) &&
           (control.dwStyle & 0x0F) == kGroupBox;
}

bool Contains(const DialogRect& outer, const DialogRect& inner)
{
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.cx <= outer.x + outer.cx &&
           inner.y + inner.cy <= outer.y + outer.cy;
}

// Whether the layout keeps what the original promised: no new overlap,
// nothing that was inside the dialog outside it, a dialog the screen holds.
bool Keeps(const DialogGeometry& original, const DialogGeometry& now, const DialogFontMetrics& font,
           std::string& sWhy)
{
    if (DialogUnitsToPixelsX(now.rect.cx, font) + kFrameWidth > kScreenWidth ||
        DialogUnitsToPixelsY(now.rect.cy, font) + kFrameHeight > kScreenHeight)
    {
        sWhy = "the dialog would not fit a 1024 x 768 screen";
        return false;
    }
    auto inside = [&font](const DialogGeometry& geometry, size_t i) {
        const DialogRect r = InPixels(geometry.controls[i].rect, font);
        return Inside(r, DialogUnitsToPixelsX(geometry.rect.cx, font),
                      DialogUnitsToPixelsY(geometry.rect.cy, font));
    };
    auto intersect = [&font](const DialogGeometry& geometry, size_t i, size_t j) {
        return Intersect(InPixels(geometry.controls[i].rect, font),
                         InPixels(geometry.controls[j].rect, font));
    };
    // A template holds each coordinate in 16 signed bits.
    auto fits16 = [](const DialogRect& r) {
        return r.x + r.cx <= SHRT_MAX && r.y + r.cy <= SHRT_MAX && r.cx <= SHRT_MAX && r.cy <= SHRT_MAX;
    };
    for (size_t i = 0; i < now.controls.size(); ++i)
    {
        if (!fits16(now.controls[i].rect))
        {
            sWhy = "control " + std::to_string(i) + " would move past the template's coordinates";
            return false;
        }
        if (inside(original, i) && !inside(now, i))
        {
            sWhy = "control " + std::to_string(i) + " would lie outside the dialog";
            return false;
        }
        for (size_t j = i + 1; j < now.controls.size(); ++j)
            if (intersect(now, i, j) && !intersect(original, i, j))
            {
                sWhy = "controls " + std::to_string(i) + " and " + std::to_string(j) + " would overlap";
                return false;
            }
        // What a group box held it still holds, or the box moved off its contents.
        for (size_t j = 0; j < now.controls.size(); ++j)
            if (j != i && IsGroupBox(now.controls[j]) &&
                Contains(InPixels(original.controls[j].rect, font),
                         InPixels(original.controls[i].rect, font)) &&
                !Contains(InPixels(now.controls[j].rect, font), InPixels(now.controls[i].rect, font)))
            {
                sWhy = "control " + std::to_string(i) + " would leave group box " + std::to_string(j);
                return false;
            }
    }
    return true;
}

// Grows control i to cx by cy into free room: nothing it did not touch is
// in the way, it stays in its group boxes and keeps a margin to the edge.
bool GrowInPlace(DialogGeometry& geometry, size_t i, int cx, int cy)
{
    const DialogRect before = geometry.controls[i].rect;
    DialogRect after = before;
    after.cx = cx;
    after.cy = cy;
    const int cxMargin = std::min(7, std::max(0, geometry.rect.cx - (before.x + before.cx)));
    const int cyMargin = std::min(7, std::max(0, geometry.rect.cy - (before.y + before.cy)));
    if (after.x + after.cx > geometry.rect.cx - cxMargin || after.y + after.cy > geometry.rect.cy - cyMargin)
        return false;
    for (size_t j = 0; j < geometry.controls.size(); ++j)
    {
        const DialogControl& other = geometry.controls[j];
        if (j == i || !Intersect(after, other.rect))
            continue;
        if (!Intersect(before, other.rect))
            return false;
        // A group box it lies in keeps its frame clear of it.
        if (IsGroupBox(other) && Contains(other.rect, before) &&
            (after.x + after.cx > other.rect.x + other.rect.cx - 2 ||
             after.y + after.cy > other.rect.y + other.rect.cy - 2))
            return false;
    }
    geometry.controls[i].rect = after;
    return true;
}

// Makes room right of control i's right edge (below its bottom): what lies
// beyond moves over by dx (dy), with fBand only what shares its row (its
// column), group boxes across the line grow, and so does the dialog, by as
// much as its contents did; control i grows by cxGrow (cyGrow).
void Split(DialogGeometry& geometry, size_t i, int dx, int dy, int cxGrow, int cyGrow, bool fBand)
{
    const DialogRect before = geometry.controls[i].rect;
    const int x0 = before.x + before.cx, y0 = before.y + before.cy;
    int cxFar = 0, cyFar = 0;
    for (const DialogControl& control : geometry.controls)
    {
        cxFar = std::max(cxFar, control.rect.x + control.rect.cx);
        cyFar = std::max(cyFar, control.rect.y + control.rect.cy);
    }
    for (size_t j = 0; j < geometry.controls.size(); ++j)
    {
        if (j == i)
            continue;
        DialogRect& r = geometry.controls[j].rect;
        const bool fGroup = IsGroupBox(geometry.controls[j]);
        const bool fRow = r.y < before.y + before.cy && before.y < r.y + r.cy;
        const bool fColumn = r.x < before.x + before.cx && before.x < r.x + r.cx;
        if (dx > 0 && (!fBand || fRow))
        {
            if (r.x >= x0)
                r.x += dx;
            else if (fGroup && r.x + r.cx > x0)
                r.cx += dx;
        }
        if (dy > 0 && (!fBand || fColumn))
        {
            if (r.y >= y0)
                r.y += dy;
            else if (fGroup && r.y + r.cy > y0)
                r.cy += dy;
        }
    }
    geometry.controls[i].rect.cx += cxGrow;
    geometry.controls[i].rect.cy += cyGrow;
    int cxFarNow = 0, cyFarNow = 0;
    for (const DialogControl& control : geometry.controls)
    {
        cxFarNow = std::max(cxFarNow, control.rect.x + control.rect.cx);
        cyFarNow = std::max(cyFarNow, control.rect.y + control.rect.cy);
    }
    geometry.rect.cx += std::max(0, cxFarNow - cxFar);
    geometry.rect.cy += std::max(0, cyFarNow - cyFar);
}

void AddChanges(const DialogGeometry& original, const DialogGeometry& now, DialogFit& fit)
{
    for (size_t i = 0; i < now.controls.size(); ++i)
    {
        const DialogRect &a = original.controls[i].rect, &b = now.controls[i].rect;
        if (a.x != b.x || a.y != b.y || a.cx != b.cx || a.cy != b.cy)
            fit.changes.push_back({static_cast<UINT>(i), a, b});
    }
    if (original.rect.cx != now.rect.cx || original.rect.cy != now.rect.cy)
        fit.changes.push_back({kDialogItself, original.rect, now.rect});
}
} // namespace

DialogJudgement JudgeDialog(const DialogGeometry& geometry, const std::vector<bool>& judged)
{
    DialogJudgement judgement;
    if (geometry.fSetFont)
        judgement.pFont = FindDialogFont(geometry.wsFace, geometry.wPoint, geometry.wWeight);
    for (const DialogControl& control : geometry.controls)
    {
        if (!control.fHasText || control.wsText.empty() || control.uIndex >= judged.size() ||
            !judged[control.uIndex])
            continue;
        if (judgement.pFont == nullptr)
        {
            ++judgement.cSkipped;
            continue;
        }
        TextFit fit = FitText(control, control.wsText, control.rect.cx, control.rect.cy, *judgement.pFont);
        if (!fit.fJudged)
            ++judgement.cSkipped;
        else if (!fit.Fits())
            judgement.clipped.push_back({control.uIndex, fit});
    }
    return judgement;
}

DialogFit FitDialog(DialogGeometry& geometry, const DialogJudgement& judgement)
{
    DialogFit fit;
    if (judgement.pFont == nullptr || judgement.clipped.empty())
        return fit;
    const DialogFontMetrics& font = *judgement.pFont;
    const DialogGeometry original = geometry;
    for (const ClippedControl& clipped : judgement.clipped)
    {
        const size_t i = clipped.uIndex;
        const DialogControl& control = geometry.controls[i];
        int cx = 0, cy = 0;
        if (!LeastFittingSize(control, font, cx, cy))
        {
            fit.refused.push_back("control " + std::to_string(i) + ": no size makes its text fit");
            continue;
        }
        const DialogGeometry before = geometry;
        const int dx = cx - control.rect.cx, dy = cy - control.rect.cy;
        // Free room first, then the row (column) moved over, then all beyond.
        std::string sWhy;
        bool fMade = GrowInPlace(geometry, i, cx, cy) && Keeps(original, geometry, font, sWhy);
        // What moves over may go a unit further, where rounding to pixels
        // would make it touch the control that grew.
        for (bool fBand : {true, false})
            for (int iMore = 0; iMore <= 2 && !fMade; ++iMore)
            {
                geometry = before;
                Split(geometry, i, dx > 0 ? dx + iMore : 0, dy > 0 ? dy + iMore : 0, dx, dy, fBand);
                fMade = Keeps(original, geometry, font, sWhy);
            }
        if (!fMade)
        {
            geometry = before;
            fit.refused.push_back("control " + std::to_string(i) + ": " + sWhy);
        }
    }
    AddChanges(original, geometry, fit);
    return fit;
}
