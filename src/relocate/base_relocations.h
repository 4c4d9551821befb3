// The places an image's base relocations name: every slot the loader adjusts
// holds an address, so together they are every absolute pointer the image has.
#pragma once

#include "pe/pe_headers.h"

#include <vector>

struct PointerSlot
{
    DWORD dwSlotRva;   // where the address is stored
    DWORD dwTargetRva; // what it points to
    BYTE cbSlot;       // 4 (HIGHLOW) or 8 (DIR64)
};

// The HIGHLOW and DIR64 slots, in the order of the relocation blocks, whose
// bytes lie in the file and whose address lies inside the image; false when
// the image has no base relocations at all (a stripped executable).
bool ReadPointerSlots(const PeHeaders& headers, std::vector<PointerSlot>& slots);

// The address an RVA is to the image: ImageBase + RVA.
inline unsigned long long ImageAddress(const PeHeaders& headers, DWORD dwRva)
{
    return headers.ullImageBase + dwRva;
}
