// What a dry run found, in words, with the image map's answer for each
// offset: shared by check, by apply when it refuses a run, and by po apply.
#pragma once

#include "image/image_map.h"
#include "scan/dry_run.h"

#include <string>
#include <vector>

// "001 UTF-16 REPEAT X86 X64  EN=..." and a line break.
std::string RuleHeadText(const DryRule& rule);

// One line per offset, indented under a rule: offset, region, what the map
// says the byte is, and whether the occurrence lies inside a longer text;
// "and N more" when uTotal exceeds the offsets listed. Notes for the regions
// that call for one are added to sNotes once each.
std::string OffsetLinesText(const std::vector<DWORD>& offsets, UINT uTotal, const DryRule& rule,
                            const CImageMap& image, const BYTE* pBytes, DWORD cbBytes, std::string& sNotes);

// The rule's writes that would break the image, one line each.
std::string UnsafeText(const DryRule& rule, const CImageMap& image);

// What the map says the byte at dw is; "" for no PE image.
std::string MapLabelOf(const CImageMap& image, DWORD dw);
// Whether the rule's occurrence at dw lies inside a longer text.
bool OccurrenceInsideText(const DryRule& rule, const CImageMap& image, const BYTE* pBytes, DWORD cbBytes,
                          DWORD dw);
