#include "cli/cli_files.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/pe_image.h"
#include "patch/find_bytes.h"
#include "rules/catalogue.h"
#include "rules/rule_set.h"
#include "util/path.h"

#include <algorithm>
#include <map>
#include <set>

namespace
{
struct Candidate
{
    DWORD dwOffset;
    bool unicode;
    std::string bytes; // as they stand in the target
    UINT uChars;
    WString wsEn;       // escaped, as the rule stores it
    UINT uOccurrences;  // runs found with the same bytes
    DWORD dwFirstMatch; // where the run's search finds them first; kNotSearched past the budget
};

const DWORD kNotSearched = 0xFFFFFFFFu;
// Each first match is searched for up to the text's own offset; in a large
// file with many texts that grows as the square, so it stops at this many
// bytes searched in all (a few seconds).
const unsigned long long kFirstMatchBudget = 8ull << 30;

struct Scan
{
    const std::vector<BYTE>& view;
    unsigned uMinChars;
    std::vector<Candidate> found;
    CProgress& progress;
};

const DWORD kProgressBytes = 1u << 20;

void ShowScan(Scan& scan, DWORD dwAt, const char* szWhat)
{
    if (dwAt % kProgressBytes == 0)
        scan.progress.Update(dwAt, scan.view.size(), szWhat);
}

bool IsPrintableWide(DWORD u)
{
    return u == '\t' || u == '\n' || u == '\r' || (u >= 0x20 && u <= 0x7E) || (u >= 0xA0 && u <= 0x17F) ||
           (u >= 0x2010 && u <= 0x2027) || (u >= 0x2030 && u <= 0x203A) || u == 0x20AC || u == 0x2122;
}

bool IsPrintableAscii(BYTE b)
{
    return b == '\t' || b == '\n' || b == '\r' || (b >= 0x20 && b <= 0x7E);
}

bool IsGbkPair(BYTE lead, BYTE trail)
{
    return lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

bool IsLetter(DWORD u)
{
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
}

void Keep(Scan& scan, DWORD dwStart, DWORD dwEnd, bool unicode, UINT uChars, bool letter)
{
    if (uChars < scan.uMinChars || !letter)
        return;
    Candidate c = {dwStart, unicode,   std::string(scan.view.begin() + dwStart, scan.view.begin() + dwEnd),
                   uChars,  WString(), 1,
                   dwStart};
    scan.found.push_back(c);
}

void ScanWide(Scan& scan, DWORD dwLo, DWORD dwHi)
{
    for (DWORD dwParity = 0; dwParity < 2; ++dwParity)
    {
        DWORD dwStart = dwLo + ((dwLo & 1) != dwParity ? 1 : 0);
        UINT uChars = 0;
        bool letter = false;
        DWORD i = dwStart;
        for (; i + 1 < dwHi; i += 2)
        {
            ShowScan(scan, i - dwParity, "UTF-16 texts");
            DWORD u = scan.view[i] | static_cast<DWORD>(scan.view[i + 1]) << 8;
            if (IsPrintableWide(u))
            {
                ++uChars;
                letter = letter || IsLetter(u);
                continue;
            }
            Keep(scan, dwStart, i, true, uChars, letter);
            dwStart = i + 2;
            uChars = 0;
            letter = false;
        }
        Keep(scan, dwStart, i, true, uChars, letter);
    }
}

void ScanAnsi(Scan& scan, DWORD dwLo, DWORD dwHi)
{
    DWORD dwStart = dwLo;
    UINT uChars = 0;
    bool letter = false;
    DWORD i = dwLo;
    while (i < dwHi)
    {
        ShowScan(scan, i, "ANSI texts");
        BYTE b = scan.view[i];
        if (IsPrintableAscii(b))
        {
            ++uChars;
            letter = letter || IsLetter(b);
            ++i;
            continue;
        }
        if (i + 1 < dwHi && IsGbkPair(b, scan.view[i + 1]))
        {
            ++uChars;
            i += 2;
            continue;
        }
        Keep(scan, dwStart, i, false, uChars, letter);
        dwStart = ++i;
        uChars = 0;
        letter = false;
    }
    Keep(scan, dwStart, i, false, uChars, letter);
}

// An ANSI run in the notation: the profile read converts the stored text to
// the ANSI code page, so a double-byte character is stored as its character
// where that converts back to the same two bytes, and as two \x escapes else.
WString EscapeAnsi(const std::string& bytes)
{
    WString ws;
    for (size_t i = 0; i < bytes.size();)
    {
        bool atEnd =
            i == 0 || i + 1 >= bytes.size() || (i + 2 == bytes.size() && static_cast<BYTE>(bytes[i]) >= 0x80);
        BYTE b = static_cast<BYTE>(bytes[i]);
        if (b < 0x80)
        {
            AppendEscaped(ws, b, atEnd);
            ++i;
            continue;
        }
        WCHAR wc[2] = {0, 0};
        char back[4] = {0, 0, 0, 0};
        int cch = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data() + i, 2, wc, 2);
        int cb = cch == 1 ? WideCharToMultiByte(CP_ACP, 0, wc, 1, back, 4, nullptr, nullptr) : 0;
        if (cb == 2 && back[0] == bytes[i] && back[1] == bytes[i + 1] && !(atEnd && IsTrimmedByRead(wc[0])))
            ws += wc[0];
        else
        {
            AppendHexEscape(ws, b);
            AppendHexEscape(ws, static_cast<BYTE>(bytes[i + 1]));
        }
        i += 2;
    }
    return ws;
}

WString EscapeWide(const std::string& bytes)
{
    WString ws;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        ws += static_cast<WCHAR>(static_cast<BYTE>(bytes[i]) | static_cast<BYTE>(bytes[i + 1]) << 8);
    return EscapeExact(ws);
}

// The intervals between section and header boundaries, each in one region.
std::vector<std::pair<DWORD, DWORD>> Regions(const PeImage& image, DWORD dwSize)
{
    std::set<DWORD> cuts = {0, dwSize, image.layout.dwHeadersEnd};
    for (const PeSection& s : image.sections)
    {
        cuts.insert(s.dwRawOffset);
        cuts.insert(s.dwRawOffset + s.dwRawSize);
    }
    std::vector<std::pair<DWORD, DWORD>> regions;
    for (auto it = cuts.begin(); it != cuts.end() && std::next(it) != cuts.end(); ++it)
        if (*it < dwSize)
            regions.push_back({*it, std::min(*std::next(it), dwSize)});
    return regions;
}

Json CandidateJson(const Candidate& c, const PeImage& image)
{
    return {{"offset", c.dwOffset},
            {"section", image.RegionOf(c.dwOffset)},
            {"unicode", c.unicode},
            {"chars", c.uChars},
            {"en", ToUtf8(c.wsEn)},
            {"occurrences", c.uOccurrences},
            {"firstMatch", c.dwFirstMatch == kNotSearched ? Json() : Json(c.dwFirstMatch)}};
}

std::string RuleSetFileText(const WString& wsTarget, const std::vector<Candidate>& texts)
{
    WString ws = WString(W("[Config]\r\nFILE=")) + wsTarget + W("\r\n");
    UINT n = 0;
    for (const Candidate& c : texts)
    {
        WCHAR wsNode[kKeyChars];
        FormatNode(wsNode, ++n);
        ws += WString(W("[")) + wsNode + W("]\r\nEN=") + c.wsEn + W("\r\nCN=\r\nUNICODE=") +
              (c.unicode ? W("1") : W("0")) + W("\r\n");
    }
    std::string bytes = "\xFF\xFE";
    for (WCHAR u : ws)
    {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

struct CatalogueNames
{
    std::vector<WString> names;
};

void AddName(void* pContext, LPCWSTR wsName)
{
    static_cast<CatalogueNames*>(pContext)->names.push_back(wsName);
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
} // namespace

int RunExtract(const CliContext& cli, const ExtractOptions& options)
{
    std::vector<BYTE> view;
    std::string sReason;
    if (!ReadTarget(options.wsTarget, view, sReason))
        return ReportBadInput(cli, options.wsTarget, sReason);
    PeImage image;
    image.Load(view.data(), static_cast<DWORD>(view.size()));
    if (!image.pe)
        return ReportBadInput(cli, options.wsTarget,
                              "is no PE image (no MZ header leading to a PE signature)");
    WString wsFile, wsName;
    if (!options.wsOutput.empty())
    {
        if (!ResolveOutput(options, wsFile, wsName, sReason))
            return ReportBadInput(cli, wsFile, sReason);
        if (!options.force && PathExists(wsFile))
            return ReportBadInput(cli, wsFile, "exists already (--force replaces it)");
    }

    CProgress progress("extract");
    Scan scan = {view, options.uMinChars, {}, progress};
    const std::string sSection = ToUtf8(options.wsSection);
    for (const auto& region : Regions(image, static_cast<DWORD>(view.size())))
    {
        std::string sRegion = image.RegionOf(region.first);
        bool wanted = sSection.empty() ? (sRegion != "headers" || options.allSections) : sRegion == sSection;
        if (!wanted)
            continue;
        ScanWide(scan, region.first, region.second);
        ScanAnsi(scan, region.first, region.second);
    }
    std::sort(scan.found.begin(), scan.found.end(),
              [](const Candidate& a, const Candidate& b) { return a.dwOffset < b.dwOffset; });
    std::vector<Candidate> texts;
    std::map<std::pair<bool, std::string>, size_t> seen;
    UINT uTooLong = 0;
    unsigned long long cbSearched = 0;
    for (Candidate& c : scan.found)
    {
        if (texts.size() % 4096 == 0)
            progress.Update(c.dwOffset, view.size(), "sorting out repeats");
        auto key = std::make_pair(c.unicode, c.bytes);
        auto it = seen.find(key);
        if (it != seen.end())
        {
            if (it->second != static_cast<size_t>(-1))
                ++texts[it->second].uOccurrences;
            continue;
        }
        c.wsEn = c.unicode ? EscapeWide(c.bytes) : EscapeAnsi(c.bytes);
        if (c.wsEn.size() >= kTextChars)
        {
            ++uTooLong;
            seen[key] = static_cast<size_t>(-1);
            continue;
        }
        const DWORD dwEnd = c.dwOffset + static_cast<DWORD>(c.bytes.size());
        c.dwFirstMatch = kNotSearched;
        if (cbSearched + dwEnd <= kFirstMatchBudget)
        {
            cbSearched += dwEnd;
            const BYTE* pFirst =
                SearchBytes(view.data(), dwEnd, reinterpret_cast<const BYTE*>(c.bytes.data()),
                            static_cast<DWORD>(c.bytes.size()));
            c.dwFirstMatch = static_cast<DWORD>(pFirst - view.data());
        }
        seen[key] = texts.size();
        texts.push_back(c);
    }

    progress.Finish();
    std::string sText;
    bool added = false;
    if (!options.wsOutput.empty())
    {
        if (!WriteWholeFile(wsFile, RuleSetFileText(AbsolutePath(options.wsTarget), texts), options.force,
                            sReason))
            return ReportBadInput(cli, wsFile, sReason);
        sText += "wrote " + std::to_string(texts.size()) + " rules to " +
                 ShownPath(IsRuleSetPath(options.wsOutput) ? options.wsOutput : wsFile) + "\n";
        if (options.addToCatalogue)
        {
            WCHAR wsCatalogue[kPathChars];
            GetCatalogueFile(wsCatalogue);
            CatalogueNames listed;
            UINT uCount = ReadCatalogue(wsCatalogue, AddName, &listed);
            bool present = false;
            for (const WString& ws : listed.names)
                present = present || EqualsNoCase(ws, wsName);
            // A new catalogue in UTF-16LE, so a name outside the code page survives.
            if (!PathExists(wsCatalogue))
                WriteWholeFile(wsCatalogue, "\xFF\xFE", false, sReason);
            if (!present)
                AddCatalogueEntry(wsCatalogue, uCount + 1, wsName.c_str());
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
                     std::string(sRegion.size() < 8 ? 8 - sRegion.size() : 0, ' ') +
                     (c.unicode ? "UTF-16  " : "ANSI    ") + ShownText(c.wsEn);
            if (c.uOccurrences > 1)
                sText += "  (" + std::to_string(c.uOccurrences) + " times)";
            if (c.dwFirstMatch != c.dwOffset && c.dwFirstMatch != kNotSearched)
                sText +=
                    "  (the run finds it first at " + HexOffset(c.dwFirstMatch) + ", inside a longer text)";
            sText += "\n";
        }
    }
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
                   {"texts", list},
                   {"tooLong", uTooLong},
                   {"output", options.wsOutput.empty() ? Json() : Json(ShownPath(wsFile))},
                   {"addedToCatalogue", added ? Json(ToUtf8(wsName)) : Json()},
                   {"exitCode", kExitDone}});
    }
    else
        WriteOut(sText);
    return kExitDone;
}
