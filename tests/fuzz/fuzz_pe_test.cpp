// IsPe64 on arbitrary bytes, held in a heap block of exactly their size so that
// any read past the view is caught, and checked against a bounds-checked reading
// of the three header fields.
#include "patch/pe_test.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{
uint32_t Le(const BYTE* p, size_t cb)
{
    uint32_t v = 0;
    for (size_t i = cb; i-- > 0;)
        v = v << 8 | p[i];
    return v;
}

int ExpectedPe64(const BYTE* p, size_t cb)
{
    const size_t kLfanew = 0x3C;
    if (cb < kLfanew + 4 || Le(p, 2) != 0x5A4D)
        return 0;
    uint64_t pe = Le(p + kLfanew, 4);
    if (pe + 6 > cb)
        return 0;
    return Le(p + pe, 4) == 0x4550 && Le(p + pe + 4, 2) == 0x8664 ? 1 : 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    BYTE* pView = static_cast<BYTE*>(std::malloc(size != 0 ? size : 1));
    if (pView == nullptr)
        return 0;
    if (size != 0)
        std::memcpy(pView, data, size);
    int result = IsPe64(pView, static_cast<DWORD>(size));
    if (result != ExpectedPe64(pView, size))
        std::abort();
    std::free(pView);
    return 0;
}
