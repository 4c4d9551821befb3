// Texts longer than the place they are found in, written into a new section
// with every reference to them pointed there. The old text stays in place,
// so anything that reaches it without a reference still finds it.
#pragma once

#include "image/section_append.h"
#include "relocate/reference_index.h"

#include <string>
#include <vector>

// One rule whose CN does not fit its EN.
struct RelocationRequest
{
    UINT uRule;
    bool unicode;
    std::vector<BYTE> en, cn;       // decoded, without a terminator
    std::vector<DWORD> occurrences; // file offsets of EN: the first, or every one with REPEAT
    bool repeat;                    // an occurrence nothing points to is passed over, not refused
};

struct RelocatedText
{
    DWORD dwAt = 0;  // file offset of the EN occurrence
    DWORD dwRva = 0; // and its address
    std::vector<TextReference> references;
};

// The header a Delphi string literal has in front of its characters:
// [code page, element size,] reference count -1, length in elements.
struct LengthHeader
{
    bool present = false;
    bool codePage = false;      // the 2009 and later form, with code page and element size
    bool lengthInBytes = false; // a UTF-16 text whose length counts bytes
    WORD wCodePage = 0, wElementSize = 0;
};

struct RuleRelocation
{
    UINT uRule = 0;
    bool relocated = false;
    std::string sReason; // why not
    LengthHeader header; // the new text gets one of its new length
    DWORD dwNewRva = 0;  // where the new text's characters begin
    DWORD dwNewAt = 0;   // their offset inside the new section's data
    DWORD cbNew = 0;     // its bytes, the terminator included
    std::vector<RelocatedText> texts;
    std::vector<DWORD> unreferenced; // REPEAT: occurrences nothing points to, left as they are
    // Code beside a reference that holds EN's length as a number: it may copy
    // or write only that many bytes of the new text.
    std::vector<std::string> warnings;
};

struct RelocationPlan
{
    bool scanned = false; // the references were found by scanning, not by base relocations
    bool pe64 = false;
    UINT uFunctions = 0;               // 64-bit: the function starts the code walk decoded from
    std::vector<RuleRelocation> rules; // in the order of the requests
    std::vector<BYTE> data;            // the new section's bytes
    DWORD dwCharacteristics = 0;
    NewSection section;
    std::vector<std::string> warnings;
    UINT Relocated() const;
};

// The section's name; a second run finds its own texts there.
extern const char kRelocationSection[];

// Works out every request against the image's references, in order: a
// reference one rule takes is gone for the rules after it. A rule that
// cannot be relocated safely gets the reason and changes nothing.
void PlanRelocations(const PeHeaders& headers, const CReferenceIndex& index,
                     const std::vector<RelocationRequest>& requests, RelocationPlan& plan);

// The image with the new section and every planned reference rewritten;
// image holds the bytes headers were read from (changed or not).
void WriteRelocations(const PeHeaders& headers, const RelocationPlan& plan, std::vector<BYTE>& image);
