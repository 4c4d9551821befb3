// The resource reads and the rebuild of an image held as bytes, headers read
// first as a command reads them: for tests that start from a buffer.
#pragma once

#include "image/image_rebuild.h"
#include "image/resource_tree.h"

inline int ReadEntriesOf(const BYTE* pView, DWORD dwSize, std::vector<ResourceEntry>& entries,
                         std::string& sReason, ResourceDataUse use = kCopyResourceData)
{
    PeHeaders headers;
    entries.clear();
    return headers.Read(pView, dwSize, sReason) ? ReadResourceEntries(headers, entries, sReason, use) : 0;
}

inline int RebuildOf(const BYTE* pView, DWORD dwSize, const std::vector<ResourceEntry>& entries,
                     RebuildResult& result)
{
    PeHeaders headers;
    result = RebuildResult();
    return headers.Read(pView, dwSize, result.sReason) ? RebuildResources(headers, entries, result) : 0;
}
