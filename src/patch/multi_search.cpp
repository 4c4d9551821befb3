#include "patch/multi_search.h"

#include <cstring>

namespace
{
const UINT kNone = 0xFFFFFFFFu;
const UINT kBuckets = 1u << 16;

UINT Key2(const BYTE* p)
{
    return p[0] | static_cast<UINT>(p[1]) << 8;
}

DWORD Word4(const BYTE* p)
{
    DWORD dw;
    std::memcpy(&dw, p, 4);
    return dw;
}

// Many texts share their first two bytes ("gl", "S\0"), few their first four.
UINT Key4(DWORD dw)
{
    return (dw * 2654435761u) >> 16;
}

// Patterns chained by a key, with a bit per key to skip a position at once.
struct Table
{
    std::vector<UINT> head = std::vector<UINT>(kBuckets, kNone);
    std::vector<BYTE> any = std::vector<BYTE>(kBuckets / 8, 0);
    bool used = false;

    void Add(UINT key, UINT i, std::vector<UINT>& next)
    {
        next[i] = head[key];
        head[key] = i;
        any[key >> 3] |= static_cast<BYTE>(1u << (key & 7));
        used = true;
    }
    bool Has(UINT key) const { return (any[key >> 3] & (1u << (key & 7))) != 0; }
};
} // namespace

void FindEveryPattern(const BYTE* pData, DWORD cbData, const std::vector<SearchPattern>& patterns,
                      std::vector<std::vector<DWORD>>& hits)
{
    hits.assign(patterns.size(), std::vector<DWORD>());
    std::vector<UINT> next(patterns.size(), kNone);
    std::vector<UINT> single(256, kNone);
    bool fSingles = false;
    Table shortTable, longTable; // 2 or 3 bytes by the first two, longer by the first four
    for (UINT i = 0; i < patterns.size(); ++i)
    {
        const SearchPattern& pattern = patterns[i];
        if (pattern.cb == 1)
        {
            next[i] = single[pattern.p[0]];
            single[pattern.p[0]] = i;
            fSingles = true;
        }
        else if (pattern.cb == 2 || pattern.cb == 3)
            shortTable.Add(Key2(pattern.p), i, next);
        else if (pattern.cb >= 4)
            longTable.Add(Key4(Word4(pattern.p)), i, next);
    }
    for (DWORD dw = 0; dw < cbData; ++dw)
    {
        const DWORD cbLeft = cbData - dw;
        if (fSingles)
            for (UINT i = single[pData[dw]]; i != kNone; i = next[i])
                hits[i].push_back(dw);
        if (cbLeft >= 2 && shortTable.used && shortTable.Has(Key2(pData + dw)))
            for (UINT i = shortTable.head[Key2(pData + dw)]; i != kNone; i = next[i])
                if (patterns[i].cb <= cbLeft &&
                    std::memcmp(pData + dw + 2, patterns[i].p + 2, patterns[i].cb - 2) == 0)
                    hits[i].push_back(dw);
        if (cbLeft < 4 || !longTable.used)
            continue;
        const DWORD dwWord = Word4(pData + dw);
        const UINT key = Key4(dwWord);
        if (!longTable.Has(key))
            continue;
        for (UINT i = longTable.head[key]; i != kNone; i = next[i])
            if (patterns[i].cb <= cbLeft && Word4(patterns[i].p) == dwWord &&
                std::memcmp(pData + dw + 4, patterns[i].p + 4, patterns[i].cb - 4) == 0)
                hits[i].push_back(dw);
    }
    // Each chain holds its patterns once, so each list is ascending already.
}
