// What a dry run found, in words and JSON, with the image map's answer for
// each offset: shared by check and by apply when it refuses a run.
#pragma once

#include "cli/cli_report.h"
#include "cli/dry_run.h"
#include "cli/pe_image.h"

#include <string>
#include <vector>

// "001 UTF-16 REPEAT X86 X64  EN=..." and a line break.
std::string RuleHeadText(const DryRule& rule);

// One line per offset, indented under a rule: offset, region, what the map
// says the byte is, and whether the occurrence lies inside a longer text;
// "and N more" when uTotal exceeds the offsets listed. Notes for the regions
// that call for one are added to sNotes once each.
std::string OffsetLinesText(const std::vector<DWORD>& offsets, UINT uTotal, const DryRule& rule,
                            const PeImage& image, const BYTE* pBytes, DWORD cbBytes, std::string& sNotes);
Json OffsetsJson(const std::vector<DWORD>& offsets, const DryRule& rule, const PeImage& image,
                 const BYTE* pBytes, DWORD cbBytes);

// The rule's writes that would break the image, one line each, and as JSON.
std::string UnsafeText(const DryRule& rule, const PeImage& image);
Json UnsafeJson(const DryRule& rule, const PeImage& image);
