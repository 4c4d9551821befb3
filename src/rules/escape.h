// The backslash notation in which EN and CN texts are stored: \r \n \t \0,
// \x followed by two characters read as a hexadecimal number, and a backslash
// before any other character standing for that character.
#pragma once

#include "port/win32.h"

// Writes raw line breaks as escapes and doubles every backslash that does not
// begin an escape, in a buffer of kTextChars units, cutting the result to
// kTextChars-1. With protectEnds, a blank or quote at either end, which a
// profile read would drop, is written as an escape too (\x20, \t, \x22, ...).
// Returns 1 when the buffer was rewritten, 0 when it was left as it was
// (nothing to change, or no scratch memory).
int EscapeText(LPWSTR wsText, bool protectEnds = true);

// Decode in place, terminate, and return the decoded length in units (bytes
// for the ANSI form). The decoded text may hold zero units; only the returned
// length bounds it.
UINT UnescapeTextW(LPWSTR wsText);
// Any byte of 0x80 or above takes the byte after it along unread, so the
// second byte of a double-byte character is never taken for a backslash.
UINT UnescapeTextA(LPSTR szText);
