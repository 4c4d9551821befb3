#include "cli/cli_output.h"
#include "cli/po_target.h"

#include <ctime>

namespace
{
std::string HeaderText(const WString& wsTarget, WORD wLang)
{
    char szDate[32];
    std::time_t now = std::time(nullptr);
    std::strftime(szDate, sizeof(szDate), "%Y-%m-%d %H:%M+0000", std::gmtime(&now));
    return "Project-Id-Version: " + ToUtf8(ToolPath(FsPath(wsTarget).filename())) +
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
           LanguageName(wLang) + "\n";
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
    if (source.rule && source.unicode)
        entry.flags.push_back("max-length:" + std::to_string(source.cbBudget / 2));
    return entry;
}
} // namespace

int RunPoExtract(const CliContext& cli, const PoOptions& options)
{
    PoTarget target;
    int exitCode = kExitDone;
    if (!LoadPoTarget(cli, options, ToUtf8(options.wsLang), target, exitCode))
        return exitCode;
    std::string sReason;
    if (!options.wsOutput.empty() && !CheckWritableFile(options.wsOutput, options.force, sReason))
        return ReportBadInput(cli, options.wsOutput, sReason);
    // By what the files are: a link or another spelling names the target too.
    if (!options.wsOutput.empty() && IsSameFile(options.wsOutput, options.wsTarget))
        return ReportBadInput(cli, options.wsOutput, "is the target of this run, not a template");

    std::vector<PoEntry> entries;
    PoEntry header;
    header.sId = std::string();
    header.strs.push_back(HeaderText(options.wsTarget, target.wLang));
    header.flags.push_back("fuzzy");
    entries.push_back(header);
    for (const PoSource& source : target.sources)
        entries.push_back(TemplateEntry(source));
    const std::string sPo = WritePo(entries);

    for (const std::string& sProblem : target.problems)
        WriteErr("pivra-cli po extract: " + sProblem + "\n");
    size_t cRules = 0;
    for (const PoSource& source : target.sources)
        cRules += source.rule ? 1 : 0;
    std::string sSummary = ShownPath(options.wsTarget) + ": " +
                           std::to_string(target.sources.size() - cRules) + " resource texts" +
                           (target.hasTexts ? " (" + LanguageName(target.wLang) + ")" : std::string()) +
                           ", " + std::to_string(cRules) + " rule texts";
    if (options.wsOutput.empty())
    {
        WriteOut(sPo);
        WriteErr(sSummary + "\n");
    }
    else
    {
        if (!WriteWholeFile(options.wsOutput, sPo, options.force, sReason))
            return ReportBadInput(cli, options.wsOutput, sReason);
        WriteOut(sSummary + " written to " + ShownPath(options.wsOutput) + "\n");
    }
    return kExitDone;
}
