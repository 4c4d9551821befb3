#include "relocate/reference_index.h"

#include "code/code_references.h"
#include "relocate/base_relocations.h"

#include <algorithm>
#include <cstring>

namespace
{
const DWORD kScnExecutable = 0x20000020; // IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_CNT_CODE

const DWORD kScnDiscardable = 0x02000000;

bool IsCode(const PeSectionHeader& s)
{
    return (s.dwCharacteristics & kScnExecutable) != 0;
}

// Sections the program does not use once loaded (.reloc, the DWARF .debug_*
// a linker leaves): their addresses are no pointers a program follows.
bool Discardable(const PeSectionHeader& s)
{
    return (s.dwCharacteristics & kScnDiscardable) != 0;
}

bool ByTarget(const TextReference& a, const TextReference& b)
{
    return a.dwTargetRva != b.dwTargetRva ? a.dwTargetRva < b.dwTargetRva : a.dwSlotRva < b.dwSlotRva;
}

// The resource tree and its data hold no pointers, only RVAs and numbers.
bool InResources(const PeHeaders& headers, DWORD dwRva)
{
    if (headers.directories.size() <= kPeResourceDirectory)
        return false;
    const PeDataDirectory& resources = headers.directories[kPeResourceDirectory];
    return resources.dwRva != 0 && dwRva - resources.dwRva < resources.cb;
}

// Calls fn(dwRva, ullValue) for every cb-byte word of section i's mapped raw
// data that starts at a multiple of dwStep.
template <typename Fn> void ForEachWord(const PeHeaders& headers, size_t i, DWORD cb, DWORD dwStep, Fn fn)
{
    const PeSectionHeader& s = headers.sections[i];
    const DWORD cbMapped = std::min(headers.RawSize(i), SectionVirtualSize(s));
    const BYTE* p = headers.pView + headers.RawOffset(i);
    for (DWORD dw = (dwStep - s.dwVirtualAddress % dwStep) % dwStep; cb <= cbMapped && dw <= cbMapped - cb;
         dw += dwStep)
    {
        unsigned long long ullValue = 0;
        std::memcpy(&ullValue, p + dw, cb);
        fn(s.dwVirtualAddress + dw, ullValue);
    }
}
} // namespace

const char* ReferenceKindName(ReferenceKind kind)
{
    switch (kind)
    {
    case kRefRelocation:
        return "base relocation";
    case kRefRipRelative:
        return "RIP-relative";
    case kRefCodeScan:
        return "code scan";
    case kRefDataScan:
        return "data scan";
    }
    return "";
}

void CReferenceIndex::Build(const PeHeaders& headers)
{
    m_refs.clear();
    m_slots.clear();
    m_pe64 = headers.f64;
    std::vector<PointerSlot> slots;
    m_scanned = !ReadPointerSlots(headers, slots);
    for (const PointerSlot& slot : slots)
        m_refs.push_back({slot.dwTargetRva, slot.dwSlotRva, slot.cbSlot, kRefRelocation, 0, 0});
    // 64-bit code reaches its data relative to itself, which no relocation
    // names; 32-bit code holds absolute addresses, which relocations name
    // when the image has them.
    CodeScan scan;
    ScanCodeReferences(headers, scan);
    m_uFunctions = scan.uFunctions;
    if (m_pe64 || m_scanned)
        for (const CodeField& field : scan.fields)
            m_refs.push_back({field.dwTargetRva, field.dwInsnRva + field.fieldAt, 4,
                              m_pe64 ? kRefRipRelative : kRefCodeScan, field.dwInsnRva, field.cbInsn});
    else
        NameInstructions(scan, slots.size());
    if (m_scanned)
    {
        const DWORD cbPointer = m_pe64 ? 8 : 4;
        for (size_t i = 0; i < headers.sections.size(); ++i)
        {
            if (IsCode(headers.sections[i]) || Discardable(headers.sections[i]))
                continue;
            ForEachWord(headers, i, cbPointer, cbPointer, [&](DWORD dwRva, unsigned long long ullValue) {
                if (ullValue >= headers.ullImageBase &&
                    ullValue - headers.ullImageBase < headers.dwSizeOfImage && !InResources(headers, dwRva))
                    m_refs.push_back({static_cast<DWORD>(ullValue - headers.ullImageBase), dwRva,
                                      static_cast<BYTE>(cbPointer), kRefDataScan, 0, 0});
            });
        }
    }
    std::sort(m_refs.begin(), m_refs.end(), ByTarget);
    m_slots.reserve(m_refs.size());
    for (const TextReference& ref : m_refs)
        m_slots.push_back(ref.dwSlotRva);
    std::sort(m_slots.begin(), m_slots.end());
}

// A relocated slot in 32-bit code is an operand of the instruction the sweep
// decoded around it: named for the report.
void CReferenceIndex::NameInstructions(const CodeScan& scan, size_t cRelocations)
{
    std::vector<std::pair<DWORD, const CodeField*>> bySlot;
    bySlot.reserve(scan.fields.size());
    for (const CodeField& field : scan.fields)
        bySlot.push_back({field.dwInsnRva + field.fieldAt, &field});
    std::sort(bySlot.begin(), bySlot.end());
    for (size_t i = 0; i < cRelocations && i < m_refs.size(); ++i)
    {
        TextReference& ref = m_refs[i];
        auto it = std::lower_bound(bySlot.begin(), bySlot.end(),
                                   std::make_pair(ref.dwSlotRva, (const CodeField*)nullptr));
        if (it != bySlot.end() && it->first == ref.dwSlotRva)
        {
            ref.dwInsnRva = it->second->dwInsnRva;
            ref.cbInsn = it->second->cbInsn;
        }
    }
}

void CReferenceIndex::Find(DWORD dwFrom, DWORD dwTo, std::vector<TextReference>& found) const
{
    found.clear();
    TextReference key = {dwFrom, 0, 0, kRefRelocation, 0, 0};
    for (auto it = std::lower_bound(m_refs.begin(), m_refs.end(), key, ByTarget);
         it != m_refs.end() && it->dwTargetRva < dwTo; ++it)
        found.push_back(*it);
}

void CReferenceIndex::Unexplained(const PeHeaders& headers, const std::vector<DWORD>& targets,
                                  std::vector<std::pair<DWORD, DWORD>>& found) const
{
    found.clear();
    if (targets.empty())
        return;
    const DWORD cbPointer = m_pe64 ? 8 : 4;
    for (size_t i = 0; i < headers.sections.size(); ++i)
    {
        // 64-bit code holds no absolute address without a relocation or a
        // 10-byte mov, which is no pointer a text has.
        if ((m_pe64 && IsCode(headers.sections[i])) || Discardable(headers.sections[i]))
            continue;
        ForEachWord(headers, i, cbPointer, 1, [&](DWORD dwRva, unsigned long long ullValue) {
            if (ullValue < headers.ullImageBase || ullValue - headers.ullImageBase >= headers.dwSizeOfImage)
                return;
            const DWORD dwTarget = static_cast<DWORD>(ullValue - headers.ullImageBase);
            if (std::binary_search(targets.begin(), targets.end(), dwTarget) &&
                !std::binary_search(m_slots.begin(), m_slots.end(), dwRva) && !InResources(headers, dwRva))
                found.push_back({dwTarget, dwRva});
        });
    }
}
