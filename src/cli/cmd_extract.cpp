#include "cli/cli_files.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "rules/catalogue.h"
#include "rules/rule_set.h"
#include "scan/extract_texts.h"
#include "scan/pe_image.h"
#include "util/path.h"
#include "util/wide_text.h"

#include <algorithm>
#include <set>

namespace
{
Json CandidateJson(const Candidate& c, const PeImage& image)
{
    return {{"offset", c.dwOffset},
            {"section", image.RegionOf(c.dwOffset)},
            {"region", RegionName(c.region)},
            {"label", c.sLabel.empty() ? Json() : Json(c.sLabel)},
            {"resource", c.resource},
            {"unicode", c.unicode},
            {"chars", c.uChars},
            {"en", ToUtf8(c.wsEn)},
            {"occurrences", c.uOccurrences},
            {"firstMatch", c.dwFirstMatch == kNotSearched ? Json() : Json(c.dwFirstMatch)}};
}

struct CatalogueNames
{
    std::vector<WString> names;
};

void AddName(void* pContext, LPCWSTR wsName)
{
    static_cast<CatalogueNames*>(pContext)->names.push_back(wsName);
}

// The catalogue's own way of adding a name (the first key from uKey on that
// reads as empty), with the write's result kept.
bool AddToCatalogue(LPCWSTR wsCatalogue, UINT uKey, const WString& wsName)
{
    WCHAR wsKey[kKeyChars];
    WCHAR wsStored[kNameChars];
    for (;; ++uKey)
    {
        FormatUnsigned(wsKey, kKeyChars, uKey, 1);
        if (GetPrivateProfileStringW(SECTION_CONFIG, wsKey, W(""), wsStored, kNameChars, wsCatalogue) == 0)
            break;
    }
    return WritePrivateProfileStringW(SECTION_CONFIG, wsKey, wsName.c_str(), wsCatalogue) != FALSE;
}

// "its sections: .text, .rdata; or headers, overlay"
std::string SectionList(const PeImage& image)
{
    std::string s;
    for (const std::string& sName : image.names)
        s += (s.empty() ? "" : ", ") + sName;
    return (s.empty() ? std::string("it has no sections") : "its sections: " + s) + "; or headers, overlay";
}

bool HasRegion(const PeImage& image, const std::string& sName)
{
    return sName == "headers" || sName == "overlay" ||
           std::find(image.names.begin(), image.names.end(), sName) != image.names.end();
}

// "en-US, zh-CN": the languages of the image's resources, each once.
std::string LanguageList(const PeImage& image, bool& found, const std::string& sLang)
{
    std::set<std::string> langs;
    for (const ImageResource& r : image.map.Resources())
        langs.insert(LanguageName(r.wLang));
    std::string s;
    found = false;
    for (const std::string& sName : langs)
    {
        s += (s.empty() ? "" : ", ") + sName;
        found = found || EqualsNoCase(FromUtf8(sName), FromUtf8(sLang));
    }
    return s.empty() ? std::string("it has no resources") : "its resource languages: " + s;
}

// "texts found: 12 (code 0, data 9, resources 3, imports/exports 0, debug 0, other 0)"
std::string RegionCounts(const std::vector<Candidate>& texts, Json& counts)
{
    UINT c[kRegionCount] = {};
    for (const Candidate& t : texts)
        ++c[t.region];
    std::string s = "texts found: " + std::to_string(texts.size()) + " (";
    counts = Json::object();
    for (int i = 0; i < kRegionCount; ++i)
    {
        const char* szName = RegionName(static_cast<ExtractRegion>(i));
        s += std::string(i == 0 ? "" : ", ") + szName + " " + std::to_string(c[i]);
        counts[szName] = c[i];
    }
    return s + ")\n";
}

// The rule-set file -o names, and the name the catalogue would list it by.
bool ResolveOutput(const ExtractOptions& options, WString& wsFile, WString& wsName, std::string& sReason)
{
    if (IsRuleSetPath(options.wsOutput))
    {
        wsFile = AbsolutePath(options.wsOutput);
        std::filesystem::path path = FsPath(wsFile);
        wsName = ToolPath(path.filename());
        if (EndsWithNoCase(wsName, W(".ini")))
            wsName.resize(wsName.size() - 4);
    }
    else
    {
        WCHAR wsSet[kPathChars];
        GetToolFile(options.wsOutput.c_str(), W(".ini"), wsSet, kPathChars);
        wsFile = wsSet;
        wsName = options.wsOutput;
    }
    if (!options.addToCatalogue)
        return true;
    WCHAR wsDir[kPathChars];
    GetModuleDir(nullptr, wsDir, kPathChars);
    std::error_code ec;
    if (!EndsWithNoCase(wsFile, W(".ini")) ||
        !std::filesystem::equivalent(FsPath(wsFile).parent_path(), FsPath(wsDir), ec))
    {
        sReason = "is not a .ini file beside the executable, so the catalogue cannot name it";
        return false;
    }
    if (wsName.empty() || wsName.size() >= kNameChars)
    {
        sReason = "has a name the catalogue cannot hold (1 to 99 characters)";
        return false;
    }
    return true;
}

int ExtractMapped(const CliContext& cli, const ExtractOptions& options, const CTargetView& view)
{
    std::string sReason;
    PeImage image;
    image.Load(view.Data(), view.Size());
    if (!image.pe)
        return ReportBadInput(cli, options.wsTarget, NoPeReason(view.Data(), view.Size()));
    const std::string sSection = ToUtf8(options.wsSection);
    if (!sSection.empty() && !HasRegion(image, sSection))
        return ReportBadInput(cli, options.wsTarget,
                              "has no section '" + sSection + "' (" + SectionList(image) + ")");
    const std::string sLang = ToUtf8(options.wsLang);
    bool langFound = false;
    std::string sLanguages = LanguageList(image, langFound, sLang);
    if (!sLang.empty() && !langFound)
        return ReportBadInput(cli, options.wsTarget,
                              "has no resources in language '" + sLang + "' (" + sLanguages + ")");
    WString wsFile, wsName;
    WCHAR wsCatalogue[kPathChars];
    GetCatalogueFile(wsCatalogue);
    if (!options.wsOutput.empty())
    {
        if (!ResolveOutput(options, wsFile, wsName, sReason))
            return ReportBadInput(cli, wsFile, sReason);
        if (!CheckWritableFile(wsFile, options.force, sReason))
            return ReportBadInput(cli, wsFile, sReason);
        // By what the files are: a link or another spelling names the target too.
        if (IsSameFile(wsFile, options.wsTarget))
            return ReportBadInput(cli, wsFile, "is the target of this run, not a rule-set file");
        if (options.addToCatalogue && IsSameFile(wsCatalogue, options.wsTarget))
            return ReportBadInput(cli, wsCatalogue, "is the target of this run, not the catalogue");
        if (options.addToCatalogue && !CheckWritableFile(wsCatalogue, true, sReason))
            return ReportBadInput(cli, wsCatalogue, sReason);
    }

    CProgress progress("extract");
    std::vector<Candidate> texts;
    UINT uTooLong = 0;
    FindTexts(
        view.Data(), view.Size(), image, {sSection, options.allSections, options.uMinChars, sLang},
        [&progress](unsigned long long uDone, unsigned long long uTotal, const char* szWhat) {
            progress.Update(uDone, uTotal, szWhat);
        },
        texts, uTooLong);
    progress.Finish();
    std::string sText;
    bool added = false;
    std::vector<Candidate> rules = RuleSetTexts(texts, options.resources);
    UINT cResourceRules = 0, cResourceTexts = 0;
    for (const Candidate& c : rules)
        cResourceRules += c.resource ? 1 : 0;
    for (const Candidate& c : texts)
        cResourceTexts += c.resource ? 1 : 0;
    if (!options.wsOutput.empty())
    {
        if (!WriteWholeFile(wsFile, RuleSetFileText(AbsolutePath(options.wsTarget), rules), options.force,
                            sReason))
            return ReportBadInput(cli, wsFile, sReason);
        sText += "wrote " + std::to_string(rules.size()) + " rules to " +
                 ShownPath(IsRuleSetPath(options.wsOutput) ? options.wsOutput : wsFile) + "\n";
        if (cResourceRules > 0)
            sText += std::to_string(cResourceRules) +
                     " of them over resource texts: " + kResourceRuleWarning + "\n";
        else if (cResourceTexts > 0)
            sText += std::to_string(cResourceTexts) + " resource texts left out (--resources writes them; " +
                     kResourceRuleWarning + ")\n";
        if (options.addToCatalogue)
        {
            CatalogueNames listed;
            UINT uCount = ReadCatalogue(wsCatalogue, AddName, &listed);
            bool present = false;
            for (const WString& ws : listed.names)
                present = present || EqualsNoCase(ws, wsName);
            // A new catalogue in UTF-16LE, so a name outside the code page survives.
            bool written =
                present ||
                ((PathExists(wsCatalogue) || WriteWholeFile(wsCatalogue, "\xFF\xFE", false, sReason)) &&
                 AddToCatalogue(wsCatalogue, uCount + 1, wsName));
            if (!written)
            {
                WriteOut(cli.json ? std::string() : sText);
                return ReportBadInput(cli, wsCatalogue,
                                      "cannot be written, so it does not list '" + ToUtf8(wsName) + "' (" +
                                          ShownPath(wsFile) + " was written)");
            }
            added = !present;
            sText += "catalogue " + ShownPath(wsCatalogue) + (present ? " lists '" : ": added '") +
                     ToUtf8(wsName) + (present ? "' already\n" : "'\n");
        }
    }
    else
    {
        for (const Candidate& c : texts)
        {
            std::string sRegion = image.RegionOf(c.dwOffset);
            sText += HexOffset(c.dwOffset) + "  " + sRegion +
                     std::string(sRegion.size() < 8 ? 8 - sRegion.size() : 1, ' ') +
                     (c.unicode ? "UTF-16  " : "ANSI    ") + ShownText(c.wsEn);
            if (c.uOccurrences > 1)
                sText += "  (" + std::to_string(c.uOccurrences) + " times)";
            if (c.dwFirstMatch != c.dwOffset && c.dwFirstMatch != kNotSearched)
            {
                sText += "  (the run finds it first at " + HexOffset(c.dwFirstMatch) +
                         (c.firstIsCopy ? ", another copy)" : ", inside a longer text)");
            }
            if (c.resource)
                sText += "  [" + c.sLabel + "]";
            sText += "\n";
        }
    }
    Json counts;
    sText += RegionCounts(texts, counts);
    if (uTooLong > 0)
        sText += std::to_string(uTooLong) + " texts longer than a rule holds were left out\n";
    if (cli.json)
    {
        Json list = Json::array();
        for (const Candidate& c : texts)
            list.push_back(CandidateJson(c, image));
        PrintJson({{"command", "extract"},
                   {"target", ShownPath(options.wsTarget)},
                   {"pe", {{"image", true}, {"machine", image.MachineName()}}},
                   {"minChars", options.uMinChars},
                   {"section", sSection.empty() ? Json() : Json(sSection)},
                   {"lang", sLang.empty() ? Json() : Json(sLang)},
                   {"texts", list},
                   {"regions", counts},
                   {"rules", options.wsOutput.empty() ? Json() : Json(rules.size())},
                   {"resourceRules", options.wsOutput.empty() ? Json() : Json(cResourceRules)},
                   {"tooLong", uTooLong},
                   {"output", options.wsOutput.empty() ? Json() : Json(ShownPath(wsFile))},
                   {"addedToCatalogue", added ? Json(ToUtf8(wsName)) : Json()},
                   {"exitCode", kExitDone}});
    }
    else
        WriteOut(sText);
    return kExitDone;
}
} // namespace

int RunExtract(const CliContext& cli, const ExtractOptions& options)
{
    CTargetView view;
    std::string sReason;
    if (!view.Open(options.wsTarget, sReason))
        return ReportBadInput(cli, options.wsTarget, sReason);
    // The scan's large allocations all come before a file is written, and
    // nothing is printed before the end: running out of memory leaves one
    // message, naming the target.
    try
    {
        return ExtractMapped(cli, options, view);
    }
    catch (const std::bad_alloc&)
    {
        return ReportBadInput(cli, options.wsTarget, OutOfMemoryReason(view.Size()));
    }
}
