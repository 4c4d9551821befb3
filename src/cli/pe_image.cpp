#include "cli/pe_image.h"

#include <cstdio>

namespace
{
const DWORD kLfanewOffset = 0x3C;
const DWORD kFileHeaderBytes = 20;
const DWORD kSymbolBytes = 18;
const DWORD kLongNameChars = 256; // a bound for a name with no terminator in the file

DWORD ReadLe(const BYTE* p, UINT cb)
{
    DWORD v = 0;
    for (UINT i = cb; i-- > 0;)
        v = v << 8 | p[i];
    return v;
}

bool Inside(DWORD dwSize, DWORD dwAt, DWORD cb)
{
    return dwAt <= dwSize && cb <= dwSize - dwAt;
}

// "/29" names the text at offset 29 of the COFF string table, which follows
// the symbol table; the name as it stands when it cannot be read there.
std::string LongName(const BYTE* pView, DWORD dwSize, const std::string& sName)
{
    if (sName.size() < 2 || sName[0] != '/' || sName.find_first_not_of("0123456789", 1) != std::string::npos)
        return sName;
    unsigned long long uOffset = std::stoull(sName.substr(1));
    DWORD dwFileHeader = ReadLe(pView + kLfanewOffset, 4) + 4;
    DWORD dwSymbols = ReadLe(pView + dwFileHeader + 8, 4);
    unsigned long long uAt =
        dwSymbols + static_cast<unsigned long long>(ReadLe(pView + dwFileHeader + 12, 4)) * kSymbolBytes +
        uOffset;
    if (dwSymbols == 0 || uAt >= dwSize)
        return sName;
    std::string sLong;
    for (DWORD i = static_cast<DWORD>(uAt); i < dwSize && pView[i] != 0 && sLong.size() < kLongNameChars; ++i)
        sLong += pView[i] >= 0x20 && pView[i] < 0x7F ? static_cast<char>(pView[i]) : '?';
    return sLong.empty() ? sName : sLong;
}
} // namespace

void PeImage::Load(const BYTE* pView, DWORD dwSize)
{
    sections.clear();
    names.clear();
    pe = ReadPeLayout(pView, dwSize, layout, nullptr, 0) != 0;
    if (!pe)
        return;
    sections.resize(layout.cSections);
    ReadPeLayout(pView, dwSize, layout, sections.data(), static_cast<UINT>(sections.size()));
    for (const PeSection& section : sections)
        names.push_back(LongName(pView, dwSize, section.szName));
}

std::string NoPeReason(const BYTE* pView, DWORD dwSize)
{
    if (!Inside(dwSize, 0, kLfanewOffset + 4) || pView[0] != 'M' || pView[1] != 'Z')
        return "is no PE image (no MZ header)";
    DWORD dwPe = ReadLe(pView + kLfanewOffset, 4);
    if (!Inside(dwSize, dwPe, 4) || ReadLe(pView + dwPe, 4) != 0x4550)
        return "is no PE image (its MZ header leads to no PE signature)";
    if (!Inside(dwSize, dwPe + 4, kFileHeaderBytes))
        return "is a PE image cut short in its file header";
    DWORD cbOptional = ReadLe(pView + dwPe + 4 + 16, 2);
    if (!Inside(dwSize, dwPe + 4 + kFileHeaderBytes, cbOptional))
        return "is a PE image cut short in its optional header (" + std::to_string(cbOptional) +
               " bytes, the file ends before)";
    return "is no PE image that can be read";
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
