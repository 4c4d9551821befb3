#include "cli/check_json.h"
#include "cli/cli_files.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "image/image_map.h"
#include "rules/rule_set.h"
#include "scan/dry_run.h"

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

// The untouched target, for what lies on either side of an occurrence.
struct Target
{
    const CImageMap& image;
    const BYTE* pBytes;
    DWORD cbBytes;
};

UINT Leaves(const DryRule& rule)
{
    return rule.uOccurrences > rule.uOverwrites ? rule.uOccurrences - rule.uOverwrites : 0;
}

std::string RuleText(const DryRule& rule, bool pe64, const Target& target)
{
    std::string s = RuleHeadText(rule);
    std::string sNotes;
    auto lines = [&](const std::vector<DWORD>& offsets, UINT uTotal) {
        return OffsetLinesText(offsets, uTotal, rule, target.image, target.pBytes, target.cbBytes, sNotes);
    };
    if (rule.outcome == kDryChanges)
    {
        if (!rule.repeat && rule.uOccurrences > 1)
        {
            // Without REPEAT the others stay as they are: a translator should see them.
            std::vector<DWORD> others(rule.occurrenceAt.begin() + 1, rule.occurrenceAt.end());
            // One statement each: the notes name the first offset they concern.
            s += "     overwrites the first of " + std::to_string(rule.uOccurrences) +
                 " occurrences, leaves " + std::to_string(rule.uOccurrences - 1) + ":\n";
            s += lines(rule.offsets, rule.uOverwrites);
            s += "     left as they are:\n";
            s += lines(others, rule.uOccurrences - 1);
        }
        else
            s += "     overwrites " + Plural(rule.uOverwrites, "occurrence", "occurrences") +
                 (Leaves(rule) > 0 ? ", leaves " + std::to_string(Leaves(rule)) : std::string()) + ":\n" +
                 lines(rule.offsets, rule.uOverwrites);
        if (!rule.createdAt.empty())
            s += "     made by " + RuleList(rule.changedBy) + ", not in the untouched target:\n" +
                 lines(rule.createdAt, 0);
        return s + UnsafeText(rule, target.image) + sNotes;
    }
    s += "     " + FailureText(rule, pe64) + "\n";
    if (rule.outcome == kDryNotFound && !rule.originalAt.empty())
        s += "     the untouched target holds it" +
             (rule.changedBy.empty() ? std::string()
                                     : " (" + RuleList(rule.changedBy) + " overwrote it first)") +
             ":\n" + lines(rule.originalAt, 0);
    if ((rule.outcome == kDryCnLonger || rule.outcome == kDryZeroOneSide) && rule.uOccurrences > 0)
        s += "     EN occurs " + Plural(rule.uOccurrences, "time", "times") + ":\n" +
             lines(rule.offsets, rule.uOccurrences);
    return s + sNotes;
}

Json RuleJson(const DryRule& rule, const Target& target)
{
    bool applies = rule.outcome != kDryOtherBitness;
    auto offsets = [&](const std::vector<DWORD>& list) {
        return OffsetsJson(list, rule, target.image, target.pBytes, target.cbBytes);
    };
    std::vector<DWORD> left;
    if (rule.outcome == kDryChanges && !rule.repeat && rule.occurrenceAt.size() > 1)
        left.assign(rule.occurrenceAt.begin() + 1, rule.occurrenceAt.end());
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
            {"leaves", rule.outcome == kDryChanges ? Leaves(rule) : rule.uOccurrences},
            {"offsets", offsets(rule.offsets)},
            {"leftOffsets", offsets(left)},
            {"createdOffsets", offsets(rule.createdAt)},
            {"originalOffsets", offsets(rule.originalAt)},
            {"changedBy", rule.changedBy},
            {"unsafeWrites", UnsafeJson(rule, target.image)}};
}

std::string ReportText(UINT uTried, UINT uModified)
{
    return "汉化完成，搜索 " + std::to_string(uTried) + " 处文本，修改 " + std::to_string(uModified) +
           " 处文本！";
}

int CheckMapped(const CliContext& cli, const WString& wsRuleFile, const WString& wsTarget,
                const CTargetView& original, CTargetView& scratch)
{
    CImageMap image;
    image.Load(original.Data(), original.Size());
    DryRunResult result;
    {
        CProgress progress("check");
        DryRunPatch(
            wsRuleFile.c_str(), scratch.WritableData(), scratch.Size(), original.Data(), result,
            [&progress](UINT uRule) { progress.Update(uRule, 0, "rule " + std::to_string(uRule)); }, &image);
    }
    const Target target = {image, original.Data(), static_cast<DWORD>(original.Size())};
    size_t cUnsafe = 0;
    for (const DryRule& rule : result.rules)
        cUnsafe += rule.unsafe.size();
    int exitCode = result.uTried > result.uModified ? kExitRulesFailed : kExitDone;
    std::string sReport = ReportText(result.uTried, result.uModified);
    if (cli.json)
    {
        Json rules = Json::array();
        for (const DryRule& rule : result.rules)
            rules.push_back(RuleJson(rule, target));
        PrintJson({{"command", "check"},
                   {"ruleSet", ShownPath(wsRuleFile)},
                   {"target", ShownPath(wsTarget)},
                   {"pe",
                    {{"image", image.IsPe()},
                     {"machine", image.IsPe() ? Json(MachineName(image.Machine())) : Json()},
                     {"is64", result.pe64}}},
                   {"tried", result.uTried},
                   {"modified", result.uModified},
                   {"report", sReport},
                   {"unsafeWrites", cUnsafe},
                   {"rules", rules},
                   {"exitCode", exitCode}});
        return exitCode;
    }
    std::string s =
        ShownPath(wsTarget) + ": " +
        (image.IsPe() ? "PE image for " + MachineName(image.Machine()) : std::string("no PE image")) +
        (result.pe64 ? ", 64-bit: rules with X64 apply\n" : ", not 64-bit: rules with X86 apply\n");
    for (const DryRule& rule : result.rules)
        s += RuleText(rule, result.pe64, target);
    if (cUnsafe > 0)
        s += Plural(static_cast<UINT>(cUnsafe), "write", "writes") +
             " would break the image (X): apply refuses the run unless --allow-unsafe\n";
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
    // The rules change a copy-on-write view: only the pages they write are
    // copied, and the untouched bytes stay in the read-only one.
    CTargetView original, scratch;
    if (!original.Open(wsTarget, sReason) || !scratch.Open(wsTarget, sReason, kViewCopyOnWrite))
        return ReportBadInput(cli, wsTarget, sReason);
    // Nothing is printed before the end, so running out of memory part-way
    // leaves room for the one message.
    try
    {
        return CheckMapped(cli, wsRuleFile, wsTarget, original, scratch);
    }
    catch (const std::bad_alloc&)
    {
        return ReportBadInput(cli, wsTarget, OutOfMemoryReason(original.Size()));
    }
}
