// The headers of a PE image, read once: where each field lies in the file,
// the section table with its long names, the data directories, the bitness,
// and the loader's mapping of an RVA to file bytes. The image map, the
// resource tree, the rebuild and the commands all read the headers here.
#pragma once

#include "pe/pe_format.h"

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

const UINT kPeExportDirectory = 0;
const UINT kPeImportDirectory = 1;
const UINT kPeResourceDirectory = 2;
const UINT kPeSecurityDirectory = 4;
const UINT kPeRelocationDirectory = 5;
const UINT kPeDebugDirectory = 6;
const UINT kPeDirectoryCount = 16;

// Offsets within the optional header, the same for PE32 and PE32+.
const DWORD kOptSizeOfInitializedData = 8;
const DWORD kOptEntryPoint = 16;
const DWORD kOptSectionAlignment = 32;
const DWORD kOptFileAlignment = 36;
const DWORD kOptSizeOfImage = 56;
const DWORD kOptSizeOfHeaders = 60;
const DWORD kOptCheckSum = 64;

const DWORD kCoffSymbolBytes = 18;

// The extent the loader gives a section in memory: VirtualSize, or the raw
// size when that is zero.
inline DWORD SectionVirtualSize(const PeSectionHeader& s)
{
    return s.dwVirtualSize != 0 ? s.dwVirtualSize : s.dwRawSize;
}

// "i386", "AMD64", ... or the Machine value in hex ("0x01F0").
std::string MachineName(WORD wMachine);

struct PeHeaders
{
    const BYTE* pView = nullptr; // the file read; it must outlive the headers
    DWORD dwSize = 0;
    DWORD dwFileHeader = 0; // behind "PE\0\0"
    PeFileHeader fh = {};
    DWORD dwOptional = 0;
    bool f64 = false; // PE32+, by the optional header's magic
    DWORD dwSectionAlignment = 0;
    DWORD dwFileAlignment = 0;
    DWORD dwSizeOfImage = 0;
    DWORD dwSizeOfHeaders = 0;
    DWORD dwCheckSum = 0;
    DWORD dwEntryPoint = 0;
    unsigned long long ullImageBase = 0;
    DWORD dwDirectories = 0; // file offset of the first data directory
    std::vector<PeDataDirectory> directories;
    DWORD dwSectionTable = 0;
    std::vector<PeSectionHeader> sections; // as in the table
    std::vector<std::string> sectionNames; // printable ASCII, '?' for other bytes; "/29" resolved
    DWORD dwHeadersEnd =
        0; // SizeOfHeaders or the lowest section start, at least the table's end, cut to the file
    // Why the headers are not whole (an optional header too short for its
    // directories, a section table cut by the end of the file), else empty:
    // what was read can be mapped, but nothing may be rebuilt from it.
    std::string sIncomplete;

    // 1 for a PE image: DOS header, signature, file header and optional
    // header inside the file, the optional header PE32 or PE32+ as its
    // machine runs; the sections whose table entries lie inside the file.
    // Else 0 with sReason saying what the file is ("is no PE image (no MZ
    // header)"). Every read goes through CImageBytes.
    int Read(const BYTE* pViewIn, DWORD dwSizeIn, std::string& sReason);

    CImageBytes Bytes() const { return CImageBytes(pView, 0, dwSize); }
    DWORD CheckSumField() const { return dwOptional + kOptCheckSum; }
    // A section's raw data as the file holds it: [offset, offset + size) cut to the file.
    DWORD RawOffset(size_t i) const;
    DWORD RawSize(size_t i) const;

    // The file offset of an RVA and the bytes from there to the end of its
    // section's raw data (or of the headers); false when no file byte holds
    // it. A section answers for its virtual extent, or its raw data where
    // that is longer; raw data is read from the sector the pointer lies in,
    // as the loader reads it.
    bool RvaToOffset(DWORD dwRva, DWORD& dwOffset, DWORD& cbAvailable) const;
    // The RVA the loader maps a file byte to: one in a section's raw data and
    // inside its virtual extent; false for the headers, the bytes behind a
    // section's virtual extent and appended data.
    bool OffsetToRva(DWORD dwOffset, DWORD& dwRva) const;
    // The index of the section whose virtual extent holds the RVA, else -1.
    int SectionOfRva(DWORD dwRva) const;
    // Where directory i lies in the file, cut to the bytes there; false when
    // the image has none or it lies outside the file.
    bool DirectoryInFile(UINT i, DWORD& dwOffset, DWORD& cb) const;

  private:
    void ReadSectionTable(const CImageBytes& bytes);
    // The raw ranges in the order of their virtual addresses, for lookups.
    std::vector<UINT> m_byAddress;
};
