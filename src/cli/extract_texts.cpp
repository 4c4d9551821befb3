#include "cli/extract_texts.h"

#include "patch/find_bytes.h"
#include "rules/rule_set.h"

#include <algorithm>
#include <map>
#include <set>

namespace
{
// Each first match is searched for up to the text's own offset; in a large
// file with many texts that grows as the square, so it stops at this many
// bytes searched in all (a few seconds).
const unsigned long long kFirstMatchBudget = 8ull << 30;

struct Scan
{
    const BYTE* pView;
    DWORD dwSize;
    unsigned uMinChars;
    std::vector<Candidate> found;
    CProgress& progress;
};

const DWORD kProgressBytes = 1u << 20;

void ShowScan(Scan& scan, DWORD dwAt, const char* szWhat)
{
    if (dwAt % kProgressBytes == 0)
        scan.progress.Update(dwAt, scan.dwSize, szWhat);
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
    Candidate c = {dwStart, unicode, std::string(scan.pView + dwStart, scan.pView + dwEnd), uChars, WString(),
                   1,       dwStart};
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
            DWORD u = scan.pView[i] | static_cast<DWORD>(scan.pView[i + 1]) << 8;
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
        BYTE b = scan.pView[i];
        if (IsPrintableAscii(b))
        {
            ++uChars;
            letter = letter || IsLetter(b);
            ++i;
            continue;
        }
        if (i + 1 < dwHi && IsGbkPair(b, scan.pView[i + 1]))
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
} // namespace

void FindTexts(const BYTE* pView, DWORD dwSize, const PeImage& image, const ExtractScope& scope,
               CProgress& progress, std::vector<Candidate>& texts, UINT& uTooLong)
{
    Scan scan = {pView, dwSize, scope.uMinChars, {}, progress};
    for (const auto& region : Regions(image, dwSize))
    {
        std::string sRegion = image.RegionOf(region.first);
        bool wanted =
            scope.sSection.empty() ? (sRegion != "headers" || scope.allSections) : sRegion == scope.sSection;
        if (!wanted)
            continue;
        ScanWide(scan, region.first, region.second);
        ScanAnsi(scan, region.first, region.second);
    }
    std::sort(scan.found.begin(), scan.found.end(),
              [](const Candidate& a, const Candidate& b) { return a.dwOffset < b.dwOffset; });
    texts.clear();
    uTooLong = 0;
    std::map<std::pair<bool, std::string>, size_t> seen;
    unsigned long long cbSearched = 0;
    for (Candidate& c : scan.found)
    {
        if (texts.size() % 4096 == 0)
            progress.Update(c.dwOffset, dwSize, "sorting out repeats");
        auto key = std::make_pair(c.unicode, c.bytes);
        auto it = seen.find(key);
        if (it != seen.end())
        {
            if (it->second != static_cast<size_t>(-1))
                ++texts[it->second].uOccurrences;
            continue;
        }
        c.wsEn = c.unicode ? EscapeWide(c.bytes) : EscapeAnsi(c.bytes);
        if (!FitsStoredEn(c))
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
            const BYTE* pFirst = SearchBytes(pView, dwEnd, reinterpret_cast<const BYTE*>(c.bytes.data()),
                                             static_cast<DWORD>(c.bytes.size()));
            c.dwFirstMatch = static_cast<DWORD>(pFirst - pView);
        }
        seen[key] = texts.size();
        texts.push_back(c);
    }
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
