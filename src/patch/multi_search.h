// Every occurrence of many patterns in one pass over the data, for work that
// needs where each text lies rather than a replacement of it.
#pragma once

#include "port/win32.h"

#include <vector>

struct SearchPattern
{
    const BYTE* p;
    DWORD cb;
};

// hits[i]: the start of every occurrence of pattern i (overlapping ones too),
// ascending. An empty pattern finds nothing. No byte outside the data is read.
void FindEveryPattern(const BYTE* pData, DWORD cbData, const std::vector<SearchPattern>& patterns,
                      std::vector<std::vector<DWORD>>& hits);
