// Small helpers for zero-terminated UTF-16 text in caller-owned buffers.
// Capacities count units and include the terminator.
#pragma once

#include "port/utf8.h"
#include "port/win32.h"

#include <string>

UINT WideLength(LPCWSTR ws);
// Copies at most cchDst-1 units and terminates; returns the units copied.
UINT WideCopy(LPWSTR wsDst, UINT cchDst, LPCWSTR wsSrc);
// Appends with the same cut; returns the new length.
UINT WideAppend(LPWSTR wsDst, UINT cchDst, LPCWSTR wsSrc);
int WideCompare(LPCWSTR wsA, LPCWSTR wsB);
// "%u" with at least uMinDigits digits ("%03u" is 3), cut to the capacity.
UINT FormatUnsigned(LPWSTR wsDst, UINT cchDst, UINT uValue, UINT uMinDigits);
// The leading decimal digits as an unsigned number, as a list cell is read.
UINT ParseUnsigned(LPCWSTR ws);
