// The headers of a PE image as the resource reader and the rebuild need them:
// where each field lies in the file, the section table and the data
// directories, and the loader's mapping of an RVA to file bytes.
#pragma once

#include "image/pe_format.h"

#include <string>
#include <vector>

// Little-endian stores into a buffer the caller has sized.
inline void Put16(std::vector<BYTE>& out, DWORD dwAt, DWORD v)
{
    out[dwAt] = static_cast<BYTE>(v);
    out[dwAt + 1] = static_cast<BYTE>(v >> 8);
}
inline void Put32(std::vector<BYTE>& out, DWORD dwAt, DWORD v)
{
    Put16(out, dwAt, v & 0xFFFF);
    Put16(out, dwAt + 2, v >> 16);
}

const UINT kPeResourceDirectory = 2;
const UINT kPeSecurityDirectory = 4;
const UINT kPeRelocationDirectory = 5;
const UINT kPeDebugDirectory = 6;

struct PeLayout
{
    DWORD dwSize;
    DWORD dwFileHeader; // behind "PE\0\0"
    PeFileHeader fh;
    DWORD dwOptional;
    bool f64;
    DWORD dwSectionAlignment;
    DWORD dwFileAlignment;
    DWORD dwSizeOfImage;
    DWORD dwSizeOfHeaders;
    DWORD dwCheckSum;
    DWORD dwEntryPoint;
    DWORD dwDirectories; // file offset of the first data directory
    std::vector<PeDataDirectory> directories;
    DWORD dwSectionTable;
    std::vector<PeSectionHeader> sections;

    // The file offset of an RVA and the bytes from there to the end of its
    // section's raw data (or of the headers); false when no file byte holds it.
    bool RvaToOffset(DWORD dwRva, DWORD& dwOffset, DWORD& cbAvailable) const;
    // The index of the section whose virtual range holds the RVA, else -1.
    int SectionOfRva(DWORD dwRva) const;
};

// Offsets within the optional header, the same for PE32 and PE32+.
const DWORD kOptSizeOfInitializedData = 8;
const DWORD kOptEntryPoint = 16;
const DWORD kOptSectionAlignment = 32;
const DWORD kOptFileAlignment = 36;
const DWORD kOptSizeOfImage = 56;
const DWORD kOptSizeOfHeaders = 60;
const DWORD kOptCheckSum = 64;

// 1 for a PE image whose headers and section table lie inside the file;
// 0 with a reason otherwise. Every read goes through CImageBytes.
int ReadPeLayout(const BYTE* pView, DWORD dwSize, PeLayout& layout, std::string& sReason);

// The virtual size the loader maps for a section (VirtualSize, or the raw
// size when that is zero).
inline DWORD SectionVirtualSize(const PeSectionHeader& s)
{
    return s.dwVirtualSize != 0 ? s.dwVirtualSize : s.dwRawSize;
}
