#include "cli/po_target.h"

#include "cli/cli_output.h"

#include <fstream>
#include <iterator>

bool LoadPoTarget(const CliContext& cli, const PoOptions& options, const std::string& sLang, PoTarget& target,
                  int& exitCode)
{
    std::string sReason;
    if (!target.view.Open(options.wsTarget, sReason))
    {
        exitCode = ReportBadInput(cli, options.wsTarget, sReason);
        return false;
    }
    if (!target.headers.Read(target.view.Data(), target.view.Size(), sReason))
    {
        exitCode = ReportBadInput(cli, options.wsTarget, sReason);
        return false;
    }
    // The entries borrow their data from the view, which the target holds as long.
    if (!ReadResourceEntries(target.headers, target.entries, sReason, kBorrowResourceData))
    {
        exitCode = ReportBadInput(cli, options.wsTarget, "has resources the tool cannot read: " + sReason);
        return false;
    }
    std::vector<std::pair<WORD, size_t>> langs = TextLanguages(target.entries);
    target.hasTexts = !langs.empty();
    if (!sLang.empty())
    {
        if (!ParseLanguage(sLang, target.wLang))
        {
            exitCode = ReportBadInput(cli, options.wsTarget,
                                      "cannot be read in language '" + sLang +
                                          "': not a language name (\"en-US\", \"en\", \"0x0409\")");
            return false;
        }
        bool found = false;
        std::string sList;
        for (const std::pair<WORD, size_t>& lang : langs)
        {
            found = found || lang.first == target.wLang;
            sList += (sList.empty() ? "" : ", ") + LanguageName(lang.first);
        }
        if (!found)
        {
            exitCode = ReportBadInput(
                cli, options.wsTarget,
                "has no texts in language " + sLang + " (" +
                    (sList.empty() ? std::string("it has no resource texts") : "its languages: " + sList) +
                    ")");
            return false;
        }
    }
    else if (!langs.empty())
        target.wLang = langs[0].first;
    ResourceSources(target.entries, target.wLang, target.sources, target.problems);
    if (!options.wsRuleSet.empty())
    {
        WString wsRuleFile;
        if (!ResolveRuleSet(options.wsRuleSet, wsRuleFile, sReason))
        {
            exitCode = ReportBadInput(cli, options.wsRuleSet, sReason);
            return false;
        }
        CTargetView scratch;
        if (!scratch.Open(options.wsTarget, sReason, kViewCopyOnWrite))
        {
            exitCode = ReportBadInput(cli, options.wsTarget, sReason);
            return false;
        }
        RuleSources(wsRuleFile, target.view.Data(), scratch.WritableData(), target.view.Size(),
                    target.sources, target.problems);
    }
    return true;
}

bool LoadPoFile(const CliContext& cli, const WString& wsPo, PoTranslations& po, int& exitCode)
{
    std::string sReason;
    if (!CheckReadable(wsPo, sReason))
    {
        exitCode = ReportBadInput(cli, wsPo, sReason);
        return false;
    }
    std::ifstream in(FsPath(wsPo), std::ios::binary);
    std::string sText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
    {
        exitCode = ReportBadInput(cli, wsPo, "cannot be read");
        return false;
    }
    std::string sError;
    if (!ReadPo(sText, po.entries, sError))
    {
        exitCode = ReportBadInput(cli, wsPo, "is no PO file the tool can read: " + sError);
        return false;
    }
    const std::string sKey = "X-Source-Language:";
    for (const PoEntry& entry : po.entries)
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
        po.sSourceLanguage = sValue;
    }
    return true;
}

bool IsFuzzy(const PoEntry& entry)
{
    return entry.HasFlag("fuzzy");
}

bool IsRuleContext(const std::string& sContext)
{
    return sContext.compare(0, 5, "RULE ") == 0;
}

bool IsTranslated(const PoEntry& entry)
{
    return !entry.fObsolete && entry.fHasContext && !IsFuzzy(entry) && !entry.strs.empty() &&
           !entry.strs[0].empty();
}

std::string ShownQuoted(const std::string& sText)
{
    std::string sCut = sText;
    if (sCut.size() > 60)
    {
        size_t cut = 57;
        while (cut > 0 && (static_cast<unsigned char>(sCut[cut]) & 0xC0) == 0x80)
            --cut;
        sCut = sCut.substr(0, cut) + "...";
    }
    std::string sShown = "\"";
    for (char c : sCut)
        sShown += c == '\n' ? std::string("\\n") : c == '\t' ? std::string("\\t") : std::string(1, c);
    return sShown + "\"";
}

std::string ShownSource(const PoSource& source)
{
    return source.sContext + " " + ShownQuoted(source.sText);
}
