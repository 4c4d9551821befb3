// Whether the translated texts of a target's dialogs fit their controls on
// a Chinese system, for po check; and, for po apply --fit, the dialogs laid
// out anew where they do not.
#pragma once

#include "po/po_sources.h"

#include <map>
#include <string>
#include <vector>

struct DialogFitFindings
{
    // "DIALOG 516 / control 3 \"打开图像文件(&O)...\": needs 68 dialog units (102 px) of width, has 50 (75
    // px)"
    std::vector<std::string> clipped;
    UINT cSkipped = 0;                   // translated controls whose text is not judged
    std::vector<std::string> unmeasured; // dialogs in a font that was not measured
    std::vector<std::string> forms;      // translated forms, never judged: not laid out in dialog units
    // With fFit: "DIALOG 516: control 3 (10, 20, 50, 14) -> (10, 20, 70, 14); the dialog 200 x 100 -> 220 x
    // 100"
    std::vector<std::string> changes;
    std::vector<std::string>
        refused; // "DIALOG 516 / control 3: the dialog would not fit a 1024 x 768 screen"
};

// Judges the translated controls of each translated DIALOG resource; with
// fFit makes room in each, rewriting its data.
void FitTranslatedDialogs(const std::vector<ResourceEntry>& entries,
                          std::vector<TranslatedResource>& translated,
                          const std::map<std::string, std::string>& translations, bool fFit,
                          DialogFitFindings& findings);
