#include "cli/cli_report.h"

#include "cli/cli_output.h"

int ReportBadInput(const CliContext& cli, const WString& wsFile, const std::string& sReason)
{
    std::string sFile = ShownPath(wsFile);
    WriteErr("pivra-cli " + std::string(cli.szCommand) + ": " + sFile + ": " + sReason + "\n");
    if (cli.json)
    {
        nlohmann::json doc = {{"command", cli.szCommand},
                              {"exitCode", kExitBadInput},
                              {"error", {{"file", sFile}, {"reason", sReason}}}};
        PrintJson(doc);
    }
    return kExitBadInput;
}

void PrintJson(const nlohmann::json& doc)
{
    // Texts from a target or a hand-edited file may hold lone surrogates;
    // they reach here as U+FFFD, and anything else invalid is replaced too.
    WriteOut(doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}
