// The translatable texts inside menus, dialogs, string tables and version
// information, read from a resource's data and written back at any length.
#pragma once

#include "image/resource_format.h"
#include "image/resource_tree.h"

#include <map>
#include <string>
#include <vector>

struct ResourceText
{
    // Unique within one image and language, stable across builds of a program:
    // "MENU 1 / 0x0108", "MENU 1 / popup 0", "DIALOG 102 / caption",
    // "DIALOG 102 / control 3", "STRINGTABLE / 0x0061", "VERSION / FileDescription".
    std::string sContext;
    std::string sText;  // UTF-8
    std::string sGroup; // the texts a user picks among by accelerator: one popup level, one dialog
    std::string sPlace; // where it lies, for a translator: "MENU 1 en, popup 0 \"&File\", item 0x0108"
    // Why Chinese may not show in it (a form's ANSI_CHARSET font), or empty.
    std::string sFontWarning;
};

// Appends the texts of one resource (empty texts and separators left out);
// other resource types give none. 0 with a reason when its data cannot be read.
// Forms are read with pForms (nullptr: the defaults).
int ListResourceTexts(const ResourceEntry& entry, std::vector<ResourceText>& texts, std::string& sReason,
                      const FormSettings* pForms = nullptr);

// The resource's data with every text whose context has a translation (UTF-8)
// replaced, at any length; all else as it was. 0 with a reason when its data
// cannot be read, and then data is left empty.
int TranslateResource(const ResourceEntry& entry, const std::map<std::string, std::string>& translations,
                      std::vector<BYTE>& data, std::string& sReason, const FormSettings* pForms = nullptr);

// Whether the entry is one of the types above, or a form.
bool HasResourceTexts(const ResourceEntry& entry);
