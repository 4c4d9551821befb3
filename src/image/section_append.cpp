#include "image/section_append.h"

#include <algorithm>
#include <cstring>

namespace
{
const DWORD kMaxFileAlignment = 0x10000;
const size_t kMaxSections = 96; // the most the loader maps; an image with more is "Bad EXE format"

// Section names of the executable packers seen in the wild; their
// sections are compressed or stubs, and a rewrite would break the unpacker.
const char* const kPackerNames[] = {"UPX",      ".UPX",     "MPRESS",  ".aspack", ".adata",
                                    "PEC2",     ".petite",  ".nsp",    "nsp",     ".MPRESS",
                                    "pebundle", "PEBundle", ".packed", ".RLPack", "PELOCKnt"};

bool PowerOfTwo(DWORD dw)
{
    return dw != 0 && (dw & (dw - 1)) == 0;
}

bool PackerName(const PeSectionHeader& s)
{
    for (const char* szName : kPackerNames)
    {
        size_t cch = std::strlen(szName);
        if (cch <= sizeof(s.abName) && std::memcmp(s.abName, szName, cch) == 0)
            return true;
    }
    return false;
}

} // namespace

unsigned long long AlignUp(unsigned long long u, DWORD dwAlignment)
{
    return (u + dwAlignment - 1) / dwAlignment * dwAlignment;
}

// The image checksum as imagehlp computes it: the 16-bit words of the file
// (the checksum field counted as zero, an odd last byte as a word) summed with
// the carry folded back, plus the file's length.
DWORD PeCheckSum(const std::vector<BYTE>& image, DWORD dwCheckSumField)
{
    unsigned long long uSum = 0;
    size_t cb = image.size();
    for (size_t i = 0; i < cb; i += 2)
    {
        if (i == dwCheckSumField || i == dwCheckSumField + 2)
            continue;
        DWORD w = image[i] | (i + 1 < cb ? static_cast<DWORD>(image[i + 1]) << 8 : 0);
        uSum += w;
        uSum = (uSum & 0xFFFF) + (uSum >> 16);
    }
    uSum = (uSum & 0xFFFF) + (uSum >> 16);
    return static_cast<DWORD>(uSum + cb);
}

// The end of the raw data of every section, the file offset where appended
// data (an overlay) begins.
DWORD RawEnd(const PeHeaders& layout)
{
    DWORD dwEnd = layout.dwSizeOfHeaders < layout.dwSize ? layout.dwSizeOfHeaders : layout.dwSize;
    for (const PeSectionHeader& s : layout.sections)
        if (s.dwRawSize != 0 && s.dwRawOffset + s.dwRawSize > dwEnd)
            dwEnd = s.dwRawOffset + s.dwRawSize;
    return dwEnd;
}

// Whether the bytes from dwFrom to dwTo (behind the sections) are only what no
// program looks for there: the COFF symbol table a linker leaves, with its
// string table, and zeros. Anything else may be a payload its program finds
// by the end of the last section, which a new section would move.
bool OverlayIsSymbolsOnly(const BYTE* pView, const PeHeaders& layout, DWORD dwFrom, DWORD dwTo)
{
    unsigned long long uSymbols = layout.fh.dwSymbolTable, uSymbolsEnd = uSymbols;
    unsigned long long uStrings = uSymbols + 18ull * layout.fh.cSymbols;
    if (uSymbols != 0 && uStrings + 4 <= dwTo)
    {
        DWORD cbStrings = 0;
        std::memcpy(&cbStrings, pView + uStrings, 4);
        uSymbolsEnd = uStrings + cbStrings <= dwTo ? uStrings + cbStrings : uStrings;
    }
    for (DWORD dw = dwFrom; dw < dwTo; ++dw)
        if ((dw < uSymbols || dw >= uSymbolsEnd) && pView[dw] != 0)
            return false;
    return true;
}

// The header checks that come before any plan: a table inside the headers,
// alignments the loader takes, no packer, no raw data past the end.
bool CheckLayout(const PeHeaders& layout, std::string& sReason)
{
    if (!layout.sIncomplete.empty())
    {
        sReason = layout.sIncomplete;
        return false;
    }
    if (!PowerOfTwo(layout.dwFileAlignment) || layout.dwFileAlignment > kMaxFileAlignment ||
        !PowerOfTwo(layout.dwSectionAlignment) || layout.dwSectionAlignment < layout.dwFileAlignment)
        sReason = "the image's file or section alignment is not one the loader accepts";
    else if (layout.dwSectionTable +
                 static_cast<unsigned long long>(layout.sections.size()) * sizeof(PeSectionHeader) >
             layout.dwSizeOfHeaders)
        sReason = "the section table extends past SizeOfHeaders";
    for (const PeSectionHeader& s : layout.sections)
    {
        if (!sReason.empty())
            break;
        if (PackerName(s))
            sReason = "the image is packed (a packer's section name)";
        else if (s.dwRawSize != 0 &&
                 static_cast<unsigned long long>(s.dwRawOffset) + s.dwRawSize > layout.dwSize)
            sReason = "a section's raw data lies outside the file (a truncated image)";
    }
    return sReason.empty();
}

// The end of what the new file keeps: a signature at the very end, behind
// the sections, is cut off there.
DWORD FileEndWithoutSignature(const PeHeaders& layout)
{
    if (layout.directories.size() <= kPeSecurityDirectory)
        return layout.dwSize;
    const PeDataDirectory& security = layout.directories[kPeSecurityDirectory];
    if (security.dwRva != 0 &&
        static_cast<unsigned long long>(security.dwRva) + security.cb == layout.dwSize &&
        security.dwRva >= RawEnd(layout))
        return security.dwRva;
    return layout.dwSize;
}

bool HasSignature(const PeHeaders& layout)
{
    return layout.directories.size() > kPeSecurityDirectory &&
           layout.directories[kPeSecurityDirectory].dwRva != 0;
}

// The end of the image's address space: the headers' pages and every section.
bool VirtualEnd(const PeHeaders& layout, DWORD& dwMaxEnd, std::string& sReason)
{
    unsigned long long uHeadersEnd = AlignUp(layout.dwSizeOfHeaders, layout.dwSectionAlignment);
    if (uHeadersEnd > kMaxFile)
    {
        sReason = "SizeOfHeaders passes 4 GB";
        return false;
    }
    dwMaxEnd = static_cast<DWORD>(uHeadersEnd);
    for (const PeSectionHeader& s : layout.sections)
    {
        unsigned long long uEnd =
            s.dwVirtualAddress + AlignUp(SectionVirtualSize(s), layout.dwSectionAlignment);
        if (uEnd > kMaxFile)
        {
            sReason = "a section's virtual range passes 4 GB";
            return false;
        }
        dwMaxEnd = uEnd > dwMaxEnd ? static_cast<DWORD>(uEnd) : dwMaxEnd;
    }
    return true;
}

// A new section header goes behind the table, into bytes the headers hold and
// nothing uses; the loader takes no more than 96 sections.
bool HeaderSlotFree(const PeHeaders& layout, const CImageBytes& bytes, const char* szWhat,
                    std::string& sReason)
{
    const unsigned long long uSlot =
        layout.dwSectionTable +
        static_cast<unsigned long long>(layout.sections.size()) * sizeof(PeSectionHeader);
    const unsigned long long uSlotEnd = uSlot + sizeof(PeSectionHeader);
    bool fRoom = uSlotEnd <= layout.dwSizeOfHeaders && uSlotEnd <= layout.dwSize;
    for (const PeSectionHeader& s : layout.sections)
        if (s.dwRawSize != 0 && s.dwRawOffset < uSlotEnd)
            fRoom = false;
    for (unsigned long long u = uSlot; fRoom && u < uSlotEnd; ++u)
        fRoom = bytes.At(static_cast<DWORD>(u)) == 0;
    if (!fRoom)
        sReason = "there is no free room behind the section table for another section header";
    else if (layout.sections.size() >= kMaxSections)
        sReason = "it has " + std::to_string(layout.sections.size()) +
                  " sections, the most the loader takes, and the new " + szWhat + " would be one more";
    return sReason.empty();
}

int PlanNewSection(const PeHeaders& layout, DWORD cbData, const char* szWhat, NewSection& plan,
                   std::vector<std::string>& warnings, std::string& sReason)
{
    plan = NewSection();
    DWORD dwMaxVaEnd = 0;
    if (!CheckLayout(layout, sReason) || !VirtualEnd(layout, dwMaxVaEnd, sReason) ||
        !HeaderSlotFree(layout, layout.Bytes(), szWhat, sReason))
        return 0;
    plan.dwFileEnd = FileEndWithoutSignature(layout);
    const DWORD dwRawEnd = RawEnd(layout);
    if (plan.dwFileEnd > dwRawEnd && !OverlayIsSymbolsOnly(layout.pView, layout, dwRawEnd, plan.dwFileEnd))
    {
        sReason = "it has " + std::to_string(plan.dwFileEnd - dwRawEnd) +
                  " bytes of data appended behind its sections (a setup program's payload?), "
                  "which its program may look for where the new " +
                  szWhat + " would go";
        return 0;
    }
    plan.cbData = cbData;
    plan.dwRva = dwMaxVaEnd;
    plan.dwRawOffset = static_cast<DWORD>(AlignUp(plan.dwFileEnd, layout.dwFileAlignment));
    plan.dwHeader =
        layout.dwSectionTable + static_cast<DWORD>(layout.sections.size() * sizeof(PeSectionHeader));
    if (cbData > kMaxSectionBytes || plan.dwRva + AlignUp(cbData, layout.dwSectionAlignment) > kMaxFile)
        sReason = "the image would pass 4 GB in memory";
    else if (plan.dwRawOffset + AlignUp(cbData, layout.dwFileAlignment) > kMaxFile)
        sReason = "the image would pass 4 GB";
    if (!sReason.empty())
        return 0;
    if (HasSignature(layout))
        warnings.push_back("the Authenticode signature was removed: the image is no longer signed");
    if (plan.dwFileEnd > dwRawEnd)
        warnings.push_back(std::string("the data appended behind the sections stays behind them; the new ") +
                           szWhat + " follows it");
    return 1;
}

void WriteNewSection(const PeHeaders& layout, const NewSection& plan, const char* szName,
                     DWORD dwCharacteristics, const std::vector<BYTE>& data, std::vector<BYTE>& image)
{
    const DWORD cbRaw = static_cast<DWORD>(AlignUp(data.size(), layout.dwFileAlignment));
    image.resize(plan.dwFileEnd);
    image.resize(plan.dwRawOffset + static_cast<size_t>(cbRaw), 0);
    std::copy(data.begin(), data.end(), image.begin() + plan.dwRawOffset);
    PeSectionHeader header = {};
    std::memcpy(header.abName, szName, std::min<size_t>(std::strlen(szName), sizeof(header.abName)));
    header.dwVirtualSize = static_cast<DWORD>(data.size());
    header.dwVirtualAddress = plan.dwRva;
    header.dwRawSize = cbRaw;
    header.dwRawOffset = plan.dwRawOffset;
    header.dwCharacteristics = dwCharacteristics;
    std::memcpy(&image[plan.dwHeader], &header, sizeof(header));
    Put16(image, layout.dwFileHeader + 2, static_cast<DWORD>(layout.sections.size() + 1));
    if (HasSignature(layout))
        std::memset(&image[layout.dwDirectories + kPeSecurityDirectory * sizeof(PeDataDirectory)], 0,
                    sizeof(PeDataDirectory));
    const unsigned long long uEnd = plan.dwRva + AlignUp(data.size(), layout.dwSectionAlignment);
    Put32(image, layout.dwOptional + kOptSizeOfImage,
          static_cast<DWORD>(std::max<unsigned long long>(uEnd, layout.dwSizeOfImage)));
    DWORD dwInitialized = 0;
    layout.Bytes().Read32(layout.dwOptional + kOptSizeOfInitializedData, dwInitialized);
    const unsigned long long uInitialized = static_cast<unsigned long long>(dwInitialized) + cbRaw;
    Put32(image, layout.dwOptional + kOptSizeOfInitializedData,
          static_cast<DWORD>(std::min<unsigned long long>(uInitialized, 0xFFFFFFFFull)));
    if (layout.dwCheckSum != 0)
        Put32(image, layout.CheckSumField(), PeCheckSum(image, layout.CheckSumField()));
}
