// pivra-cli: the patch engine and rule sets of the tool, from the command line.
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "po/text_checks.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#ifdef _WIN32
#include <shellapi.h>
#endif

namespace
{
struct Arguments
{
    std::string sRuleSet, sTarget, sLog, sOutput, sSection, sLang, sPo, sAs, sFormCharset;
    std::vector<std::string> targets, formProperties;
    bool json = false, backup = false, force = false, partial = false, allowUnsafe = false, inPlace = false,
         relocate = false, allSections = false, addToCatalogue = false, resources = false,
         allowFormat = false, fit = false;
    unsigned uMinChars = 4, uCharset = 0;
};

void AddJson(CLI::App* pCommand, Arguments& args)
{
    pCommand->add_flag("--json", args.json,
                       "Print one JSON document (schema in docs/json.md) instead of text");
}

// What the command line asks before it is parsed, for a usage error: the
// command named and whether --json is among the arguments.
CliContext AskedContext(int argc, char** argv)
{
    static const char* const kCommands[] = {"list", "apply", "check", "extract", "po"};
    CliContext cli = {nullptr, false};
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--json") == 0)
            cli.json = true;
        for (const char* szCommand : kCommands)
            if (cli.szCommand == nullptr && std::strcmp(argv[i], szCommand) == 0)
                cli.szCommand = szCommand;
    }
    return cli;
}

int ReportUsageError(const CliContext& cli, const std::string& sMessage)
{
    if (cli.json)
        PrintJson({{"command", cli.szCommand != nullptr ? Json(cli.szCommand) : Json()},
                   {"exitCode", kExitBadInput},
                   {"error", {{"file", nullptr}, {"reason", sMessage}}}});
    return kExitBadInput;
}

// Linux names files by bytes; the tool names them in UTF-16, so a name that is
// not well-formed UTF-8 has no exact form in it and is refused rather than
// decoded into another name.
int CheckNames(const CliContext& cli, const std::vector<const std::string*>& names)
{
#ifdef _WIN32
    (void)cli;
    (void)names;
#else
    for (const std::string* pName : names)
    {
        size_t badAt = 0;
        if (IsWellFormedUtf8(*pName, badAt))
            continue;
        char szByte[8];
        std::snprintf(szByte, sizeof(szByte), "0x%02X",
                      static_cast<unsigned>(static_cast<BYTE>((*pName)[badAt])));
        return ReportBadInput(cli, FromUtf8(ShownBytes(*pName)),
                              "is a name that is not valid UTF-8 (byte " + std::string(szByte) +
                                  " at offset " + std::to_string(badAt) +
                                  "), which the tool cannot name exactly");
    }
#endif
    return kExitDone;
}

#ifdef _WIN32
// A Windows name may hold half of a surrogate pair: it has no UTF-8 form, so
// it would reach the commands as another name (with U+FFFD in its place).
bool HasLoneSurrogate(const WCHAR* ws)
{
    for (; *ws != 0; ++ws)
    {
        if (*ws >= 0xD800 && *ws <= 0xDBFF && ws[1] >= 0xDC00 && ws[1] <= 0xDFFF)
            ++ws;
        else if (*ws >= 0xD800 && *ws <= 0xDFFF)
            return true;
    }
    return false;
}
#endif

// The commands the line may name, for the run to learn which one it did.
struct Subcommands
{
    CLI::App* pList;
    CLI::App* pApply;
    CLI::App* pCheck;
    CLI::App* pExtract;
    CLI::App* pPo;
    CLI::App* pPoExtract;
    CLI::App* pPoApply;
    CLI::App* pPoCheck;
};

void AddRuleSetCommands(CLI::App& app, Arguments& args, Subcommands& commands)
{
    commands.pList = app.add_subcommand("list", "The rules of a rule set, as the main window lists them");
    commands.pList->add_option("RULESET", args.sRuleSet, "Rule-set file (.ini) or name in the catalogue")
        ->required();
    AddJson(commands.pList, args);

    commands.pApply =
        app.add_subcommand("apply", "Apply a rule set to each target, as the start command does");
    commands.pApply->add_option("RULESET", args.sRuleSet, "Rule-set file (.ini) or name in the catalogue")
        ->required();
    commands.pApply
        ->add_option("TARGET", args.targets,
                     "Files to patch: each through a copy that replaces it once its run is complete")
        ->required();
    commands.pApply->add_flag("--backup", args.backup, "Copy each target to TARGET.bak before it changes");
    commands.pApply->add_flag("--force", args.force,
                              "Replace an existing backup (only when the run changes the target)");
    commands.pApply->add_flag(
        "--in-place", args.inPlace,
        "Patch each target itself, as the main window does: no copy, but a run that stops "
        "part-way leaves it half patched");
    commands.pApply->add_option("--log", args.sLog, "Failure log (default: pivra.log beside the executable)");
    commands.pApply->add_flag("--allow-unsafe", args.allowUnsafe,
                              "Write also what would break an image, as the main window's start does");
    commands.pApply->add_flag("--relocate", args.relocate,
                              "Write a CN longer than its EN into a new section and point every "
                              "reference to EN there");
    AddJson(commands.pApply, args);

    commands.pCheck = app.add_subcommand("check", "Show what applying a rule set would do, writing nothing");
    commands.pCheck->add_option("RULESET", args.sRuleSet, "Rule-set file (.ini) or name in the catalogue")
        ->required();
    commands.pCheck->add_option("TARGET", args.sTarget, "File the rules would patch")->required();
    commands.pCheck->add_flag("--relocate", args.relocate,
                              "Show where each CN longer than its EN would go and the references moved");
    AddJson(commands.pCheck, args);

    commands.pExtract = app.add_subcommand("extract", "Find candidate interface texts in a PE image");
    commands.pExtract->add_option("TARGET", args.sTarget, "PE image (EXE or DLL) to search")->required();
    commands.pExtract->add_option("-o,--output", args.sOutput,
                                  "Write a new rule set (.ini file or catalogue name)");
    commands.pExtract->add_option("--min", args.uMinChars, "Shortest text, in characters")
        ->capture_default_str()
        ->check(CLI::Range(1u, 2047u));
    commands.pExtract->add_option("--section", args.sSection,
                                  "Only texts in this section (\".rdata\", \"headers\", ...)");
    commands.pExtract->add_flag("--all-sections", args.allSections, "Search the PE headers too");
    commands.pExtract->add_flag(
        "--resources", args.resources,
        "Write resource texts into the rule set too (safe only with a CN of EN's length)");
    commands.pExtract->add_option("--lang", args.sLang,
                                  "Only resource texts of this language (\"en-US\", ...)");
    commands.pExtract->add_flag("--add-to-catalogue", args.addToCatalogue,
                                "Add the new rule set to the catalogue");
    commands.pExtract->add_flag("--force", args.force, "Replace an existing rule-set file");
    AddJson(commands.pExtract, args);
}

void AddPoCommands(CLI::App& app, Arguments& args, Subcommands& commands)
{
    commands.pPo = app.add_subcommand("po", "Translate every text of a program through a gettext PO file");
    commands.pPo->require_subcommand(1);
    commands.pPoExtract = commands.pPo->add_subcommand(
        "extract", "Write a PO template of the target's resource texts (and a rule set's)");
    commands.pPoExtract->add_option("TARGET", args.sTarget, "PE image (EXE or DLL)")->required();
    commands.pPoExtract->add_option("-o,--output", args.sOutput,
                                    "The template to write (default: standard output)");
    commands.pPoExtract->add_flag("--force", args.force, "Replace an existing template");
    commands.pPoApply = commands.pPo->add_subcommand(
        "apply", "Rebuild the target's resources with the translations, and write rule texts as CN");
    commands.pPoApply
        ->add_option("TARGET", args.sTarget, "PE image to translate (in place unless -o is given)")
        ->required();
    commands.pPoApply->add_option("PO", args.sPo, "The translated PO file")->required();
    commands.pPoApply->add_option("-o,--output", args.sOutput,
                                  "Write the translated image to this file, the target untouched");
    commands.pPoApply->add_option(
        "--as", args.sAs,
        "Add the translations as a copy in this language (\"zh-CN\"), keeping the originals");
    commands.pPoApply->add_flag("--backup", args.backup, "Copy the target to TARGET.bak before it changes");
    commands.pPoApply->add_flag(
        "--force", args.force,
        "Replace an existing backup or output, and copies in the --as language whose texts "
        "the new ones would lose");
    commands.pPoApply->add_flag("--partial", args.partial,
                                "Write what can be written when some translations or rules are refused");
    commands.pPoApply->add_option(
        "--log", args.sLog,
        "With --rules: the failure log of the patch run (default: pivra.log beside the tool)");
    commands.pPoApply->add_flag(
        "--fit", args.fit,
        "Make room in each translated dialog whose control would cut its text off on a "
        "Chinese system (po check names them)");
    commands.pPoApply->add_flag("--allow-format", args.allowFormat,
                                "Write also translations whose format specifiers differ from the source's");
    commands.pPoCheck = commands.pPo->add_subcommand(
        "check", "List what a PO file leaves open or gets wrong for a target, writing nothing");
    commands.pPoCheck->add_option("TARGET", args.sTarget, "PE image")->required();
    commands.pPoCheck->add_option("PO", args.sPo, "The translated PO file")->required();
    commands.pPoCheck
        ->add_option("--charset", args.uCharset,
                     "Name the characters this code page (\"936\") cannot hold in the translations")
        ->check(CLI::Range(1u, 65535u));
    for (CLI::App* pCommand : {commands.pPoApply, commands.pPoCheck})
        pCommand
            ->add_option(
                "--form-charset", args.sFormCharset,
                "A translated form whose font is ANSI_CHARSET gets this one instead (DEFAULT_CHARSET, "
                "GB2312_CHARSET), so Chinese can show")
            ->check(CLI::IsMember({"DEFAULT_CHARSET", "GB2312_CHARSET", "CHINESEBIG5_CHARSET",
                                   "SHIFTJIS_CHARSET", "HANGEUL_CHARSET"}));
    for (CLI::App* pCommand : {commands.pPoApply, commands.pPoCheck})
        pCommand->add_flag("--relocate", args.relocate,
                           "With --rules: a rule's translation longer than its EN is relocated into a new "
                           "section (apply --relocate), not refused");
    for (CLI::App* pCommand : {commands.pPoExtract, commands.pPoApply, commands.pPoCheck})
    {
        pCommand->add_option("--lang", args.sLang,
                             "Source language of the resource texts (default: the PO file's, else the one "
                             "with the most texts)");
        pCommand->add_option("--rules", args.sRuleSet, "Cover the texts of this rule set too (RULE entries)");
        pCommand->add_option("--form-property", args.formProperties,
                             "A form property whose strings are texts too (\"Prompt\", \"Items.Strings\"); "
                             "po extract records it in the template for check and apply");
    }
}

int RunPoCommand(const CliContext& cli, const Arguments& args, const Subcommands& commands)
{
    PoOptions options = {FromUtf8(args.sTarget),
                         FromUtf8(args.sPo),
                         FromUtf8(args.sOutput),
                         FromUtf8(args.sLang),
                         FromUtf8(args.sAs),
                         FromUtf8(args.sRuleSet),
                         FromUtf8(args.sLog),
                         args.backup,
                         args.force,
                         args.partial,
                         args.uCharset,
                         args.allowFormat,
                         args.relocate,
                         args.formProperties,
                         args.sFormCharset,
                         args.fit};
    if (options.uCharset != 0 && !KnowsCodePage(options.uCharset))
    {
        WriteErr("pivra-cli po check: --charset " + std::to_string(options.uCharset) +
                 ": a code page this build cannot convert to\n");
        return ReportUsageError(cli, "--charset names a code page this build cannot convert to");
    }
    if (commands.pPoExtract->parsed())
        return RunPoExtract(CliContext{"po extract", false}, options);
    if (commands.pPoApply->parsed())
        return RunPoApply(CliContext{"po apply", false}, options);
    return RunPoCheck(CliContext{"po check", false}, options);
}

// The command the line named, with its options.
int RunCommand(const CliContext& cli, const Arguments& args, const Subcommands& commands)
{
    if (commands.pList->parsed())
        return RunList(CliContext{"list", args.json}, FromUtf8(args.sRuleSet));
    if (commands.pApply->parsed())
    {
        ApplyOptions options = {
            FromUtf8(args.sRuleSet), {},           args.backup,  args.force, FromUtf8(args.sLog),
            args.allowUnsafe,        args.inPlace, args.relocate};
        for (const std::string& sTarget : args.targets)
            options.targets.push_back(FromUtf8(sTarget));
        return RunApply(CliContext{"apply", args.json}, options);
    }
    if (commands.pCheck->parsed())
        return RunCheck(CliContext{"check", args.json}, FromUtf8(args.sRuleSet), FromUtf8(args.sTarget),
                        args.relocate);
    if (commands.pExtract->parsed())
    {
        ExtractOptions options = {
            FromUtf8(args.sTarget), FromUtf8(args.sOutput), args.uMinChars, FromUtf8(args.sSection),
            args.allSections,       args.addToCatalogue,    args.force,     args.resources,
            FromUtf8(args.sLang)};
        if (options.addToCatalogue && options.wsOutput.empty())
        {
            WriteErr("pivra-cli extract: --add-to-catalogue needs -o\n");
            return ReportUsageError(cli, "--add-to-catalogue needs -o");
        }
        return RunExtract(CliContext{"extract", args.json}, options);
    }
    if (commands.pPo->parsed())
        return RunPoCommand(cli, args, commands);
    return kExitBadInput;
}

int Run(int argc, char** argv)
{
    CLI::App app{"pivra-cli: translate the texts of Windows programs by same-length patching, with the rule "
                 "sets of the tool's main window"};
    app.require_subcommand(1);
    Arguments args;
    Subcommands commands = {};
    AddRuleSetCommands(app, args, commands);
    AddPoCommands(app, args, commands);

    // CLI11 reports bad usage by exception; the product's core has none.
    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& e)
    {
        int code = app.exit(e);
        return code == 0 ? kExitDone : ReportUsageError(AskedContext(argc, argv), e.what());
    }

    CliContext cli = AskedContext(argc, argv);
    cli.json = args.json;
    std::vector<const std::string*> names = {&args.sRuleSet, &args.sTarget, &args.sLog, &args.sOutput,
                                             &args.sPo};
    for (const std::string& sTarget : args.targets)
        names.push_back(&sTarget);
    const int exitCode = CheckNames(cli, names);
    if (exitCode != kExitDone)
        return exitCode;
    return RunCommand(cli, args, commands);
}
} // namespace

int main(int argc, char** argv)
{
    // CLI11, nlohmann/json and the standard containers throw, and their
    // exceptions stay inside this program (the tool's window and core use
    // none); check and extract catch running out of memory where they know
    // the file, everything else ends here.
    try
    {
#ifdef _WIN32
        // The wide command line: the ANSI one loses what the code page lacks.
        int cArgs = 0;
        LPWSTR* pArgs = CommandLineToArgvW(GetCommandLineW(), &cArgs);
        std::vector<std::string> utf8;
        WString wsLone;
        for (int i = 0; pArgs != nullptr && i < cArgs; ++i)
        {
            utf8.push_back(ToUtf8(WString(pArgs[i])));
            if (wsLone.empty() && HasLoneSurrogate(pArgs[i]))
                wsLone = pArgs[i];
        }
        if (pArgs != nullptr)
            LocalFree(pArgs);
        std::vector<char*> argvUtf8;
        for (std::string& s : utf8)
            argvUtf8.push_back(&s[0]);
        argvUtf8.push_back(nullptr);
        if (!wsLone.empty())
            return ReportBadInput(
                AskedContext(static_cast<int>(utf8.size()), argvUtf8.data()), wsLone,
                "is a name holding a lone UTF-16 surrogate, which the tool cannot name exactly");
        if (!utf8.empty())
            return Run(static_cast<int>(utf8.size()), argvUtf8.data());
#endif
        return Run(argc, argv);
    }
    catch (const std::bad_alloc&)
    {
        // The commands catch it where they know the file; this is the rest.
        WriteErr("pivra-cli: out of memory\n");
        return kExitBadInput;
    }
    catch (const std::exception& e)
    {
        WriteErr(std::string("pivra-cli: ") + e.what() + "\n");
        return kExitBadInput;
    }
}
