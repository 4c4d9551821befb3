#include "patch/pe_test.h"

namespace
{
const DWORD kLfanewOffset = 0x3C;
const DWORD kMachineAmd64 = 0x8664;

DWORD ReadLe16(const BYTE* p)
{
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8;
}
DWORD ReadLe32(const BYTE* p)
{
    return ReadLe16(p) | ReadLe16(p + 2) << 16;
}
} // namespace

int IsPe64(const BYTE* pView, DWORD dwSize)
{
    if (pView == nullptr || dwSize < kLfanewOffset + 4 || ReadLe16(pView) != 0x5A4D)
        return 0;
    DWORD dwPe = ReadLe32(pView + kLfanewOffset);
    // The signature and the Machine field after it: six bytes from e_lfanew.
    if (dwPe > dwSize - 6)
        return 0;
    return ReadLe32(pView + dwPe) == 0x4550 && ReadLe16(pView + dwPe + 4) == kMachineAmd64 ? 1 : 0;
}
