// Every place of an image that holds the address of another, found once per
// target: base relocation slots, RIP-relative operands of 64-bit code, and
// for an image without base relocations the absolute operands of 32-bit code
// and the aligned pointer slots of its data.
#pragma once

#include "pe/pe_headers.h"

#include <string>
#include <vector>

enum ReferenceKind
{
    kRefRelocation,  // a slot a base relocation names
    kRefRipRelative, // a 64-bit instruction's disp32, relative to its end
    kRefCodeScan,    // an imm32/disp32/moffs of 32-bit code, found by decoding
    kRefDataScan,    // an aligned pointer in data, found by scanning
};

const char* ReferenceKindName(ReferenceKind kind);

struct TextReference
{
    DWORD dwTargetRva;
    DWORD dwSlotRva; // the field to rewrite
    BYTE cbSlot;     // 4 or 8
    ReferenceKind kind;
    DWORD dwInsnRva; // code: the instruction the field belongs to
    BYTE cbInsn;
};

struct CodeScan;

class CReferenceIndex
{
  public:
    // Reads the relocations and decodes the code of the image, one pass each.
    void Build(const PeHeaders& headers);

    // The references whose target lies in [dwFrom, dwTo), by target.
    void Find(DWORD dwFrom, DWORD dwTo, std::vector<TextReference>& found) const;
    // No base relocations: the references were found by scanning code and data.
    bool Scanned() const { return m_scanned; }
    bool Pe64() const { return m_pe64; }
    // Code the decoder could not follow, for the report.
    UINT Functions() const { return m_uFunctions; }

    // Where the image holds the address of one of the targets (sorted) at a
    // place no reference explains: an unaligned word in data, or bytes of
    // code that no decoded instruction holds as an operand. Every byte of
    // every section is looked at once, for all the targets.
    void Unexplained(const PeHeaders& headers, const std::vector<DWORD>& targets,
                     std::vector<std::pair<DWORD, DWORD>>& found) const; // (target, place)

  private:
    void NameInstructions(const CodeScan& scan, size_t cRelocations);

    std::vector<TextReference> m_refs; // by target, then slot
    std::vector<DWORD> m_slots;        // every slot, sorted: the places explained
    bool m_scanned = false;
    bool m_pe64 = false;
    UINT m_uFunctions = 0;
};
