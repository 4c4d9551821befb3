// The resource tree of a PE image and the texts inside its menus, dialogs,
// string tables, version information, accelerator and message tables.
#pragma once

#include "image/image_map.h"

// Walks the tree whose root directory lies at dwRoot (cbTree bytes to the end
// of its section), adds what it finds to the map and lists the resources. Each
// directory is read once, so a tree that points back into itself ends.
void ReadResourceTree(CImageMap& map, const CImageBytes& bytes, DWORD dwRoot, DWORD cbTree,
                      std::vector<ImageResource>& resources);

// UTF-16 units as UTF-8, unpaired surrogates as U+FFFD; control characters
// as '?' when fPrintable (for labels).
std::string WideToUtf8(const CImageBytes& bytes, DWORD dwAt, DWORD cUnits, bool fPrintable);
