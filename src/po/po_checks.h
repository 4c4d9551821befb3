// The checks po check lists and po apply refuses before it writes, so both
// name an entry's fault in the same line.
#pragma once

#include "po/po_file.h"
#include "po/po_sources.h"

#include <string>
#include <vector>

// Whether the translation keeps the source's format specifiers (and the
// shortcut after a tab); else false with "MENU 1 / 0x0100 \"&New\\tCtrl+N\":
// the reason".
bool FormatsKept(const PoSource& source, const std::string& sTranslation, std::string& sReason);

// The format findings of every translated entry whose source text the target
// still holds; rule texts only when fRules (a rule set was given).
std::vector<std::string> FormatFindings(const std::vector<PoEntry>& entries,
                                        const std::vector<PoSource>& sources, bool fRules);
