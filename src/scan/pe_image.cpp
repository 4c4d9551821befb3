#include "scan/pe_image.h"

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
    PeHeaders headers;
    std::string sReason;
    return headers.Read(pView, dwSize, sReason) ? "is no PE image that can be read" : sReason;
}

std::string PeImage::RegionOf(DWORD dwOffset) const
{
    return map.RegionOf(dwOffset);
}

std::string PeImage::MachineName() const
{
    return ::MachineName(layout.wMachine);
}
