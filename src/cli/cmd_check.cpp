#include "cli/cli_files.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/dry_run.h"
#include "cli/pe_image.h"
#include "rules/rule_set.h"

namespace
{
const char* OutcomeName(DryOutcome outcome)
{
    switch (outcome)
    {
    case kDryChanges:
        return "changes";
    case kDryOtherBitness:
        return "other-bitness";
    case kDryNotFound:
        return "not-found";
    case kDryCnLonger:
        return "cn-longer";
    case kDryZeroOneSide:
        return "zero-one-side";
    }
    return "";
}

std::string Plural(UINT n, const char* szOne, const char* szMany)
{
    return std::to_string(n) + " " + (n == 1 ? szOne : szMany);
}

std::string RuleList(const std::vector<UINT>& rules)
{
    std::string s = rules.size() == 1 ? "rule " : "rules ";
    for (size_t i = 0; i < rules.size(); ++i)
    {
        WCHAR wsNode[kKeyChars];
        FormatNode(wsNode, rules[i]);
        s += (i > 0 ? ", " : "") + ToUtf8(WString(wsNode));
    }
    return s;
}

Json OffsetsJson(const std::vector<DWORD>& offsets, const PeImage& image)
{
    Json list = Json::array();
    for (DWORD dw : offsets)
        list.push_back({{"offset", dw}, {"section", image.pe ? Json(image.RegionOf(dw)) : Json()}});
    return list;
}

// "0x00012340 .rdata, 0x00012400 .rdata, ..." and the notes of the regions called out.
std::string OffsetsText(const std::vector<DWORD>& offsets, UINT uTotal, const PeImage& image,
                        std::string& sNotes)
{
    std::string s;
    for (DWORD dw : offsets)
    {
        std::string sRegion = image.RegionOf(dw);
        s += (s.empty() ? "" : ", ") + HexOffset(dw) + (sRegion.empty() ? "" : " " + sRegion);
        std::string sNote = RegionNote(sRegion);
        if (!sNote.empty() && sNotes.find(sNote) == std::string::npos)
            sNotes += "     (!) " + HexOffset(dw) + " " + sNote + "\n";
    }
    if (uTotal > offsets.size())
        s += ", ...";
    return s;
}

std::string FailureText(const DryRule& rule, bool pe64)
{
    switch (rule.outcome)
    {
    case kDryOtherBitness:
        return pe64 ? "passed over: the target is 64-bit and X64 is 0"
                    : "passed over: the target is not 64-bit and X86 is 0";
    case kDryNotFound:
        return "fails: EN is not in the target";
    case kDryCnLonger:
        return "fails: CN is longer than EN in bytes (" + std::to_string(rule.cbCn) + " > " +
               std::to_string(rule.cbEn) + ")";
    case kDryZeroOneSide:
        return rule.cbCn == 0 || rule.cbEn > 0 ? "fails: CN is empty or begins with a zero unit, EN does not"
                                               : "fails: EN begins with a zero unit, CN does not";
    case kDryChanges:
        break;
    }
    return "";
}

std::string RuleText(const DryRule& rule, bool pe64, const PeImage& image)
{
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, rule.number);
    std::string s = ToUtf8(WString(wsNode)) + (rule.unicode ? " UTF-16" : " ANSI") +
                    (rule.repeat ? " REPEAT" : "") + (rule.x86 ? " X86" : "") + (rule.x64 ? " X64" : "") +
                    "  EN=" + ShownText(rule.wsEn) + "\n";
    std::string sNotes;
    if (rule.outcome == kDryChanges && !rule.repeat && rule.uOccurrences > 1)
    {
        // Without REPEAT the others stay as they are: a translator should see them.
        std::vector<DWORD> others(rule.occurrenceAt.begin() + 1, rule.occurrenceAt.end());
        s += "     overwrites the first of " + std::to_string(rule.uOccurrences) +
             " occurrences: " + OffsetsText(rule.offsets, rule.uOverwrites, image, sNotes) + "\n" +
             "     left as they are: " + OffsetsText(others, rule.uOccurrences - 1, image, sNotes) + "\n";
        if (!rule.createdAt.empty())
            s += "     made by " + RuleList(rule.changedBy) +
                 ", not in the untouched target: " + OffsetsText(rule.createdAt, 0, image, sNotes) + "\n";
        return s + sNotes;
    }
    if (rule.outcome == kDryChanges)
    {
        s += "     overwrites " + Plural(rule.uOverwrites, "occurrence", "occurrences") + ": " +
             OffsetsText(rule.offsets, rule.uOverwrites, image, sNotes) + "\n";
        if (!rule.createdAt.empty())
            s += "     made by " + RuleList(rule.changedBy) +
                 ", not in the untouched target: " + OffsetsText(rule.createdAt, 0, image, sNotes) + "\n";
        return s + sNotes;
    }
    s += "     " + FailureText(rule, pe64) + "\n";
    if (rule.outcome == kDryNotFound && !rule.originalAt.empty())
        s += "     the untouched target holds it at " + OffsetsText(rule.originalAt, 0, image, sNotes) +
             (rule.changedBy.empty() ? "" : "; " + RuleList(rule.changedBy) + " overwrote it first") + "\n";
    if ((rule.outcome == kDryCnLonger || rule.outcome == kDryZeroOneSide) && rule.uOccurrences > 0)
        s += "     EN occurs " + Plural(rule.uOccurrences, "time", "times") + ": " +
             OffsetsText(rule.offsets, rule.uOccurrences, image, sNotes) + "\n";
    return s + sNotes;
}

Json RuleJson(const DryRule& rule, const PeImage& image)
{
    bool applies = rule.outcome != kDryOtherBitness;
    return {{"number", rule.number},
            {"en", ToUtf8(rule.wsEn)},
            {"cn", ToUtf8(rule.wsCn)},
            {"unicode", rule.unicode},
            {"repeat", rule.repeat},
            {"x86", rule.x86},
            {"x64", rule.x64},
            {"applies", applies},
            {"result", OutcomeName(rule.outcome)},
            {"enBytes", applies ? Json(rule.cbEn) : Json()},
            {"cnBytes", applies ? Json(rule.cbCn) : Json()},
            {"overwrites", rule.uOverwrites},
            {"occurrences", rule.uOccurrences},
            {"offsets", OffsetsJson(rule.offsets, image)},
            {"createdOffsets", OffsetsJson(rule.createdAt, image)},
            {"originalOffsets", OffsetsJson(rule.originalAt, image)},
            {"changedBy", rule.changedBy}};
}

std::string ReportText(UINT uTried, UINT uModified)
{
    return "汉化完成，搜索 " + std::to_string(uTried) + " 处文本，修改 " + std::to_string(uModified) +
           " 处文本！";
}

int CheckMapped(const CliContext& cli, const WString& wsRuleFile, const WString& wsTarget,
                const CTargetView& original)
{
    // One copy for the rules to change; the untouched bytes stay in the mapping.
    std::vector<BYTE> view(original.Data(), original.Data() + original.Size());
    PeImage image;
    image.Load(view.data(), static_cast<DWORD>(view.size()));
    DryRunResult result;
    {
        CProgress progress("check");
        DryRunPatch(wsRuleFile.c_str(), view, original.Data(), result,
                    [&progress](UINT uRule) { progress.Update(uRule, 0, "rule " + std::to_string(uRule)); });
    }
    int exitCode = result.uTried > result.uModified ? kExitRulesFailed : kExitDone;
    std::string sReport = ReportText(result.uTried, result.uModified);
    if (cli.json)
    {
        Json rules = Json::array();
        for (const DryRule& rule : result.rules)
            rules.push_back(RuleJson(rule, image));
        PrintJson({{"command", "check"},
                   {"ruleSet", ShownPath(wsRuleFile)},
                   {"target", ShownPath(wsTarget)},
                   {"pe",
                    {{"image", image.pe},
                     {"machine", image.pe ? Json(image.MachineName()) : Json()},
                     {"is64", result.pe64}}},
                   {"tried", result.uTried},
                   {"modified", result.uModified},
                   {"report", sReport},
                   {"rules", rules},
                   {"exitCode", exitCode}});
        return exitCode;
    }
    std::string s =
        ShownPath(wsTarget) + ": " +
        (image.pe ? "PE image for " + image.MachineName() : std::string("no PE image")) +
        (result.pe64 ? ", 64-bit: rules with X64 apply\n" : ", not 64-bit: rules with X86 apply\n");
    for (const DryRule& rule : result.rules)
        s += RuleText(rule, result.pe64, image);
    s += "the run would report: " + sReport + "\n";
    WriteOut(s);
    return exitCode;
}
} // namespace

int RunCheck(const CliContext& cli, const WString& wsRuleSet, const WString& wsTarget)
{
    WString wsRuleFile;
    std::string sReason;
    if (!ResolveRuleSet(wsRuleSet, wsRuleFile, sReason))
        return ReportBadInput(cli, wsRuleFile, sReason);
    CTargetView original;
    if (!original.Open(wsTarget, sReason))
        return ReportBadInput(cli, wsTarget, sReason);
    // Nothing is printed before the end, so running out of memory part-way
    // leaves room for the one message.
    try
    {
        return CheckMapped(cli, wsRuleFile, wsTarget, original);
    }
    catch (const std::bad_alloc&)
    {
        return ReportBadInput(cli, wsTarget, OutOfMemoryReason(original.Size()));
    }
}
