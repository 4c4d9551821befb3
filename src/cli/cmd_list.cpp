#include "cli/cli_files.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "rules/rule_set.h"

namespace
{
struct ListRows
{
    Json rules = Json::array();
    std::string text;
};

const char* Switch(bool on)
{
    return on ? "1" : "0";
}

void AddRow(void* pContext, const PatchRule& rule)
{
    ListRows& rows = *static_cast<ListRows*>(pContext);
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, rule.number);
    // The list's seven columns in its order: number, EN, CN, UNICODE, REPEAT, X86, X64.
    rows.text += ToUtf8(WString(wsNode)) + "\t" + ShownText(rule.wsEn) + "\t" + ShownText(rule.wsCn) + "\t" +
                 Switch(rule.unicode) + "\t" + Switch(rule.repeat) + "\t" + Switch(rule.x86) + "\t" +
                 Switch(rule.x64) + "\n";
    rows.rules.push_back({{"number", rule.number},
                          {"en", ToUtf8(WString(rule.wsEn))},
                          {"cn", ToUtf8(WString(rule.wsCn))},
                          {"unicode", rule.unicode},
                          {"repeat", rule.repeat},
                          {"x86", rule.x86},
                          {"x64", rule.x64}});
}
} // namespace

int RunList(const CliContext& cli, const WString& wsRuleSet)
{
    WString wsFile;
    std::string sReason;
    if (!ResolveRuleSet(wsRuleSet, wsFile, sReason))
        return ReportBadInput(cli, wsFile, sReason);
    ListRows rows;
    ReadRuleList(wsFile.c_str(), AddRow, &rows);
    if (cli.json)
        PrintJson({{"command", "list"},
                   {"ruleSet", ShownPath(wsFile)},
                   {"rules", rows.rules},
                   {"exitCode", kExitDone}});
    else
        WriteOut(rows.text);
    return kExitDone;
}
