// The four commands; each prints its text or JSON and returns the exit code.
#pragma once

#include "cli/cli_report.h"

#include <string>
#include <vector>

int RunList(const CliContext& cli, const WString& wsRuleSet);

struct ApplyOptions
{
    WString wsRuleSet;
    std::vector<WString> targets;
    bool backup;
    bool force;
    WString wsLog;    // empty: the tool's failure log beside the executable
    bool allowUnsafe; // write also what would break an image, as the main window's run does
    bool inPlace;     // patch the targets themselves, as the main window does, not a copy of each
    bool relocate;    // a CN longer than its EN goes into a new section, its references moved there
};
int RunApply(const CliContext& cli, const ApplyOptions& options);
int RunApplyRelocating(const CliContext& cli, const ApplyOptions& options);

int RunCheck(const CliContext& cli, const WString& wsRuleSet, const WString& wsTarget, bool relocate);

struct ExtractOptions
{
    WString wsTarget;
    WString wsOutput; // empty: print the texts
    unsigned uMinChars;
    WString wsSection; // empty: every section
    bool allSections;
    bool addToCatalogue;
    bool force;
    bool resources; // resource texts go into the rule set too
    WString wsLang; // empty: resource texts of every language
};
int RunExtract(const CliContext& cli, const ExtractOptions& options);

struct PoOptions
{
    WString wsTarget;
    WString wsPo;      // apply, check: the translated PO file
    WString wsOutput;  // extract: the template to write, apply: the image to write; empty: standard
                       // output, the target itself
    WString wsLang;    // the source language; empty: the PO file's, else the one with the most texts
    WString wsAs;      // apply: add the translations as this language; empty: replace the source texts
    WString wsRuleSet; // the rule set whose texts the PO file covers too
    WString wsLog;     // apply: the patch run's failure log; empty: the tool's
    bool backup;
    bool force;
    bool partial;     // apply: write what is not refused
    UINT uCharset;    // check: the code page the translations must fit; 0: none
    bool allowFormat; // apply: write also translations whose format specifiers differ
    bool relocate;    // apply, check: a rule's longer translation is relocated, not refused
    // More property names whose strings in forms are texts (extract writes
    // them into the template's header, where check and apply find them too).
    std::vector<std::string> formProperties;
    // apply, check: the character set a translated form's ANSI_CHARSET font gets.
    std::string sFormCharset;
    bool fit = false; // apply: controls that clip their translated texts grow
};
int RunPoExtract(const CliContext& cli, const PoOptions& options);
int RunPoApply(const CliContext& cli, const PoOptions& options);
int RunPoCheck(const CliContext& cli, const PoOptions& options);
