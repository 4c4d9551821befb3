// Whether the target is a PE image for AMD64, by its Machine field alone.
#pragma once

#include "port/win32.h"

// 1 for 'MZ', e_lfanew at 0x3C pointing at "PE\0\0", and Machine 0x8664 behind
// it; 0 for everything else, including a file too short to hold those fields
// where e_lfanew points. Reads only the dwSize bytes of the view.
int IsPe64(const BYTE* pView, DWORD dwSize);
