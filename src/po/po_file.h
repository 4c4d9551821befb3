// gettext PO files: the entries a translation tool reads and writes.
#pragma once

#include <string>
#include <vector>

struct PoEntry
{
    std::vector<std::string> translatorComments; // "# "
    std::vector<std::string> extractedComments;  // "#."
    std::vector<std::string> references;         // "#:", one "file:line" each
    std::vector<std::string> flags;              // "#,", one flag each: "fuzzy", "max-length:12"
    bool fHasContext = false;
    std::string sContext;
    std::string sId;
    std::string sIdPlural;
    std::vector<std::string> strs; // msgstr, or msgstr[0], msgstr[1], ...
    bool fObsolete = false;        // "#~"
    // What msgmerge saw before the source text changed ("#| msgid"), kept so a
    // translator's tool can still show the difference after a round trip.
    bool fHasPrevContext = false;
    std::string sPrevContext;
    std::string sPrevId;
    std::string sPrevIdPlural;
    bool HasFlag(const std::string& sFlag) const;
};

bool operator==(const PoEntry& a, const PoEntry& b);
inline bool operator!=(const PoEntry& a, const PoEntry& b)
{
    return !(a == b);
}

// Parses a PO file's text (UTF-8, the header entry included as an entry with
// an empty msgid). False with "line N: reason" in sReason on text it cannot parse:
// a header naming a charset other than UTF-8, bytes that are not UTF-8, and a
// second entry with the same msgctxt and msgid are refused as msgfmt refuses
// them.
bool ReadPo(const std::string& sText, std::vector<PoEntry>& entries, std::string& sReason);

// The entries as PO text that msgfmt --check and msgcat accept. An entry whose
// msgctxt and msgid an earlier entry already has is left out (a live entry
// wins over an obsolete one), since one file cannot hold both.
std::string WritePo(const std::vector<PoEntry>& entries);
