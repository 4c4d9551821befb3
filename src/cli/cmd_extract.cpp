#include "cli/cli_files.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "image/image_map.h"
#include "rules/catalogue.h"
#include "rules/rule_set.h"
#include "scan/extract_texts.h"
#include "util/path.h"
#include "util/wide_text.h"

#include <algorithm>
#include <set>

namespace
{
Json CandidateJson(const Candidate& c, const CImageMap& image)
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
std::string SectionList(const CImageMap& image)
{
    std::string s;
    for (const ImageSection& section : image.Sections())
        s += (s.empty() ? "" : ", ") + section.sName;
    return (s.empty() ? std::string("it has no sections") : "its sections: " + s) + "; or headers, overlay";
}

bool HasRegion(const CImageMap& image, const std::string& sName)
{
    if (sName == "headers" || sName == "overlay")
        return true;
    for (const ImageSection& section : image.Sections())
        if (section.sName == sName)
            return true;
    return false;
}

// "en-US, zh-CN": the languages of the image's resources, each once.
std::string LanguageList(const CImageMap& image, bool& found, const std::string& sLang)
{
    std::set<std::string> langs;
    for (const ImageResource& r : image.Resources())
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

// What one extract run has worked out, step by step.
struct ExtractRun
{
    CImageMap image;
    std::string sSection, sLang;
    WString wsFile, wsName; // the rule set -o names, and its name in the catalogue
    WCHAR wsCatalogue[kPathChars];
    std::vector<Candidate> texts, rules;
    UINT uTooLong = 0;
    UINT cResourceRules = 0, cResourceTexts = 0;
    bool added = false; // the catalogue lists the new rule set now
    std::string sText;
};

// The section, language and files the options name, each checked before the scan.
int CheckExtractInputs(const CliContext& cli, const ExtractOptions& options, ExtractRun& run)
{
    std::string sReason;
    run.sSection = ToUtf8(options.wsSection);
    if (!run.sSection.empty() && !HasRegion(run.image, run.sSection))
        return ReportBadInput(cli, options.wsTarget,
                              "has no section '" + run.sSection + "' (" + SectionList(run.image) + ")");
    run.sLang = ToUtf8(options.wsLang);
    bool langFound = false;
    std::string sLanguages = LanguageList(run.image, langFound, run.sLang);
    if (!run.sLang.empty() && !langFound)
        return ReportBadInput(cli, options.wsTarget,
                              "has no resources in language '" + run.sLang + "' (" + sLanguages + ")");
    GetCatalogueFile(run.wsCatalogue);
    if (options.wsOutput.empty())
        return kExitDone;
    if (!ResolveOutput(options, run.wsFile, run.wsName, sReason))
        return ReportBadInput(cli, run.wsFile, sReason);
    if (!CheckWritableFile(run.wsFile, options.force, sReason))
        return ReportBadInput(cli, run.wsFile, sReason);
    // By what the files are: a link or another spelling names the target too.
    if (IsSameFile(run.wsFile, options.wsTarget))
        return ReportBadInput(cli, run.wsFile, "is the target of this run, not a rule-set file");
    if (options.addToCatalogue && IsSameFile(run.wsCatalogue, options.wsTarget))
        return ReportBadInput(cli, run.wsCatalogue, "is the target of this run, not the catalogue");
    if (options.addToCatalogue && !CheckWritableFile(run.wsCatalogue, true, sReason))
        return ReportBadInput(cli, run.wsCatalogue, sReason);
    return kExitDone;
}

void ScanTexts(const ExtractOptions& options, const CTargetView& view, ExtractRun& run)
{
    CProgress progress("extract");
    FindTexts(
        view.Data(), view.Size(), run.image,
        {run.sSection, options.allSections, options.uMinChars, run.sLang},
        [&progress](unsigned long long uDone, unsigned long long uTotal, const char* szWhat) {
            progress.Update(uDone, uTotal, szWhat);
        },
        run.texts, run.uTooLong);
    progress.Finish();
    run.rules = RuleSetTexts(run.texts, options.resources);
    for (const Candidate& c : run.rules)
        run.cResourceRules += c.resource ? 1 : 0;
    for (const Candidate& c : run.texts)
        run.cResourceTexts += c.resource ? 1 : 0;
}

// The new rule set is listed in the catalogue unless it is already.
int AddRuleSetToCatalogue(const CliContext& cli, ExtractRun& run)
{
    std::string sReason;
    CatalogueNames listed;
    UINT uCount = ReadCatalogue(run.wsCatalogue, AddName, &listed);
    bool present = false;
    for (const WString& ws : listed.names)
        present = present || EqualsNoCase(ws, run.wsName);
    // A new catalogue in UTF-16LE, so a name outside the code page survives.
    bool written =
        present ||
        ((PathExists(run.wsCatalogue) || WriteWholeFile(run.wsCatalogue, "\xFF\xFE", false, sReason)) &&
         AddToCatalogue(run.wsCatalogue, uCount + 1, run.wsName));
    if (!written)
    {
        WriteOut(cli.json ? std::string() : run.sText);
        return ReportBadInput(cli, run.wsCatalogue,
                              "cannot be written, so it does not list '" + ToUtf8(run.wsName) + "' (" +
                                  ShownPath(run.wsFile) + " was written)");
    }
    run.added = !present;
    run.sText += "catalogue " + ShownPath(run.wsCatalogue) + (present ? " lists '" : ": added '") +
                 ToUtf8(run.wsName) + (present ? "' already\n" : "'\n");
    return kExitDone;
}

int WriteRuleSet(const CliContext& cli, const ExtractOptions& options, ExtractRun& run)
{
    std::string sReason;
    if (!WriteWholeFile(run.wsFile, RuleSetFileText(AbsolutePath(options.wsTarget), run.rules), options.force,
                        sReason))
        return ReportBadInput(cli, run.wsFile, sReason);
    run.sText += "wrote " + std::to_string(run.rules.size()) + " rules to " +
                 ShownPath(IsRuleSetPath(options.wsOutput) ? options.wsOutput : run.wsFile) + "\n";
    if (run.cResourceRules > 0)
        run.sText += std::to_string(run.cResourceRules) +
                     " of them over resource texts: " + kResourceRuleWarning + "\n";
    else if (run.cResourceTexts > 0)
        run.sText += std::to_string(run.cResourceTexts) +
                     " resource texts left out (--resources writes them; " + kResourceRuleWarning + ")\n";
    return options.addToCatalogue ? AddRuleSetToCatalogue(cli, run) : kExitDone;
}

// One line per text found: offset, region, encoding, EN and what else to know.
std::string TextLines(const ExtractRun& run)
{
    std::string sText;
    for (const Candidate& c : run.texts)
    {
        std::string sRegion = run.image.RegionOf(c.dwOffset);
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
    return sText;
}

void PrintExtractJson(const ExtractOptions& options, const ExtractRun& run, const Json& counts)
{
    Json list = Json::array();
    for (const Candidate& c : run.texts)
        list.push_back(CandidateJson(c, run.image));
    const bool fOutput = !options.wsOutput.empty();
    PrintJson({{"command", "extract"},
               {"target", ShownPath(options.wsTarget)},
               {"pe", {{"image", true}, {"machine", MachineName(run.image.Machine())}}},
               {"minChars", options.uMinChars},
               {"section", run.sSection.empty() ? Json() : Json(run.sSection)},
               {"lang", run.sLang.empty() ? Json() : Json(run.sLang)},
               {"texts", list},
               {"regions", counts},
               {"rules", fOutput ? Json(run.rules.size()) : Json()},
               {"resourceRules", fOutput ? Json(run.cResourceRules) : Json()},
               {"tooLong", run.uTooLong},
               {"output", fOutput ? Json(ShownPath(run.wsFile)) : Json()},
               {"addedToCatalogue", run.added ? Json(ToUtf8(run.wsName)) : Json()},
               {"exitCode", kExitDone}});
}

int ExtractMapped(const CliContext& cli, const ExtractOptions& options, const CTargetView& view)
{
    ExtractRun run;
    std::string sReason;
    if (!run.image.Load(view.Data(), view.Size(), sReason))
        return ReportBadInput(cli, options.wsTarget, sReason);
    int exitCode = CheckExtractInputs(cli, options, run);
    if (exitCode != kExitDone)
        return exitCode;
    ScanTexts(options, view, run);
    if (!options.wsOutput.empty() && (exitCode = WriteRuleSet(cli, options, run)) != kExitDone)
        return exitCode;
    if (options.wsOutput.empty())
        run.sText += TextLines(run);
    Json counts;
    run.sText += RegionCounts(run.texts, counts);
    if (run.uTooLong > 0)
        run.sText += std::to_string(run.uTooLong) + " texts longer than a rule holds were left out\n";
    if (cli.json)
        PrintExtractJson(options, run, counts);
    else
        WriteOut(run.sText);
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
