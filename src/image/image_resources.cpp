#include "image/image_resources.h"

#include "util/wide_text.h"

#include <cstdio>
#include <set>

namespace
{
const WORD kTypeMenu = 4;
const WORD kTypeDialog = 5;
const WORD kTypeStringTable = 6;
const WORD kTypeAccelerators = 9;
const WORD kTypeMessageTable = 11;
const WORD kTypeVersion = 16;
const DWORD kHighBit = 0x80000000;
const UINT kLevels = 3; // type, name, language
const UINT kMaxDepth = 16;
const DWORD kMaxLabelUnits = 64;
const DWORD kMaxNameUnits = 256; // of a resource name; longer ones are cut
const WORD kMenuPopup = 0x10;
const WORD kMenuEnd = 0x80;
const WORD kMenuExPopup = 0x01;
const DWORD kDialogSetFont = 0x40;
const WORD kOrdinalMarker = 0xFFFF;
const WORD kAccelEnd = 0x80;
const UINT kStringsPerBlock = 16;

struct LangName
{
    WORD wLang;
    const char* szName;
};
const LangName kLangNames[] = {
    {0x0000, "neutral"}, {0x0400, "process default"}, {0x0800, "system default"}, {0x0401, "ar-SA"},
    {0x0402, "bg-BG"},   {0x0403, "ca-ES"},           {0x0404, "zh-TW"},          {0x0405, "cs-CZ"},
    {0x0406, "da-DK"},   {0x0407, "de-DE"},           {0x0408, "el-GR"},          {0x0409, "en-US"},
    {0x040A, "es-ES"},   {0x040B, "fi-FI"},           {0x040C, "fr-FR"},          {0x040D, "he-IL"},
    {0x040E, "hu-HU"},   {0x0410, "it-IT"},           {0x0411, "ja-JP"},          {0x0412, "ko-KR"},
    {0x0413, "nl-NL"},   {0x0414, "nb-NO"},           {0x0415, "pl-PL"},          {0x0416, "pt-BR"},
    {0x0418, "ro-RO"},   {0x0419, "ru-RU"},           {0x041A, "hr-HR"},          {0x041B, "sk-SK"},
    {0x041D, "sv-SE"},   {0x041E, "th-TH"},           {0x041F, "tr-TR"},          {0x0421, "id-ID"},
    {0x0422, "uk-UA"},   {0x0424, "sl-SI"},           {0x0425, "et-EE"},          {0x0426, "lv-LV"},
    {0x0427, "lt-LT"},   {0x042A, "vi-VN"},           {0x0804, "zh-CN"},          {0x0809, "en-GB"},
    {0x0816, "pt-PT"},   {0x0C04, "zh-HK"},           {0x0C0A, "es-ES"},          {0x1004, "zh-SG"},
};
// Languages without a country (SUBLANG_NEUTRAL), as many programs tag their resources.
const char* const kPrimaryNames[] = {
    nullptr, "ar", "bg", "ca", "zh", "cs", "da", "de", "el", "en", "es", "fi", "fr", "he", "hu", "is",
    "it",    "ja", "ko", "nl", "no", "pl", "pt", "rm", "ro", "ru", "hr", "sk", "sq", "sv", "th", "tr",
    "ur",    "id", "uk", "be", "sl", "et", "lv", "lt", "tg", "fa", "vi", "hy", "az", "eu"};

const char* const kTypeNames[] = {nullptr,  "CURSOR",       "BITMAP",       "ICON",  "MENU",
                                  "DIALOG", "STRINGTABLE",  "FONTDIR",      "FONT",  "ACCELERATORS",
                                  "RCDATA", "MESSAGETABLE", "GROUP_CURSOR", nullptr, "GROUP_ICON",
                                  nullptr,  "VERSIONINFO",  "DLGINCLUDE",   nullptr, "PLUGPLAY",
                                  "VXD",    "ANICURSOR",    "ANIICON",      "HTML",  "MANIFEST"};

std::string Hex(DWORD dw, int cDigits)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "0x%0*X", cDigits, static_cast<unsigned>(dw));
    return sz;
}

DWORD Align4(const CImageBytes& blob, DWORD dw)
{
    return blob.Begin() + ((dw - blob.Begin() + 3) & ~3u);
}

// The inside of one resource: every read stays within its data.
class CResourceReader
{
  public:
    CResourceReader(CImageMap& map, const CImageBytes& blob, const std::string& sPrefix)
        : m_map(map), m_blob(blob), m_sPrefix(sPrefix)
    {
    }

    void Menu();
    void Dialog();
    void StringTable(WORD wBlock);
    void Version();
    void Accelerators();
    void MessageTable();

  private:
    void Field(DWORD dwAt, DWORD cb, const std::string& sWhat)
    {
        m_map.AddSpan(dwAt, cb, kByteResourceField, m_sPrefix + ", " + sWhat);
    }
    // A zero-terminated UTF-16 text; false when the data ends before its terminator.
    bool Text(const CImageBytes& bytes, DWORD& dwAt, const std::string& sWhat, std::string* psValue = nullptr)
    {
        bool fTerminated = false;
        DWORD cUnits = bytes.WideLength(dwAt, fTerminated);
        m_map.AddText(dwAt, cUnits * 2, fTerminated, true, m_sPrefix + ", " + sWhat);
        if (psValue != nullptr)
            *psValue = WideToUtf8(bytes, dwAt, cUnits < kMaxLabelUnits ? cUnits : kMaxLabelUnits, true);
        dwAt += cUnits * 2 + (fTerminated ? 2 : 0);
        return fTerminated;
    }
    bool TextOrOrdinal(DWORD& dwAt, const std::string& sWhat)
    {
        WORD w = 0;
        if (!m_blob.Read16(dwAt, w))
            return false;
        if (w == 0)
        {
            Field(dwAt, 2, sWhat + " (none)");
            dwAt += 2;
            return true;
        }
        if (w == kOrdinalMarker)
        {
            Field(dwAt, 4, sWhat + " (ordinal)");
            dwAt += 4;
            return m_blob.Holds(dwAt, 0);
        }
        return Text(m_blob, dwAt, sWhat);
    }
    void Pad(DWORD& dwAt, const std::string& sWhat)
    {
        DWORD dwAligned = Align4(m_blob, dwAt);
        if (dwAligned != dwAt)
            Field(dwAt, dwAligned - dwAt, sWhat + "padding");
        dwAt = dwAligned;
    }
    bool MenuItems(DWORD& dwAt, UINT uDepth);
    bool MenuExItems(DWORD& dwAt, UINT uDepth);
    bool VersionBlock(DWORD dwAt, DWORD dwLimit, UINT uDepth, const std::string& sParent, DWORD& cbBlock);

    CImageMap& m_map;
    CImageBytes m_blob;
    std::string m_sPrefix;
    UINT m_cPopups = 0;
};

void CResourceReader::Menu()
{
    WORD wVersion = 0, cbHeader = 0;
    if (!m_blob.Read16(m_blob.Begin(), wVersion) || !m_blob.Read16(m_blob.Begin() + 2, cbHeader))
        return;
    Field(m_blob.Begin(), 4, "header");
    DWORD dwAt = m_blob.Begin() + 4;
    if (cbHeader > m_blob.End() - dwAt)
        return;
    if (cbHeader != 0)
        Field(dwAt, cbHeader, wVersion == 1 ? "help id" : "header");
    dwAt += cbHeader;
    if (wVersion == 1)
        MenuExItems(dwAt, 0);
    else
        MenuItems(dwAt, 0);
}

bool CResourceReader::MenuItems(DWORD& dwAt, UINT uDepth)
{
    for (;;)
    {
        WORD wFlags = 0, wId = 0;
        if (!m_blob.Read16(dwAt, wFlags) || !m_map.SpendWork(4) || m_map.Full())
            return false;
        std::string sItem;
        if (wFlags & kMenuPopup)
        {
            sItem = "popup " + std::to_string(m_cPopups++);
            Field(dwAt, 2, sItem + ", flags");
            dwAt += 2;
        }
        else
        {
            if (!m_blob.Read16(dwAt + 2, wId))
                return false;
            sItem = "item " + Hex(wId, 4);
            Field(dwAt, 2, sItem + ", flags");
            Field(dwAt + 2, 2, sItem + ", id");
            dwAt += 4;
        }
        if (!Text(m_blob, dwAt, sItem + ", text"))
            return false;
        if ((wFlags & kMenuPopup) && (uDepth + 1 >= kMaxDepth || !MenuItems(dwAt, uDepth + 1)))
            return false;
        if (wFlags & kMenuEnd)
            return true;
    }
}

bool CResourceReader::MenuExItems(DWORD& dwAt, UINT uDepth)
{
    for (;;)
    {
        DWORD dwType = 0, dwState = 0, dwId = 0;
        WORD wFlags = 0;
        if (!m_blob.Read32(dwAt, dwType) || !m_blob.Read32(dwAt + 4, dwState) ||
            !m_blob.Read32(dwAt + 8, dwId) || !m_blob.Read16(dwAt + 12, wFlags) || !m_map.SpendWork(16) ||
            m_map.Full())
            return false;
        std::string sItem = (wFlags & kMenuExPopup) ? "popup " + std::to_string(m_cPopups++)
                                                    : "item " + Hex(dwId, dwId > 0xFFFF ? 8 : 4);
        Field(dwAt, 8, sItem + ", type and state");
        Field(dwAt + 8, 4, sItem + ", id");
        Field(dwAt + 12, 2, sItem + ", flags");
        dwAt += 14;
        if (!Text(m_blob, dwAt, sItem + ", text"))
            return false;
        Pad(dwAt, sItem + ", ");
        if (wFlags & kMenuExPopup)
        {
            Field(dwAt, 4, sItem + ", help id");
            dwAt += 4;
            if (uDepth + 1 >= kMaxDepth || !MenuExItems(dwAt, uDepth + 1))
                return false;
        }
        if (wFlags & kMenuEnd)
            return true;
    }
}

void CResourceReader::Dialog()
{
    DWORD dwAt = m_blob.Begin();
    WORD wVersion = 0, wSignature = 0, cItems = 0;
    DWORD dwStyle = 0;
    if (!m_blob.Read16(dwAt, wVersion) || !m_blob.Read16(dwAt + 2, wSignature))
        return;
    bool fEx = wVersion == 1 && wSignature == kOrdinalMarker;
    // DIALOGEX: version, signature, help id, extended style, style, count,
    // x, y, cx, cy; DIALOG: style, extended style, count, x, y, cx, cy.
    DWORD cbFixed = fEx ? 26 : 18;
    if (!m_blob.Read32(dwAt + (fEx ? 12 : 0), dwStyle) || !m_blob.Read16(dwAt + (fEx ? 16 : 8), cItems) ||
        !m_blob.Holds(dwAt, cbFixed))
        return;
    Field(dwAt, cbFixed, "header");
    dwAt += cbFixed;
    if (!TextOrOrdinal(dwAt, "menu") || !TextOrOrdinal(dwAt, "class") || !Text(m_blob, dwAt, "caption"))
        return;
    if (dwStyle & kDialogSetFont)
    {
        DWORD cbFont = fEx ? 6 : 2; // point size, and for DIALOGEX weight, italic, character set
        if (!m_blob.Holds(dwAt, cbFont))
            return;
        Field(dwAt, cbFont, "font size");
        dwAt += cbFont;
        if (!Text(m_blob, dwAt, "font name"))
            return;
    }
    for (UINT i = 0; i < cItems && !m_map.Full() && m_map.SpendWork(24); ++i)
    {
        std::string sControl = "control " + std::to_string(i);
        Pad(dwAt, sControl + ", ");
        // DIALOGEX: help id, extended style, style, x, y, cx, cy, then a DWORD id;
        // DIALOG: style, extended style, x, y, cx, cy, then a WORD id.
        DWORD cbBefore = fEx ? 20 : 16, cbId = fEx ? 4 : 2;
        if (!m_blob.Holds(dwAt, cbBefore + cbId))
            return;
        Field(dwAt, cbBefore, sControl + ", style and position");
        Field(dwAt + cbBefore, cbId, sControl + ", id");
        dwAt += cbBefore + cbId;
        if (!TextOrOrdinal(dwAt, sControl + ", class") || !TextOrOrdinal(dwAt, sControl + ", text"))
            return;
        WORD cbExtra = 0;
        if (!m_blob.Read16(dwAt, cbExtra))
            return;
        Field(dwAt, 2, sControl + ", creation data size");
        dwAt += 2;
        if (cbExtra > m_blob.End() - dwAt)
            return;
        if (cbExtra != 0)
            Field(dwAt, cbExtra, sControl + ", creation data");
        dwAt += cbExtra;
    }
}

void CResourceReader::StringTable(WORD wBlock)
{
    DWORD dwAt = m_blob.Begin();
    for (UINT i = 0; i < kStringsPerBlock; ++i)
    {
        WORD cUnits = 0;
        if (!m_blob.Read16(dwAt, cUnits))
            return;
        std::string sString = "string " + Hex(static_cast<WORD>((wBlock - 1u) * kStringsPerBlock + i), 4);
        Field(dwAt, 2, sString + ", length");
        dwAt += 2;
        if (!m_blob.Holds(dwAt, cUnits * 2u))
            return;
        if (cUnits != 0)
            m_map.AddText(dwAt, cUnits * 2u, false, true, m_sPrefix + ", " + sString);
        dwAt += cUnits * 2u;
    }
}

void CResourceReader::Version()
{
    DWORD cbBlock = 0;
    VersionBlock(m_blob.Begin(), m_blob.End(), 0, std::string(), cbBlock);
}

// One block of version information: length, value length, type, key, value
// and the blocks inside it. Keys of String blocks are texts of their own; the
// other keys name the structure.
bool CResourceReader::VersionBlock(DWORD dwAt, DWORD dwLimit, UINT uDepth, const std::string& sParent,
                                   DWORD& cbBlock)
{
    WORD cbLength = 0, cbValue = 0, wType = 0;
    if (!m_blob.Read16(dwAt, cbLength) || !m_blob.Read16(dwAt + 2, cbValue) ||
        !m_blob.Read16(dwAt + 4, wType) || cbLength < 6 || !m_map.SpendWork(cbLength) || m_map.Full())
        return false;
    cbBlock = cbLength;
    DWORD dwEnd = cbLength <= dwLimit - dwAt ? dwAt + cbLength : dwLimit;
    CImageBytes block = m_blob.Sub(dwAt, dwEnd);
    bool fString = uDepth == 3 && sParent.compare(0, 14, "StringFileInfo") == 0;
    DWORD dwKey = dwAt + 6;
    bool fTerminated = false;
    DWORD cKey = block.WideLength(dwKey, fTerminated);
    std::string sKey = WideToUtf8(block, dwKey, cKey < kMaxLabelUnits ? cKey : kMaxLabelUnits, true);
    std::string sPath = uDepth == 0                                  ? std::string()
                        : uDepth == 2 && sParent == "StringFileInfo" ? sParent + " " + sKey
                        : sParent.empty()                            ? sKey
                                                                     : sParent + ", " + sKey;
    std::string sAt = sPath.empty() ? std::string() : sPath + ", ";
    Field(dwAt, 6, sAt + "header");
    if (fString)
        Text(block, dwKey, sAt + "key");
    else
    {
        Field(dwKey, cKey * 2 + (fTerminated ? 2 : 0), sAt + "key");
        dwKey += cKey * 2 + (fTerminated ? 2 : 0);
    }
    if (!fTerminated)
        return true;
    DWORD dwValue = Align4(m_blob, dwKey);
    if (dwValue > dwKey && dwValue <= dwEnd)
        Field(dwKey, dwValue - dwKey, sAt + "padding");
    if (dwValue >= dwEnd)
        return true;
    if (fString)
    {
        if (cbValue != 0)
            Text(block, dwValue, sAt + "value");
        return true;
    }
    DWORD cbBinary = cbValue <= dwEnd - dwValue ? cbValue : dwEnd - dwValue;
    if (cbBinary != 0)
        Field(dwValue, cbBinary, uDepth == 0 ? std::string("VS_FIXEDFILEINFO") : sAt + "value");
    if (uDepth + 1 >= kMaxDepth)
        return true;
    for (DWORD dwChild = Align4(m_blob, dwValue + cbBinary); dwChild < dwEnd;)
    {
        DWORD cbChild = 0;
        if (!VersionBlock(dwChild, dwEnd, uDepth + 1, uDepth == 0 ? std::string() : sPath, cbChild))
            break;
        if (cbChild > dwEnd - dwChild)
            break;
        dwChild = Align4(m_blob, dwChild + cbChild);
    }
    return true;
}

void CResourceReader::Accelerators()
{
    for (DWORD dwAt = m_blob.Begin(), i = 0; m_blob.Holds(dwAt, 8); dwAt += 8, ++i)
    {
        WORD wFlags = 0, wId = 0;
        m_blob.Read16(dwAt, wFlags);
        m_blob.Read16(dwAt + 4, wId);
        Field(dwAt, 8, "entry " + std::to_string(i) + ", id " + Hex(wId, 4));
        if ((wFlags & kAccelEnd) || m_map.Full())
            return;
    }
}

void CResourceReader::MessageTable()
{
    DWORD cBlocks = 0;
    DWORD dwBegin = m_blob.Begin();
    if (!m_blob.Read32(dwBegin, cBlocks))
        return;
    cBlocks = cBlocks < (m_blob.End() - dwBegin) / 12 ? cBlocks : (m_blob.End() - dwBegin) / 12;
    Field(dwBegin, 4 + cBlocks * 12, "header");
    for (DWORD i = 0; i < cBlocks && !m_map.Full(); ++i)
    {
        DWORD dwLow = 0, dwHigh = 0, dwEntries = 0;
        m_blob.Read32(dwBegin + 4 + i * 12, dwLow);
        m_blob.Read32(dwBegin + 8 + i * 12, dwHigh);
        m_blob.Read32(dwBegin + 12 + i * 12, dwEntries);
        if (dwEntries > m_blob.End() - dwBegin)
            continue;
        DWORD dwAt = dwBegin + dwEntries;
        for (DWORD dwId = dwLow; dwId >= dwLow && dwId <= dwHigh && !m_map.Full(); ++dwId)
        {
            WORD cbEntry = 0, wFlags = 0;
            if (!m_blob.Read16(dwAt, cbEntry) || !m_blob.Read16(dwAt + 2, wFlags) || cbEntry < 4 ||
                !m_blob.Holds(dwAt, cbEntry) || !m_map.SpendWork(cbEntry))
                break;
            std::string sMessage = "message " + Hex(dwId, 8);
            Field(dwAt, 4, sMessage + ", length and flags");
            // The entry's length counts the text and the zeros behind it; the
            // text itself ends at its first zero unit.
            bool fWide = (wFlags & 1) != 0;
            CImageBytes entry = m_blob.Sub(dwAt + 4, dwAt + cbEntry);
            bool fTerminated = false;
            DWORD cbText =
                fWide ? entry.WideLength(dwAt + 4, fTerminated) * 2 : entry.AnsiLength(dwAt + 4, fTerminated);
            m_map.AddText(dwAt + 4, cbText, false, fWide, m_sPrefix + ", " + sMessage);
            if (cbText < cbEntry - 4u)
                Field(dwAt + 4 + cbText, cbEntry - 4u - cbText, sMessage + ", padding");
            dwAt += cbEntry;
            if (dwId == 0xFFFFFFFF)
                break;
        }
    }
}

class CTreeReader
{
  public:
    CTreeReader(CImageMap& map, const CImageBytes& bytes, DWORD dwRoot, DWORD cbTree,
                std::vector<ImageResource>& resources)
        : m_map(map), m_bytes(bytes), m_tree(bytes.Sub(dwRoot, dwRoot + cbTree)), m_resources(resources)
    {
    }

    void Directory(DWORD dwRelative, UINT uLevel, ImageResource& resource, const std::string& sPath);

  private:
    void Data(DWORD dwRelative, ImageResource& resource);

    CImageMap& m_map;
    const CImageBytes& m_bytes;
    CImageBytes m_tree;
    std::vector<ImageResource>& m_resources;
    std::set<DWORD> m_visited;
};

void CTreeReader::Directory(DWORD dwRelative, UINT uLevel, ImageResource& resource, const std::string& sPath)
{
    DWORD dwDir = m_tree.Begin() + dwRelative;
    PeResourceDirectory dir;
    if (!m_visited.insert(dwRelative).second || dwDir < m_tree.Begin() || !m_tree.ReadStruct(dwDir, dir))
        return;
    std::string sAt = sPath.empty() ? std::string(" (root)") : " " + sPath;
    m_map.AddSpan(dwDir, sizeof(dir), kByteDirectory, "resource directory" + sAt);
    DWORD cEntries = static_cast<DWORD>(dir.cNamedEntries) + dir.cIdEntries;
    DWORD dwEntries = dwDir + sizeof(dir);
    m_map.AddSpan(dwEntries, cEntries * sizeof(PeResourceEntry), kByteDirectory,
                  "resource directory entries" + sAt);
    for (DWORD i = 0; i < cEntries && !m_map.Full(); ++i)
    {
        PeResourceEntry entry;
        if (!m_tree.ReadStruct(dwEntries + i * sizeof(entry), entry) || !m_map.SpendWork(sizeof(entry)))
            return;
        std::string sName;
        WORD wId = 0;
        if (entry.dwName & kHighBit)
        {
            DWORD dwName = m_tree.Begin() + (entry.dwName & ~kHighBit);
            WORD cUnits = 0;
            if (dwName >= m_tree.Begin() && m_tree.Read16(dwName, cUnits) &&
                m_tree.Holds(dwName + 2, cUnits * 2u))
            {
                if (!m_map.SpendWork(cUnits * 2u))
                    return;
                sName =
                    WideToUtf8(m_tree, dwName + 2, cUnits < kMaxNameUnits ? cUnits : kMaxNameUnits, false);
                m_map.AddSpan(dwName, 2 + cUnits * 2u, kByteDirectory, "resource name " + sName);
            }
        }
        else
            wId = static_cast<WORD>(entry.dwName);
        bool fNamed = (entry.dwName & kHighBit) != 0;
        if (uLevel == 0)
        {
            resource.sType = fNamed ? sName : ResourceTypeName(wId);
            resource.wTypeId = fNamed ? 0 : wId;
        }
        else if (uLevel == 1)
            resource.sName = fNamed ? sName : std::to_string(wId);
        else
            resource.wLang = wId;
        std::string sEntry = uLevel == 0   ? resource.sType
                             : uLevel == 1 ? sPath + " " + resource.sName
                                           : sPath + " " + LanguageName(wId);
        DWORD dwTarget = entry.dwTarget & ~kHighBit;
        if ((entry.dwTarget & kHighBit) && uLevel + 1 < kLevels)
            Directory(dwTarget, uLevel + 1, resource, sEntry);
        else if (!(entry.dwTarget & kHighBit) && uLevel + 1 == kLevels)
            Data(dwTarget, resource);
    }
}

void CTreeReader::Data(DWORD dwRelative, ImageResource& resource)
{
    DWORD dwEntry = m_tree.Begin() + dwRelative;
    PeResourceData data;
    if (dwEntry < m_tree.Begin() || !m_tree.ReadStruct(dwEntry, data))
        return;
    std::string sLabel = resource.sType + " " + resource.sName + " " + LanguageName(resource.wLang);
    m_map.AddSpan(dwEntry, sizeof(data), kByteDirectory, "resource data entry " + sLabel);
    resource.dwRva = data.dwRva;
    resource.cb = data.cb;
    resource.dwOffset = kNoImageOffset;
    DWORD dwOffset = 0, cbAvailable = 0;
    if (m_map.RvaToOffset(data.dwRva, dwOffset, cbAvailable))
        resource.dwOffset = dwOffset;
    m_resources.push_back(resource);
    if (resource.dwOffset == kNoImageOffset)
        return;
    DWORD cb = data.cb < cbAvailable ? data.cb : cbAvailable;
    m_map.AddSpan(dwOffset, cb, kByteResourceData, sLabel);
    bool fNamed = resource.wTypeId == 0;
    WORD wNameId = static_cast<WORD>(std::strtoul(resource.sName.c_str(), nullptr, 10));
    bool fIdName =
        !resource.sName.empty() && resource.sName.find_first_not_of("0123456789") == std::string::npos;
    if (fNamed || !m_map.SpendWork(cb))
        return;
    CImageBytes blob = m_bytes.Sub(dwOffset, dwOffset + cb);
    switch (resource.wTypeId)
    {
    case kTypeMenu:
        CResourceReader(m_map, blob, sLabel).Menu();
        break;
    case kTypeDialog:
        CResourceReader(m_map, blob, sLabel).Dialog();
        break;
    case kTypeStringTable:
        if (fIdName)
            CResourceReader(m_map, blob,
                            "STRINGTABLE block " + resource.sName + " " + LanguageName(resource.wLang))
                .StringTable(wNameId);
        break;
    case kTypeVersion:
        CResourceReader(m_map, blob, sLabel).Version();
        break;
    case kTypeAccelerators:
        CResourceReader(m_map, blob, sLabel).Accelerators();
        break;
    case kTypeMessageTable:
        CResourceReader(m_map, blob, sLabel).MessageTable();
        break;
    }
}
} // namespace

void ReadResourceTree(CImageMap& map, const CImageBytes& bytes, DWORD dwRoot, DWORD cbTree,
                      std::vector<ImageResource>& resources)
{
    CTreeReader reader(map, bytes, dwRoot, cbTree, resources);
    ImageResource resource = {};
    reader.Directory(0, 0, resource, std::string());
}

std::string WideToUtf8(const CImageBytes& bytes, DWORD dwAt, DWORD cUnits, bool fPrintable)
{
    std::string s;
    for (DWORD i = 0; i < cUnits; ++i)
    {
        WORD w = 0;
        if (!bytes.Read16(dwAt + i * 2, w))
            break;
        DWORD dwChar = w;
        WORD wLow = 0;
        if (w >= 0xD800 && w < 0xDC00 && i + 1 < cUnits && bytes.Read16(dwAt + i * 2 + 2, wLow) &&
            wLow >= 0xDC00 && wLow < 0xE000)
        {
            dwChar = 0x10000 + ((w - 0xD800u) << 10) + (wLow - 0xDC00u);
            ++i;
        }
        else if (w >= 0xD800 && w < 0xE000)
            dwChar = 0xFFFD;
        if (fPrintable && (dwChar < 0x20 || dwChar == 0x7F))
            dwChar = '?';
        AppendUtf8(s, dwChar);
    }
    return s;
}

std::string LanguageName(WORD wLang)
{
    for (const LangName& lang : kLangNames)
        if (lang.wLang == wLang)
            return lang.szName;
    if (wLang < sizeof(kPrimaryNames) / sizeof(kPrimaryNames[0]) && kPrimaryNames[wLang] != nullptr)
        return kPrimaryNames[wLang];
    return "lang " + Hex(wLang, 4);
}

std::string ResourceTypeName(WORD wType)
{
    if (wType < sizeof(kTypeNames) / sizeof(kTypeNames[0]) && kTypeNames[wType] != nullptr)
        return kTypeNames[wType];
    return "type " + std::to_string(wType);
}
