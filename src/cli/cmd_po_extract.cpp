#include "cli/cli_output.h"
#include "cli/cli_report.h"
#include "cli/commands.h"
#include "cli/po_target.h"
#include "image/image_map.h"
#include "po/po_header.h"

#include <ctime>

int RunPoExtract(const CliContext& cli, const PoOptions& options)
{
    PoTarget target;
    std::string sReason;
    WString wsRuleFile, wsFailed;
    target.forms.extraProperties = options.formProperties;
    if (!LoadPoSources(options.wsTarget, ToUtf8(options.wsLang), options.wsRuleSet, target, wsRuleFile,
                       wsFailed, sReason, true))
        return ReportBadInput(cli, wsFailed, sReason);
    if (!options.wsOutput.empty() && !CheckWritableFile(options.wsOutput, options.force, sReason))
        return ReportBadInput(cli, options.wsOutput, sReason);
    // By what the files are: a link or another spelling names the target too.
    if (!options.wsOutput.empty() && IsSameFile(options.wsOutput, options.wsTarget))
        return ReportBadInput(cli, options.wsOutput, "is the target of this run, not a template");

    std::vector<PoEntry> entries;
    entries.push_back(TemplateHeader(ToUtf8(ToolPath(FsPath(options.wsTarget).filename())), target.wLang,
                                     std::time(nullptr), options.formProperties));
    for (const PoSource& source : target.sources)
        entries.push_back(TemplateEntry(source));
    const std::string sPo = WritePo(entries);

    for (const std::string& sLeftOut : target.leftOut)
        WriteErr("pivra-cli po extract: " + sLeftOut + "\n");
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
