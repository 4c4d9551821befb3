#include "po/po_sources.h"

#include "relocate/text_relocation.h"

#include "image/image_map.h"
#include "rules/escape.h"
#include "rules/rule_set.h"
#include "scan/dry_run.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace
{
const WORD kLangEnglish = 0x09;
const WORD kLangEnglishUs = 0x0409;

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The ANSI code page's text of bytes, when the bytes are exactly that text.
bool AnsiToWide(const std::string& bytes, WString& ws)
{
    ws.clear();
    if (bytes.empty())
        return true;
    int cch = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (cch <= 0)
        return false;
    ws.resize(cch);
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &ws[0], cch);
    std::string back;
    BOOL fUsedDefault = FALSE;
    int cb = WideCharToMultiByte(CP_ACP, 0, ws.data(), cch, nullptr, 0, nullptr, &fUsedDefault);
    if (cb <= 0 || fUsedDefault)
        return false;
    back.resize(cb);
    WideCharToMultiByte(CP_ACP, 0, ws.data(), cch, &back[0], cb, nullptr, nullptr);
    return back == bytes;
}

bool WideToAnsi(const WString& ws, std::string& bytes)
{
    bytes.clear();
    if (ws.empty())
        return true;
    BOOL fUsedDefault = FALSE;
    int cb = WideCharToMultiByte(CP_ACP, 0, ws.data(), static_cast<int>(ws.size()), nullptr, 0, nullptr,
                                 &fUsedDefault);
    if (cb <= 0 || fUsedDefault)
        return false;
    bytes.resize(cb);
    WideCharToMultiByte(CP_ACP, 0, ws.data(), static_cast<int>(ws.size()), &bytes[0], cb, nullptr, nullptr);
    return true;
}

// The text a rule's stored EN stands for, as the run decodes it.
bool DecodeEn(const DryRule& rule, WString& wsText, std::string& sReason)
{
    WString wsBuffer = rule.wsEn;
    if (rule.unicode)
    {
        wsBuffer.push_back(0);
        UINT cch = UnescapeTextW(&wsBuffer[0]);
        wsText.assign(wsBuffer.data(), cch);
    }
    else
    {
        std::string bytes;
        if (!WideToAnsi(wsBuffer, bytes))
        {
            sReason = "its EN holds characters the ANSI code page lacks";
            return false;
        }
        bytes.push_back(0);
        UINT cb = UnescapeTextA(&bytes[0]);
        bytes.resize(cb);
        if (!AnsiToWide(bytes, wsText))
        {
            sReason = "its EN holds bytes that are no text in the ANSI code page";
            return false;
        }
    }
    if (std::find(wsText.begin(), wsText.end(), WCHAR(0)) != wsText.end())
    {
        sReason = "its EN holds a zero unit, which a PO file cannot carry";
        return false;
    }
    if (wsText.empty())
    {
        sReason = "its EN is empty";
        return false;
    }
    return true;
}
} // namespace

bool ParseLanguage(const std::string& sName, WORD& wLang)
{
    if (sName.size() > 2 && sName[0] == '0' && (sName[1] == 'x' || sName[1] == 'X'))
    {
        char* pEnd = nullptr;
        unsigned long u = std::strtoul(sName.c_str() + 2, &pEnd, 16);
        if (*pEnd != 0 || u > 0xFFFF)
            return false;
        wLang = static_cast<WORD>(u);
        return true;
    }
    const std::string sWanted = LowerAscii(sName);
    for (DWORD dw = 0; dw <= 0xFFFF; ++dw)
        if (LowerAscii(LanguageName(static_cast<WORD>(dw))) == sWanted)
        {
            wLang = static_cast<WORD>(dw);
            return true;
        }
    return false;
}

std::vector<EntryTexts> ListEntryTexts(const std::vector<ResourceEntry>& entries, const FormSettings* pForms)
{
    std::vector<EntryTexts> listed(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        if (HasResourceTexts(entries[i]))
            listed[i].fRead = ListResourceTexts(entries[i], listed[i].texts, listed[i].sReason, pForms) != 0;
    return listed;
}

std::vector<std::pair<WORD, size_t>> TextLanguages(const std::vector<ResourceEntry>& entries,
                                                   const std::vector<EntryTexts>& listed)
{
    std::map<WORD, size_t> counts;
    for (size_t i = 0; i < entries.size(); ++i)
        if (HasResourceTexts(entries[i]))
            counts[entries[i].wLang] += listed[i].texts.size();
    std::vector<std::pair<WORD, size_t>> langs(counts.begin(), counts.end());
    // Programs that ship many languages ship each whole; English, in which
    // most are written, is then the source, and en-US first: the copy an
    // English system shows where a program has several.
    auto rank = [](WORD wLang) {
        return wLang == kLangEnglishUs ? 0 : (wLang & 0x3FF) == kLangEnglish ? 1 : 2;
    };
    std::stable_sort(langs.begin(), langs.end(),
                     [&rank](const std::pair<WORD, size_t>& a, const std::pair<WORD, size_t>& b) {
                         return a.second != b.second ? a.second > b.second : rank(a.first) < rank(b.first);
                     });
    return langs;
}

bool SameResource(const ResourceEntry& a, const ResourceEntry& b)
{
    return a.type.fNamed == b.type.fNamed && a.type.wId == b.type.wId && a.type.name == b.type.name &&
           a.name.fNamed == b.name.fNamed && a.name.wId == b.name.wId && a.name.name == b.name.name;
}

bool IsSourceEntry(const std::vector<ResourceEntry>& entries, const ResourceEntry& entry, WORD wLang)
{
    if (!HasResourceTexts(entry))
        return false;
    if (entry.wLang == wLang)
        return true;
    if ((entry.wLang & 0x3FF) != 0)
        return false;
    for (const ResourceEntry& other : entries)
        if (other.wLang == wLang && SameResource(other, entry))
            return false;
    return true;
}

void ResourceSources(const std::vector<ResourceEntry>& entries, const std::vector<EntryTexts>& listed,
                     WORD wLang, std::vector<PoSource>& sources, std::vector<std::string>& leftOut)
{
    std::map<std::string, bool> seen;
    for (size_t uEntry = 0; uEntry < entries.size(); ++uEntry)
    {
        const ResourceEntry& entry = entries[uEntry];
        if (!IsSourceEntry(entries, entry, wLang))
            continue;
        if (!listed[uEntry].fRead)
        {
            leftOut.push_back(listed[uEntry].sReason);
            continue;
        }
        for (const ResourceText& text : listed[uEntry].texts)
        {
            // A context twice (two resources named alike) would make the PO
            // file's keys ambiguous: the first keeps it.
            if (!seen.emplace(text.sContext, true).second)
            {
                leftOut.push_back("a second text with context \"" + text.sContext + "\" is left out");
                continue;
            }
            sources.push_back(
                {text.sContext, text.sText, text.sGroup, text.sPlace, false, 0, true, 0, uEntry, false});
            sources.back().sFontWarning = text.sFontWarning;
        }
    }
}

void TranslateSources(const std::vector<ResourceEntry>& entries, const std::vector<PoSource>& sources,
                      const std::map<std::string, std::string>& translations,
                      std::vector<TranslatedResource>& translated, std::vector<std::string>& untranslatable,
                      const FormSettings* pForms)
{
    std::map<size_t, std::map<std::string, std::string>> byEntry;
    for (const PoSource& source : sources)
    {
        auto it = translations.find(source.sContext);
        if (!source.rule && it != translations.end())
            byEntry[source.uEntry][source.sContext] = it->second;
    }
    for (const auto& entryTexts : byEntry)
    {
        TranslatedResource resource = {entryTexts.first, std::vector<BYTE>()};
        std::string sReason;
        if (TranslateResource(entries[entryTexts.first], entryTexts.second, resource.data, sReason, pForms))
            translated.push_back(std::move(resource));
        else
            untranslatable.push_back(entryTexts.second.begin()->first +
                                     " and the texts beside it: " + sReason);
    }
}

namespace
{
// Whether a longer CN could be relocated: EN's occurrences (the first, or
// those listed with REPEAT) planned with a CN one byte longer.
void MarkIfRelocatable(const PeHeaders& headers, const CReferenceIndex& index, const DryRule& rule,
                       const WString& wsEn, const std::vector<DWORD>& at, PoSource& source)
{
    RelocationRequest request = {rule.number, rule.unicode, {}, {}, {}, rule.repeat};
    if (rule.unicode)
        for (WCHAR wc : wsEn)
        {
            request.en.push_back(static_cast<BYTE>(wc & 0xFF));
            request.en.push_back(static_cast<BYTE>(wc >> 8));
        }
    else
    {
        std::string bytes;
        if (!WideToAnsi(wsEn, bytes))
            return;
        request.en.assign(bytes.begin(), bytes.end());
    }
    request.cn = request.en;
    request.cn.insert(request.cn.end(), rule.unicode ? 2 : 1, 'x');
    request.occurrences.push_back(at[0]);
    for (size_t i = 1; rule.repeat && i < at.size(); ++i)
        if (at[i] >= request.occurrences.back() + request.en.size())
            request.occurrences.push_back(at[i]);
    RelocationPlan plan;
    PlanRelocations(headers, index, {request}, plan);
    if (plan.Relocated() == 0)
        return;
    source.relocatable = true;
    const size_t cut = source.sPlace.find("; budget ");
    source.sPlace = source.sPlace.substr(0, cut) + "; budget: any length (a longer translation is relocated)";
}
} // namespace

void RuleSources(const WString& wsRuleFile, const CImageMap& image, BYTE* pScratch,
                 std::vector<PoSource>& sources, std::vector<std::string>& leftOut, bool fRelocation)
{
    CReferenceIndex index;
    if (fRelocation && image.IsPe())
        index.Build(image.Headers());
    const BYTE* pView = image.Headers().pView;
    const DWORD dwSize = image.Headers().dwSize;
    DryRunResult result;
    DryRunPatch(
        wsRuleFile.c_str(), pScratch, dwSize, pView, result, [](UINT) {}, image.IsPe() ? &image : nullptr);
    for (const DryRule& rule : result.rules)
    {
        if (rule.outcome == kDryOtherBitness)
            continue;
        WCHAR wsNode[8];
        FormatNode(wsNode, rule.number);
        const std::string sNode = ToUtf8(WString(wsNode));
        WString wsText;
        std::string sReason;
        if (!DecodeEn(rule, wsText, sReason))
        {
            leftOut.push_back("rule " + sNode + " is left out: " + sReason);
            continue;
        }
        PoSource source = {"RULE " + sNode, ToUtf8(wsText), std::string(),
                           std::string(),   true,           rule.number,
                           rule.unicode,    rule.cbEn,      0};
        // Where the target holds EN, whatever the rule's CN: a rule whose CN
        // is still empty (a new rule set) or too long is found all the same.
        const bool fRefused = rule.outcome == kDryCnLonger || rule.outcome == kDryZeroOneSide;
        const std::vector<DWORD>& at = !rule.occurrenceAt.empty() ? rule.occurrenceAt
                                       : fRefused                 ? rule.offsets
                                                                  : rule.originalAt;
        const size_t cAt = &at == &rule.originalAt ? at.size() : rule.uOccurrences;
        std::string sBudget = rule.unicode ? "UTF-16, " + std::to_string(rule.cbEn) + " bytes (" +
                                                 std::to_string(rule.cbEn / 2) + " units)"
                                           : "ANSI code page, " + std::to_string(rule.cbEn) + " bytes";
        if (at.empty())
            source.sPlace = "not found in the target; budget " + sBudget;
        else
        {
            ImageByteInfo info = image.Lookup(at[0]);
            source.sPlace =
                "at " + HexOffset(at[0]) +
                (image.IsPe() && info.psLabel != nullptr ? " (" + *info.psLabel + ")" : std::string()) +
                (cAt > 1 ? " and " + std::to_string(cAt - 1) + " more" : std::string()) + "; budget " +
                sBudget;
        }
        sources.push_back(source);
        if (fRelocation && !at.empty() && image.IsPe())
            MarkIfRelocatable(image.Headers(), index, rule, wsText, at, sources.back());
    }
}

bool RuleTranslation(const PoSource& source, const std::string& sTranslation, WString& wsCn,
                     std::string& sReason)
{
    WString wsText = FromUtf8(sTranslation);
    DWORD cb = 0;
    if (source.unicode)
        cb = static_cast<DWORD>(wsText.size() * 2);
    else
    {
        std::string bytes;
        if (!WideToAnsi(wsText, bytes))
        {
            sReason = "holds characters the ANSI code page lacks";
            return false;
        }
        cb = static_cast<DWORD>(bytes.size());
    }
    if (cb > source.cbBudget && !source.relocatable)
    {
        sReason =
            "takes " + std::to_string(cb) + " bytes, over its budget of " + std::to_string(source.cbBudget);
        return false;
    }
    wsCn = EscapeExact(wsText);
    if (wsCn.size() >= kTextChars)
    {
        sReason = "is longer than a stored CN can hold";
        return false;
    }
    return true;
}
