// Where a dialog template puts its controls: the dialog's rectangle, font
// and style, and each control's class, style, rectangle and text, with the
// offsets of the rectangles in the template so they can be written anew.
#pragma once

#include "pe/pe_format.h"

#include <string>
#include <vector>

struct DialogRect
{
    int x, y, cx, cy; // dialog units
};

struct DialogControl
{
    UINT uIndex;            // in the template, from 0
    DWORD dwClass;          // 0x80 BUTTON .. 0x85 COMBOBOX, or 0 for a named class
    std::u16string wsClass; // the named class, upper-cased
    DWORD dwStyle;
    DWORD dwExStyle;
    DialogRect rect;
    DWORD dwRectAt; // the offset of x in the template; y, cx, cy follow as 16-bit values
    bool fHasText;  // a title that is text (not none, a number or an image's name)
    std::u16string wsText;
};

struct DialogGeometry
{
    bool fEx;
    DWORD dwStyle;
    DialogRect rect;
    DWORD dwRectAt;
    bool fSetFont; // DS_SETFONT: the template names a font
    WORD wPoint;
    WORD wWeight; // 400 for a plain DIALOG
    bool fItalic;
    std::u16string wsFace;
    std::vector<DialogControl> controls;
};

// 1 and the geometry of the template; 0 with a reason when it cannot be read.
int ReadDialogGeometry(const BYTE* pData, DWORD cb, DialogGeometry& geometry, std::string& sReason);

// Writes the rectangles of the dialog and its controls back into the
// template they were read from, which keeps its size.
void WriteDialogRects(const DialogGeometry& geometry, std::vector<BYTE>& data);
