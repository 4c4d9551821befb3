#include "image/image_map.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <utility>

namespace
{
const WORD kDosMagic = 0x5A4D;
const DWORD kPeSignature = 0x4550;
const WORD kOptionalMagic64 = 0x20B;
const DWORD kDosHeaderBytes = 64;
const DWORD kSignatureAndFileHeader = 24;
const DWORD kSizeOfHeadersField = 60; // within the optional header, PE32 and PE32+ alike
const DWORD kFileAlignmentField = 36; // likewise
const DWORD kDirectoriesField32 = 96; // NumberOfRvaAndSizes is the DWORD before
const DWORD kDirectoriesField64 = 112;
const UINT kDirectoryCount = 16;
const UINT kExportDirectory = 0;
const UINT kImportDirectory = 1;
const UINT kResourceDirectory = 2;
const UINT kCertificateDirectory = 4;
const UINT kRelocationDirectory = 5;
const UINT kDebugDirectory = 6;
const DWORD kSymbolBytes = 18;
const DWORD kLongNameChars = 256; // a bound for a long section name with no terminator in the file
const DWORD kMaxNameBytes = 4096; // import and export names longer than this are cut
const DWORD kMaxLabelChars = 120;
const size_t kMaxSpans = 1u << 21;
const DWORD kCodeFlags = 0x00000020 | 0x20000000; // IMAGE_SCN_CNT_CODE, IMAGE_SCN_MEM_EXECUTE
const DWORD kLoaderSectorBytes = 0x200;
const DWORD kOrdinalFlag32 = 0x80000000;
const UINT kRangeCandidates = 8;

const char* const kDirectoryLabels[kDirectoryCount] = {
    "export directory",     "import directory", "resource directory", "exception data",
    "certificate table",    "base relocations", "debug directory",    "architecture data",
    "global pointer",       "TLS directory",    "load configuration", "bound imports",
    "import address table", "delay imports",    "CLR header",         "reserved directory"};

const std::string kOutsideLabel = "outside any section";
const ImageSpan kNoSpan = {0, 0, kByteOutside, kOutsideLabel, false, {0, 0, false, false}};

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

int CImageMap::Load(const BYTE* pView, DWORD dwSize)
{
    *this = CImageMap();
    m_dwSize = pView != nullptr ? dwSize : 0;
    m_uBudget = 8ull * m_dwSize + (1u << 20);
    CImageBytes bytes(pView, 0, m_dwSize);
    PeDosHeader dos;
    DWORD dwSignature = 0;
    PeFileHeader fh;
    if (!bytes.ReadStruct(0, dos) || dos.wMagic != kDosMagic || !bytes.Read32(dos.dwLfanew, dwSignature) ||
        dwSignature != kPeSignature || !bytes.ReadStruct(dos.dwLfanew + 4, fh))
        return 0;
    DWORD dwOptional = dos.dwLfanew + kSignatureAndFileHeader;
    if (!bytes.Holds(dwOptional, fh.cbOptionalHeader))
        return 0;
    m_fPe = true;
    m_wMachine = fh.wMachine;
    WORD wMagic = 0;
    m_f64 = fh.cbOptionalHeader >= 2 && bytes.Read16(dwOptional, wMagic) && wMagic == kOptionalMagic64;
    DWORD dwSizeOfHeaders = 0;
    if (fh.cbOptionalHeader >= kSizeOfHeadersField + 4)
        bytes.Read32(dwOptional + kSizeOfHeadersField, dwSizeOfHeaders);
    if (fh.cbOptionalHeader >= kFileAlignmentField + 4)
        bytes.Read32(dwOptional + kFileAlignmentField, m_dwFileAlignment);

    AddSpan(0, kDosHeaderBytes, kByteHeader, "DOS header");
    if (dos.dwLfanew > kDosHeaderBytes)
        AddSpan(kDosHeaderBytes, dos.dwLfanew - kDosHeaderBytes, kByteHeader, "DOS stub");
    AddSpan(dos.dwLfanew, kSignatureAndFileHeader, kByteHeader, "PE signature and file header");
    AddSpan(dwOptional, fh.cbOptionalHeader, kByteHeader, "optional header");
    DWORD dwDirectories = m_f64 ? kDirectoriesField64 : kDirectoriesField32;
    DWORD cDirectories = 0;
    if (fh.cbOptionalHeader >= dwDirectories && bytes.Read32(dwOptional + dwDirectories - 4, cDirectories))
    {
        cDirectories =
            std::min<DWORD>({cDirectories, kDirectoryCount, (fh.cbOptionalHeader - dwDirectories) / 8});
        m_directories.resize(cDirectories);
        for (DWORD i = 0; i < cDirectories; ++i)
            bytes.ReadStruct(dwOptional + dwDirectories + i * 8, m_directories[i]);
        AddSpan(dwOptional + dwDirectories, cDirectories * 8, kByteHeader, "data directories");
    }

    ReadSections(bytes, dwOptional + fh.cbOptionalHeader, fh.cSections, fh);
    if (dwSizeOfHeaders != 0 && dwSizeOfHeaders < m_dwHeadersEnd)
        m_dwHeadersEnd = dwSizeOfHeaders;
    DWORD dwTableEnd = dwOptional + fh.cbOptionalHeader + static_cast<DWORD>(m_sections.size()) * 40;
    if (m_dwHeadersEnd < dwTableEnd)
        m_dwHeadersEnd = dwTableEnd;
    if (m_dwHeadersEnd > m_dwSize)
        m_dwHeadersEnd = m_dwSize;
    AddSpan(0, m_dwHeadersEnd, kByteHeader, "headers");

    for (UINT i = 0; i < m_directories.size(); ++i)
    {
        DWORD dwOffset = 0, cb = 0;
        if (i == kCertificateDirectory)
            AddSpan(m_directories[i].dwRva, m_directories[i].cb, kByteDirectory, kDirectoryLabels[i]);
        else if (i != kResourceDirectory && Directory(i, dwOffset, cb))
            AddSpan(dwOffset, cb, i == kRelocationDirectory ? kByteRelocation : kByteDirectory,
                    kDirectoryLabels[i]);
    }
    ReadImports(bytes);
    ReadExports(bytes);
    ReadRelocations(bytes);
    ReadDebug(bytes);
    ReadResources(pView, bytes);

    BuildSegments(m_spans, true, m_segments);
    std::vector<ImageSpan> sectionSpans;
    for (const ImageSection& s : m_sections)
        sectionSpans.push_back(
            {s.dwRawOffset, s.dwRawOffset + s.dwRawSize, kByteData, std::string(), false, {}});
    BuildSegments(sectionSpans, false, m_sectionSegments);
    return 1;
}

void CImageMap::ReadSections(const CImageBytes& bytes, DWORD dwTable, UINT cTable, const PeFileHeader& fh)
{
    DWORD dwLowest = m_dwSize;
    for (DWORD i = 0; i < cTable; ++i)
    {
        PeSectionHeader header;
        if (!bytes.ReadStruct(dwTable + i * sizeof(header), header))
            break;
        ImageSection s;
        for (UINT j = 0; j < 8 && header.abName[j] != 0; ++j)
            s.sName += header.abName[j] >= 0x20 && header.abName[j] < 0x7F
                           ? static_cast<char>(header.abName[j])
                           : '?';
        // "/29" names the text at offset 29 of the COFF string table, behind the symbol table.
        if (s.sName.size() >= 2 && s.sName[0] == '/' &&
            s.sName.find_first_not_of("0123456789", 1) == std::string::npos && fh.dwSymbolTable != 0)
        {
            unsigned long long uAt = fh.dwSymbolTable +
                                     static_cast<unsigned long long>(fh.cSymbols) * kSymbolBytes +
                                     std::strtoull(s.sName.c_str() + 1, nullptr, 10);
            std::string sLong;
            for (unsigned long long u = uAt;
                 u < m_dwSize && bytes.At(static_cast<DWORD>(u)) != 0 && sLong.size() < kLongNameChars; ++u)
            {
                BYTE b = bytes.At(static_cast<DWORD>(u));
                sLong += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '?';
            }
            if (!sLong.empty())
                s.sName = sLong;
        }
        s.dwVirtualAddress = header.dwVirtualAddress;
        s.dwVirtualSize = header.dwVirtualSize;
        s.dwRawOffset = std::min(header.dwRawOffset, m_dwSize);
        s.dwRawSize = std::min(header.dwRawSize, m_dwSize - s.dwRawOffset);
        s.dwCharacteristics = header.dwCharacteristics;
        s.fCode = (header.dwCharacteristics & kCodeFlags) != 0;
        if (s.dwRawSize > 0 && s.dwRawOffset < dwLowest)
            dwLowest = s.dwRawOffset;

        RawRange range;
        range.dwVirtualAddress = header.dwVirtualAddress;
        range.dwOffset = header.dwRawOffset;
        if (m_dwFileAlignment >= kLoaderSectorBytes)
            range.dwOffset &= ~(kLoaderSectorBytes - 1);
        range.dwOffset = std::min(range.dwOffset, m_dwSize);
        unsigned long long cbRaw =
            header.dwRawSize + static_cast<unsigned long long>(header.dwRawOffset -
                                                               std::min(header.dwRawOffset, range.dwOffset));
        range.cb = static_cast<DWORD>(std::min<unsigned long long>(cbRaw, m_dwSize - range.dwOffset));
        range.cbVirtual = std::max(header.dwVirtualSize, header.dwRawSize);
        m_rawRanges.push_back(range);

        AddSpan(dwTable + i * sizeof(header), sizeof(header), kByteSectionTable, "section table, " + s.sName);
        AddSpan(s.dwRawOffset, s.dwRawSize, s.fCode ? kByteCode : kByteData,
                std::string(s.fCode ? "code (" : "data (") + s.sName + ")");
        m_sections.push_back(s);
    }
    m_dwHeadersEnd = dwLowest;
    for (UINT i = 0; i < m_rawRanges.size(); ++i)
        m_rangeOrder.push_back(i);
    std::stable_sort(m_rangeOrder.begin(), m_rangeOrder.end(), [this](UINT a, UINT b) {
        return m_rawRanges[a].dwVirtualAddress < m_rawRanges[b].dwVirtualAddress;
    });

    if (fh.dwSymbolTable != 0 && fh.dwSymbolTable < m_dwSize)
    {
        unsigned long long uStrings =
            fh.dwSymbolTable + static_cast<unsigned long long>(fh.cSymbols) * kSymbolBytes;
        AddSpan(fh.dwSymbolTable,
                static_cast<DWORD>(std::min<unsigned long long>(uStrings - fh.dwSymbolTable, m_dwSize)),
                kByteDebugData, "COFF symbol table");
        DWORD cbStrings = 0;
        if (uStrings < m_dwSize && bytes.Read32(static_cast<DWORD>(uStrings), cbStrings))
            AddSpan(static_cast<DWORD>(uStrings), cbStrings, kByteDebugData, "COFF string table");
    }
}

bool CImageMap::RvaToOffset(DWORD dwRva, DWORD& dwOffset, DWORD& cbAvailable) const
{
    // The sections nearest below the RVA; sections overlap only in malformed
    // images, and there a few candidates are enough.
    auto it = std::upper_bound(m_rangeOrder.begin(), m_rangeOrder.end(), dwRva,
                               [this](DWORD dw, UINT i) { return dw < m_rawRanges[i].dwVirtualAddress; });
    for (UINT cTried = 0; it != m_rangeOrder.begin() && cTried < kRangeCandidates; ++cTried)
    {
        const RawRange& range = m_rawRanges[*--it];
        if (dwRva - range.dwVirtualAddress < range.cbVirtual)
        {
            DWORD dwInto = dwRva - range.dwVirtualAddress;
            if (dwInto >= range.cb)
                return false;
            dwOffset = range.dwOffset + dwInto;
            cbAvailable = range.cb - dwInto;
            return true;
        }
    }
    if (dwRva >= m_dwHeadersEnd)
        return false;
    dwOffset = dwRva;
    cbAvailable = m_dwHeadersEnd - dwRva;
    return true;
}

bool CImageMap::Directory(UINT i, DWORD& dwOffset, DWORD& cb) const
{
    if (i >= m_directories.size() || m_directories[i].dwRva == 0 ||
        !RvaToOffset(m_directories[i].dwRva, dwOffset, cb))
        return false;
    cb = std::min(cb, m_directories[i].cb);
    return true;
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

void CImageMap::AddText(DWORD dwStart, DWORD cbText, bool fTerminated, bool fWide, const std::string& sLabel)
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
                       {dwStart, cbText, fTerminated, fWide}});
}

void CImageMap::ReadImports(const CImageBytes& bytes)
{
    DWORD dwTable = 0, cbTable = 0;
    if (m_directories.size() <= kImportDirectory || m_directories[kImportDirectory].dwRva == 0 ||
        !RvaToOffset(m_directories[kImportDirectory].dwRva, dwTable, cbTable))
        return;
    const DWORD cbThunk = m_f64 ? 8 : 4;
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
        if (RvaToOffset(desc.dwName, dwName, cbAvail))
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
        if (!RvaToOffset(dwLookup, dwThunks, cbThunks))
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
            bool fOrdinal = m_f64 ? (uThunk >> 63) != 0 : (uThunk & kOrdinalFlag32) != 0;
            if (fOrdinal)
            {
                import.functions.push_back("#" + std::to_string(uThunk & 0xFFFF));
                continue;
            }
            DWORD dwHint = 0, cbHint = 0;
            if (!RvaToOffset(static_cast<DWORD>(uThunk & 0x7FFFFFFF), dwHint, cbHint) || cbHint < 2)
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
            RvaToOffset(desc.dwAddressTable, dwIat, cbIat))
            AddSpan(dwIat, std::min(cThunks * cbThunk, cbIat), kByteDirectory,
                    "import address table " + sDll);
        m_imports.push_back(import);
    }
}

void CImageMap::ReadExports(const CImageBytes& bytes)
{
    DWORD dwDir = 0, cbDir = 0;
    PeExportDirectory dir;
    if (!Directory(kExportDirectory, dwDir, cbDir) || !bytes.ReadStruct(dwDir, dir))
        return;
    AddSpan(dwDir, sizeof(dir), kByteDirectory, "export directory");
    DWORD dwAt = 0, cbAvail = 0, cbName = 0;
    if (RvaToOffset(dir.dwName, dwAt, cbAvail))
    {
        std::string sName = ReadName(bytes, dwAt, cbName);
        AddSpan(dwAt, std::min(cbName, cbAvail), kByteExportName, "export DLL name " + Printable(sName));
    }
    if (RvaToOffset(dir.dwFunctions, dwAt, cbAvail))
        AddSpan(dwAt, static_cast<DWORD>(std::min<unsigned long long>(dir.cFunctions * 4ull, cbAvail)),
                kByteDirectory, "export address table");
    if (RvaToOffset(dir.dwOrdinals, dwAt, cbAvail))
        AddSpan(dwAt, static_cast<DWORD>(std::min<unsigned long long>(dir.cNames * 2ull, cbAvail)),
                kByteDirectory, "export ordinal table");
    DWORD dwNames = 0, cbNames = 0;
    if (!RvaToOffset(dir.dwNames, dwNames, cbNames))
        return;
    DWORD cNames = std::min(dir.cNames, cbNames / 4);
    AddSpan(dwNames, cNames * 4, kByteDirectory, "export name pointer table");
    for (DWORD i = 0; i < cNames && !Full(); ++i)
    {
        DWORD dwNameRva = 0;
        if (!bytes.Read32(dwNames + i * 4, dwNameRva) || !RvaToOffset(dwNameRva, dwAt, cbAvail))
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
    if (!Directory(kRelocationDirectory, dwDir, cbDir))
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
    if (!Directory(kDebugDirectory, dwDir, cbDir))
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
    return dwOffset < m_dwHeadersEnd ? kImageInHeaders : kImageOutsideSections;
}
