#include "cli/check_json.h"
#include "cli/cli_files.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/relocation_report.h"
#include "image/image_map.h"
#include "rules/rule_set.h"
#include "scan/dry_run.h"

#include <memory>

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
    const PeHeaders& headers;
    const RelocatingRun* pRelocating; // --relocate
};

const RuleRelocation* RelocationOf(const Target& target, size_t iRule)
{
    return target.pRelocating != nullptr ? target.pRelocating->RelocationOf(iRule) : nullptr;
}

UINT Leaves(const DryRule& rule)
{
    return rule.uOccurrences > rule.uOverwrites ? rule.uOccurrences - rule.uOverwrites : 0;
}

std::string RuleText(const DryRule& rule, bool pe64, const Target& target, const RuleRelocation* pRelocation)
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
    if (pRelocation != nullptr)
        return s + "     CN is longer than EN in bytes (" + std::to_string(rule.cbCn) + " > " +
               std::to_string(rule.cbEn) + ")\n" +
               RelocationText(target.headers, target.pRelocating->plan, *pRelocation) + sNotes;
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

Json RuleJson(const DryRule& rule, const Target& target, const RuleRelocation* pRelocation)
{
    bool applies = rule.outcome != kDryOtherBitness;
    auto offsets = [&](const std::vector<DWORD>& list) {
        return OffsetsJson(list, rule, target.image, target.pBytes, target.cbBytes);
    };
    std::vector<DWORD> left;
    if (rule.outcome == kDryChanges && !rule.repeat && rule.occurrenceAt.size() > 1)
        left.assign(rule.occurrenceAt.begin() + 1, rule.occurrenceAt.end());
    Json doc = {{"number", rule.number},
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
    if (target.pRelocating != nullptr)
        doc["relocation"] = pRelocation != nullptr
                                ? RelocationJson(target.headers, target.pRelocating->plan, *pRelocation)
                                : Json();
    return doc;
}

std::string ReportText(UINT uTried, UINT uModified)
{
    return "汉化完成，搜索 " + std::to_string(uTried) + " 处文本，修改 " + std::to_string(uModified) +
           " 处文本！";
}

int CheckMapped(const CliContext& cli, const WString& wsRuleFile, const WString& wsTarget,
                const CTargetView& original, CTargetView& scratch, bool relocate)
{
    CImageMap image;
    image.Load(original.Data(), original.Size());
    DryRunResult plain;
    std::unique_ptr<RelocatingRun> pRelocating;
    {
        CProgress progress("check");
        auto fnProgress = [&progress](UINT uRule) {
            progress.Update(uRule, 0, "rule " + std::to_string(uRule));
        };
        if (relocate)
        {
            pRelocating.reset(new RelocatingRun);
            RunRelocating(wsRuleFile.c_str(), original.Data(), original.Size(),
                          image.IsPe() ? &image : nullptr, fnProgress, *pRelocating);
        }
        else
            DryRunPatch(wsRuleFile.c_str(), scratch.WritableData(), scratch.Size(), original.Data(), plain,
                        fnProgress, &image);
    }
    const DryRunResult& result = relocate ? pRelocating->dry : plain;
    const UINT uTried = result.uTried, uModified = relocate ? pRelocating->uModified : result.uModified;
    PeHeaders headers;
    std::string sNoPe;
    headers.Read(original.Data(), original.Size(), sNoPe);
    const Target target = {image, original.Data(), static_cast<DWORD>(original.Size()), headers,
                           pRelocating.get()};
    size_t cUnsafe = 0;
    for (const DryRule& rule : result.rules)
        cUnsafe += rule.unsafe.size();
    int exitCode = uTried > uModified ? kExitRulesFailed : kExitDone;
    std::string sReport = ReportText(uTried, uModified);
    if (cli.json)
    {
        Json rules = Json::array();
        for (size_t i = 0; i < result.rules.size(); ++i)
            rules.push_back(RuleJson(result.rules[i], target, RelocationOf(target, i)));
        PrintJson({{"command", "check"},
                   {"ruleSet", ShownPath(wsRuleFile)},
                   {"target", ShownPath(wsTarget)},
                   {"pe",
                    {{"image", image.IsPe()},
                     {"machine", image.IsPe() ? Json(MachineName(image.Machine())) : Json()},
                     {"is64", result.pe64}}},
                   {"tried", uTried},
                   {"modified", uModified},
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
    for (size_t i = 0; i < result.rules.size(); ++i)
        s += RuleText(result.rules[i], result.pe64, target, RelocationOf(target, i));
    if (relocate)
        s += RelocationScopeText(pRelocating->plan, "");
    if (relocate)
        for (const std::string& sWarning : pRelocating->plan.warnings)
            s += "warning: " + sWarning + "\n";
    if (cUnsafe > 0)
        s += Plural(static_cast<UINT>(cUnsafe), "write", "writes") +
             " would break the image (X): apply refuses the run unless --allow-unsafe\n";
    s += "the run would report: " + sReport + "\n";
    WriteOut(s);
    return exitCode;
}
} // namespace

int RunCheck(const CliContext& cli, const WString& wsRuleSet, const WString& wsTarget, bool relocate)
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
        return CheckMapped(cli, wsRuleFile, wsTarget, original, scratch, relocate);
    }
    catch (const std::bad_alloc&)
    {
        return ReportBadInput(cli, wsTarget, OutOfMemoryReason(original.Size()));
    }
}
