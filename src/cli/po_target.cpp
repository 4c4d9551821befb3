#include "cli/po_target.h"

#include "cli/commands.h"
#include "image/form_dialect.h"
#include "image/image_map.h"
#include "po/po_header.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace
{
// The language of the source texts: the one asked for, which must hold texts,
// or the one with the most.
bool PickLanguage(const std::string& sLang, const std::vector<EntryTexts>& listed, PoTarget& target,
                  std::string& sReason)
{
    std::vector<std::pair<WORD, size_t>> langs = TextLanguages(target.entries, listed);
    target.hasTexts = !langs.empty();
    if (sLang.empty())
    {
        if (!langs.empty())
            target.wLang = langs[0].first;
        return true;
    }
    if (!ParseLanguage(sLang, target.wLang))
    {
        sReason =
            "cannot be read in language '" + sLang + "': not a language name (\"en-US\", \"en\", \"0x0409\")";
        return false;
    }
    // Nothing to pick from: the PO file's rule texts still apply (a template
    // po extract --rules wrote for a program without resource texts).
    if (langs.empty())
        return true;
    bool found = false;
    std::string sList;
    for (const std::pair<WORD, size_t>& lang : langs)
    {
        found = found || lang.first == target.wLang;
        sList += (sList.empty() ? "" : ", ") + LanguageName(lang.first);
    }
    if (!found)
    {
        sReason = "has no texts in language " + sLang + " (" +
                  (sList.empty() ? std::string("it has no resource texts") : "its languages: " + sList) + ")";
        return false;
    }
    return true;
}
} // namespace

bool LoadPoTarget(const WString& wsTarget, const std::string& sLang, PoTarget& target, std::string& sReason)
{
    if (!target.view.Open(wsTarget, sReason))
        return false;
    if (!target.headers.Read(target.view.Data(), target.view.Size(), sReason))
        return false;
    // The entries borrow their data from the view, which the target holds as long.
    if (!ReadResourceEntries(target.headers, target.entries, sReason, kBorrowResourceData))
    {
        sReason = "has resources the tool cannot read: " + sReason;
        return false;
    }
    target.forms.dialect = DetectFormDialect(target.headers, target.entries);
    const std::vector<EntryTexts> listed = ListEntryTexts(target.entries, &target.forms);
    if (!PickLanguage(sLang, listed, target, sReason))
        return false;
    ResourceSources(target.entries, listed, target.wLang, target.sources, target.leftOut);
    return true;
}

bool AddRuleSources(const WString& wsTarget, const WString& wsRuleFile, PoTarget& target,
                    std::string& sReason, bool fRelocation)
{
    CTargetView scratch;
    if (!scratch.Open(wsTarget, sReason, kViewCopyOnWrite))
        return false;
    // The map of the headers read already: the rules are named by what their bytes are.
    CImageMap image;
    image.Load(target.headers);
    RuleSources(wsRuleFile, image, scratch.WritableData(), target.sources, target.leftOut, fRelocation);
    return true;
}

bool LoadPoFile(const WString& wsPo, PoTranslations& po, std::string& sReason)
{
    if (!CheckReadable(wsPo, sReason))
        return false;
    std::ifstream in(FsPath(wsPo), std::ios::binary);
    std::string sText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
    {
        sReason = "cannot be read";
        return false;
    }
    if (!ReadPo(sText, po.entries, sReason))
    {
        sReason = "is no PO file the tool can read: " + sReason;
        return false;
    }
    po.sSourceLanguage = SourceLanguageOf(po.entries);
    po.formProperties = FormPropertiesOf(po.entries);
    return true;
}

std::vector<std::string> FormPropertiesAsked(const PoTranslations& po, const PoOptions& options)
{
    std::vector<std::string> names = po.formProperties;
    for (const std::string& sName : options.formProperties)
        if (std::find(names.begin(), names.end(), sName) == names.end())
            names.push_back(sName);
    return names;
}

bool LoadPoSources(const WString& wsTarget, const std::string& sLang, const WString& wsRuleSet,
                   PoTarget& target, WString& wsRuleFile, WString& wsFailed, std::string& sReason,
                   bool fRelocation)
{
    wsFailed = wsTarget;
    if (!LoadPoTarget(wsTarget, sLang, target, sReason))
        return false;
    if (wsRuleSet.empty())
        return true;
    wsFailed = wsRuleSet;
    if (!ResolveRuleSet(wsRuleSet, wsRuleFile, sReason))
        return false;
    wsFailed = wsTarget;
    return AddRuleSources(wsTarget, wsRuleFile, target, sReason, fRelocation);
}
