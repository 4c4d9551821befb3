// The fonts a Chinese system draws dialogs in, as measured under Wine's
// zh_CN locale: for each face, size and weight a template names, the face
// and size the dialog manager really chose, its base units and the advance
// widths of its characters.
#pragma once

#include "port/win32.h"

#include <string>

struct DialogFontMetrics
{
    const char16_t* wsFace; // as a template names it
    int iPoint;
    int iWeight;
    const char16_t* wsUsed; // what the dialog manager chose
    int iPointUsed;
    int cxBase, cyBase; // dialog base units: 4 horizontal and 8 vertical units in pixels
    int cyHeight;       // tmHeight: one line of text
    int cyExternalLeading;
    int cxCjk;            // an ideograph
    int cxFullWidthPunct; // （ ） ， 。 ： 、
    short acxAscii[95];   // U+0020..U+007E
};

// The metrics of a template's font, at 96 DPI; the nearest weight of the
// face and size (400 or 700). nullptr for a font that was not measured.
const DialogFontMetrics* FindDialogFont(const std::u16string& wsFace, int iPoint, int iWeight);
