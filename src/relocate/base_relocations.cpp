#include "relocate/base_relocations.h"

#include <cstring>

namespace
{
const WORD kRelocationAbsolute = 0;
const WORD kRelocationHighLow = 3;
const WORD kRelocationDir64 = 10;

// The RVA an address points to, when it lies inside the image.
bool TargetOf(const PeHeaders& headers, unsigned long long ullAddress, DWORD& dwRva)
{
    if (ullAddress < headers.ullImageBase || ullAddress - headers.ullImageBase >= headers.dwSizeOfImage)
        return false;
    dwRva = static_cast<DWORD>(ullAddress - headers.ullImageBase);
    return true;
}
} // namespace

bool ReadPointerSlots(const PeHeaders& headers, std::vector<PointerSlot>& slots)
{
    slots.clear();
    DWORD dwTable = 0, cbTable = 0;
    if (!headers.DirectoryInFile(kPeRelocationDirectory, dwTable, cbTable))
        return false;
    const CImageBytes bytes = headers.Bytes();
    bool fAny = false;
    for (DWORD dw = 0; dw + sizeof(PeRelocationBlock) <= cbTable;)
    {
        PeRelocationBlock block;
        if (!bytes.ReadStruct(dwTable + dw, block) || block.cbBlock < sizeof(block) ||
            block.cbBlock > cbTable - dw)
            break;
        fAny = true;
        const DWORD cEntries = (block.cbBlock - static_cast<DWORD>(sizeof(block))) / 2;
        for (DWORD i = 0; i < cEntries; ++i)
        {
            WORD wEntry = 0;
            if (!bytes.Read16(dwTable + dw + static_cast<DWORD>(sizeof(block)) + 2 * i, wEntry))
                break;
            const WORD wType = wEntry >> 12;
            if (wType == kRelocationAbsolute || (wType != kRelocationHighLow && wType != kRelocationDir64))
                continue;
            const BYTE cbSlot = wType == kRelocationDir64 ? 8 : 4;
            const DWORD dwSlotRva = block.dwPage + (wEntry & 0x0FFF);
            DWORD dwOffset = 0, cbAvailable = 0;
            if (!headers.RvaToOffset(dwSlotRva, dwOffset, cbAvailable) || cbAvailable < cbSlot)
                continue;
            unsigned long long ullValue = 0;
            std::memcpy(&ullValue, headers.pView + dwOffset, cbSlot);
            PointerSlot slot = {dwSlotRva, 0, cbSlot};
            if (TargetOf(headers, ullValue, slot.dwTargetRva))
                slots.push_back(slot);
        }
        dw += block.cbBlock;
    }
    return fAny;
}
