// Paths of the tool's own files. Both '/' and '\' separate when a path is read;
// '\' is what is written. Nothing here allocates.
#pragma once

#include "port/win32.h"

// The directory of the module's file (none: the running executable), without a
// trailing separator; C:\tool.exe gives C:.
void GetModuleDir(HMODULE hModule, LPWSTR wsDir, UINT cchDir);
// Cuts a path at its last separator, in place; the separator-free rest of
// GetModuleDir, kept apart so it can be checked on any path.
void CutAtLastSeparator(LPWSTR wsPath);
// Appends one separator and the name (one leading separator of the name is
// skipped), cut to cchDir-1 units.
void JoinPath(LPWSTR wsDir, UINT cchDir, LPCWSTR wsName);
LPWSTR FindNamePart(LPWSTR wsPath);
// The extension of the name part, without its dot; the terminator when none.
LPWSTR FindExtension(LPWSTR wsPath);
void CopyWideChars(WCHAR* wsDst, const WCHAR* wsSrc, size_t n);

// The path in the system's ANSI code page, for the ANSI profile reads. Returns
// false when no ANSI form names the same file: a path cut to fit, a character
// the code page lacks ('?') or one it maps to a look-alike (best fit). Decided
// by converting back, which works on every code page, UTF-8 included, where
// the conversion refuses a used-default flag.
bool GetExactAnsiPath(LPCWSTR wsPath, LPSTR szPath, int cbPath);
