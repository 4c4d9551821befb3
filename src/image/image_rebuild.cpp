#include "image/image_rebuild.h"

#include "image/rebuild_layout.h"
#include "pe/pe_headers.h"

#include <algorithm>
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
const size_t kMaxSections = 96; // the most the loader maps; an image with more is "Bad EXE format"
const char kResourceName[] = ".rsrc";

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

// Whether a data directory other than the resources', a base relocation
// page, the entry point, debug data or the COFF symbols lie in the section:
// then it holds more than the resources and cannot be rewritten.
bool SectionSharedWithOthers(const PeHeaders& layout, const CImageBytes& bytes, const PeSectionHeader& s)
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
    std::vector<DebugEntryAt> debug;
    ReadDebugEntries(layout, bytes, debug);
    for (const DebugEntryAt& at : debug)
        if (at.entry.cbData != 0 &&
            ((at.entry.dwDataRva != 0 && Inside(at.entry.dwDataRva, at.entry.cbData)) ||
             (at.entry.dwDataOffset != 0 && InsideRaw(at.entry.dwDataOffset))))
            return true;
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

// The header checks that come before any plan: a table inside the headers,
// alignments the loader takes, no packer, no raw data past the end.
bool CheckHeaders(const PeHeaders& layout, std::string& sReason)
{
    if (!layout.sIncomplete.empty())
    {
        sReason = layout.sIncomplete;
        return false;
    }
    if (layout.directories.size() <= kPeResourceDirectory)
        sReason = "the image has no data directory entry for resources";
    else if (!PowerOfTwo(layout.dwFileAlignment) || layout.dwFileAlignment > kMaxFileAlignment ||
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

// iOld the section the resource directory points into, -1 when there is none.
// The tree itself the caller has read whole (ReadResourceEntries refuses one
// it cannot), so the entries are all the image has.
bool FindResourceSection(const PeHeaders& layout, int& iOld, std::string& sReason)
{
    iOld = -1;
    const PeDataDirectory& resources = layout.directories[kPeResourceDirectory];
    if (resources.dwRva == 0)
        return true;
    iOld = layout.SectionOfRva(resources.dwRva);
    if (iOld < 0)
    {
        sReason = "the resource directory lies in no section";
        return false;
    }
    DWORD dwRoot = 0, cbAvailable = 0;
    if (layout.sections[iOld].dwRawSize == 0 || !layout.RvaToOffset(resources.dwRva, dwRoot, cbAvailable) ||
        cbAvailable < resources.cb)
    {
        sReason = "the image is packed or compressed (the resource section's raw data is shorter than its "
                  "resource directory)";
        return false;
    }
    return true;
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

// Whether the section holds the resource tree alone, from its first byte: then
// its raw data may be written again or dropped.
bool HoldsResourcesAlone(const PeHeaders& layout, const CImageBytes& bytes, int iOld)
{
    const PeSectionHeader& old = layout.sections[iOld];
    return layout.directories[kPeResourceDirectory].dwRva == old.dwVirtualAddress &&
           old.dwRawOffset % layout.dwFileAlignment == 0 &&
           !(old.dwCharacteristics & (kScnCode | kScnExecute)) &&
           !SectionSharedWithOthers(layout, bytes, old);
}

// The bytes of address space from the section's start to the next section;
// to the end of the 4 GB when none follows.
unsigned long long VirtualRoom(const PeHeaders& layout, int i)
{
    const DWORD dwStart = layout.sections[i].dwVirtualAddress;
    unsigned long long uNext = kMaxFile + 1;
    for (size_t j = 0; j < layout.sections.size(); ++j)
        if (static_cast<int>(j) != i && layout.sections[j].dwVirtualAddress >= dwStart &&
            layout.sections[j].dwVirtualAddress < uNext)
            uNext = layout.sections[j].dwVirtualAddress;
    return uNext - dwStart;
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
bool HeaderSlotFree(const PeHeaders& layout, const CImageBytes& bytes, std::string& sReason)
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
                  " sections, the most the loader takes, and the new resource section would be one more";
    return sReason.empty();
}

bool NamedResource(const BYTE* abName)
{
    return std::memcmp(abName, kResourceName, sizeof(kResourceName)) == 0;
}

// The sections named .rsrc renamed .rsrc0 (or the first of .rsrc1 to .rsrc9
// no section has), so the name leads tools that look resources up by it to
// the new section alone.
void RenameResourceSections(const PeHeaders& layout, std::vector<BYTE>& image)
{
    std::vector<std::string> names;
    for (const PeSectionHeader& s : layout.sections)
        names.push_back(std::string(s.abName, std::find(s.abName, s.abName + sizeof(s.abName), 0)));
    for (size_t i = 0; i < layout.sections.size(); ++i)
    {
        if (!NamedResource(layout.sections[i].abName))
            continue;
        std::string sName = std::string(kResourceName) + '0';
        while (sName.back() < '9' && std::find(names.begin(), names.end(), sName) != names.end())
            ++sName.back();
        names[i] = sName;
        std::memcpy(&image[layout.dwSectionTable + i * sizeof(PeSectionHeader)], sName.c_str(), sName.size());
    }
}

PeSectionHeader HeaderIn(const std::vector<BYTE>& image, DWORD dwAt)
{
    PeSectionHeader header;
    std::memcpy(&header, &image[dwAt], sizeof(header));
    return header;
}

// The image as it was, less its signature: an image without resources given none.
int CopyUnchanged(const BYTE* pView, const PeHeaders& layout, DWORD dwFileEnd, RebuildResult& result)
{
    result.image.assign(pView, pView + dwFileEnd);
    if (HasSignature(layout))
        std::memset(&result.image[layout.dwDirectories + kPeSecurityDirectory * sizeof(PeDataDirectory)], 0,
                    sizeof(PeDataDirectory));
    if (layout.dwCheckSum != 0)
        Put32(result.image, layout.dwOptional + kOptCheckSum,
              PeCheckSum(result.image, layout.dwOptional + kOptCheckSum));
    return 1;
}

// The resource directory entry to the new tree; the signature's cleared.
void PutDirectories(const PeHeaders& layout, DWORD dwRva, DWORD cb, std::vector<BYTE>& image)
{
    DWORD dwResources = layout.dwDirectories + kPeResourceDirectory * sizeof(PeDataDirectory);
    Put32(image, dwResources, dwRva);
    Put32(image, dwResources + 4, cb);
    if (HasSignature(layout))
        std::memset(&image[layout.dwDirectories + kPeSecurityDirectory * sizeof(PeDataDirectory)], 0,
                    sizeof(PeDataDirectory));
}

// SizeOfImage up to the resource section's end, exactly there when the
// resized section ends the image (fEnds); SizeOfInitializedData by the raw
// data added and removed; then the checksum over the finished file.
void PutSizes(const PeHeaders& layout, const CImageBytes& bytes, DWORD dwVirtualEnd, bool fEnds,
              DWORD cbAdded, DWORD cbRemoved, std::vector<BYTE>& image)
{
    DWORD dwSizeOfImage = fEnds || dwVirtualEnd > layout.dwSizeOfImage ? dwVirtualEnd : layout.dwSizeOfImage;
    Put32(image, layout.dwOptional + kOptSizeOfImage, dwSizeOfImage);
    DWORD dwInitialized = 0;
    bytes.Read32(layout.dwOptional + kOptSizeOfInitializedData, dwInitialized);
    long long llInitialized = static_cast<long long>(dwInitialized) + cbAdded - cbRemoved;
    llInitialized = llInitialized < 0 ? 0 : llInitialized > 0xFFFFFFFFll ? 0xFFFFFFFFll : llInitialized;
    Put32(image, layout.dwOptional + kOptSizeOfInitializedData, static_cast<DWORD>(llInitialized));
    if (layout.dwCheckSum != 0)
        Put32(image, layout.dwOptional + kOptCheckSum, PeCheckSum(image, layout.dwOptional + kOptCheckSum));
}

// How the resources are written: into the old section's place (its raw data
// resized, what lies behind moved), or into a new last section with the old
// raw data dropped, or kept when something else lives in it.
enum RebuildMode
{
    kRewriteInPlace,
    kDropOldData,
    kKeepOldData,
};
} // namespace

int RebuildResources(const PeHeaders& layout, const std::vector<ResourceEntry>& entries,
                     RebuildResult& result)
{
    result = RebuildResult();
    const BYTE* pView = layout.pView;
    std::string sReason;
    int iOld = -1;
    if (!CheckHeaders(layout, sReason) || !FindResourceSection(layout, iOld, sReason))
        return Refuse(result, sReason);
    CImageBytes bytes(pView, 0, layout.dwSize);

    // The signature covers the bytes this changes, so it goes.
    const DWORD dwFileEnd = FileEndWithoutSignature(layout);
    if (HasSignature(layout))
        result.warnings.push_back(
            "the Authenticode signature was removed: the rebuilt image is no longer signed");

    unsigned long long cbPayload = 0;
    for (const ResourceEntry& entry : entries)
        cbPayload += entry.data.size() + 128 + 2 * (entry.type.name.size() + entry.name.name.size());
    if (cbPayload > kMaxSectionBytes)
        return Refuse(result, "the resources are too large for one section");

    const DWORD dwRawEnd = RawEnd(layout);
    const bool fOverlay = dwFileEnd > dwRawEnd;
    if (fOverlay && !OverlayIsSymbolsOnly(pView, layout, dwRawEnd, dwFileEnd))
        return Refuse(result, "it has " + std::to_string(dwFileEnd - dwRawEnd) +
                                  " bytes of data appended behind its sections (a setup program's payload?), "
                                  "which its program may look for where a rebuilt resource section would go");
    DWORD dwMaxVaEnd = 0;
    if (!VirtualEnd(layout, dwMaxVaEnd, sReason))
        return Refuse(result, sReason);
    if (iOld < 0 && entries.empty())
        return CopyUnchanged(pView, layout, dwFileEnd, result);

    std::vector<FileOffsetField> fields;
    FileOffsetFields(layout, bytes, fields);
    RawPlan plan = KeepAllRawData(dwFileEnd);
    RebuildMode mode = kKeepOldData;
    std::vector<BYTE> section;
    if (iOld >= 0 && HoldsResourcesAlone(layout, bytes, iOld))
    {
        WriteResourceSection(entries, layout.sections[iOld].dwVirtualAddress, section);
        DWORD cbRaw = static_cast<DWORD>(AlignUp(section.size(), layout.dwFileAlignment));
        if (section.size() <= VirtualRoom(layout, iOld) &&
            PlanRawData(layout, fields, iOld, cbRaw, dwFileEnd, plan))
            mode = kRewriteInPlace;
        else if (PlanRawData(layout, fields, iOld, 0, dwFileEnd, plan))
            mode = kDropOldData;
    }

    PeSectionHeader header;
    std::memset(&header, 0, sizeof(header));
    DWORD dwHeader = 0;
    if (mode == kRewriteInPlace)
    {
        dwHeader = layout.dwSectionTable + iOld * static_cast<DWORD>(sizeof(PeSectionHeader));
        header.dwVirtualAddress = layout.sections[iOld].dwVirtualAddress;
    }
    else
    {
        if (!HeaderSlotFree(layout, bytes, sReason))
            return Refuse(result, sReason);
        dwHeader =
            layout.dwSectionTable + static_cast<DWORD>(layout.sections.size() * sizeof(PeSectionHeader));
        std::memcpy(header.abName, kResourceName, sizeof(kResourceName) - 1);
        header.dwVirtualAddress = dwMaxVaEnd;
        // The old section's flags (a writable .rsrc stays writable); a new
        // tree in an image that had none is read-only data.
        header.dwCharacteristics = iOld >= 0
                                       ? layout.sections[iOld].dwCharacteristics & ~(kScnCode | kScnExecute)
                                       : kScnInitializedData | kScnRead;
        WriteResourceSection(entries, header.dwVirtualAddress, section);
        // Behind everything, the appended symbols included.
        header.dwRawOffset = static_cast<DWORD>(AlignUp(plan.NewEnd(), layout.dwFileAlignment));
        if (fOverlay)
            result.warnings.push_back("the data appended behind the sections stays behind them; the new "
                                      "resource section follows it");
    }
    header.dwVirtualSize = static_cast<DWORD>(section.size());
    const DWORD cbNewRaw = static_cast<DWORD>(AlignUp(section.size(), layout.dwFileAlignment));
    unsigned long long uVirtualEnd =
        header.dwVirtualAddress + AlignUp(header.dwVirtualSize, layout.dwSectionAlignment);
    if (uVirtualEnd > kMaxFile)
        return Refuse(result, "the rebuilt image would pass 4 GB in memory");
    if (mode != kRewriteInPlace && static_cast<unsigned long long>(header.dwRawOffset) + cbNewRaw > kMaxFile)
        return Refuse(result, "the rebuilt image would pass 4 GB");

    std::vector<BYTE>& image = result.image;
    CopyByPlan(pView, plan, fields, image);
    DWORD cbOldRaw = 0;
    if (mode == kRewriteInPlace)
    {
        // Read back, so the offsets the plan moved stay moved.
        PeSectionHeader rewritten = HeaderIn(image, dwHeader);
        cbOldRaw = rewritten.dwRawSize;
        rewritten.dwVirtualSize = header.dwVirtualSize;
        rewritten.dwRawSize = cbNewRaw;
        header = rewritten;
    }
    else
    {
        header.dwRawSize = cbNewRaw;
        image.resize(header.dwRawOffset + static_cast<size_t>(cbNewRaw), 0);
        RenameResourceSections(layout, image);
        Put16(image, layout.dwFileHeader + 2, static_cast<DWORD>(layout.sections.size() + 1));
    }
    if (mode == kDropOldData)
    {
        // Its address range stays, so no RVA of the image changes meaning.
        DWORD dwOld = layout.dwSectionTable + iOld * static_cast<DWORD>(sizeof(PeSectionHeader));
        PeSectionHeader dropped = HeaderIn(image, dwOld);
        cbOldRaw = dropped.dwRawSize;
        dropped.dwVirtualSize = SectionVirtualSize(layout.sections[iOld]);
        dropped.dwRawSize = 0;
        dropped.dwRawOffset = 0;
        PutStruct(image, dwOld, dropped);
    }
    std::memcpy(&image[header.dwRawOffset], section.data(), section.size());
    PutStruct(image, dwHeader, header);

    PutDirectories(layout, header.dwVirtualAddress, header.dwVirtualSize, image);
    const PeSectionHeader* pOld = iOld >= 0 ? &layout.sections[iOld] : nullptr;
    bool fEndsImage =
        pOld != nullptr &&
        dwMaxVaEnd == pOld->dwVirtualAddress + AlignUp(SectionVirtualSize(*pOld), layout.dwSectionAlignment);
    PutSizes(layout, bytes, static_cast<DWORD>(uVirtualEnd), mode == kRewriteInPlace && fEndsImage, cbNewRaw,
             cbOldRaw, image);
    return 1;
}
