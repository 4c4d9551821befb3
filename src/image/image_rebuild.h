// Writes an image again with its resources replaced, every other byte kept.
#pragma once

#include "image/resource_tree.h"

struct RebuildResult
{
    std::vector<BYTE> image;           // the new file, when the rebuild succeeded
    std::vector<std::string> warnings; // what the new file lost or moved ("the Authenticode signature ...")
    std::string sReason;               // why the image was refused
};

// 1 with result.image the image whose resource section holds the entries: the
// old section's place when they fit its address range and it holds them alone
// (the raw data behind it moved, with every file offset pointing there), else
// a new last section named .rsrc. The headers the loader reads follow
// (resource directory entry, section table, SizeOfImage,
// SizeOfInitializedData, the checksum when there was one).
// 0 with result.sReason when the image cannot be rebuilt safely (not a PE
// image, a packed or compressed one, no room for another section header or
// the loader's 96 sections already, a resource tree it cannot read whole);
// then result.image is empty.
int RebuildResources(const PeHeaders& headers, const std::vector<ResourceEntry>& entries,
                     RebuildResult& result);
