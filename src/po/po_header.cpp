#include "po/po_header.h"

#include "image/image_map.h"

PoEntry TemplateHeader(const std::string& sFileName, WORD wLang, std::time_t tMade)
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

std::string SourceLanguageOf(const std::vector<PoEntry>& entries)
{
    const std::string sKey = "X-Source-Language:";
    std::string sLanguage;
    for (const PoEntry& entry : entries)
    {
        if (entry.fHasContext || !entry.sId.empty() || entry.strs.empty())
            continue;
        size_t at = entry.strs[0].find(sKey);
        if (at == std::string::npos)
            continue;
        size_t end = entry.strs[0].find('\n', at);
        std::string sValue = entry.strs[0].substr(
            at + sKey.size(), end == std::string::npos ? std::string::npos : end - at - sKey.size());
        while (!sValue.empty() && sValue.front() == ' ')
            sValue.erase(0, 1);
        while (!sValue.empty() && (sValue.back() == ' ' || sValue.back() == '\r'))
            sValue.pop_back();
        sLanguage = sValue;
    }
    return sLanguage;
}
