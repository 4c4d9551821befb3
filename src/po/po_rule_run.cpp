#include "po/po_rule_run.h"

#include "relocate/relocation_run.h"

#include "rules/rule_set.h"
#include "scan/check_report.h"
#include "util/fs_path.h"

#include <random>

namespace
{
// A folder of its own in the system's temporary folder: made new, so nothing
// another user planted there is written through.
bool MakePrivateFolder(std::filesystem::path& folder)
{
    std::random_device random;
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec)
        return false;
    for (int attempt = 0; attempt < 16; ++attempt)
    {
        folder = base / ("pivra-rules-" + std::to_string(random()) + std::to_string(random()));
        if (std::filesystem::create_directory(folder, ec) && !ec)
        {
            // A folder others may look into is no private one.
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
            if (!ec)
                return true;
            std::filesystem::remove(folder, ec);
            return false;
        }
    }
    return false;
}
} // namespace

bool RunRulesOver(const WString& wsRuleFile, const std::vector<RuleCnWrite>& writes, std::vector<BYTE> image,
                  PoRuleRun& run, std::string& sReason, bool relocate)
{
    run = PoRuleRun();
    std::filesystem::path folder;
    if (!MakePrivateFolder(folder))
    {
        sReason = "cannot make a private copy of the rule set in the temporary folder";
        return false;
    }
    std::error_code ec;
    const std::filesystem::path copy = folder / "rules.ini";
    std::filesystem::copy_file(FsPath(wsRuleFile), copy, ec);
    bool ok = !ec;
    // The copy takes the set's mode; a read-only set still gets its CNs here.
    if (ok)
    {
        std::filesystem::permissions(copy,
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ec);
        ok = !ec;
    }
    const WString wsCopy = ToolPath(copy);
    WCHAR wsKey[] = W("CN");
    for (size_t i = 0; ok && i < writes.size(); ++i)
        ok = WriteRuleKey(wsCopy.c_str(), writes[i].uRule, wsKey, writes[i].wsCn.c_str()) != 0;
    if (!ok)
    {
        std::filesystem::remove_all(folder, ec);
        sReason = "cannot make a private copy of the rule set in the temporary folder";
        return false;
    }

    const std::vector<BYTE> before = image;
    CImageMap map;
    map.Load(before.data(), static_cast<DWORD>(before.size()));
    RelocatingRun relocating;
    DryRunResult& result = relocating.dry;
    if (relocate)
        RunRelocating(
            wsCopy.c_str(), before.data(), static_cast<DWORD>(before.size()), map.IsPe() ? &map : nullptr,
            [](UINT) {}, relocating);
    else
        DryRunPatch(
            wsCopy.c_str(), image.data(), static_cast<DWORD>(image.size()), before.data(), result,
            [](UINT) {}, map.IsPe() ? &map : nullptr);
    std::filesystem::remove_all(folder, ec);
    run.uTried = result.uTried;
    run.uModified = relocate ? relocating.uModified : result.uModified;
    if (relocate)
        image.swap(relocating.image);
    for (size_t i = 0; i < result.rules.size(); ++i)
    {
        const DryRule& rule = result.rules[i];
        const RuleRelocation* pRelocation = relocate ? relocating.RelocationOf(i) : nullptr;
        if (pRelocation != nullptr && pRelocation->relocated)
            run.relocated.push_back(RuleHeadText(rule));
        else if (rule.outcome != kDryChanges && rule.outcome != kDryOtherBitness)
            run.failed.push_back(rule);
        if (pRelocation != nullptr && !pRelocation->relocated)
            run.notRelocated[rule.number] = pRelocation->sReason;
        if (!rule.unsafe.empty())
            run.unsafe.push_back(RuleHeadText(rule) + UnsafeText(rule, map));
    }
    run.image.swap(image);
    return true;
}
