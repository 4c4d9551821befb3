// What the po commands share: a target opened and read as a set of source
// texts, and a PO file read as the translations of them. Each step gives the
// reason it fails; the command names the file and picks the exit code.
#pragma once

#include "cli/cli_files.h"
#include "pe/pe_headers.h"
#include "po/po_file.h"
#include "po/po_sources.h"

struct PoTarget
{
    CTargetView view;
    PeHeaders headers;                  // of the view's bytes
    std::vector<ResourceEntry> entries; // their data borrowed from the view
    // How its forms are read; the caller may name more text properties
    // before the target is loaded.
    FormSettings forms;
    WORD wLang = 0;
    bool hasTexts = false; // the image holds resource texts at all
    std::vector<PoSource> sources;
    std::vector<std::string> leftOut; // texts left out of the sources, and why
};

// Opens the target and lists its resource texts in the language asked for
// (sLang: a name, or empty for the one with the most texts).
bool LoadPoTarget(const WString& wsTarget, const std::string& sLang, PoTarget& target, std::string& sReason);
// Adds the texts of the rule set's rules as the patch run finds them, with
// fRelocation those that can be relocated marked.
bool AddRuleSources(const WString& wsTarget, const WString& wsRuleFile, PoTarget& target,
                    std::string& sReason, bool fRelocation);
// Both: the target's texts and, when wsRuleSet names a rule set, its rules'
// texts (wsRuleFile the file it resolves to). False with the reason and
// wsFailed the file it concerns.
bool LoadPoSources(const WString& wsTarget, const std::string& sLang, const WString& wsRuleSet,
                   PoTarget& target, WString& wsRuleFile, WString& wsFailed, std::string& sReason,
                   bool fRelocation);

struct PoTranslations
{
    std::vector<PoEntry> entries;
    std::string sSourceLanguage;             // the header's X-Source-Language
    std::vector<std::string> formProperties; // the header's X-Form-Properties
};
bool LoadPoFile(const WString& wsPo, PoTranslations& po, std::string& sReason);
// The form properties the PO file's header and the command line name.
std::vector<std::string> FormPropertiesAsked(const PoTranslations& po, const struct PoOptions& options);
