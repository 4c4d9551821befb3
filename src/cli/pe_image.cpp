#include "cli/pe_image.h"

#include <cstdio>

void PeImage::Load(const BYTE* pView, DWORD dwSize)
{
    sections.clear();
    pe = ReadPeLayout(pView, dwSize, layout, nullptr, 0) != 0;
    if (!pe)
        return;
    sections.resize(layout.cSections);
    ReadPeLayout(pView, dwSize, layout, sections.data(), static_cast<UINT>(sections.size()));
}

std::string PeImage::RegionOf(DWORD dwOffset) const
{
    if (!pe)
        return std::string();
    int i = FindPeSection(layout, sections.data(), static_cast<UINT>(sections.size()), dwOffset);
    if (i == kInHeaders)
        return "headers";
    if (i == kOutsideSections)
        return "overlay";
    return sections[static_cast<size_t>(i)].szName;
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
