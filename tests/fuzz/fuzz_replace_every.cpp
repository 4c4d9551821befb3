// ReplaceEvery against the plain rescanning loop it stands for: find the lowest
// occurrence from the start of the view, overwrite it with CN and zero padding,
// again until none is left; a CN that with its padding equals EN stops after
// the first. Views, EN and CN sit in heap blocks of exactly their size.
//
// Input: a flags byte (bit 0: UTF-16, bit 1: small alphabet), EN's and CN's
// lengths in units, their units, then the view's bytes.
#include "patch/find_bytes.h"
#include "patch/replace_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
const size_t kMaxTextUnits = 24;
const BYTE kAlphabet[4] = {'a', 'b', 0, 'a'};

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

struct Input
{
    const uint8_t* p;
    size_t left;
    BYTE Next() { return left > 0 ? (--left, *p++) : 0; }
};

template <typename Unit>
UINT Oracle(std::vector<BYTE>& view, const Unit* en, UINT lenEn, const Unit* cn, UINT lenCn)
{
    const size_t cbEn = lenEn * sizeof(Unit), cbCn = lenCn * sizeof(Unit);
    if (lenEn == 0 || lenCn > lenEn || view.empty())
        return 0;
    std::vector<BYTE> padded(cbEn, 0);
    std::memcpy(padded.data(), cn, cbCn);
    const bool unchanging = std::memcmp(padded.data(), en, cbEn) == 0;
    UINT uCount = 0;
    for (;;)
    {
        const BYTE* pAt = SearchBytesPlain(view.data(), static_cast<DWORD>(view.size()),
                                           reinterpret_cast<const BYTE*>(en), static_cast<DWORD>(cbEn));
        if (pAt == nullptr)
            break;
        std::memcpy(view.data() + (pAt - view.data()), padded.data(), cbEn);
        ++uCount;
        if (unchanging)
            break;
    }
    return uCount;
}

UINT Replace(BYTE* pView, DWORD dwSize, const WCHAR* en, UINT lenEn, const WCHAR* cn, UINT lenCn)
{
    return ReplaceEveryW(pView, dwSize, en, lenEn, cn, lenCn);
}
UINT Replace(BYTE* pView, DWORD dwSize, const char* en, UINT lenEn, const char* cn, UINT lenCn)
{
    return ReplaceEveryA(pView, dwSize, en, lenEn, cn, lenCn);
}

template <typename Unit> void Run(Input& in, bool small)
{
    auto unit = [&]() -> Unit {
        if (small)
            return static_cast<Unit>(kAlphabet[in.Next() & 3]);
        if (sizeof(Unit) == 1)
            return static_cast<Unit>(in.Next());
        BYTE lo = in.Next();
        return static_cast<Unit>(lo | in.Next() << 8);
    };
    UINT lenEn = in.Next() % kMaxTextUnits, lenCn = in.Next() % kMaxTextUnits;
    Unit* en = new Unit[lenEn];
    Unit* cn = new Unit[lenCn];
    for (UINT i = 0; i < lenEn; ++i)
        en[i] = unit();
    for (UINT i = 0; i < lenCn; ++i)
        cn[i] = unit();
    std::vector<BYTE> expected;
    while (in.left > 0)
        expected.push_back(small ? kAlphabet[in.Next() & 3] : in.Next());

    BYTE* pView = new BYTE[expected.size()];
    if (!expected.empty())
        std::memcpy(pView, expected.data(), expected.size());
    UINT uCount = Replace(pView, static_cast<DWORD>(expected.size()), en, lenEn, cn, lenCn);
    UINT uExpected = Oracle(expected, en, lenEn, cn, lenCn);
    Check(uCount == uExpected);
    Check(expected.empty() || std::memcmp(pView, expected.data(), expected.size()) == 0);
    delete[] pView;
    delete[] cn;
    delete[] en;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in{data, size};
    BYTE flags = in.Next();
    if (flags & 1)
        Run<WCHAR>(in, (flags & 2) != 0);
    else
        Run<char>(in, (flags & 2) != 0);
    return 0;
}
