// A translated dialog judged and, when asked, laid out anew so every text
// fits: a control grows into free room to its right (or below, for a text
// that wraps), else everything to its right (below) moves over, the group
// boxes across that line grow, and so does the dialog.
#pragma once

#include "layout/text_fit.h"

#include <string>
#include <vector>

struct ClippedControl
{
    UINT uIndex;
    TextFit fit;
};

struct DialogJudgement
{
    const DialogFontMetrics* pFont = nullptr; // nullptr: the dialog's font was not measured
    std::vector<ClippedControl> clipped;
    UINT cSkipped = 0; // controls with text whose text is not judged
};

// Which controls' texts are judged: those the caller translated.
DialogJudgement JudgeDialog(const DialogGeometry& geometry, const std::vector<bool>& judged);

const UINT kDialogItself = 0xFFFFFFFF;

struct RectChange
{
    UINT uIndex; // a control, or kDialogItself
    DialogRect before, after;
};

struct DialogFit
{
    std::vector<RectChange> changes;
    std::vector<std::string> refused; // "control 3: the dialog would be wider than the screen"
};

// Makes room for each clipped control of the judgement, in order; a change
// that would put a control outside the dialog, make it overlap one it did
// not overlap, or the dialog leave a 1024 x 768 screen is not made.
DialogFit FitDialog(DialogGeometry& geometry, const DialogJudgement& judgement);
