// The texts one PO file covers for a target: the resource texts of one
// language, read from the image's resource tree, and the texts of a rule set's
// rules as the patch run finds them in the target.
#pragma once

#include "image/image_map.h"
#include "image/resource_texts.h"
#include "util/wstring.h"

#include <map>
#include <string>
#include <vector>

struct PoSource
{
    std::string sContext; // "MENU 1 / 0x0108", "RULE 012"
    std::string sText;    // the source text, UTF-8
    std::string sGroup;   // texts picked among by accelerator; empty for rules
    std::string sPlace;   // for the translator: where it lies
    bool rule;
    // Rules only: the rule's number, its encoding and how many bytes of it
    // the translation may take (EN's decoded length: CN is padded to it).
    UINT uRule;
    bool unicode;
    DWORD cbBudget;
    size_t uEntry; // resources only: the entry that holds the text
    // Rules only: EN can be relocated, so a longer translation has a place.
    bool relocatable = false;
    // Why Chinese may not show in it (a form's ANSI_CHARSET font), or empty.
    std::string sFontWarning = std::string();
};

// The texts of each entry that holds texts, listed once for the language
// count and the sources; fRead false with the reason when its data cannot be read.
struct EntryTexts
{
    bool fRead = true;
    std::vector<ResourceText> texts;
    std::string sReason;
};
std::vector<EntryTexts> ListEntryTexts(const std::vector<ResourceEntry>& entries,
                                       const FormSettings* pForms = nullptr);

// "en-US", "en", "zh-CN" or "0x0409" as a language id; false for other names.
bool ParseLanguage(const std::string& sName, WORD& wLang);

// The languages of the resources that hold texts, with their text counts;
// the one with the most texts first (en-US, other English, then the lower id,
// on a tie).
std::vector<std::pair<WORD, size_t>> TextLanguages(const std::vector<ResourceEntry>& entries,
                                                   const std::vector<EntryTexts>& listed);

// Whether two entries are one resource (type and name) in any languages.
bool SameResource(const ResourceEntry& a, const ResourceEntry& b);
// Whether the texts of an entry are source texts in language wLang: it is in
// that language, or language-neutral (as version information often is) with
// no copy in it, so every system shows it.
bool IsSourceEntry(const std::vector<ResourceEntry>& entries, const ResourceEntry& entry, WORD wLang);

// Each text of the source resources of language wLang, in the tree's order; a
// resource whose data cannot be read is named in leftOut and left out.
void ResourceSources(const std::vector<ResourceEntry>& entries, const std::vector<EntryTexts>& listed,
                     WORD wLang, std::vector<PoSource>& sources, std::vector<std::string>& leftOut);

struct TranslatedResource
{
    size_t uEntry;
    std::vector<BYTE> data;
};
// Each source resource with a translated text, rewritten with the translations
// of the texts the sources took from it (a resource whose texts were left out,
// as a second one with the same contexts, is not touched). Appends a line to
// untranslatable for each resource that cannot take its translations.
void TranslateSources(const std::vector<ResourceEntry>& entries, const std::vector<PoSource>& sources,
                      const std::map<std::string, std::string>& translations,
                      std::vector<TranslatedResource>& translated, std::vector<std::string>& untranslatable,
                      const FormSettings* pForms = nullptr);

// Each rule of the rule set that applies to the image's bitness, with its
// first occurrence in the target named by the map. Rules whose EN a PO file
// cannot hold (a zero unit, bytes that are no text in the code page) are named
// in leftOut and left out. image is the map of the target's bytes; pScratch
// holds the same bytes, for the rules to change (a copy-on-write view), and
// the mapped bytes stay untouched. With fRelocation each rule text that can
// be relocated is marked so (a longer translation has a place).
void RuleSources(const WString& wsRuleFile, const CImageMap& image, BYTE* pScratch,
                 std::vector<PoSource>& sources, std::vector<std::string>& leftOut, bool fRelocation);

// Whether a translation fits a rule: its stored CN form (escape notation),
// or false with the reason (over the budget, not in the ANSI code page).
// A relocatable rule takes a translation of any length.
bool RuleTranslation(const PoSource& source, const std::string& sTranslation, WString& wsCn,
                     std::string& sReason);
