// The section table of a PE image, read with the same care as the 64-bit test:
// every field is checked to lie inside the file before it is read.
#pragma once

#include "port/win32.h"

const UINT kPeNameChars = 9; // 8 name bytes and a terminator

struct PeSection
{
    char szName[kPeNameChars]; // printable ASCII; other bytes shown as '?'
    DWORD dwRawOffset;
    DWORD dwRawSize; // cut to the end of the file
};

struct PeLayout
{
    WORD wMachine;
    DWORD dwHeadersEnd; // SizeOfHeaders, or the lowest section start, cut to the file
    UINT cSections;     // sections in the table that lie inside the file
};

// Fills the layout and up to cMax sections of a PE image; returns 0 for a file
// that is no PE image ('MZ', e_lfanew pointing at "PE\0\0", and a file header
// and section table inside the file). cSections may exceed cMax: the caller
// then asks again with room for all of them.
int ReadPeLayout(const BYTE* pView, DWORD dwSize, PeLayout& layout, PeSection* pSections, UINT cMax);

const int kInHeaders = -1;
const int kOutsideSections = -2;

// The index of the first of the cSections sections whose raw data holds the
// offset, else kInHeaders or kOutsideSections (data appended behind the image,
// gaps between sections).
int FindPeSection(const PeLayout& layout, const PeSection* pSections, UINT cSections, DWORD dwOffset);
