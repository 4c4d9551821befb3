#include "patch/pe_sections.h"

namespace
{
const DWORD kLfanewOffset = 0x3C;
const DWORD kFileHeaderBytes = 20;
const DWORD kSectionBytes = 40;
const DWORD kSizeOfHeadersOffset = 60; // within the optional header, PE32 and PE32+ alike

DWORD ReadLe16(const BYTE* p)
{
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8;
}
DWORD ReadLe32(const BYTE* p)
{
    return ReadLe16(p) | ReadLe16(p + 2) << 16;
}

// Whether [dwAt, dwAt + cb) lies inside a file of dwSize bytes, without overflow.
bool Inside(DWORD dwSize, DWORD dwAt, DWORD cb)
{
    return dwAt <= dwSize && cb <= dwSize - dwAt;
}

void CopyName(char* szName, const BYTE* pName)
{
    UINT i = 0;
    for (; i + 1 < kPeNameChars && pName[i] != 0; ++i)
        szName[i] = pName[i] >= 0x20 && pName[i] < 0x7F ? static_cast<char>(pName[i]) : '?';
    szName[i] = 0;
}
} // namespace

int ReadPeLayout(const BYTE* pView, DWORD dwSize, PeLayout& layout, PeSection* pSections, UINT cMax)
{
    layout.wMachine = 0;
    layout.dwHeadersEnd = 0;
    layout.cSections = 0;
    if (pView == nullptr || !Inside(dwSize, 0, kLfanewOffset + 4) || ReadLe16(pView) != 0x5A4D)
        return 0;
    DWORD dwPe = ReadLe32(pView + kLfanewOffset);
    if (!Inside(dwSize, dwPe, 4 + kFileHeaderBytes) || ReadLe32(pView + dwPe) != 0x4550)
        return 0;
    const BYTE* pFileHeader = pView + dwPe + 4;
    layout.wMachine = static_cast<WORD>(ReadLe16(pFileHeader));
    DWORD cTable = ReadLe16(pFileHeader + 2);
    DWORD cbOptional = ReadLe16(pFileHeader + 16);
    DWORD dwOptional = dwPe + 4 + kFileHeaderBytes; // cannot overflow: checked above
    DWORD dwHeadersEnd = 0;
    if (cbOptional >= kSizeOfHeadersOffset + 4 && Inside(dwSize, dwOptional, kSizeOfHeadersOffset + 4))
        dwHeadersEnd = ReadLe32(pView + dwOptional + kSizeOfHeadersOffset);
    if (!Inside(dwSize, dwOptional, cbOptional))
        return 0;
    DWORD dwTable = dwOptional + cbOptional;
    DWORD dwLowest = dwSize;
    UINT n = 0;
    for (DWORD i = 0; i < cTable && Inside(dwSize, dwTable + i * kSectionBytes, kSectionBytes); ++i)
    {
        const BYTE* pEntry = pView + dwTable + i * kSectionBytes;
        DWORD dwRawSize = ReadLe32(pEntry + 16);
        DWORD dwRawOffset = ReadLe32(pEntry + 20);
        if (dwRawOffset > dwSize)
            dwRawOffset = dwSize;
        if (dwRawSize > dwSize - dwRawOffset)
            dwRawSize = dwSize - dwRawOffset;
        if (dwRawSize > 0 && dwRawOffset < dwLowest)
            dwLowest = dwRawOffset;
        if (n < cMax)
        {
            CopyName(pSections[n].szName, pEntry);
            pSections[n].dwRawOffset = dwRawOffset;
            pSections[n].dwRawSize = dwRawSize;
        }
        ++n;
    }
    // The headers reach at least over the section table itself.
    DWORD dwTableEnd = dwTable + n * kSectionBytes;
    if (dwHeadersEnd == 0 || dwHeadersEnd > dwLowest)
        dwHeadersEnd = dwLowest;
    if (dwHeadersEnd < dwTableEnd)
        dwHeadersEnd = dwTableEnd;
    layout.dwHeadersEnd = dwHeadersEnd < dwSize ? dwHeadersEnd : dwSize;
    layout.cSections = n;
    return 1;
}

int FindPeSection(const PeLayout& layout, const PeSection* pSections, UINT cSections, DWORD dwOffset)
{
    for (UINT i = 0; i < cSections; ++i)
        if (dwOffset >= pSections[i].dwRawOffset &&
            dwOffset - pSections[i].dwRawOffset < pSections[i].dwRawSize)
            return static_cast<int>(i);
    return dwOffset < layout.dwHeadersEnd ? kInHeaders : kOutsideSections;
}
