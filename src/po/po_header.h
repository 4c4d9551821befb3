// The header entry of the PO files the tool writes and reads, and the
// template entry of a source text.
#pragma once

#include "po/po_file.h"
#include "po/po_sources.h"

#include <ctime>
#include <string>
#include <vector>

// The header of a new template for the program file sFileName whose source
// texts are in language wLang, made at tMade: what msginit and translators'
// tools fill in, and the source language, which po check and apply read back.
// Property names beyond the usual ones whose strings in forms are texts go
// into X-Form-Properties, for po check and apply to read the same texts.
PoEntry TemplateHeader(const std::string& sFileName, WORD wLang, std::time_t tMade,
                       const std::vector<std::string>& formProperties = {});
// A source text as an untranslated entry, with its place for the translator.
PoEntry TemplateEntry(const PoSource& source);

// The header's X-Source-Language (the last one, trimmed); "" when none.
std::string SourceLanguageOf(const std::vector<PoEntry>& entries);
// The header's X-Form-Properties (the last one), split at commas and trimmed.
std::vector<std::string> FormPropertiesOf(const std::vector<PoEntry>& entries);
