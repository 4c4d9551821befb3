// Where a line of text may break, as Uniscribe's ScriptBreak reports it and
// DrawTextW's word break uses it: the pair rules of the Unicode line breaking
// algorithm (UAX #14), for the characters whose widths are measured (ASCII,
// ideographs, CJK and full-width punctuation).
#pragma once

#include <string>
#include <vector>

// soft[i]: a line may break before ws[i] (never before ws[0]).
std::vector<bool> SoftBreaks(const std::u16string& ws);
