// Exact byte search in the mapped target.
#pragma once

#include "port/win32.h"

// The lowest occurrence of the pattern in the data, or null. A data size of
// 0xFFFFFFFF stands for a zero-terminated byte string whose length is measured
// first. An empty pattern finds nothing. No byte outside the data is read.
const BYTE* FindBytes(const BYTE* pData, DWORD dwSize, const BYTE* pPattern, DWORD dwPattern);

// The same search over exactly dwSize bytes, with no special size: what the
// patch run uses, where a file may be 0xFFFFFFFF bytes long.
const BYTE* SearchBytes(const BYTE* pData, DWORD dwSize, const BYTE* pPattern, DWORD dwPattern);

// The byte-by-byte scan, kept as the reference the fast search is measured and
// checked against.
const BYTE* SearchBytesPlain(const BYTE* pData, DWORD dwSize, const BYTE* pPattern, DWORD dwPattern);

// Whether the processor runs AVX2 code; false where it cannot be asked. Asked
// once, by the fast search and the engine's byte-class scan.
bool CpuHasAvx2();
