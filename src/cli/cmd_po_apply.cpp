#include "cli/cli_output.h"
#include "cli/po_target.h"
#include "image/image_rebuild.h"
#include "rules/rule_set.h"

namespace
{
struct RuleWrite
{
    UINT uRule;
    WString wsCn;
};

// The translated resources replace their originals, or with wAs are added
// (or replace an earlier copy) in that language beside them.
void PlaceTranslations(PoTarget& target, std::vector<TranslatedResource>& translated, bool add, WORD wAs)
{
    std::vector<ResourceEntry> added;
    for (TranslatedResource& resource : translated)
    {
        ResourceEntry& entry = target.entries[resource.uEntry];
        if (!add)
        {
            entry.SetData(std::move(resource.data));
            continue;
        }
        ResourceEntry copy = entry;
        copy.wLang = wAs;
        copy.SetData(std::move(resource.data));
        added.push_back(copy);
    }
    for (ResourceEntry& copy : added)
    {
        bool replaced = false;
        for (ResourceEntry& entry : target.entries)
            if (entry.wLang == copy.wLang && SameResource(entry, copy))
            {
                entry = copy;
                replaced = true;
            }
        if (!replaced)
            target.entries.push_back(copy);
    }
}
} // namespace

int RunPoApply(const CliContext& cli, const PoOptions& options)
{
    PoTranslations po;
    int exitCode = kExitDone;
    if (!LoadPoFile(cli, options.wsPo, po, exitCode))
        return exitCode;
    std::string sReason;
    if (!CheckTarget(options.wsTarget, kPatchTarget, sReason))
        return ReportBadInput(cli, options.wsTarget, sReason);
    WORD wAs = 0;
    if (!options.wsAs.empty() && !ParseLanguage(ToUtf8(options.wsAs), wAs))
        return ReportBadInput(cli, options.wsTarget,
                              "cannot take language '" + ToUtf8(options.wsAs) +
                                  "': not a language name (\"zh-CN\", \"0x0804\")");
    PoTarget target;
    const std::string sLang = !options.wsLang.empty() ? ToUtf8(options.wsLang) : po.sSourceLanguage;
    if (!LoadPoTarget(cli, options, sLang, target, exitCode))
        return exitCode;
    if (!options.wsAs.empty() && wAs == target.wLang)
        return ReportBadInput(
            cli, options.wsTarget,
            "cannot take the translations as a copy in its source language; leave out --as");

    // Each translation is used only where the image still holds its source
    // text, so a PO file made for another build cannot put a text elsewhere.
    std::map<std::string, const PoSource*> byContext;
    for (const PoSource& source : target.sources)
        byContext[source.sContext] = &source;
    std::map<std::string, std::string> translations;
    std::vector<RuleWrite> ruleWrites;
    std::vector<std::string> refused;
    size_t cRulesLeft = 0;
    for (const PoEntry& entry : po.entries)
    {
        if (!IsTranslated(entry))
            continue;
        if (options.wsRuleSet.empty() && IsRuleContext(entry.sContext))
        {
            ++cRulesLeft;
            continue;
        }
        auto it = byContext.find(entry.sContext);
        if (it == byContext.end() || it->second->sText != entry.sId)
        {
            refused.push_back(entry.sContext + " " + ShownQuoted(entry.sId) + ": the target " +
                              (it == byContext.end() ? std::string("has no text of that context")
                                                     : "has " + ShownQuoted(it->second->sText) + " there"));
            continue;
        }
        const PoSource& source = *it->second;
        if (!source.rule)
        {
            translations[source.sContext] = entry.strs[0];
            continue;
        }
        RuleWrite write = {source.uRule, WString()};
        if (!RuleTranslation(source, entry.strs[0], write.wsCn, sReason))
        {
            refused.push_back(ShownSource(source) + ": the translation " + sReason);
            continue;
        }
        ruleWrites.push_back(write);
    }

    std::vector<TranslatedResource> translated;
    std::vector<std::string> unwritable;
    TranslateSources(target.entries, target.sources, translations, translated, unwritable);
    if (!unwritable.empty())
        return ReportBadInput(cli, options.wsTarget, "cannot take the translation of " + unwritable[0]);
    const size_t cChanged = translated.size();
    PlaceTranslations(target, translated, !options.wsAs.empty(), wAs);
    RebuildResult rebuilt;
    if (cChanged > 0 && !RebuildResources(target.view.Data(), target.view.Size(), target.entries, rebuilt))
        return ReportBadInput(cli, options.wsTarget, "cannot be rebuilt: " + rebuilt.sReason);

    // Everything is checked; now the backup, the image, then the rule set.
    const WString wsBackup = options.wsTarget + W(".bak");
    if (cChanged > 0 && options.backup &&
        !WriteWholeFile(wsBackup, target.view.Data(), target.view.Size(), options.force, sReason))
        return ReportBadInput(cli, wsBackup, sReason);
    std::vector<BYTE> image;
    image.swap(rebuilt.image);
    target.view.Close();
    // The new image replaces the file a link names, with the old one's
    // permissions, so the link and the program's mode stay as they were.
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(FsPath(options.wsTarget), ec);
    const WString wsWrite = ec ? options.wsTarget : ToolPath(real);
    std::filesystem::perms perms = std::filesystem::status(FsPath(wsWrite), ec).permissions();
    if (cChanged > 0 && !WriteWholeFile(wsWrite, image.data(), image.size(), true, sReason))
        return ReportBadInput(cli, options.wsTarget, sReason);
    if (cChanged > 0 && perms != std::filesystem::perms::unknown)
        std::filesystem::permissions(FsPath(wsWrite), perms, ec);
    for (const std::string& sWarning : rebuilt.warnings)
        WriteErr("pivra-cli po apply: " + ShownPath(options.wsTarget) + ": " + sWarning + "\n");

    size_t cRules = 0;
    if (!ruleWrites.empty())
    {
        WString wsRuleFile;
        ResolveRuleSet(options.wsRuleSet, wsRuleFile, sReason);
        WCHAR wsKey[] = W("CN");
        for (const RuleWrite& write : ruleWrites)
        {
            if (WriteRuleKey(wsRuleFile.c_str(), write.uRule, wsKey, write.wsCn.c_str()))
                ++cRules;
            else
                refused.push_back("rule " + std::to_string(write.uRule) +
                                  ": the rule set could not be written");
        }
    }
    if (cRulesLeft > 0)
        WriteErr("pivra-cli po apply: " + std::to_string(cRulesLeft) +
                 " translated rule texts left alone: --rules names the rule set they go to\n");
    for (const std::string& sRefused : refused)
        WriteErr("pivra-cli po apply: not applied: " + sRefused + "\n");
    std::string sText = ShownPath(options.wsTarget) + ": " + std::to_string(translations.size()) +
                        " resource texts in " + std::to_string(cChanged) + " resources " +
                        (options.wsAs.empty() ? "replaced (" + LanguageName(target.wLang) + ")"
                                              : "added as " + LanguageName(wAs)) +
                        ", " + std::to_string(cRules) + " rule texts written as CN";
    if (cChanged > 0)
        sText += ", image now " + std::to_string(image.size()) + " bytes";
    WriteOut(sText + "\n");
    return refused.empty() ? kExitDone : kExitRulesFailed;
}
