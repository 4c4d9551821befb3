#include "scan/pe_image.h"

#include <cstdio>

namespace
{
const DWORD kLfanewOffset = 0x3C;
const DWORD kFileHeaderBytes = 20;
const DWORD kOptionalSizeField = 16; // within the file header
} // namespace

void PeImage::Load(const BYTE* pView, DWORD dwSize)
{
    sections.clear();
    names.clear();
    pe = map.Load(pView, dwSize) != 0;
    layout = {map.Machine(), map.HeadersEnd(), static_cast<UINT>(map.Sections().size())};
    for (const ImageSection& section : map.Sections())
    {
        sections.push_back({section.dwRawOffset, section.dwRawSize});
        names.push_back(section.sName);
    }
}

std::string NoPeReason(const BYTE* pView, DWORD dwSize)
{
    CImageBytes bytes(pView, 0, pView != nullptr ? dwSize : 0);
    WORD wMagic = 0, cbOptional = 0;
    DWORD dwPe = 0, dwSignature = 0;
    if (!bytes.Read16(0, wMagic) || !bytes.Read32(kLfanewOffset, dwPe) || wMagic != 0x5A4D)
        return "is no PE image (no MZ header)";
    if (!bytes.Read32(dwPe, dwSignature) || dwSignature != 0x4550)
        return "is no PE image (its MZ header leads to no PE signature)";
    if (!bytes.Holds(dwPe + 4, kFileHeaderBytes))
        return "is a PE image cut short in its file header";
    bytes.Read16(dwPe + 4 + kOptionalSizeField, cbOptional);
    if (!bytes.Holds(dwPe + 4 + kFileHeaderBytes, cbOptional))
        return "is a PE image cut short in its optional header (" + std::to_string(cbOptional) +
               " bytes, the file ends before)";
    return "is no PE image that can be read";
}

std::string PeImage::RegionOf(DWORD dwOffset) const
{
    if (!pe)
        return std::string();
    int i = map.SectionIndexOf(dwOffset);
    if (i == kImageInHeaders)
        return "headers";
    if (i == kImageOutsideSections)
        return "overlay";
    return names[static_cast<size_t>(i)];
}

std::string PeImage::MachineName() const
{
    switch (layout.wMachine)
    {
    case 0x014C:
        return "i386";
    case 0x8664:
        return "AMD64";
    case 0xAA64:
        return "ARM64";
    case 0x01C4:
        return "ARMNT";
    case 0x0200:
        return "IA64";
    }
    char sz[16];
    std::snprintf(sz, sizeof(sz), "0x%04X", static_cast<unsigned>(layout.wMachine));
    return sz;
}

std::string RegionNote(const std::string& sRegion)
{
    if (sRegion == "headers")
        return "PE headers: overwriting them damages the image";
    if (sRegion == ".text")
        return "code section: may be instructions rather than text";
    if (sRegion == ".rsrc")
        return "resources: the program may not show this copy";
    return std::string();
}
