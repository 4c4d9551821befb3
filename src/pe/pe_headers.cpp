#include "pe/pe_headers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace
{
const WORD kDosMagic = 0x5A4D;
const DWORD kLfanewField = 0x3C;
const DWORD kPeSignature = 0x4550;
const WORD kOptionalMagic32 = 0x10B;
const WORD kOptionalMagic64 = 0x20B;
const DWORD kDirectoriesField32 = 96; // NumberOfRvaAndSizes is the DWORD before
const DWORD kDirectoriesField64 = 112;
const DWORD kLoaderSectorBytes = 0x200;
const DWORD kLongNameChars = 256; // a bound for a long section name with no terminator in the file
const UINT kRangeCandidates = 8;

const WORD kMachineI386 = 0x014C, kMachineArm = 0x01C0, kMachineThumb = 0x01C2, kMachineArmNt = 0x01C4;
const WORD kMachineAmd64 = 0x8664, kMachineArm64 = 0xAA64, kMachineIa64 = 0x0200;

// Whether the machine is one whose images are always PE32 (1), always PE32+ (2), or either (0).
int MachineBitness(WORD wMachine)
{
    switch (wMachine)
    {
    case kMachineI386:
    case kMachineArm:
    case kMachineThumb:
    case kMachineArmNt:
        return 1;
    case kMachineAmd64:
    case kMachineArm64:
    case kMachineIa64:
        return 2;
    }
    return 0;
}

std::string Printable(const BYTE* pb, size_t cb)
{
    std::string s;
    for (size_t i = 0; i < cb && pb[i] != 0; ++i)
        s += pb[i] >= 0x20 && pb[i] < 0x7F ? static_cast<char>(pb[i]) : '?';
    return s;
}

// "/29" names the text at offset 29 of the COFF string table, behind the symbol table.
std::string LongName(const CImageBytes& bytes, const PeFileHeader& fh, const std::string& sName)
{
    if (sName.size() < 2 || sName[0] != '/' ||
        sName.find_first_not_of("0123456789", 1) != std::string::npos || fh.dwSymbolTable == 0)
        return sName;
    unsigned long long uAt = fh.dwSymbolTable +
                             static_cast<unsigned long long>(fh.cSymbols) * kCoffSymbolBytes +
                             std::strtoull(sName.c_str() + 1, nullptr, 10);
    std::string sLong;
    for (unsigned long long u = uAt;
         u < bytes.End() && bytes.At(static_cast<DWORD>(u)) != 0 && sLong.size() < kLongNameChars; ++u)
    {
        BYTE b = bytes.At(static_cast<DWORD>(u));
        sLong += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '?';
    }
    return sLong.empty() ? sName : sLong;
}
} // namespace

std::string MachineName(WORD wMachine)
{
    switch (wMachine)
    {
    case kMachineI386:
        return "i386";
    case kMachineAmd64:
        return "AMD64";
    case kMachineArm64:
        return "ARM64";
    case kMachineArmNt:
        return "ARMNT";
    case kMachineIa64:
        return "IA64";
    }
    char sz[16];
    std::snprintf(sz, sizeof(sz), "0x%04X", static_cast<unsigned>(wMachine));
    return sz;
}

int PeHeaders::Read(const BYTE* pViewIn, DWORD dwSizeIn, std::string& sReason)
{
    *this = PeHeaders();
    pView = pViewIn;
    dwSize = pViewIn != nullptr ? dwSizeIn : 0;
    CImageBytes bytes = Bytes();
    WORD wDosMagic = 0, wMagic = 0;
    DWORD dwLfanew = 0, dwSignature = 0;
    if (!bytes.Read16(0, wDosMagic) || !bytes.Read32(kLfanewField, dwLfanew) || wDosMagic != kDosMagic)
        sReason = "is no PE image (no MZ header)";
    else if (!bytes.Read32(dwLfanew, dwSignature) || dwSignature != kPeSignature)
        sReason = "is no PE image (its MZ header leads to no PE signature)";
    else if (!bytes.ReadStruct(dwLfanew + 4, fh))
        sReason = "is a PE image cut short in its file header";
    else if (!bytes.Holds(dwLfanew + 4 + sizeof(PeFileHeader), fh.cbOptionalHeader))
        sReason = "is a PE image cut short in its optional header (" + std::to_string(fh.cbOptionalHeader) +
                  " bytes, the file ends before)";
    else if (!bytes.Read16(dwLfanew + 4 + sizeof(PeFileHeader), wMagic) || fh.cbOptionalHeader < 2 ||
             (wMagic != kOptionalMagic32 && wMagic != kOptionalMagic64))
        sReason = "is a PE image whose optional header is neither PE32 nor PE32+";
    if (!sReason.empty())
        return 0;
    dwFileHeader = dwLfanew + 4;
    dwOptional = dwFileHeader + sizeof(PeFileHeader);
    f64 = wMagic == kOptionalMagic64;
    int iBitness = MachineBitness(fh.wMachine);
    if (iBitness != 0 && iBitness != (f64 ? 2 : 1))
    {
        sReason = std::string("is a PE image whose optional header is ") + (f64 ? "PE32+" : "PE32") +
                  " while its machine is " + MachineName(fh.wMachine);
        return 0;
    }
    // Fields past a short optional header stay zero; such an image can be
    // mapped, not rebuilt.
    const DWORD dwDirectoriesField = f64 ? kDirectoriesField64 : kDirectoriesField32;
    const DWORD cbOptional = fh.cbOptionalHeader;
    auto Field = [&](DWORD dwField, DWORD& dw) {
        if (dwField + 4 <= cbOptional)
            bytes.Read32(dwOptional + dwField, dw);
    };
    Field(kOptSectionAlignment, dwSectionAlignment);
    Field(kOptFileAlignment, dwFileAlignment);
    Field(kOptSizeOfImage, dwSizeOfImage);
    Field(kOptSizeOfHeaders, dwSizeOfHeaders);
    Field(kOptCheckSum, dwCheckSum);
    Field(kOptEntryPoint, dwEntryPoint);
    // PE32 keeps BaseOfData where PE32+ has the high half of ImageBase.
    DWORD dwBaseLow = 0, dwBaseHigh = 0;
    Field(f64 ? 24 : 28, dwBaseLow);
    if (f64)
        Field(28, dwBaseHigh);
    ullImageBase = static_cast<unsigned long long>(dwBaseHigh) << 32 | dwBaseLow;
    dwDirectories = dwOptional + dwDirectoriesField;
    DWORD cDirectories = 0;
    if (cbOptional < dwDirectoriesField)
        sIncomplete = "the optional header is too short";
    else
        Field(dwDirectoriesField - 4, cDirectories);
    if (cbOptional >= dwDirectoriesField)
        cDirectories = std::min<DWORD>(
            {cDirectories, kPeDirectoryCount,
             (cbOptional - dwDirectoriesField) / static_cast<DWORD>(sizeof(PeDataDirectory))});
    directories.resize(cDirectories);
    for (DWORD i = 0; i < cDirectories; ++i)
        bytes.ReadStruct(dwDirectories + i * sizeof(PeDataDirectory), directories[i]);
    dwSectionTable = dwOptional + cbOptional;
    ReadSectionTable(bytes);
    return 1;
}

void PeHeaders::ReadSectionTable(const CImageBytes& bytes)
{
    DWORD dwLowest = dwSize;
    for (DWORD i = 0; i < fh.cSections; ++i)
    {
        PeSectionHeader header;
        if (!bytes.ReadStruct(dwSectionTable + i * sizeof(PeSectionHeader), header))
        {
            if (sIncomplete.empty())
                sIncomplete = "the section table lies outside the file";
            break;
        }
        sections.push_back(header);
        sectionNames.push_back(
            LongName(bytes, fh, Printable(sections[i].abName, sizeof(sections[i].abName))));
        if (RawSize(i) > 0 && RawOffset(i) < dwLowest)
            dwLowest = RawOffset(i);
        m_byAddress.push_back(i);
    }
    std::stable_sort(m_byAddress.begin(), m_byAddress.end(), [this](UINT a, UINT b) {
        return sections[a].dwVirtualAddress < sections[b].dwVirtualAddress;
    });
    dwHeadersEnd = dwSizeOfHeaders != 0 && dwSizeOfHeaders < dwLowest ? dwSizeOfHeaders : dwLowest;
    DWORD dwTableEnd = dwSectionTable + static_cast<DWORD>(sections.size() * sizeof(PeSectionHeader));
    dwHeadersEnd = std::min(std::max(dwHeadersEnd, dwTableEnd), dwSize);
}

DWORD PeHeaders::RawOffset(size_t i) const
{
    return std::min(sections[i].dwRawOffset, dwSize);
}

DWORD PeHeaders::RawSize(size_t i) const
{
    return std::min(sections[i].dwRawSize, dwSize - RawOffset(i));
}

bool PeHeaders::RvaToOffset(DWORD dwRva, DWORD& dwOffset, DWORD& cbAvailable) const
{
    // The sections nearest below the RVA; sections overlap only in malformed
    // images, and there a few candidates are enough.
    auto it = std::upper_bound(m_byAddress.begin(), m_byAddress.end(), dwRva,
                               [this](DWORD dw, UINT i) { return dw < sections[i].dwVirtualAddress; });
    for (UINT cTried = 0; it != m_byAddress.begin() && cTried < kRangeCandidates; ++cTried)
    {
        const PeSectionHeader& s = sections[*--it];
        DWORD dwInto = dwRva - s.dwVirtualAddress;
        if (dwInto >= std::max(SectionVirtualSize(s), s.dwRawSize))
            continue;
        DWORD dwRaw =
            dwFileAlignment >= kLoaderSectorBytes ? s.dwRawOffset & ~(kLoaderSectorBytes - 1) : s.dwRawOffset;
        dwRaw = std::min(dwRaw, dwSize);
        unsigned long long cbRaw =
            s.dwRawSize + static_cast<unsigned long long>(s.dwRawOffset - std::min(s.dwRawOffset, dwRaw));
        cbRaw = std::min<unsigned long long>(cbRaw, dwSize - dwRaw);
        if (dwInto >= cbRaw)
            return false;
        dwOffset = dwRaw + dwInto;
        cbAvailable = static_cast<DWORD>(cbRaw - dwInto);
        return true;
    }
    if (dwRva >= dwHeadersEnd)
        return false;
    dwOffset = dwRva;
    cbAvailable = dwHeadersEnd - dwRva;
    return true;
}

int PeHeaders::SectionOfRva(DWORD dwRva) const
{
    for (size_t i = 0; i < sections.size(); ++i)
        if (dwRva - sections[i].dwVirtualAddress < SectionVirtualSize(sections[i]))
            return static_cast<int>(i);
    return -1;
}

bool PeHeaders::OffsetToRva(DWORD dwOffset, DWORD& dwRva) const
{
    for (size_t i = 0; i < sections.size(); ++i)
    {
        const DWORD dwDelta = dwOffset - RawOffset(i);
        if (RawSize(i) != 0 && dwDelta < RawSize(i) && dwDelta < SectionVirtualSize(sections[i]))
        {
            dwRva = sections[i].dwVirtualAddress + dwDelta;
            return true;
        }
    }
    return false;
}

bool PeHeaders::DirectoryInFile(UINT i, DWORD& dwOffset, DWORD& cb) const
{
    if (i >= directories.size() || directories[i].dwRva == 0 ||
        !RvaToOffset(directories[i].dwRva, dwOffset, cb))
        return false;
    cb = std::min(cb, directories[i].cb);
    return true;
}
