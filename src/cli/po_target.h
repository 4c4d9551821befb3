// What the po commands share: a target opened and read as a set of source
// texts, and a PO file read as the translations of them.
#pragma once

#include "cli/cli_files.h"
#include "cli/cli_report.h"
#include "cli/commands.h"
#include "cli/pe_image.h"
#include "cli/po_file.h"
#include "cli/po_sources.h"

#include <map>

struct PoTarget
{
    CTargetView view;
    PeHeaders headers;                  // of the view's bytes
    std::vector<ResourceEntry> entries; // their data borrowed from the view
    WORD wLang = 0;
    bool hasTexts = false; // the image holds resource texts at all
    std::vector<PoSource> sources;
    std::vector<std::string> problems; // texts left out, and why
};

// Opens the target and lists its texts in the language asked for (sLang: a
// name, or empty for the one with the most texts), and the rule set's texts
// when one is given. Reports and returns false when it cannot.
bool LoadPoTarget(const CliContext& cli, const PoOptions& options, const std::string& sLang, PoTarget& target,
                  int& exitCode);

struct PoTranslations
{
    std::vector<PoEntry> entries;
    std::string sSourceLanguage; // the header's X-Source-Language
};
bool LoadPoFile(const CliContext& cli, const WString& wsPo, PoTranslations& po, int& exitCode);

// Whether an entry carries a translation to use: not the header, not
// obsolete, not fuzzy, with a context and a non-empty msgstr.
bool IsTranslated(const PoEntry& entry);
bool IsFuzzy(const PoEntry& entry);
// "RULE 012": a rule's text, which only a command given the rule set covers.
bool IsRuleContext(const std::string& sContext);

// A text for a message line, quoted, with line breaks and tabs as escapes and
// a long one cut; and "MENU 1 / 0x0108 \"&File\"", a source text so named.
std::string ShownQuoted(const std::string& sText);
std::string ShownSource(const PoSource& source);
