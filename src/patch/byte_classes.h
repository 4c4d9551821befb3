// A quick test of many buffer positions at once, ahead of the patch scan's
// hashed filter: could one of a set of windows start here, judged by the
// nibbles of the first bytes? The windows are sorted into eight buckets by
// where their zero bytes are (UTF-16 text at either phase, ANSI text), so a
// bucket's nibbles describe it closely. It passes every position where a
// window starts and lets the scan skip most others without hashing them.
#pragma once

#include "port/win32.h"

#include <cstddef>

const DWORD kClassOffsets = 4;

struct ByteClasses
{
    DWORD cOffsets;  // window bytes tested, 1 to kClassOffsets
    bool zeroWindow; // some window has zeros at every tested offset
    // Per offset and nibble value, bit j is set when a window of bucket j has
    // that low (high) nibble at that offset.
    BYTE low[kClassOffsets][16];
    BYTE high[kClassOffsets][16];
};

void InitClasses(ByteClasses& classes, DWORD cOffsets);
void AddToClasses(ByteClasses& classes, const BYTE* pWindow);

// Whether ClassCandidates tests many positions at once on this processor; it
// works everywhere, but without that it is no faster than the filter alone.
bool HasClassScan();

// Writes to pOut the positions first, first + step, ... below stop that may
// start a window (every one that does), at most cMax of them (cMax >= 32),
// and sets *pNext to the first position of that series not yet examined. No
// byte at or beyond stop + cOffsets - 1 is read.
size_t ClassCandidates(const ByteClasses& classes, const BYTE* pData, size_t first, size_t stop, size_t step,
                       size_t* pOut, size_t cMax, size_t* pNext);
