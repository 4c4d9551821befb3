#include "image/image_map.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <utility>

namespace
{
const DWORD kDosHeaderBytes = 64;
const DWORD kSignatureAndFileHeader = 24;
const DWORD kMaxNameBytes = 4096; // import and export names longer than this are cut
const DWORD kMaxLabelChars = 120;
const size_t kMaxSpans = 1u << 21;
const DWORD kCodeFlags = 0x00000020 | 0x20000000; // IMAGE_SCN_CNT_CODE, IMAGE_SCN_MEM_EXECUTE
const DWORD kOrdinalFlag32 = 0x80000000;

const char* const kDirectoryLabels[kPeDirectoryCount] = {
    "export directory",     "import directory", "resource directory", "exception data",
    "certificate table",    "base relocations", "debug directory",    "architecture data",
    "global pointer",       "TLS directory",    "load configuration", "bound imports",
    "import address table", "delay imports",    "CLR header",         "reserved directory"};

const std::string kOutsideLabel = "outside any section";
const ImageSpan kNoSpan = {0, 0, kByteOutside, kOutsideLabel, false, {0, 0, false, false, false}};

std::string Printable(const std::string& s)
{
    std::string sOut;
    for (char ch : s)
    {
        if (sOut.size() >= kMaxLabelChars)
            break;
        BYTE b = static_cast<BYTE>(ch);
        sOut += b >= 0x20 && b < 0x7F ? ch : '?';
    }
    return sOut;
}

// The ANSI name at dwAt, cut at kMaxNameBytes; the bytes it takes with its terminator.
std::string ReadName(const CImageBytes& bytes, DWORD dwAt, DWORD& cbTaken)
{
    DWORD dwEnd = bytes.End();
    if (dwAt <= dwEnd && dwEnd - dwAt > kMaxNameBytes)
        dwEnd = dwAt + kMaxNameBytes;
    bool fTerminated = false;
    DWORD cb = 0;
    std::string s;
    for (DWORD dw = dwAt; dw < dwEnd && bytes.Holds(dw, 1); ++dw, ++cb)
    {
        BYTE b = bytes.At(dw);
        if (b == 0)
        {
            fTerminated = true;
            break;
        }
        s += static_cast<char>(b);
    }
    cbTaken = cb + (fTerminated ? 1 : 0);
    return s;
}

std::string Hex(DWORD dw, int cDigits)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "0x%0*X", cDigits, static_cast<unsigned>(dw));
    return sz;
}

// For each byte covered by some span, the span that answers for it: the
// shortest (the most specific) or the first, ties going to the earlier span.
void BuildSegments(const std::vector<ImageSpan>& spans, bool fShortestWins,
                   std::vector<ImageSegment>& segments)
{
    segments.clear();
    std::vector<std::pair<DWORD, UINT>> starts, ends;
    for (UINT i = 0; i < spans.size(); ++i)
        if (spans[i].dwStart < spans[i].dwEnd)
        {
            starts.push_back({spans[i].dwStart, i});
            ends.push_back({spans[i].dwEnd, i});
        }
    std::sort(starts.begin(), starts.end());
    std::sort(ends.begin(), ends.end());
    std::set<std::pair<DWORD, UINT>> active;
    auto Key = [&](UINT i) {
        return std::make_pair(fShortestWins ? spans[i].dwEnd - spans[i].dwStart : i, i);
    };
    size_t iStart = 0, iEnd = 0;
    while (iStart < starts.size() || iEnd < ends.size())
    {
        DWORD dwAt = iEnd < ends.size() ? ends[iEnd].first : 0xFFFFFFFF;
        if (iStart < starts.size() && starts[iStart].first < dwAt)
            dwAt = starts[iStart].first;
        for (; iEnd < ends.size() && ends[iEnd].first == dwAt; ++iEnd)
            active.erase(Key(ends[iEnd].second));
        for (; iStart < starts.size() && starts[iStart].first == dwAt; ++iStart)
            active.insert(Key(starts[iStart].second));
        if (active.empty())
            continue;
        DWORD dwNext = iEnd < ends.size() ? ends[iEnd].first : 0xFFFFFFFF;
        if (iStart < starts.size() && starts[iStart].first < dwNext)
            dwNext = starts[iStart].first;
        UINT uSpan = active.begin()->second;
        if (!segments.empty() && segments.back().uSpan == uSpan && segments.back().dwEnd == dwAt)
            segments.back().dwEnd = dwNext;
        else
            segments.push_back({dwAt, dwNext, uSpan});
    }
}

const ImageSegment* FindSegment(const std::vector<ImageSegment>& segments, DWORD dwOffset)
{
    auto it = std::upper_bound(segments.begin(), segments.end(), dwOffset,
                               [](DWORD dw, const ImageSegment& s) { return dw < s.dwStart; });
    if (it == segments.begin())
        return nullptr;
    --it;
    return dwOffset < it->dwEnd ? &*it : nullptr;
}

std::string DebugTypeName(DWORD dwType)
{
    switch (dwType)
    {
    case 1:
        return "COFF";
    case 2:
        return "CODEVIEW";
    case 3:
        return "FPO";
    case 4:
        return "MISC";
    case 5:
        return "EXCEPTION";
    case 6:
        return "FIXUP";
    case 9:
        return "BORLAND";
    case 12:
        return "VC_FEATURE";
    case 13:
        return "POGO";
    case 14:
        return "ILTCG";
    case 16:
        return "REPRO";
    case 20:
        return "EX_DLLCHARACTERISTICS";
    }
    return "type " + std::to_string(dwType);
}
} // namespace

int CImageMap::Load(const BYTE* pView, DWORD dwSize, std::string& sReason)
{
    PeHeaders headers;
    if (!headers.Read(pView, dwSize, sReason))
    {
        *this = CImageMap();
        return 0;
    }
    return Load(headers);
}

int CImageMap::Load(const BYTE* pView, DWORD dwSize)
{
    std::string sReason;
    return Load(pView, dwSize, sReason);
}

int CImageMap::Load(const PeHeaders& headers)
{
    *this = CImageMap();
    m_headers = headers;
    m_fPe = true;
    m_dwSize = headers.dwSize;
    m_uBudget = 8ull * m_dwSize + (1u << 20);
    CImageBytes bytes = headers.Bytes();
    const DWORD dwLfanew = headers.dwFileHeader - 4;
    const DWORD cbOptional = headers.fh.cbOptionalHeader;
    AddSpan(0, kDosHeaderBytes, kByteHeader, "DOS header");
    if (dwLfanew > kDosHeaderBytes)
        AddSpan(kDosHeaderBytes, dwLfanew - kDosHeaderBytes, kByteHeader, "DOS stub");
    AddSpan(dwLfanew, kSignatureAndFileHeader, kByteHeader, "PE signature and file header");
    AddSpan(headers.dwOptional, cbOptional, kByteHeader, "optional header");
    AddSpan(headers.dwDirectories, static_cast<DWORD>(headers.directories.size() * sizeof(PeDataDirectory)),
            kByteHeader, "data directories");
    ReadSections(bytes);
    AddSpan(0, headers.dwHeadersEnd, kByteHeader, "headers");

    const std::vector<PeDataDirectory>& directories = headers.directories;
    for (UINT i = 0; i < directories.size(); ++i)
    {
        DWORD dwOffset = 0, cb = 0;
        if (i == kPeSecurityDirectory)
            AddSpan(directories[i].dwRva, directories[i].cb, kByteDirectory, kDirectoryLabels[i]);
        else if (i != kPeResourceDirectory && headers.DirectoryInFile(i, dwOffset, cb))
            AddSpan(dwOffset, cb, i == kPeRelocationDirectory ? kByteRelocation : kByteDirectory,
                    kDirectoryLabels[i]);
    }
    ReadImports(bytes);
    ReadExports(bytes);
    ReadRelocations(bytes);
    ReadDebug(bytes);
    ReadResources();

    BuildSegments(m_spans, true, m_segments);
    std::vector<ImageSpan> sectionSpans;
    for (const ImageSection& s : m_sections)
        sectionSpans.push_back(
            {s.dwRawOffset, s.dwRawOffset + s.dwRawSize, kByteData, std::string(), false, {}});
    BuildSegments(sectionSpans, false, m_sectionSegments);
    return 1;
}

void CImageMap::ReadSections(const CImageBytes& bytes)
{
    const PeFileHeader& fh = m_headers.fh;
    for (size_t i = 0; i < m_headers.sections.size(); ++i)
    {
        const PeSectionHeader& header = m_headers.sections[i];
        ImageSection s;
        s.sName = m_headers.sectionNames[i];
        s.dwVirtualAddress = header.dwVirtualAddress;
        s.dwVirtualSize = header.dwVirtualSize;
        s.dwRawOffset = m_headers.RawOffset(i);
        s.dwRawSize = m_headers.RawSize(i);
        s.dwCharacteristics = header.dwCharacteristics;
        s.fCode = (header.dwCharacteristics & kCodeFlags) != 0;
        AddSpan(m_headers.dwSectionTable + static_cast<DWORD>(i * sizeof(header)), sizeof(header),
                kByteSectionTable, "section table, " + s.sName);
        AddSpan(s.dwRawOffset, s.dwRawSize, s.fCode ? kByteCode : kByteData,
                std::string(s.fCode ? "code (" : "data (") + s.sName + ")");
        m_sections.push_back(s);
    }
    if (fh.dwSymbolTable != 0 && fh.dwSymbolTable < m_dwSize)
    {
        unsigned long long uStrings =
            fh.dwSymbolTable + static_cast<unsigned long long>(fh.cSymbols) * kCoffSymbolBytes;
        AddSpan(fh.dwSymbolTable,
                static_cast<DWORD>(std::min<unsigned long long>(uStrings - fh.dwSymbolTable, m_dwSize)),
                kByteDebugData, "COFF symbol table");
        DWORD cbStrings = 0;
        if (uStrings < m_dwSize && bytes.Read32(static_cast<DWORD>(uStrings), cbStrings))
            AddSpan(static_cast<DWORD>(uStrings), cbStrings, kByteDebugData, "COFF string table");
    }
}

bool CImageMap::Directory(UINT i, DWORD& dwOffset, DWORD& cb) const
{
    return m_headers.DirectoryInFile(i, dwOffset, cb);
}

bool CImageMap::Spend(DWORD cb)
{
    if (m_uBudget < cb + 1ull)
    {
        m_uBudget = 0;
        return false;
    }
    m_uBudget -= cb + 1ull;
    return true;
}

bool CImageMap::Full() const
{
    return m_spans.size() >= kMaxSpans || m_uBudget == 0;
}

void CImageMap::AddSpan(DWORD dwStart, DWORD cb, ImageByteKind kind, const std::string& sLabel)
{
    if (dwStart >= m_dwSize || cb == 0 || m_spans.size() >= kMaxSpans)
        return;
    cb = std::min(cb, m_dwSize - dwStart);
    m_spans.push_back({dwStart, dwStart + cb, kind, sLabel, false, {}});
}

void CImageMap::AddText(DWORD dwStart, DWORD cbText, bool fTerminated, bool fWide, const std::string& sLabel,
                        bool fPaddingShows)
{
    DWORD cbTerminator = fTerminated ? (fWide ? 2 : 1) : 0;
    if (dwStart >= m_dwSize || m_spans.size() >= kMaxSpans || cbText > m_dwSize - dwStart ||
        cbTerminator > m_dwSize - dwStart - cbText || cbText + cbTerminator == 0)
        return;
    m_spans.push_back({dwStart,
                       dwStart + cbText + cbTerminator,
                       kByteResourceText,
                       sLabel,
                       true,
                       {dwStart, cbText, fTerminated, fWide, fPaddingShows}});
}

void CImageMap::ReadImports(const CImageBytes& bytes)
{
    DWORD dwTable = 0, cbTable = 0;
    if (m_headers.directories.size() <= kPeImportDirectory ||
        m_headers.directories[kPeImportDirectory].dwRva == 0 ||
        !m_headers.RvaToOffset(m_headers.directories[kPeImportDirectory].dwRva, dwTable, cbTable))
        return;
    const DWORD cbThunk = m_headers.f64 ? 8 : 4;
    for (DWORD dwAt = dwTable; dwAt - dwTable + sizeof(PeImportDescriptor) <= cbTable && !Full();
         dwAt += sizeof(PeImportDescriptor))
    {
        PeImportDescriptor desc;
        if (!bytes.ReadStruct(dwAt, desc))
            break;
        if (desc.dwName == 0 && desc.dwAddressTable == 0)
        {
            AddSpan(dwAt, sizeof(desc), kByteDirectory, "import descriptor (end)");
            break;
        }
        ImageImport import;
        DWORD dwName = 0, cbAvail = 0, cbName = 0;
        if (m_headers.RvaToOffset(desc.dwName, dwName, cbAvail))
        {
            import.sDll = ReadName(bytes, dwName, cbName);
            cbName = std::min(cbName, cbAvail);
            Spend(cbName);
            AddSpan(dwName, cbName, kByteImportName, "import DLL name " + Printable(import.sDll));
        }
        const std::string sDll = Printable(import.sDll);
        AddSpan(dwAt, sizeof(desc), kByteDirectory, "import descriptor " + sDll);

        DWORD dwLookup = desc.dwLookupTable != 0 ? desc.dwLookupTable : desc.dwAddressTable;
        DWORD dwThunks = 0, cbThunks = 0;
        if (!m_headers.RvaToOffset(dwLookup, dwThunks, cbThunks))
        {
            m_imports.push_back(import);
            continue;
        }
        DWORD cThunks = 0;
        for (DWORD dw = dwThunks; (dw - dwThunks) + cbThunk <= cbThunks && !Full(); dw += cbThunk)
        {
            // Many descriptors may share one long table: every thunk read is
            // charged, so the work stays within a few passes over the file.
            unsigned long long uThunk = 0;
            if (!Spend(cbThunk) || !bytes.Read(dw, &uThunk, cbThunk))
                break;
            ++cThunks;
            if (uThunk == 0)
                break;
            bool fOrdinal = m_headers.f64 ? (uThunk >> 63) != 0 : (uThunk & kOrdinalFlag32) != 0;
            if (fOrdinal)
            {
                import.functions.push_back("#" + std::to_string(uThunk & 0xFFFF));
                continue;
            }
            DWORD dwHint = 0, cbHint = 0;
            if (!m_headers.RvaToOffset(static_cast<DWORD>(uThunk & 0x7FFFFFFF), dwHint, cbHint) || cbHint < 2)
            {
                import.functions.push_back(std::string());
                continue;
            }
            DWORD cbFunction = 0;
            std::string sFunction = ReadName(bytes, dwHint + 2, cbFunction);
            cbFunction = std::min(cbFunction, cbHint - 2);
            Spend(cbFunction);
            import.functions.push_back(sFunction);
            AddSpan(dwHint, 2, kByteImportName, "import hint " + Printable(sFunction));
            AddSpan(dwHint + 2, cbFunction, kByteImportName, "import name " + Printable(sFunction));
        }
        AddSpan(dwThunks, cThunks * cbThunk, kByteDirectory,
                std::string(desc.dwLookupTable != 0 ? "import lookup table " : "import address table ") +
                    sDll);
        DWORD dwIat = 0, cbIat = 0;
        if (desc.dwLookupTable != 0 && desc.dwAddressTable != 0 &&
            m_headers.RvaToOffset(desc.dwAddressTable, dwIat, cbIat))
            AddSpan(dwIat, std::min(cThunks * cbThunk, cbIat), kByteDirectory,
                    "import address table " + sDll);
        m_imports.push_back(import);
    }
}

void CImageMap::ReadExports(const CImageBytes& bytes)
{
    DWORD dwDir = 0, cbDir = 0;
    PeExportDirectory dir;
    if (!Directory(kPeExportDirectory, dwDir, cbDir) || !bytes.ReadStruct(dwDir, dir))
        return;
    AddSpan(dwDir, sizeof(dir), kByteDirectory, "export directory");
    DWORD dwAt = 0, cbAvail = 0, cbName = 0;
    if (m_headers.RvaToOffset(dir.dwName, dwAt, cbAvail))
    {
        std::string sName = ReadName(bytes, dwAt, cbName);
        AddSpan(dwAt, std::min(cbName, cbAvail), kByteExportName, "export DLL name " + Printable(sName));
    }
    if (m_headers.RvaToOffset(dir.dwFunctions, dwAt, cbAvail))
        AddSpan(dwAt, static_cast<DWORD>(std::min<unsigned long long>(dir.cFunctions * 4ull, cbAvail)),
                kByteDirectory, "export address table");
    if (m_headers.RvaToOffset(dir.dwOrdinals, dwAt, cbAvail))
        AddSpan(dwAt, static_cast<DWORD>(std::min<unsigned long long>(dir.cNames * 2ull, cbAvail)),
                kByteDirectory, "export ordinal table");
    DWORD dwNames = 0, cbNames = 0;
    if (!m_headers.RvaToOffset(dir.dwNames, dwNames, cbNames))
        return;
    DWORD cNames = std::min(dir.cNames, cbNames / 4);
    AddSpan(dwNames, cNames * 4, kByteDirectory, "export name pointer table");
    for (DWORD i = 0; i < cNames && !Full(); ++i)
    {
        DWORD dwNameRva = 0;
        if (!bytes.Read32(dwNames + i * 4, dwNameRva) || !m_headers.RvaToOffset(dwNameRva, dwAt, cbAvail))
            continue;
        std::string sName = ReadName(bytes, dwAt, cbName);
        Spend(cbName);
        m_exportNames.push_back(sName);
        AddSpan(dwAt, std::min(cbName, cbAvail), kByteExportName, "export name " + Printable(sName));
    }
}

void CImageMap::ReadRelocations(const CImageBytes& bytes)
{
    DWORD dwDir = 0, cbDir = 0;
    if (!Directory(kPeRelocationDirectory, dwDir, cbDir))
        return;
    for (DWORD dw = 0; dw + sizeof(PeRelocationBlock) <= cbDir && !Full();)
    {
        PeRelocationBlock block;
        if (!bytes.ReadStruct(dwDir + dw, block) || block.cbBlock < sizeof(block))
            break;
        AddSpan(dwDir + dw, std::min(block.cbBlock, cbDir - dw), kByteRelocation,
                "base relocations, page " + Hex(block.dwPage, 8));
        if (block.cbBlock > cbDir - dw)
            break;
        dw += block.cbBlock;
    }
}

void CImageMap::ReadDebug(const CImageBytes& bytes)
{
    DWORD dwDir = 0, cbDir = 0;
    if (!Directory(kPeDebugDirectory, dwDir, cbDir))
        return;
    for (DWORD dw = 0; dw + sizeof(PeDebugDirectory) <= cbDir && !Full(); dw += sizeof(PeDebugDirectory))
    {
        PeDebugDirectory entry;
        if (!bytes.ReadStruct(dwDir + dw, entry))
            break;
        std::string sType = DebugTypeName(entry.dwType);
        AddSpan(dwDir + dw, sizeof(entry), kByteDirectory, "debug directory entry (" + sType + ")");
        AddSpan(entry.dwDataOffset, entry.cbData, kByteDebugData, "debug data (" + sType + ")");
    }
}

ImageByteInfo CImageMap::Lookup(DWORD dwOffset) const
{
    const ImageSegment* pSegment = FindSegment(m_segments, dwOffset);
    const ImageSpan& span = pSegment != nullptr ? m_spans[pSegment->uSpan] : kNoSpan;
    return {span.kind, &span.sLabel, span.fText ? &span.text : nullptr};
}

int CImageMap::SectionIndexOf(DWORD dwOffset) const
{
    const ImageSegment* pSegment = FindSegment(m_sectionSegments, dwOffset);
    if (pSegment != nullptr)
        return static_cast<int>(pSegment->uSpan);
    return dwOffset < m_headers.dwHeadersEnd ? kImageInHeaders : kImageOutsideSections;
}

std::string CImageMap::RegionOf(DWORD dwOffset) const
{
    if (!m_fPe)
        return std::string();
    int i = SectionIndexOf(dwOffset);
    if (i == kImageInHeaders)
        return "headers";
    if (i == kImageOutsideSections)
        return "overlay";
    return m_sections[static_cast<size_t>(i)].sName;
}

std::string RegionNote(const std::string& sRegion)
{
    if (sRegion == "headers")
        return "PE headers: overwriting them damages the image";
    if (sRegion == ".text")
        return "code section: may be instructions rather than text";
    if (sRegion == ".rsrc")
        return "resources: the program may not show this copy";
    return std::string();
}
