#include "image/image_rebuild.h"

#include "image/pe_layout.h"

#include <cstring>
#include <string>

namespace
{
const DWORD kScnCode = 0x00000020;
const DWORD kScnInitializedData = 0x00000040;
const DWORD kScnExecute = 0x20000000;
const DWORD kScnRead = 0x40000000;
const DWORD kMaxFileAlignment = 0x10000;
const unsigned long long kMaxFile = 0xFFFFFFFFull;
const unsigned long long kMaxSectionBytes = 0x7FFFFFFFull;

// Section names of the executable packers seen in the wild; their resources
// are compressed or stubs, and a rebuild would break the unpacker.
const char* const kPackerNames[] = {"UPX",      ".UPX",     "MPRESS",  ".aspack", ".adata",
                                    "PEC2",     ".petite",  ".nsp",    "nsp",     ".MPRESS",
                                    "pebundle", "PEBundle", ".packed", ".RLPack", "PELOCKnt"};

unsigned long long AlignUp(unsigned long long u, DWORD dwAlignment)
{
    return (u + dwAlignment - 1) / dwAlignment * dwAlignment;
}

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

template <class T> void PutStruct(std::vector<BYTE>& out, DWORD dwAt, const T& value)
{
    std::memcpy(&out[dwAt], &value, sizeof(T));
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

bool Refuse(RebuildResult& result, const std::string& sReason)
{
    result.image.clear();
    result.sReason = sReason;
    return false;
}

// The end of the raw data of every section, the file offset where appended
// data (an overlay) begins.
DWORD RawEnd(const PeLayout& layout)
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
bool OverlayIsSymbolsOnly(const BYTE* pView, const PeLayout& layout, DWORD dwFrom, DWORD dwTo)
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

// Whether a data directory other than the resources', a base relocation
// page, the entry point, debug data or the COFF symbols lie in the section:
// then it holds more than the resources and cannot be rewritten.
bool SectionSharedWithOthers(const PeLayout& layout, const CImageBytes& bytes, const PeSectionHeader& s)
{
    DWORD cbVirtual = SectionVirtualSize(s);
    auto Inside = [&](DWORD dwRva, DWORD cb) {
        unsigned long long uEnd = static_cast<unsigned long long>(dwRva) + (cb != 0 ? cb : 1);
        return dwRva < s.dwVirtualAddress + static_cast<unsigned long long>(cbVirtual) &&
               uEnd > s.dwVirtualAddress;
    };
    for (size_t i = 0; i < layout.directories.size(); ++i)
        if (i != kPeResourceDirectory && i != kPeSecurityDirectory && layout.directories[i].dwRva != 0 &&
            Inside(layout.directories[i].dwRva, layout.directories[i].cb))
            return true;
    if (layout.dwEntryPoint != 0 && Inside(layout.dwEntryPoint, 1))
        return true;
    auto InsideRaw = [&](DWORD dwOffset) { return dwOffset - s.dwRawOffset < s.dwRawSize; };
    if (layout.fh.dwSymbolTable != 0 && InsideRaw(layout.fh.dwSymbolTable))
        return true;
    DWORD dwDebug = 0, cbDebug = 0;
    if (layout.directories.size() > kPeDebugDirectory && layout.directories[kPeDebugDirectory].dwRva != 0 &&
        layout.RvaToOffset(layout.directories[kPeDebugDirectory].dwRva, dwDebug, cbDebug))
    {
        DWORD cb = layout.directories[kPeDebugDirectory].cb;
        cb = cb < cbDebug ? cb : cbDebug;
        for (DWORD dw = 0; dw + sizeof(PeDebugDirectory) <= cb; dw += sizeof(PeDebugDirectory))
        {
            PeDebugDirectory entry;
            if (bytes.ReadStruct(dwDebug + dw, entry) && entry.cbData != 0 &&
                ((entry.dwDataRva != 0 && Inside(entry.dwDataRva, entry.cbData)) ||
                 (entry.dwDataOffset != 0 && InsideRaw(entry.dwDataOffset))))
                return true;
        }
    }
    DWORD dwRelocations = 0, cbAvailable = 0;
    if (layout.directories.size() > kPeRelocationDirectory &&
        layout.directories[kPeRelocationDirectory].dwRva != 0 &&
        layout.RvaToOffset(layout.directories[kPeRelocationDirectory].dwRva, dwRelocations, cbAvailable))
    {
        DWORD cb = layout.directories[kPeRelocationDirectory].cb;
        cb = cb < cbAvailable ? cb : cbAvailable;
        for (DWORD dw = 0; dw + sizeof(PeRelocationBlock) <= cb;)
        {
            PeRelocationBlock block;
            if (!bytes.ReadStruct(dwRelocations + dw, block) || block.cbBlock < sizeof(block) ||
                block.cbBlock > cb - dw)
                break;
            if (Inside(block.dwPage, 0x1000))
                return true;
            dw += block.cbBlock;
        }
    }
    return false;
}
} // namespace

int RebuildResources(const BYTE* pView, DWORD dwSize, const std::vector<ResourceEntry>& entries,
                     RebuildResult& result)
{
    result = RebuildResult();
    PeLayout layout;
    std::string sReason;
    if (!ReadPeLayout(pView, dwSize, layout, sReason))
        return Refuse(result, sReason);
    CImageBytes bytes(pView, 0, layout.dwSize);
    if (layout.directories.size() <= kPeResourceDirectory)
        return Refuse(result, "the image has no data directory entry for resources");
    if (!PowerOfTwo(layout.dwFileAlignment) || layout.dwFileAlignment > kMaxFileAlignment ||
        !PowerOfTwo(layout.dwSectionAlignment) || layout.dwSectionAlignment < layout.dwFileAlignment)
        return Refuse(result, "the image's file or section alignment is not one the loader accepts");
    unsigned long long uTableEnd =
        layout.dwSectionTable +
        static_cast<unsigned long long>(layout.sections.size()) * sizeof(PeSectionHeader);
    if (uTableEnd > layout.dwSizeOfHeaders)
        return Refuse(result, "the section table extends past SizeOfHeaders");
    for (const PeSectionHeader& s : layout.sections)
    {
        if (PackerName(s))
            return Refuse(result, "the image is packed (a packer's section name)");
        if (s.dwRawSize != 0 && static_cast<unsigned long long>(s.dwRawOffset) + s.dwRawSize > layout.dwSize)
            return Refuse(result, "a section's raw data lies outside the file (a truncated image)");
    }

    const PeDataDirectory resources = layout.directories[kPeResourceDirectory];
    int iOld = -1;
    if (resources.dwRva != 0)
    {
        iOld = layout.SectionOfRva(resources.dwRva);
        if (iOld < 0)
            return Refuse(result, "the resource directory lies in no section");
        const PeSectionHeader& old = layout.sections[iOld];
        DWORD dwRoot = 0, cbAvailable = 0;
        if (old.dwRawSize == 0 || !layout.RvaToOffset(resources.dwRva, dwRoot, cbAvailable) ||
            cbAvailable < resources.cb)
            return Refuse(result, "the image is packed or compressed (the resource section's raw data is "
                                  "shorter than its resource directory)");
        std::vector<ResourceEntry> present;
        if (!ReadResourceEntries(pView, dwSize, present, sReason, kBorrowResourceData))
            return Refuse(result, "the resource tree cannot be read whole: " + sReason);
    }

    // The signature covers the bytes this changes, so it goes; it lies at a
    // file offset, normally the end of the file, where it is cut off.
    DWORD dwFileEnd = layout.dwSize;
    bool fDropSignature = false;
    if (layout.directories.size() > kPeSecurityDirectory &&
        layout.directories[kPeSecurityDirectory].dwRva != 0)
    {
        const PeDataDirectory& security = layout.directories[kPeSecurityDirectory];
        fDropSignature = true;
        if (static_cast<unsigned long long>(security.dwRva) + security.cb == layout.dwSize &&
            security.dwRva >= RawEnd(layout))
            dwFileEnd = security.dwRva;
        result.warnings.push_back(
            "the Authenticode signature was removed: the rebuilt image is no longer signed");
    }

    unsigned long long cbPayload = 0;
    for (const ResourceEntry& entry : entries)
        cbPayload += entry.Size() + 128 + 2 * (entry.type.name.size() + entry.name.name.size());
    if (cbPayload > kMaxSectionBytes)
        return Refuse(result, "the resources are too large for one section");

    DWORD dwRawEnd = RawEnd(layout);
    bool fOverlay = dwFileEnd > dwRawEnd;
    if (fOverlay && !OverlayIsSymbolsOnly(pView, layout, dwRawEnd, dwFileEnd))
        return Refuse(result, "it has " + std::to_string(dwFileEnd - dwRawEnd) +
                                  " bytes of data appended behind its sections (a setup program's payload?), "
                                  "which its program may look for where a rebuilt resource section would go");
    // The headers take the first pages of the image, whatever the sections say.
    unsigned long long uHeadersEnd = AlignUp(layout.dwSizeOfHeaders, layout.dwSectionAlignment);
    if (uHeadersEnd > kMaxFile)
        return Refuse(result, "SizeOfHeaders passes 4 GB");
    DWORD dwMaxVaEnd = static_cast<DWORD>(uHeadersEnd);
    int iLastVa = -1;
    for (size_t i = 0; i < layout.sections.size(); ++i)
    {
        const PeSectionHeader& s = layout.sections[i];
        unsigned long long uEnd =
            s.dwVirtualAddress + AlignUp(SectionVirtualSize(s), layout.dwSectionAlignment);
        if (uEnd > kMaxFile)
            return Refuse(result, "a section's virtual range passes 4 GB");
        if (iLastVa < 0 || s.dwVirtualAddress >= layout.sections[iLastVa].dwVirtualAddress)
            iLastVa = static_cast<int>(i);
        if (uEnd > dwMaxVaEnd)
            dwMaxVaEnd = static_cast<DWORD>(uEnd);
    }

    std::vector<BYTE> section;
    bool fInPlace = false;
    if (iOld >= 0)
    {
        const PeSectionHeader& old = layout.sections[iOld];
        bool fLast =
            iOld == iLastVa && old.dwRawOffset + old.dwRawSize == dwRawEnd &&
            dwMaxVaEnd == old.dwVirtualAddress + AlignUp(SectionVirtualSize(old), layout.dwSectionAlignment);
        if (fLast && resources.dwRva == old.dwVirtualAddress &&
            old.dwRawOffset % layout.dwFileAlignment == 0 &&
            !(old.dwCharacteristics & (kScnCode | kScnExecute)) &&
            !SectionSharedWithOthers(layout, bytes, old))
        {
            WriteResourceSection(entries, old.dwVirtualAddress, section);
            // Data behind the section would have to move; only a tree that
            // fits in the old raw size may be written there.
            fInPlace = !fOverlay || section.size() <= old.dwRawSize;
        }
    }

    PeSectionHeader header;
    DWORD dwHeader = 0;
    DWORD cbOldRaw = 0;
    if (fInPlace)
    {
        dwHeader = layout.dwSectionTable + iOld * static_cast<DWORD>(sizeof(PeSectionHeader));
        header = layout.sections[iOld];
        cbOldRaw = header.dwRawSize;
        header.dwVirtualSize = static_cast<DWORD>(section.size());
        header.dwRawSize =
            fOverlay ? cbOldRaw : static_cast<DWORD>(AlignUp(section.size(), layout.dwFileAlignment));
        dwFileEnd = fOverlay ? dwFileEnd : header.dwRawOffset;
    }
    else
    {
        if (resources.dwRva == 0 && entries.empty())
        {
            result.image.assign(pView, pView + dwFileEnd);
            if (fDropSignature)
                std::memset(
                    &result.image[layout.dwDirectories + kPeSecurityDirectory * sizeof(PeDataDirectory)], 0,
                    sizeof(PeDataDirectory));
            if (layout.dwCheckSum != 0)
                Put32(result.image, layout.dwOptional + kOptCheckSum,
                      PeCheckSum(result.image, layout.dwOptional + kOptCheckSum));
            return 1;
        }
        // A new section header goes behind the table, into bytes the headers
        // hold and nothing uses.
        dwHeader = static_cast<DWORD>(uTableEnd);
        unsigned long long uHeaderEnd = uTableEnd + sizeof(PeSectionHeader);
        bool fRoom = uHeaderEnd <= layout.dwSizeOfHeaders && uHeaderEnd <= layout.dwSize;
        for (const PeSectionHeader& s : layout.sections)
            if (s.dwRawSize != 0 && s.dwRawOffset < uHeaderEnd)
                fRoom = false;
        for (DWORD dw = dwHeader; fRoom && dw < uHeaderEnd; ++dw)
            fRoom = bytes.At(dw) == 0;
        if (!fRoom || layout.sections.size() >= 0xFFFF)
            return Refuse(result,
                          "there is no free room behind the section table for another section header");

        std::memset(&header, 0, sizeof(header));
        // ".rsrc" would give the image two sections of that name and tools that
        // look resources up by section name the stale one; a name of its own
        // says what it is. A rebuilt image rebuilds in place, so few are needed.
        std::string sName = ".rsrc2";
        for (char ch = '2'; ch <= '9'; ++ch)
        {
            sName.back() = ch;
            bool fUsed = false;
            for (const PeSectionHeader& s : layout.sections)
                fUsed =
                    fUsed || (std::memcmp(s.abName, sName.c_str(), sName.size()) == 0 && s.abName[6] == 0);
            if (!fUsed)
                break;
        }
        std::memcpy(header.abName, sName.c_str(), sName.size());
        header.dwVirtualAddress = dwMaxVaEnd;
        WriteResourceSection(entries, header.dwVirtualAddress, section);
        header.dwVirtualSize = static_cast<DWORD>(section.size());
        header.dwRawSize = static_cast<DWORD>(AlignUp(section.size(), layout.dwFileAlignment));
        // Behind everything, appended data included, so no byte of the file moves.
        unsigned long long uRaw = AlignUp(dwFileEnd, layout.dwFileAlignment);
        if (uRaw + header.dwRawSize > kMaxFile)
            return Refuse(result, "the rebuilt image would pass 4 GB");
        header.dwRawOffset = static_cast<DWORD>(uRaw);
        header.dwCharacteristics = kScnInitializedData | kScnRead;
        if (fOverlay)
            result.warnings.push_back("the data appended behind the sections stays where it was; the new "
                                      "resource section follows it");
    }
    unsigned long long uVirtualEnd =
        header.dwVirtualAddress + AlignUp(header.dwVirtualSize, layout.dwSectionAlignment);
    if (uVirtualEnd > kMaxFile)
        return Refuse(result, "the rebuilt image would pass 4 GB in memory");

    // The file: what stays, then the section's raw data at its offset.
    unsigned long long uRawEnd = static_cast<unsigned long long>(header.dwRawOffset) + header.dwRawSize;
    unsigned long long cbImage = fInPlace && fOverlay ? dwFileEnd : uRawEnd;
    std::vector<BYTE>& image = result.image;
    image.assign(static_cast<size_t>(cbImage), 0);
    DWORD cbKept = fInPlace && !fOverlay ? header.dwRawOffset : dwFileEnd;
    std::memcpy(image.data(), pView, cbKept);
    if (fInPlace && fOverlay)
        std::memset(&image[header.dwRawOffset], 0, cbOldRaw);
    std::memcpy(&image[header.dwRawOffset], section.data(), section.size());

    PutStruct(image, dwHeader, header);
    if (!fInPlace)
        Put16(image, layout.dwFileHeader + 2, static_cast<DWORD>(layout.sections.size() + 1));
    DWORD dwResources = layout.dwDirectories + kPeResourceDirectory * sizeof(PeDataDirectory);
    Put32(image, dwResources, header.dwVirtualAddress);
    Put32(image, dwResources + 4, static_cast<DWORD>(section.size()));
    if (fDropSignature)
        std::memset(&image[layout.dwDirectories + kPeSecurityDirectory * sizeof(PeDataDirectory)], 0,
                    sizeof(PeDataDirectory));
    if (fInPlace)
    {
        // The resized section is the last, so it alone decides the end.
        Put32(image, layout.dwOptional + kOptSizeOfImage, static_cast<DWORD>(uVirtualEnd));
    }
    else
    {
        DWORD dwSizeOfImage =
            layout.dwSizeOfImage > uVirtualEnd ? layout.dwSizeOfImage : static_cast<DWORD>(uVirtualEnd);
        Put32(image, layout.dwOptional + kOptSizeOfImage, dwSizeOfImage);
    }
    DWORD dwInitialized = 0;
    bytes.Read32(layout.dwOptional + kOptSizeOfInitializedData, dwInitialized);
    Put32(image, layout.dwOptional + kOptSizeOfInitializedData, dwInitialized + header.dwRawSize - cbOldRaw);
    if (layout.dwCheckSum != 0)
        Put32(image, layout.dwOptional + kOptCheckSum, PeCheckSum(image, layout.dwOptional + kOptCheckSum));
    return 1;
}
