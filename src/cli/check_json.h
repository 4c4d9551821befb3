// What a dry run found, as the JSON documents of check and apply.
#pragma once

#include "cli/cli_report.h"
#include "scan/check_report.h"

#include <vector>

Json OffsetsJson(const std::vector<DWORD>& offsets, const DryRule& rule, const CImageMap& image,
                 const BYTE* pBytes, DWORD cbBytes);
Json UnsafeJson(const DryRule& rule, const CImageMap& image);
