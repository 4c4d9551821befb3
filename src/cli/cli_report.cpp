#include "cli/cli_report.h"

#include "cli/cli_output.h"

void TellBadInput(const CliContext& cli, const WString& wsFile, const std::string& sReason)
{
    WriteErr("pivra-cli " + std::string(cli.szCommand) + ": " + ShownPath(wsFile) + ": " + sReason + "\n");
}

Json BadInputJson(const WString& wsFile, const std::string& sReason)
{
    return {{"file", ShownPath(wsFile)}, {"reason", sReason}};
}

int ReportBadInput(const CliContext& cli, const WString& wsFile, const std::string& sReason)
{
    TellBadInput(cli, wsFile, sReason);
    if (cli.json)
        PrintJson({{"command", cli.szCommand},
                   {"exitCode", kExitBadInput},
                   {"error", BadInputJson(wsFile, sReason)}});
    return kExitBadInput;
}

void PrintJson(const Json& doc)
{
    // Texts from a target or a hand-edited file may hold lone surrogates;
    // they reach here as U+FFFD, and anything else invalid is replaced too.
    WriteOut(doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
}

std::string OutOfMemoryReason(unsigned long long cb)
{
    std::string sReason =
        "is too large for the memory this program can use (" + std::to_string(cb) + " bytes)";
    if (sizeof(void*) == 4)
        sReason += "; the native build of the tool takes it";
    return sReason;
}
