// The catalogue: section "Config", keys "1", "2", ... each naming one rule set.
#pragma once

#include "port/win32.h"

typedef void (*FnCatalogueName)(void* pContext, LPCWSTR wsName);

// Calls fnName for each name in key order, up to the first key that reads as
// empty; returns how many names were read.
UINT ReadCatalogue(LPCWSTR wsCatalogue, FnCatalogueName fnName, void* pContext);

// Stores a new name under key "%u" of uKey, the rule-set box's item count after
// the name was added. A key that already holds a name (one that lay beyond a
// gap in a hand-edited catalogue) is never overwritten: the next key that reads
// as empty is taken. A missing catalogue is created as UTF-16LE. Returns the
// key written, or 0 when the write failed.
UINT AddCatalogueEntry(LPCWSTR wsCatalogue, UINT uKey, LPCWSTR wsName);
