// Whether a control's text fits it as Wine's button and static controls lay
// text out (user32's button.c and static.c, DrawTextW): the room the control
// leaves its text, the width a line needs and the lines a wrapping text
// takes, in pixels at 96 DPI.
#pragma once

#include "layout/dialog_fonts.h"
#include "layout/dialog_geometry.h"

#include <string>

// What a control's text needs and has. fJudged false for a control whose
// text is not laid out this way (an edit, a list, an owner-drawn button, a
// character whose width was not measured).
struct TextFit
{
    bool fJudged;
    bool fWraps;          // a multi-line static or button: judged by height
    bool fOneLine;        // it wraps but holds one line: it is made room for by width
    int cxNeeded, cxRoom; // the widest line and the room beside what the control draws
    int cyNeeded, cyRoom; // its lines times the line height, and the height inside what the control draws
    bool Fits() const { return cxNeeded <= cxRoom && cyNeeded <= cyRoom; }
};

// Dialog units to pixels, as the dialog manager converts them.
int DialogUnitsToPixelsX(int du, const DialogFontMetrics& font);
int DialogUnitsToPixelsY(int du, const DialogFontMetrics& font);

// The width of one line of ws; -1 when a character's width is not known.
// With fPrefix '&' marks the next character and "&&" is one '&'.
int LineWidth(const std::u16string& ws, const DialogFontMetrics& font, bool fPrefix);

struct DrawTextFlags
{
    bool fWordBreak;  // DT_WORDBREAK
    bool fSingleLine; // DT_SINGLELINE: line breaks are drawn, not obeyed
    bool fPrefix;     // not DT_NOPREFIX
    bool fBreakWords; // DT_EDITCONTROL: a word wider than the line is cut
};

struct TextExtent
{
    bool fKnown; // false when a character's width was not measured, or for a tab
    int cx, cy;  // as DrawTextW with DT_CALCRECT gives them
    int cLines;
};

// DrawTextW's DT_CALCRECT of ws in the font, at cxWidth when it wraps.
TextExtent DrawTextExtent(const std::u16string& ws, const DialogFontMetrics& font, int cxWidth,
                          const DrawTextFlags& flags);

// How the control's text ws fits a control of cx by cy dialog units.
TextFit FitText(const DialogControl& control, const std::u16string& ws, int cx, int cy,
                const DialogFontMetrics& font);

// The least size in dialog units, no less than the control's, at which its
// own text fits: width first (for a text that wraps, only as far as its
// widest word, unless the control holds one line), then height. False when none up to far past
// any screen does.
bool LeastFittingSize(const DialogControl& control, const DialogFontMetrics& font, int& cx, int& cy);
