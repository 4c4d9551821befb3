#include "po/po_header.h"

#include "image/image_map.h"

PoEntry TemplateHeader(const std::string& sFileName, WORD wLang, std::time_t tMade,
                       const std::vector<std::string>& formProperties)
{
    char szDate[32];
    std::strftime(szDate, sizeof(szDate), "%Y-%m-%d %H:%M+0000", std::gmtime(&tMade));
    PoEntry header;
    header.strs.push_back("Project-Id-Version: " + sFileName +
                          "\n"
                          "POT-Creation-Date: " +
                          szDate +
                          "\n"
                          // What msginit and the translators' tools fill in for a new translation.
                          "PO-Revision-Date: YEAR-MO-DA HO:MI+ZONE\n"
                          "Last-Translator: FULL NAME <EMAIL@ADDRESS>\n"
                          "Language-Team: LANGUAGE <LL@li.org>\n"
                          "Language: \n"
                          "MIME-Version: 1.0\n"
                          "Content-Type: text/plain; charset=UTF-8\n"
                          "Content-Transfer-Encoding: 8bit\n"
                          "X-Source-Language: " +
                          LanguageName(wLang) + "\n");
    if (!formProperties.empty())
    {
        std::string sList;
        for (const std::string& sName : formProperties)
            sList += (sList.empty() ? "" : ", ") + sName;
        header.strs.back() += "X-Form-Properties: " + sList + "\n";
    }
    header.flags.push_back("fuzzy");
    return header;
}

PoEntry TemplateEntry(const PoSource& source)
{
    PoEntry entry;
    entry.fHasContext = true;
    entry.sContext = source.sContext;
    entry.sId = source.sText;
    entry.strs.push_back(std::string());
    entry.extractedComments.push_back(source.sPlace);
    // Weblate and others hold a translation to this many characters; a UTF-16
    // rule's CN may take as many units as its EN.
    if (source.rule && source.unicode && !source.relocatable)
        entry.flags.push_back("max-length:" + std::to_string(source.cbBudget / 2));
    return entry;
}

namespace
{
std::string Trimmed(std::string s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.erase(0, 1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.pop_back();
    return s;
}

// The value of the header field sKey ("X-Source-Language:"), the last one, trimmed.
std::string HeaderValue(const std::vector<PoEntry>& entries, const std::string& sKey)
{
    std::string sValue;
    for (const PoEntry& entry : entries)
    {
        if (entry.fHasContext || !entry.sId.empty() || entry.strs.empty())
            continue;
        size_t at = entry.strs[0].find(sKey);
        if (at == std::string::npos)
            continue;
        size_t end = entry.strs[0].find('\n', at);
        sValue = Trimmed(entry.strs[0].substr(
            at + sKey.size(), end == std::string::npos ? std::string::npos : end - at - sKey.size()));
    }
    return sValue;
}
} // namespace

std::string SourceLanguageOf(const std::vector<PoEntry>& entries)
{
    return HeaderValue(entries, "X-Source-Language:");
}

std::vector<std::string> FormPropertiesOf(const std::vector<PoEntry>& entries)
{
    std::vector<std::string> names;
    const std::string sList = HeaderValue(entries, "X-Form-Properties:");
    for (size_t at = 0; at <= sList.size();)
    {
        size_t comma = sList.find(',', at);
        std::string sName =
            Trimmed(sList.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (!sName.empty())
            names.push_back(sName);
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return names;
}
