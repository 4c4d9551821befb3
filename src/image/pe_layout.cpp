#include "image/pe_layout.h"

namespace
{
const WORD kDosMagic = 0x5A4D;
const DWORD kPeSignature = 0x4550;
const WORD kOptionalMagic32 = 0x10B;
const WORD kOptionalMagic64 = 0x20B;
const DWORD kDirectoriesField32 = 96; // NumberOfRvaAndSizes is the DWORD before
const DWORD kDirectoriesField64 = 112;
const DWORD kMaxDirectories = 16;
const DWORD kLoaderSectorBytes = 0x200;
} // namespace

int ReadPeLayout(const BYTE* pView, DWORD dwSize, PeLayout& layout, std::string& sReason)
{
    layout = PeLayout();
    layout.dwSize = pView != nullptr ? dwSize : 0;
    CImageBytes bytes(pView, 0, layout.dwSize);
    PeDosHeader dos;
    DWORD dwSignature = 0;
    WORD wMagic = 0;
    if (!bytes.ReadStruct(0, dos) || dos.wMagic != kDosMagic || !bytes.Read32(dos.dwLfanew, dwSignature) ||
        dwSignature != kPeSignature || !bytes.ReadStruct(dos.dwLfanew + 4, layout.fh))
    {
        sReason = "not a PE image";
        return 0;
    }
    layout.dwFileHeader = dos.dwLfanew + 4;
    layout.dwOptional = layout.dwFileHeader + sizeof(PeFileHeader);
    WORD cbOptional = layout.fh.cbOptionalHeader;
    if (!bytes.Holds(layout.dwOptional, cbOptional) || !bytes.Read16(layout.dwOptional, wMagic) ||
        (wMagic != kOptionalMagic32 && wMagic != kOptionalMagic64))
    {
        sReason = "not a PE image (no optional header)";
        return 0;
    }
    layout.f64 = wMagic == kOptionalMagic64;
    DWORD dwDirectoriesField = layout.f64 ? kDirectoriesField64 : kDirectoriesField32;
    DWORD cDirectories = 0;
    if (cbOptional < dwDirectoriesField)
    {
        sReason = "the optional header is too short";
        return 0;
    }
    bytes.Read32(layout.dwOptional + kOptSectionAlignment, layout.dwSectionAlignment);
    bytes.Read32(layout.dwOptional + kOptFileAlignment, layout.dwFileAlignment);
    bytes.Read32(layout.dwOptional + kOptSizeOfImage, layout.dwSizeOfImage);
    bytes.Read32(layout.dwOptional + kOptSizeOfHeaders, layout.dwSizeOfHeaders);
    bytes.Read32(layout.dwOptional + kOptCheckSum, layout.dwCheckSum);
    bytes.Read32(layout.dwOptional + kOptEntryPoint, layout.dwEntryPoint);
    bytes.Read32(layout.dwOptional + dwDirectoriesField - 4, cDirectories);
    if (cDirectories > kMaxDirectories)
        cDirectories = kMaxDirectories;
    if (cDirectories > (cbOptional - dwDirectoriesField) / sizeof(PeDataDirectory))
        cDirectories = (cbOptional - dwDirectoriesField) / sizeof(PeDataDirectory);
    layout.dwDirectories = layout.dwOptional + dwDirectoriesField;
    layout.directories.resize(cDirectories);
    for (DWORD i = 0; i < cDirectories; ++i)
        bytes.ReadStruct(layout.dwDirectories + i * sizeof(PeDataDirectory), layout.directories[i]);

    layout.dwSectionTable = layout.dwOptional + cbOptional;
    if (!bytes.Holds(layout.dwSectionTable,
                     layout.fh.cSections * static_cast<DWORD>(sizeof(PeSectionHeader))))
    {
        sReason = "the section table lies outside the file";
        return 0;
    }
    layout.sections.resize(layout.fh.cSections);
    for (DWORD i = 0; i < layout.fh.cSections; ++i)
        bytes.ReadStruct(layout.dwSectionTable + i * sizeof(PeSectionHeader), layout.sections[i]);
    return 1;
}

int PeLayout::SectionOfRva(DWORD dwRva) const
{
    for (size_t i = 0; i < sections.size(); ++i)
        if (dwRva - sections[i].dwVirtualAddress < SectionVirtualSize(sections[i]))
            return static_cast<int>(i);
    return -1;
}

bool PeLayout::RvaToOffset(DWORD dwRva, DWORD& dwOffset, DWORD& cbAvailable) const
{
    int i = SectionOfRva(dwRva);
    if (i < 0)
    {
        DWORD dwHeadersEnd = dwSizeOfHeaders < dwSize ? dwSizeOfHeaders : dwSize;
        if (dwRva >= dwHeadersEnd)
            return false;
        dwOffset = dwRva;
        cbAvailable = dwHeadersEnd - dwRva;
        return true;
    }
    const PeSectionHeader& s = sections[i];
    // The loader reads raw data from the sector the pointer lies in.
    DWORD dwRaw =
        dwFileAlignment >= kLoaderSectorBytes ? s.dwRawOffset & ~(kLoaderSectorBytes - 1) : s.dwRawOffset;
    if (dwRaw >= dwSize)
        return false;
    unsigned long long cbRaw = s.dwRawSize + static_cast<unsigned long long>(s.dwRawOffset - dwRaw);
    if (cbRaw > dwSize - dwRaw)
        cbRaw = dwSize - dwRaw;
    DWORD dwInto = dwRva - s.dwVirtualAddress;
    if (dwInto >= cbRaw)
        return false;
    dwOffset = dwRaw + dwInto;
    cbAvailable = static_cast<DWORD>(cbRaw - dwInto);
    return true;
}
