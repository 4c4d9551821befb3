#include "image/rebuild_layout.h"

#include <cstring>

namespace
{
const unsigned long long kMaxFile = 0xFFFFFFFFull;
const DWORD kSectionRawOffsetField = 20;
const DWORD kSectionRelocationsField = 24;
const DWORD kSectionLineNumbersField = 28;
const DWORD kFileSymbolTableField = 8;
const DWORD kDebugRawOffsetField = 24;

unsigned long long AlignUp(unsigned long long u, DWORD dwAlignment)
{
    return (u + dwAlignment - 1) / dwAlignment * dwAlignment;
}

DWORD SectionHeaderAt(const PeHeaders& layout, size_t i)
{
    return layout.dwSectionTable + static_cast<DWORD>(i * sizeof(PeSectionHeader));
}
} // namespace

void ReadDebugEntries(const PeHeaders& layout, const CImageBytes& bytes, std::vector<DebugEntryAt>& entries)
{
    entries.clear();
    DWORD dwDebug = 0, cbAvailable = 0;
    if (layout.directories.size() <= kPeDebugDirectory || layout.directories[kPeDebugDirectory].dwRva == 0 ||
        !layout.RvaToOffset(layout.directories[kPeDebugDirectory].dwRva, dwDebug, cbAvailable))
        return;
    DWORD cb = layout.directories[kPeDebugDirectory].cb;
    cb = cb < cbAvailable ? cb : cbAvailable;
    for (DWORD dw = 0; dw + sizeof(PeDebugDirectory) <= cb; dw += sizeof(PeDebugDirectory))
    {
        DebugEntryAt at = {dwDebug + dw, PeDebugDirectory()};
        if (bytes.ReadStruct(at.dwAt, at.entry))
            entries.push_back(at);
    }
}

void FileOffsetFields(const PeHeaders& layout, const CImageBytes& bytes, std::vector<FileOffsetField>& fields)
{
    fields.clear();
    for (size_t i = 0; i < layout.sections.size(); ++i)
    {
        const PeSectionHeader& s = layout.sections[i];
        DWORD dwAt = SectionHeaderAt(layout, i);
        if (s.dwRawSize != 0)
            fields.push_back({dwAt + kSectionRawOffsetField, s.dwRawOffset});
        if (s.dwRelocations != 0)
            fields.push_back({dwAt + kSectionRelocationsField, s.dwRelocations});
        if (s.dwLineNumbers != 0)
            fields.push_back({dwAt + kSectionLineNumbersField, s.dwLineNumbers});
    }
    if (layout.fh.dwSymbolTable != 0)
        fields.push_back({layout.dwFileHeader + kFileSymbolTableField, layout.fh.dwSymbolTable});
    std::vector<DebugEntryAt> debug;
    ReadDebugEntries(layout, bytes, debug);
    for (const DebugEntryAt& at : debug)
        if (at.entry.dwDataOffset != 0)
            fields.push_back({at.dwAt + kDebugRawOffsetField, at.entry.dwDataOffset});
}

RawPlan KeepAllRawData(DWORD dwFileEnd)
{
    return {dwFileEnd, dwFileEnd, dwFileEnd, dwFileEnd};
}

int PlanRawData(const PeHeaders& layout, const std::vector<FileOffsetField>& fields, int iSection,
                DWORD cbNew, DWORD dwFileEnd, RawPlan& plan)
{
    const PeSectionHeader& s = layout.sections[iSection];
    const DWORD dwFrom = s.dwRawOffset;
    const unsigned long long uEnd = static_cast<unsigned long long>(dwFrom) + s.dwRawSize;
    const DWORD dwAlignment = layout.dwFileAlignment;
    if (dwFrom < layout.dwSizeOfHeaders || uEnd > dwFileEnd || dwAlignment == 0)
        return 0;
    // The cut takes the section's padding up to the next thing anyone finds by
    // its offset, so no such thing is lost or moved apart from its pointer.
    unsigned long long uCutTo = AlignUp(uEnd, dwAlignment);
    uCutTo = uCutTo < dwFileEnd ? uCutTo : dwFileEnd;
    for (size_t i = 0; i < layout.sections.size(); ++i)
    {
        const PeSectionHeader& other = layout.sections[i];
        if (static_cast<int>(i) == iSection || other.dwRawSize == 0)
            continue;
        if (other.dwRawOffset >= uEnd)
            uCutTo = other.dwRawOffset < uCutTo ? other.dwRawOffset : uCutTo;
        else if (static_cast<unsigned long long>(other.dwRawOffset) + other.dwRawSize > dwFrom)
            return 0;
    }
    const DWORD dwOwnField = SectionHeaderAt(layout, iSection) + kSectionRawOffsetField;
    for (const FileOffsetField& field : fields)
    {
        if (field.dwAt == dwOwnField)
            continue;
        if (field.dwValue >= uEnd)
            uCutTo = field.dwValue < uCutTo ? field.dwValue : uCutTo;
        else if (field.dwValue >= dwFrom)
            return 0;
    }
    for (const FileOffsetField& field : fields)
        if (field.dwAt + 4ull > dwFrom && field.dwAt < uCutTo)
            return 0;

    RawPlan planned = {dwFrom, static_cast<DWORD>(uCutTo), dwFileEnd, 0};
    unsigned long long uNewTail = static_cast<unsigned long long>(dwFrom) + cbNew;
    // The tail keeps each offset's remainder by the file alignment, so the
    // sections in it stay aligned and the loader reads them as before.
    if (planned.dwCutTo < dwFileEnd)
        uNewTail += (planned.dwCutTo % dwAlignment + dwAlignment - uNewTail % dwAlignment) % dwAlignment;
    if (uNewTail + (dwFileEnd - planned.dwCutTo) > kMaxFile)
        return 0;
    planned.dwNewTail = static_cast<DWORD>(uNewTail);
    plan = planned;
    return 1;
}

void CopyByPlan(const BYTE* pView, const RawPlan& plan, const std::vector<FileOffsetField>& fields,
                std::vector<BYTE>& out)
{
    out.assign(plan.NewEnd(), 0);
    std::memcpy(out.data(), pView, plan.dwCutFrom);
    std::memcpy(out.data() + plan.dwNewTail, pView + plan.dwCutTo, plan.dwTailEnd - plan.dwCutTo);
    if (plan.dwNewTail == plan.dwCutTo)
        return;
    for (const FileOffsetField& field : fields)
    {
        DWORD dwAt = plan.MapOffset(field.dwAt);
        bool fKept = field.dwAt + 4ull <= plan.dwCutFrom || field.dwAt >= plan.dwCutTo;
        if (field.dwValue >= plan.dwCutTo && fKept && dwAt + 4ull <= out.size())
            Put32(out, dwAt, plan.MapOffset(field.dwValue));
    }
}
