#include "image/image_rebuild.h"

#include "image/rebuild_layout.h"
#include "image/section_append.h"
#include "pe/pe_headers.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace
{
const char kResourceName[] = ".rsrc";

template <class T> void PutStruct(std::vector<BYTE>& out, DWORD dwAt, const T& value)
{
    std::memcpy(&out[dwAt], &value, sizeof(T));
}

bool Refuse(RebuildResult& result, const std::string& sReason)
{
    result.image.clear();
    result.sReason = sReason;
    return false;
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

// What the rebuild decided before it writes a byte.
struct RebuildPlan
{
    int iOld = -1;         // the section the old tree lies in
    DWORD dwFileEnd = 0;   // the end of the bytes kept, less a signature
    bool fOverlay = false; // data appended behind the sections (symbols only)
    DWORD dwMaxVaEnd = 0;  // the end of the highest section in memory
    std::vector<FileOffsetField> fields;
    RawPlan raw;
    RebuildMode mode = kKeepOldData;
    std::vector<BYTE> section;   // the new tree
    PeSectionHeader header = {}; // the section that holds it
    DWORD dwHeader = 0;          // where its table entry goes
    unsigned long long uVirtualEnd = 0;
};

// Whether the image can take a rebuilt tree at all: false with the reason.
bool CheckImage(const PeHeaders& layout, const std::vector<ResourceEntry>& entries, RebuildPlan& plan,
                std::string& sReason)
{
    if (layout.directories.size() <= kPeResourceDirectory)
        sReason = "the image has no data directory entry for resources";
    if (!sReason.empty() || !CheckLayout(layout, sReason) || !FindResourceSection(layout, plan.iOld, sReason))
        return false;
    unsigned long long cbPayload = 0;
    for (const ResourceEntry& entry : entries)
        cbPayload += entry.data.size() + 128 + 2 * (entry.type.name.size() + entry.name.name.size());
    if (cbPayload > kMaxSectionBytes)
    {
        sReason = "the resources are too large for one section";
        return false;
    }
    plan.dwFileEnd = FileEndWithoutSignature(layout);
    const DWORD dwRawEnd = RawEnd(layout);
    plan.fOverlay = plan.dwFileEnd > dwRawEnd;
    if (plan.fOverlay && !OverlayIsSymbolsOnly(layout.pView, layout, dwRawEnd, plan.dwFileEnd))
    {
        sReason = "it has " + std::to_string(plan.dwFileEnd - dwRawEnd) +
                  " bytes of data appended behind its sections (a setup program's payload?), "
                  "which its program may look for where a rebuilt resource section would go";
        return false;
    }
    return VirtualEnd(layout, plan.dwMaxVaEnd, sReason);
}

// Where the tree goes: the old section's place when it holds the resources
// alone and the tree fits its room, else a new last section.
bool PlaceTree(const PeHeaders& layout, const std::vector<ResourceEntry>& entries, RebuildPlan& plan,
               std::vector<std::string>& warnings, std::string& sReason)
{
    const CImageBytes bytes = layout.Bytes();
    FileOffsetFields(layout, bytes, plan.fields);
    plan.raw = KeepAllRawData(plan.dwFileEnd);
    const int iOld = plan.iOld;
    if (iOld >= 0 && HoldsResourcesAlone(layout, bytes, iOld))
    {
        WriteResourceSection(entries, layout.sections[iOld].dwVirtualAddress, plan.section);
        DWORD cbRaw = static_cast<DWORD>(AlignUp(plan.section.size(), layout.dwFileAlignment));
        if (plan.section.size() <= VirtualRoom(layout, iOld) &&
            PlanRawData(layout, plan.fields, iOld, cbRaw, plan.dwFileEnd, plan.raw))
            plan.mode = kRewriteInPlace;
        else if (PlanRawData(layout, plan.fields, iOld, 0, plan.dwFileEnd, plan.raw))
            plan.mode = kDropOldData;
    }
    PeSectionHeader& header = plan.header;
    std::memset(&header, 0, sizeof(header));
    if (plan.mode == kRewriteInPlace)
    {
        plan.dwHeader = layout.dwSectionTable + iOld * static_cast<DWORD>(sizeof(PeSectionHeader));
        header.dwVirtualAddress = layout.sections[iOld].dwVirtualAddress;
    }
    else
    {
        if (!HeaderSlotFree(layout, bytes, "resource section", sReason))
            return false;
        plan.dwHeader =
            layout.dwSectionTable + static_cast<DWORD>(layout.sections.size() * sizeof(PeSectionHeader));
        std::memcpy(header.abName, kResourceName, sizeof(kResourceName) - 1);
        header.dwVirtualAddress = plan.dwMaxVaEnd;
        // The old section's flags (a writable .rsrc stays writable); a new
        // tree in an image that had none is read-only data.
        header.dwCharacteristics = iOld >= 0
                                       ? layout.sections[iOld].dwCharacteristics & ~(kScnCode | kScnExecute)
                                       : kScnInitializedData | kScnRead;
        WriteResourceSection(entries, header.dwVirtualAddress, plan.section);
        // Behind everything, the appended symbols included.
        header.dwRawOffset = static_cast<DWORD>(AlignUp(plan.raw.NewEnd(), layout.dwFileAlignment));
        if (plan.fOverlay)
            warnings.push_back("the data appended behind the sections stays behind them; the new "
                               "resource section follows it");
    }
    header.dwVirtualSize = static_cast<DWORD>(plan.section.size());
    const DWORD cbNewRaw = static_cast<DWORD>(AlignUp(plan.section.size(), layout.dwFileAlignment));
    plan.uVirtualEnd = header.dwVirtualAddress + AlignUp(header.dwVirtualSize, layout.dwSectionAlignment);
    if (plan.uVirtualEnd > kMaxFile)
        sReason = "the rebuilt image would pass 4 GB in memory";
    else if (plan.mode != kRewriteInPlace &&
             static_cast<unsigned long long>(header.dwRawOffset) + cbNewRaw > kMaxFile)
        sReason = "the rebuilt image would pass 4 GB";
    return sReason.empty();
}

// The new file by the plan: the bytes kept, the tree, its section header,
// the old section's header when its raw data went, the directories and sizes.
void WriteRebuilt(const PeHeaders& layout, RebuildPlan& plan, std::vector<BYTE>& image)
{
    PeSectionHeader header = plan.header;
    const DWORD cbNewRaw = static_cast<DWORD>(AlignUp(plan.section.size(), layout.dwFileAlignment));
    CopyByPlan(layout.pView, plan.raw, plan.fields, image);
    DWORD cbOldRaw = 0;
    if (plan.mode == kRewriteInPlace)
    {
        // Read back, so the offsets the plan moved stay moved.
        PeSectionHeader rewritten = HeaderIn(image, plan.dwHeader);
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
    const int iOld = plan.iOld;
    if (plan.mode == kDropOldData)
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
    std::memcpy(&image[header.dwRawOffset], plan.section.data(), plan.section.size());
    PutStruct(image, plan.dwHeader, header);

    PutDirectories(layout, header.dwVirtualAddress, header.dwVirtualSize, image);
    const PeSectionHeader* pOld = iOld >= 0 ? &layout.sections[iOld] : nullptr;
    bool fEndsImage = pOld != nullptr &&
                      plan.dwMaxVaEnd == pOld->dwVirtualAddress +
                                             AlignUp(SectionVirtualSize(*pOld), layout.dwSectionAlignment);
    PutSizes(layout, layout.Bytes(), static_cast<DWORD>(plan.uVirtualEnd),
             plan.mode == kRewriteInPlace && fEndsImage, cbNewRaw, cbOldRaw, image);
}
} // namespace

int RebuildResources(const PeHeaders& layout, const std::vector<ResourceEntry>& entries,
                     RebuildResult& result)
{
    result = RebuildResult();
    RebuildPlan plan;
    std::string sReason;
    if (!CheckImage(layout, entries, plan, sReason))
        return Refuse(result, sReason);
    // The signature covers the bytes this changes, so it goes.
    if (HasSignature(layout))
        result.warnings.push_back(
            "the Authenticode signature was removed: the rebuilt image is no longer signed");
    if (plan.iOld < 0 && entries.empty())
        return CopyUnchanged(layout.pView, layout, plan.dwFileEnd, result);
    if (!PlaceTree(layout, entries, plan, result.warnings, sReason))
        return Refuse(result, sReason);
    WriteRebuilt(layout, plan, result.image);
    return 1;
}
