// gettext PO files: the entries a translation tool reads and writes.
#pragma once

#include <string>
#include <vector>

struct PoEntry
{
    std::vector<std::string> translatorComments; // "# "
    std::vector<std::string> extractedComments;  // "#."
    std::vector<std::string> references;         // "#:"
    std::vector<std::string> flags;              // "#,", one flag each: "fuzzy", "max-length:12"
    bool fHasContext = false;
    std::string sContext;
    std::string sId;
    std::string sIdPlural;
    std::vector<std::string> strs; // msgstr, or msgstr[0], msgstr[1], ...
    bool fObsolete = false;        // "#~"
    bool HasFlag(const std::string& sFlag) const;
};

// Parses a PO file's text (UTF-8, the header entry included as an entry with
// an empty msgid). 0 with "line N: reason" in sError on text it cannot parse.
int ReadPo(const std::string& sText, std::vector<PoEntry>& entries, std::string& sError);

// The entries as PO text that msgfmt --check and msgcat accept.
std::string WritePo(const std::vector<PoEntry>& entries);
