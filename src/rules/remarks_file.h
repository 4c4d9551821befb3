// Remarks files: the text whole, UTF-16LE after FF FE, or else ANSI; no terminator.
#pragma once

#include "port/win32.h"

struct RemarksFile
{
    int unicode;  // 1: the file began with FF FE
    BYTE* pBytes; // the file's bytes followed by three zero bytes; null when empty
    DWORD cbFile; // bytes read
};

// Reads the whole file. A missing file gives an empty text and UTF-16LE (the
// encoding the tool creates files in); an empty one, an empty text and ANSI.
// Returns 0 when the file exists but its text could not be had (it cannot be
// opened, is too large, a read fails, no buffer): the text is then empty, and
// the file must be left exactly as it is.
int ReadRemarksFile(LPCWSTR wsFile, RemarksFile& remarks);
void FreeRemarksFile(RemarksFile& remarks);
// The text to show: the UTF-16 units after FF FE, or the ANSI bytes; both zero-terminated.
LPCWSTR RemarksTextW(const RemarksFile& remarks);
LPCSTR RemarksTextA(const RemarksFile& remarks);

// Saves a remarks text in the given encoding: an empty text deletes the file;
// otherwise the file is created anew with FF FE and UTF-16LE units, or with the
// text converted to the ANSI code page. When wsShown is given and equals
// wsText, the text was not changed and the file is left exactly as it is, so a
// file that does not pass through an edit box unchanged (bytes its code page
// cannot map, a zero inside) is never damaged by merely looking at it.
// Returns 1 when the file holds the text afterwards (or is rightly absent).
int WriteRemarksFile(LPCWSTR wsFile, int unicode, LPCWSTR wsText, LPCWSTR wsShown);
