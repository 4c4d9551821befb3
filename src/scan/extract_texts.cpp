#include "scan/extract_texts.h"

#include "patch/find_bytes.h"
#include "rules/rule_set.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace
{
// Each first match is searched for up to the text's own offset; in a large
// file with many texts that grows as the square, so it stops at this many
// bytes searched in all (a few seconds).
const unsigned long long kFirstMatchBudget = 8ull << 30;

// Runs in executable sections are mostly instruction bytes that happen to be
// printable ("D$\x08", "UWVS", a 64-bit prologue's "AWAVAUATUWVSH"); a run
// there is kept only when it is this long, holds no double-byte character,
// letters and blanks make up this share of it, and at least half its letters
// are small.
const UINT kCodeMinChars = 8;
const UINT kCodeWordPercent = 80;

struct Scan
{
    const BYTE* pView;
    DWORD dwSize;
    unsigned uMinChars;
    bool code; // the bytes scanned now are in an executable section
    std::vector<Candidate> found;
    const FnScanProgress& fnProgress;
};

const DWORD kProgressBytes = 1u << 20;

void ShowScan(Scan& scan, DWORD dwAt, const char* szWhat)
{
    if (dwAt % kProgressBytes == 0)
        scan.fnProgress(dwAt, scan.dwSize, szWhat);
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

// The characters of a run so far: all, ASCII letters, letters and blanks.
struct RunCount
{
    UINT uChars = 0;
    UINT uLetters = 0;
    UINT uWords = 0;
    UINT uSmall = 0;
    UINT uWide = 0; // outside ASCII

    void Add(DWORD u)
    {
        ++uChars;
        uLetters += IsLetter(u) ? 1 : 0;
        uWords += IsLetter(u) || u == ' ' ? 1 : 0;
        uSmall += u >= 'a' && u <= 'z' ? 1 : 0;
        uWide += u >= 0x80 ? 1 : 0;
    }
};

void Keep(Scan& scan, DWORD dwStart, DWORD dwEnd, bool unicode, const RunCount& run)
{
    if (run.uChars < scan.uMinChars || run.uLetters == 0)
        return;
    if (scan.code && (run.uChars < kCodeMinChars || run.uWide > 0 ||
                      run.uWords * 100u < run.uChars * kCodeWordPercent || run.uSmall * 2 < run.uLetters))
        return;
    Candidate c = {dwStart,       unicode,      false,
                   std::string(), kRegionOther, std::string(scan.pView + dwStart, scan.pView + dwEnd),
                   run.uChars,    WString(),    1,
                   dwStart,       false};
    scan.found.push_back(c);
}

void ScanWide(Scan& scan, DWORD dwLo, DWORD dwHi)
{
    for (DWORD dwParity = 0; dwParity < 2; ++dwParity)
    {
        DWORD dwStart = dwLo + ((dwLo & 1) != dwParity ? 1 : 0);
        RunCount run;
        DWORD i = dwStart;
        for (; i + 1 < dwHi; i += 2)
        {
            ShowScan(scan, i - dwParity, "UTF-16 texts");
            DWORD u = scan.pView[i] | static_cast<DWORD>(scan.pView[i + 1]) << 8;
            if (IsPrintableWide(u))
            {
                run.Add(u);
                continue;
            }
            Keep(scan, dwStart, i, true, run);
            dwStart = i + 2;
            run = RunCount();
        }
        Keep(scan, dwStart, i, true, run);
    }
}

void ScanAnsi(Scan& scan, DWORD dwLo, DWORD dwHi)
{
    DWORD dwStart = dwLo;
    RunCount run;
    DWORD i = dwLo;
    while (i < dwHi)
    {
        ShowScan(scan, i, "ANSI texts");
        BYTE b = scan.pView[i];
        if (IsPrintableAscii(b))
        {
            run.Add(b);
            ++i;
            continue;
        }
        if (i + 1 < dwHi && IsGbkPair(b, scan.pView[i + 1]))
        {
            run.Add(0x80);
            i += 2;
            continue;
        }
        Keep(scan, dwStart, i, false, run);
        dwStart = ++i;
        run = RunCount();
    }
    Keep(scan, dwStart, i, false, run);
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
        if (b < 0x80 || i + 1 >= bytes.size())
        {
            // A lead byte with nothing behind it (the end of a message-table text).
            if (b >= 0x80)
                AppendHexEscape(ws, b);
            else
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
std::vector<std::pair<DWORD, DWORD>> Regions(const CImageMap& image, DWORD dwSize)
{
    std::set<DWORD> cuts = {0, dwSize, image.HeadersEnd()};
    for (const ImageSection& s : image.Sections())
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

bool IsDebugSection(const std::string& sName)
{
    return sName.compare(0, 6, ".debug") == 0;
}

// The bytes the scan for loose texts skips: what the map knows to be no
// interface text (names the loader reads, directories, debug data), the
// resources (whose texts come whole from the map), the section table, and the
// headers unless they are asked for. Sorted and merged.
std::vector<std::pair<DWORD, DWORD>> SkippedBytes(const CImageMap& image, bool headers)
{
    std::vector<std::pair<DWORD, DWORD>> skipped;
    for (const ImageSpan& span : image.Spans())
    {
        bool skip = span.kind != kByteCode && span.kind != kByteData && span.kind != kByteOutside &&
                    (span.kind != kByteHeader || !headers);
        if (skip && span.dwStart < span.dwEnd)
            skipped.push_back({span.dwStart, span.dwEnd});
    }
    std::sort(skipped.begin(), skipped.end());
    std::vector<std::pair<DWORD, DWORD>> merged;
    for (const auto& range : skipped)
    {
        if (!merged.empty() && range.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, range.second);
        else
            merged.push_back(range);
    }
    return merged;
}

// Scans [dwLo, dwHi) but for the skipped bytes.
void ScanAround(Scan& scan, DWORD dwLo, DWORD dwHi, const std::vector<std::pair<DWORD, DWORD>>& skipped)
{
    auto it = std::upper_bound(skipped.begin(), skipped.end(),
                               std::make_pair(dwLo, static_cast<DWORD>(0xFFFFFFFF)));
    if (it != skipped.begin() && std::prev(it)->second > dwLo)
        --it;
    DWORD dwAt = dwLo;
    for (; dwAt < dwHi && it != skipped.end() && it->first < dwHi; ++it)
    {
        if (it->first > dwAt)
        {
            ScanWide(scan, dwAt, it->first);
            ScanAnsi(scan, dwAt, it->first);
        }
        dwAt = std::max(dwAt, it->second);
    }
    if (dwAt < dwHi)
    {
        ScanWide(scan, dwAt, dwHi);
        ScanAnsi(scan, dwAt, dwHi);
    }
}

// Resource texts that are names for the program rather than words for its
// user: window classes, font names, the keys of version information, a
// dialog's menu name.
bool IsTranslatable(const std::string& sLabel)
{
    static const char* const kNames[] = {", class", ", font name", ", key", ", menu"};
    for (const char* szEnd : kNames)
    {
        size_t cch = std::strlen(szEnd);
        if (sLabel.size() >= cch && sLabel.compare(sLabel.size() - cch, cch, szEnd) == 0)
            return false;
    }
    return true;
}

DWORD OffsetOf(DWORD dw)
{
    return dw;
}

DWORD OffsetOf(const Candidate& c)
{
    return c.dwOffset;
}

// The language of a resource text: its label begins with the label of the
// resource it was read from ("MENU 1 en-US"), and then ", ". Two resources
// may share their data, so the label, not the offset, says whose text it is.
bool IsInLanguage(const std::map<std::string, WORD>& resources, const std::string& sLabel,
                  const std::string& sLang)
{
    for (size_t at = sLabel.find(", "); at != std::string::npos; at = sLabel.find(", ", at + 1))
    {
        auto it = resources.find(sLabel.substr(0, at));
        if (it != resources.end())
            return EqualsNoCase(FromUtf8(LanguageName(it->second)), FromUtf8(sLang));
    }
    return false;
}

// The resource texts of the map, in the asked section and language.
void AddResourceTexts(Scan& scan, const CImageMap& image, const ExtractScope& scope)
{
    // String tables are labelled by block ("STRINGTABLE block 7 en-US").
    const WORD kStringTableType = 6;
    std::map<std::string, WORD> resources;
    for (const ImageResource& r : image.Resources())
    {
        const std::string sLang = " " + LanguageName(r.wLang);
        resources[r.sType + " " + r.sName + sLang] = r.wLang;
        if (r.wTypeId == kStringTableType)
            resources[r.sType + " block " + r.sName + sLang] = r.wLang;
    }
    for (const ImageSpan& span : image.Spans())
    {
        if (!span.fText || span.kind != kByteResourceText || span.text.cbText == 0 ||
            !IsTranslatable(span.sLabel))
            continue;
        const ImageText& text = span.text;
        if (!scope.sSection.empty() && image.RegionOf(text.dwStart) != scope.sSection)
            continue;
        if (!scope.sLang.empty() && !IsInLanguage(resources, span.sLabel, scope.sLang))
            continue;
        UINT uChars = text.fWide ? text.cbText / 2 : text.cbText;
        Candidate c = {text.dwStart,
                       text.fWide,
                       true,
                       span.sLabel,
                       kRegionResources,
                       std::string(scan.pView + text.dwStart, scan.pView + text.dwStart + text.cbText),
                       uChars,
                       WString(),
                       1,
                       text.dwStart,
                       false};
        scan.found.push_back(c);
    }
}

// Whether the run reads the stored EN whole: the wide read takes up to 2047
// units, the ANSI read of an ANSI rule up to 2047 bytes of the text in the
// code page.
bool FitsStoredEn(const Candidate& c)
{
    if (c.wsEn.size() >= kTextChars)
        return false;
    if (c.unicode)
        return true;
    int cb = WideCharToMultiByte(CP_ACP, 0, c.wsEn.data(), static_cast<int>(c.wsEn.size()), nullptr, 0,
                                 nullptr, nullptr);
    return cb > 0 && static_cast<UINT>(cb) < kTextChars;
}
// Whether the text's first match is a whole text the scan or the map knows
// (a resource text of a language left out, say), not part of a longer one.
bool IsWholeTextAt(const std::vector<Candidate>& found, const CImageMap& image, const Candidate& c)
{
    auto range = std::equal_range(found.begin(), found.end(), c.dwFirstMatch,
                                  [](const auto& a, const auto& b) { return OffsetOf(a) < OffsetOf(b); });
    for (auto it = range.first; it != range.second; ++it)
        if (it->unicode == c.unicode && it->bytes == c.bytes)
            return true;
    if (!image.IsPe())
        return false;
    const ImageText* pText = image.Lookup(c.dwFirstMatch).pText;
    return pText != nullptr && pText->dwStart == c.dwFirstMatch && pText->cbText == c.bytes.size() &&
           pText->fWide == c.unicode;
}
} // namespace

const char* RegionName(ExtractRegion region)
{
    static const char* const kNames[kRegionCount] = {"code",  "data", "resources", "imports/exports",
                                                     "debug", "other"};
    return kNames[region];
}

ExtractRegion RegionAt(const CImageMap& image, DWORD dwOffset)
{
    ImageByteInfo info = image.Lookup(dwOffset);
    const std::string& sLabel = *info.psLabel;
    auto Starts = [&sLabel](const char* sz) { return sLabel.compare(0, std::strlen(sz), sz) == 0; };
    switch (info.kind)
    {
    case kByteCode:
    case kByteData:
        return IsDebugSection(image.RegionOf(dwOffset)) ? kRegionDebug
               : info.kind == kByteCode                 ? kRegionCode
                                                        : kRegionData;
    case kByteResourceData:
    case kByteResourceField:
    case kByteResourceText:
        return kRegionResources;
    case kByteImportName:
    case kByteExportName:
        return kRegionNames;
    case kByteDebugData:
        return kRegionDebug;
    case kByteDirectory:
        return Starts("resource")                     ? kRegionResources
               : Starts("import") || Starts("export") ? kRegionNames
               : Starts("debug")                      ? kRegionDebug
                                                      : kRegionOther;
    default:
        return kRegionOther;
    }
}

void FindTexts(const BYTE* pView, DWORD dwSize, const CImageMap& image, const ExtractScope& scope,
               const FnScanProgress& fnProgress, std::vector<Candidate>& texts, UINT& uTooLong)
{
    Scan scan = {pView, dwSize, scope.uMinChars, false, {}, fnProgress};
    std::vector<std::pair<DWORD, DWORD>> skipped;
    if (image.IsPe())
    {
        skipped = SkippedBytes(image, scope.allSections || scope.sSection == "headers");
        AddResourceTexts(scan, image, scope);
    }
    for (const auto& region : Regions(image, dwSize))
    {
        std::string sRegion = image.RegionOf(region.first);
        // Debug sections only when named.
        bool wanted = scope.sSection.empty()
                          ? (sRegion != "headers" || scope.allSections) && !IsDebugSection(sRegion)
                          : sRegion == scope.sSection;
        if (!wanted)
            continue;
        int iSection = image.IsPe() ? image.SectionIndexOf(region.first) : kImageOutsideSections;
        scan.code = iSection >= 0 && image.Sections()[static_cast<size_t>(iSection)].fCode;
        ScanAround(scan, region.first, region.second, skipped);
    }
    std::sort(scan.found.begin(), scan.found.end(),
              [](const Candidate& a, const Candidate& b) { return a.dwOffset < b.dwOffset; });
    texts.clear();
    uTooLong = 0;
    std::map<std::pair<bool, std::string>, UINT> counts;
    for (const Candidate& c : scan.found)
        ++counts[std::make_pair(c.unicode, c.bytes)];
    // Of each key, whether a text was kept (or counted as too long) already.
    std::set<std::pair<bool, std::string>> seen;
    unsigned long long cbSearched = 0;
    for (Candidate& c : scan.found)
    {
        if (texts.size() % 4096 == 0)
            fnProgress(c.dwOffset, dwSize, "sorting out repeats");
        auto key = std::make_pair(c.unicode, c.bytes);
        bool first = seen.insert(key).second;
        if (!first && !c.resource)
            continue;
        c.uOccurrences = counts[key];
        c.wsEn = c.unicode ? EscapeWide(c.bytes) : EscapeAnsi(c.bytes);
        if (!FitsStoredEn(c))
        {
            uTooLong += first ? 1 : 0;
            continue;
        }
        if (image.IsPe())
        {
            c.region = RegionAt(image, c.dwOffset);
            if (!c.resource)
                c.sLabel = *image.Lookup(c.dwOffset).psLabel;
        }
        const DWORD dwEnd = c.dwOffset + static_cast<DWORD>(c.bytes.size());
        c.dwFirstMatch = kNotSearched;
        if (cbSearched + dwEnd <= kFirstMatchBudget)
        {
            cbSearched += dwEnd;
            const BYTE* pFirst = SearchBytes(pView, dwEnd, reinterpret_cast<const BYTE*>(c.bytes.data()),
                                             static_cast<DWORD>(c.bytes.size()));
            c.dwFirstMatch = static_cast<DWORD>(pFirst - pView);
            c.firstIsCopy = IsWholeTextAt(scan.found, image, c);
        }
        texts.push_back(c);
    }
}

std::vector<Candidate> RuleSetTexts(const std::vector<Candidate>& texts, bool resources)
{
    std::vector<Candidate> chosen;
    std::set<std::pair<bool, std::string>> seen;
    for (const Candidate& c : texts)
        if ((resources || !c.resource) && seen.insert(std::make_pair(c.unicode, c.bytes)).second)
            chosen.push_back(c);
    return chosen;
}

const char* const kResourceRuleWarning =
    "a rule over a resource text is safe only with a CN of exactly EN's length: a shorter CN's zero "
    "padding ends the text early, and a longer one is never written (the rule fails)";

std::string RuleSetFileText(const WString& wsTarget, const std::vector<Candidate>& texts)
{
    WString ws;
    bool resources = std::any_of(texts.begin(), texts.end(), [](const Candidate& c) { return c.resource; });
    if (resources)
        ws += W("; ") + FromUtf8(kResourceRuleWarning) + W(".\r\n");
    ws += WString(W("[Config]\r\nFILE=")) + wsTarget + W("\r\n");
    UINT n = 0;
    for (const Candidate& c : texts)
    {
        WCHAR wsNode[kKeyChars];
        FormatNode(wsNode, ++n);
        ws += WString(W("[")) + wsNode + W("]\r\nEN=") + c.wsEn + W("\r\nCN=\r\nUNICODE=") +
              (c.unicode ? W("1") : W("0")) + W("\r\n");
        // A comment line: no line break may come from the label.
        if (c.resource)
        {
            WString wsLabel = FromUtf8(c.sLabel);
            std::replace_if(
                wsLabel.begin(), wsLabel.end(), [](WCHAR u) { return u < 0x20; }, static_cast<WCHAR>('?'));
            ws += W("; ") + wsLabel + W(": CN exactly as long as EN");
            // Without REPEAT the run changes the copy it finds first, which may
            // be another language's: say where, so nobody takes it for this one.
            if (c.dwFirstMatch != c.dwOffset && c.dwFirstMatch != kNotSearched)
            {
                char szWhere[96];
                std::snprintf(szWhere, sizeof(szWhere),
                              "; without REPEAT=1 the run changes the copy at 0x%08X instead",
                              static_cast<unsigned>(c.dwFirstMatch));
                ws += FromUtf8(szWhere);
            }
            ws += W("\r\n");
        }
    }
    std::string bytes = "\xFF\xFE";
    for (WCHAR u : ws)
    {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}
