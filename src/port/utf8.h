// UTF-8 and UTF-16: one conversion each way, the same on both builds, for the
// image code, the PO files, the command-line tool and the stand-ins of the
// Win32 functions that take paths.
#pragma once

#include "port/win32.h"

#include <string>

// The length of the well-formed UTF-8 sequence at p[0..n), or 0 for a byte
// that starts none (an overlong form, a surrogate, a code point past
// U+10FFFF, a cut sequence).
size_t Utf8SequenceLength(const unsigned char* p, size_t n);
// Whether the bytes are well-formed UTF-8; else false with the offset of the
// first bad byte.
bool IsWellFormedUtf8(const char* p, size_t cb, size_t& badAt);
bool IsWellFormedUtf8(const std::string& s, size_t& badAt);

// Appends the UTF-8 form of one code point (below 0x110000).
void AppendUtf8(std::string& s, DWORD dwChar);

// UTF-16 units as UTF-8, an unpaired surrogate as U+FFFD; with fPrintable a
// control character as '?' (for labels).
std::string Utf16ToUtf8(const char16_t* p, size_t cUnits, bool fPrintable = false);
inline std::string Utf16ToUtf8(const std::u16string& ws, bool fPrintable = false)
{
    return Utf16ToUtf8(ws.data(), ws.size(), fPrintable);
}
// UTF-8 as UTF-16; each byte that starts no well-formed sequence becomes
// U+FFFD, so a surrogate never comes out unpaired.
std::u16string Utf8ToUtf16(const std::string& s);

// "0x01A2" with at least cDigits hexadecimal digits.
std::string HexNumber(DWORD dw, int cDigits);
