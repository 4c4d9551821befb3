// Where an offset of a target lies: a named section, the PE headers, or
// outside the sections; nothing for a file that is no PE image. A view of the
// image map for the commands.
#pragma once

#include "image/image_map.h"

#include <string>
#include <vector>

struct PeSection
{
    DWORD dwRawOffset;
    DWORD dwRawSize; // cut to the end of the file
};

struct PeLayout
{
    WORD wMachine;
    DWORD dwHeadersEnd; // SizeOfHeaders, or the lowest section start, cut to the file
    UINT cSections;     // sections in the table that lie inside the file
};

struct PeImage
{
    bool pe;
    PeLayout layout;
    std::vector<PeSection> sections;
    std::vector<std::string> names; // of the sections, long ones ("/29") from the COFF string table
    CImageMap map;

    void Load(const BYTE* pView, DWORD dwSize);
    // ".rdata", "headers", "overlay" (outside every section), or "" for no PE image.
    std::string RegionOf(DWORD dwOffset) const;
    // "i386", "AMD64", ... or the Machine value in hex.
    std::string MachineName() const;
};

// Why a file that Load finds no PE image is none, in words.
std::string NoPeReason(const BYTE* pView, DWORD dwSize);
