#include "image/resource_texts.h"

#include "image/image_map.h"
#include "pe/pe_format.h"
#include "util/wide_text.h"

#include <cstdio>
#include <set>

namespace
{
const WORD kTypeMenu = 4;
const WORD kTypeDialog = 5;
const WORD kTypeStringTable = 6;
const WORD kTypeVersion = 16;
const WORD kMenuPopup = 0x10;
const WORD kMenuEnd = 0x80;
const WORD kMenuExPopup = 0x01;
const DWORD kDialogSetFont = 0x40;
const WORD kOrdinalMarker = 0xFFFF;
const UINT kStringsPerBlock = 16;
const UINT kMaxDepth = 16;
const size_t kPlaceUnits = 40; // of a text quoted in a place
const DWORD kStaticClass = 0x82;
const DWORD kStaticTypeMask = 0x1F;
// Statics whose title names an image resource rather than showing text.
const DWORD kStaticIcon = 0x03, kStaticBitmap = 0x0E, kStaticMetafile = 0x0F;

const char* const kControlClasses[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};

std::string Hex(DWORD dw)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "0x%04X", static_cast<unsigned>(dw));
    return sz;
}

DWORD Align4(DWORD dw)
{
    return (dw + 3) & ~3u;
}

std::string ToUtf8(const std::u16string& ws, bool fPrintable)
{
    std::string s;
    for (size_t i = 0; i < ws.size(); ++i)
    {
        DWORD dwChar = ws[i];
        if (dwChar >= 0xD800 && dwChar < 0xDC00 && i + 1 < ws.size() && ws[i + 1] >= 0xDC00 &&
            ws[i + 1] < 0xE000)
            dwChar = 0x10000 + ((dwChar - 0xD800u) << 10) + (ws[++i] - 0xDC00u);
        else if (dwChar >= 0xD800 && dwChar < 0xE000)
            dwChar = 0xFFFD;
        if (fPrintable && (dwChar < 0x20 || dwChar == 0x7F))
            dwChar = '?';
        AppendUtf8(s, dwChar);
    }
    return s;
}

// Well-formed UTF-8 only: a byte that does not start a complete, shortest
// sequence of a scalar value becomes U+FFFD, so a surrogate never reaches the
// resource unpaired.
std::u16string FromUtf8(const std::string& s)
{
    std::u16string ws;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size();
    for (size_t i = 0; i < n;)
    {
        DWORD dwChar = p[i];
        size_t cExtra = dwChar >= 0xF0 ? 3 : dwChar >= 0xE0 ? 2 : dwChar >= 0xC0 ? 1 : 0;
        bool fGood = dwChar < 0x80 || (cExtra > 0 && dwChar < 0xF5 && cExtra < n - i);
        if (fGood && cExtra > 0)
        {
            dwChar &= 0x3Fu >> cExtra;
            for (size_t k = 1; k <= cExtra && fGood; ++k)
            {
                fGood = (p[i + k] & 0xC0) == 0x80;
                dwChar = dwChar << 6 | (p[i + k] & 0x3Fu);
            }
            const DWORD kShortest[] = {0, 0x80, 0x800, 0x10000};
            fGood = fGood && dwChar >= kShortest[cExtra] && dwChar < 0x110000 &&
                    (dwChar < 0xD800 || dwChar >= 0xE000);
        }
        if (!fGood)
        {
            ws += u'\uFFFD';
            ++i;
            continue;
        }
        i += cExtra + 1;
        if (dwChar >= 0x10000)
        {
            ws += static_cast<char16_t>(0xD800 + ((dwChar - 0x10000) >> 10));
            ws += static_cast<char16_t>(0xDC00 + ((dwChar - 0x10000) & 0x3FF));
        }
        else
            ws += static_cast<char16_t>(dwChar);
    }
    return ws;
}

bool IsStaticName(const std::u16string& ws)
{
    const char* sz = "STATIC";
    size_t i = 0;
    for (; i < ws.size() && sz[i] != 0; ++i)
        if ((ws[i] & ~0x20u) != static_cast<unsigned>(sz[i]))
            return false;
    return i == ws.size() && sz[i] == 0;
}

std::string NameOf(const ResourceId& id)
{
    return id.fNamed ? ToUtf8(id.name, false) : std::to_string(id.wId);
}

// One pass over a resource's data that reads every field through the
// bounds-checked reader and writes the same resource again, each text through
// Text(): listing and translating take the same path, so the contexts a list
// gives are the ones a translation finds.
class CTextWalk
{
  public:
    CTextWalk(const ResourceEntry& entry, const std::map<std::string, std::string>* pTranslations,
              std::vector<ResourceText>* pTexts)
        : m_entry(entry), m_in(entry.Bytes(), 0, static_cast<DWORD>(entry.Size())),
          m_pTranslations(pTranslations), m_pTexts(pTexts), m_sName(NameOf(entry.name)),
          m_sLang(LanguageName(entry.wLang))
    {
    }

    bool Menu();
    bool Dialog();
    bool StringTable();
    bool Version();

    std::vector<BYTE> m_out;
    std::string m_sReason;

  private:
    bool Fail(const std::string& sReason)
    {
        m_sReason = sReason;
        return false;
    }
    bool Copy(DWORD& dwAt, DWORD cb)
    {
        if (!m_in.Holds(dwAt, cb))
            return Fail("the data ends inside a field at " + Hex(dwAt));
        m_out.insert(m_out.end(), m_entry.Bytes() + dwAt, m_entry.Bytes() + dwAt + cb);
        dwAt += cb;
        return true;
    }
    void Put16(size_t at, DWORD w)
    {
        m_out[at] = static_cast<BYTE>(w);
        m_out[at + 1] = static_cast<BYTE>(w >> 8);
    }
    void Append(const std::u16string& ws, bool fTerminated)
    {
        for (char16_t w : ws)
        {
            m_out.push_back(static_cast<BYTE>(w));
            m_out.push_back(static_cast<BYTE>(w >> 8));
        }
        if (fTerminated)
            m_out.insert(m_out.end(), 2, 0);
    }
    void PadOut()
    {
        while (m_out.size() % 4 != 0)
            m_out.push_back(0);
    }
    // The units of a zero-terminated text at dwAt, before dwEnd; dwAt moves
    // behind the terminator.
    bool ReadText(DWORD& dwAt, DWORD dwEnd, std::u16string& ws)
    {
        CImageBytes bytes = m_in.Sub(dwAt, dwEnd);
        bool fTerminated = false;
        DWORD cUnits = bytes.WideLength(dwAt, fTerminated);
        if (!fTerminated)
            return Fail("a text at " + Hex(dwAt) + " has no terminator");
        ws.resize(cUnits);
        for (DWORD i = 0; i < cUnits; ++i)
        {
            WORD w = 0;
            bytes.Read16(dwAt + 2 * i, w);
            ws[i] = w;
        }
        dwAt += 2 * cUnits + 2;
        return true;
    }
    // A name or a number (menu, class, control title): copied as it stands.
    bool CopyNameOrOrdinal(DWORD& dwAt, std::u16string* pName, DWORD* pdwOrdinal)
    {
        WORD w = 0;
        if (!m_in.Read16(dwAt, w))
            return Fail("the data ends before a name at " + Hex(dwAt));
        if (w == kOrdinalMarker)
        {
            WORD wOrdinal = 0;
            m_in.Read16(dwAt + 2, wOrdinal);
            if (pdwOrdinal != nullptr)
                *pdwOrdinal = wOrdinal;
            return Copy(dwAt, 4);
        }
        std::u16string ws;
        DWORD dwStart = dwAt;
        if (!ReadText(dwAt, m_in.End(), ws))
            return false;
        if (pName != nullptr)
            *pName = ws;
        dwAt = dwStart;
        return Copy(dwAt, 2 * static_cast<DWORD>(ws.size()) + 2);
    }
    // Bytes behind the structure: kept, except zero padding to a DWORD
    // boundary, which follows the end as it now lies. Bytes short of the next
    // DWORD behind a version node's last child (fInGap) must stay short of
    // it, or a reader would take them for another child: kept where the end
    // lies as it did, else padding.
    void Tail(DWORD dwFrom, DWORD dwEnd, bool fInGap = false)
    {
        if (fInGap && dwFrom < dwEnd && m_out.size() % 4 != dwFrom % 4)
        {
            PadOut();
            return;
        }
        bool fPadding = dwFrom < dwEnd && dwEnd - dwFrom < 4 && dwEnd % 4 == 0;
        for (DWORD dw = dwFrom; dw < dwEnd && fPadding; ++dw)
            fPadding = m_in.At(dw) == 0;
        if (fPadding)
            PadOut();
        else
            m_out.insert(m_out.end(), m_entry.Bytes() + dwFrom, m_entry.Bytes() + dwEnd);
    }
    // A text found at sContext: listed when not empty, and what to write in its
    // place. Texts of zero-terminated fields cannot hold a zero unit.
    bool Text(std::string sContext, const std::string& sGroup, const std::string& sPlace, std::u16string& ws,
              bool fCounted);
    bool MenuItems(DWORD& dwAt, UINT uDepth, const std::string& sPath, const std::string& sPlace);
    bool MenuExItems(DWORD& dwAt, UINT uDepth, const std::string& sPath, const std::string& sPlace);
    bool VersionNode(DWORD dwAt, DWORD dwLimit, UINT uDepth, bool fInStrings, const std::string& sTable,
                     DWORD& dwEnd);

    const ResourceEntry& m_entry;
    CImageBytes m_in;
    const std::map<std::string, std::string>* m_pTranslations;
    std::vector<ResourceText>* m_pTexts;
    std::string m_sName;
    std::string m_sLang;
    std::set<std::string> m_contexts;
    bool m_fFirstTable = true;
};

bool CTextWalk::Text(std::string sContext, const std::string& sGroup, const std::string& sPlace,
                     std::u16string& ws, bool fCounted)
{
    if (ws.empty())
        return true;
    if (!m_contexts.insert(sContext).second)
    {
        UINT n = 2;
        while (m_contexts.count(sContext + " #" + std::to_string(n)) != 0)
            ++n;
        sContext += " #" + std::to_string(n);
        m_contexts.insert(sContext);
    }
    if (m_pTexts != nullptr)
        m_pTexts->push_back({sContext, ToUtf8(ws, false), sGroup, sPlace});
    if (m_pTranslations == nullptr)
        return true;
    auto it = m_pTranslations->find(sContext);
    if (it == m_pTranslations->end())
        return true;
    ws = FromUtf8(it->second);
    if (!fCounted && ws.find(u'\0') != std::u16string::npos)
        return Fail("the translation of " + sContext + " holds a zero character");
    return true;
}

bool CTextWalk::Menu()
{
    WORD wVersion = 0, cbHeader = 0;
    DWORD dwAt = 0;
    if (!m_in.Read16(0, wVersion) || !m_in.Read16(2, cbHeader) || !Copy(dwAt, 4u + cbHeader))
        return Fail("the menu header is cut short");
    std::string sPlace = "MENU " + m_sName + " " + m_sLang;
    if (wVersion == 1)
    {
        if (!MenuExItems(dwAt, 0, std::string(), sPlace))
            return false;
    }
    else if (wVersion != 0)
        return Fail("the menu has an unknown version " + std::to_string(wVersion));
    else if (!MenuItems(dwAt, 0, std::string(), sPlace))
        return false;
    Tail(dwAt, m_in.End());
    return true;
}

// Items of one level, up to the one flagged as the last. sPath is the index
// path of the popup that holds them ("" for the menu bar, "0.2").
bool CTextWalk::MenuItems(DWORD& dwAt, UINT uDepth, const std::string& sPath, const std::string& sPlace)
{
    if (uDepth >= kMaxDepth)
        return Fail("the menu nests deeper than " + std::to_string(kMaxDepth) + " levels");
    std::string sMenu = "MENU " + m_sName;
    std::string sGroup = sPath.empty() ? sMenu : sMenu + " / popup " + sPath;
    for (UINT i = 0;; ++i)
    {
        WORD wFlags = 0, wId = 0;
        if (!m_in.Read16(dwAt, wFlags))
            return Fail("the menu ends before its last item");
        bool fPopup = (wFlags & kMenuPopup) != 0;
        if (!fPopup && !m_in.Read16(dwAt + 2, wId))
            return Fail("the menu ends inside an item");
        if (!Copy(dwAt, fPopup ? 2 : 4))
            return false;
        std::u16string ws;
        if (!ReadText(dwAt, m_in.End(), ws))
            return false;
        std::string sItemPath = sPath.empty() ? std::to_string(i) : sPath + "." + std::to_string(i);
        std::string sContext = fPopup ? sMenu + " / popup " + sItemPath : sMenu + " / " + Hex(wId);
        std::string sItemPlace = sPlace + (fPopup ? ", popup " + sItemPath : ", item " + Hex(wId));
        std::string sQuoted = ToUtf8(ws.substr(0, kPlaceUnits), true);
        if (!Text(sContext, sGroup, sItemPlace, ws, false))
            return false;
        Append(ws, true);
        if (fPopup && !MenuItems(dwAt, uDepth + 1, sItemPath, sItemPlace + " \"" + sQuoted + "\""))
            return false;
        if (wFlags & kMenuEnd)
            return true;
    }
}

// The extended form: DWORD type, state and id, a WORD of flags, the text, and
// for a popup a help id before its items; each item starts on a DWORD.
bool CTextWalk::MenuExItems(DWORD& dwAt, UINT uDepth, const std::string& sPath, const std::string& sPlace)
{
    if (uDepth >= kMaxDepth)
        return Fail("the menu nests deeper than " + std::to_string(kMaxDepth) + " levels");
    std::string sMenu = "MENU " + m_sName;
    std::string sGroup = sPath.empty() ? sMenu : sMenu + " / popup " + sPath;
    for (UINT i = 0;; ++i)
    {
        if (i > 0 || uDepth > 0)
        {
            dwAt = Align4(dwAt);
            PadOut();
        }
        DWORD dwId = 0;
        WORD wFlags = 0;
        if (!m_in.Read32(dwAt + 8, dwId) || !m_in.Read16(dwAt + 12, wFlags) || !Copy(dwAt, 14))
            return Fail("the menu ends inside an item");
        bool fPopup = (wFlags & kMenuExPopup) != 0;
        std::u16string ws;
        if (!ReadText(dwAt, m_in.End(), ws))
            return false;
        std::string sItemPath = sPath.empty() ? std::to_string(i) : sPath + "." + std::to_string(i);
        std::string sContext = fPopup ? sMenu + " / popup " + sItemPath : sMenu + " / " + Hex(dwId);
        std::string sItemPlace = sPlace + (fPopup ? ", popup " + sItemPath : ", item " + Hex(dwId));
        std::string sQuoted = ToUtf8(ws.substr(0, kPlaceUnits), true);
        if (!Text(sContext, sGroup, sItemPlace, ws, false))
            return false;
        Append(ws, true);
        if (fPopup)
        {
            dwAt = Align4(dwAt);
            PadOut();
            if (!Copy(dwAt, 4) ||
                !MenuExItems(dwAt, uDepth + 1, sItemPath, sItemPlace + " \"" + sQuoted + "\""))
                return false;
        }
        if (wFlags & kMenuEnd)
            return true;
    }
}

bool CTextWalk::Dialog()
{
    WORD wVersion = 0, wSignature = 0, cItems = 0;
    DWORD dwStyle = 0;
    if (!m_in.Read16(0, wVersion) || !m_in.Read16(2, wSignature))
        return Fail("the dialog header is cut short");
    bool fEx = wVersion == 1 && wSignature == kOrdinalMarker;
    // DIALOGEX: version, signature, help id, extended style, style, count,
    // x, y, cx, cy; DIALOG: style, extended style, count, x, y, cx, cy.
    DWORD dwAt = 0;
    if (!m_in.Read32(fEx ? 12 : 0, dwStyle) || !m_in.Read16(fEx ? 16 : 8, cItems) ||
        !Copy(dwAt, fEx ? 26 : 18))
        return Fail("the dialog header is cut short");
    std::string sDialog = "DIALOG " + m_sName;
    std::string sPlace = sDialog + " " + m_sLang;
    std::u16string ws;
    if (!CopyNameOrOrdinal(dwAt, nullptr, nullptr) || !CopyNameOrOrdinal(dwAt, nullptr, nullptr) ||
        !ReadText(dwAt, m_in.End(), ws) ||
        !Text(sDialog + " / caption", sDialog, sPlace + ", caption", ws, false))
        return false;
    Append(ws, true);
    // Point size, and for DIALOGEX weight, italic and character set, then the face.
    if ((dwStyle & kDialogSetFont) &&
        (!Copy(dwAt, fEx ? 6 : 2) || !CopyNameOrOrdinal(dwAt, nullptr, nullptr)))
        return false;
    for (UINT i = 0; i < cItems; ++i)
    {
        dwAt = Align4(dwAt);
        PadOut();
        // DIALOGEX: help id, extended style, style, x, y, cx, cy, DWORD id;
        // DIALOG: style, extended style, x, y, cx, cy, WORD id.
        DWORD dwItemStyle = 0, dwId = 0;
        WORD wId = 0;
        if (!m_in.Read32(dwAt + (fEx ? 8 : 0), dwItemStyle) ||
            !(fEx ? m_in.Read32(dwAt + 20, dwId) : m_in.Read16(dwAt + 16, wId)) || !Copy(dwAt, fEx ? 24 : 18))
            return Fail("the dialog ends inside control " + std::to_string(i));
        if (!fEx)
            dwId = wId;
        std::u16string wsClass;
        DWORD dwClass = 0;
        if (!CopyNameOrOrdinal(dwAt, &wsClass, &dwClass))
            return false;
        std::string sClass = dwClass >= 0x80 && dwClass < 0x86 ? kControlClasses[dwClass - 0x80]
                             : dwClass != 0                    ? "class " + Hex(dwClass)
                                                               : ToUtf8(wsClass.substr(0, kPlaceUnits), true);
        WORD wTitle = 0;
        if (!m_in.Read16(dwAt, wTitle))
            return Fail("the dialog ends before the title of control " + std::to_string(i));
        DWORD dwStaticType = dwItemStyle & kStaticTypeMask;
        bool fImage =
            (dwClass == kStaticClass || IsStaticName(wsClass)) &&
            (dwStaticType == kStaticIcon || dwStaticType == kStaticBitmap || dwStaticType == kStaticMetafile);
        if (wTitle == kOrdinalMarker || fImage)
        {
            if (!CopyNameOrOrdinal(dwAt, nullptr, nullptr))
                return false;
        }
        else
        {
            std::string sControl = "control " + std::to_string(i);
            if (!ReadText(dwAt, m_in.End(), ws) ||
                !Text(sDialog + " / " + sControl, sDialog,
                      sPlace + ", " + sControl + " (" + sClass + ", id " + Hex(dwId) + ")", ws, false))
                return false;
            Append(ws, true);
        }
        WORD cbExtra = 0;
        if (!m_in.Read16(dwAt, cbExtra) || !Copy(dwAt, 2u + cbExtra))
            return Fail("the dialog ends inside the creation data of control " + std::to_string(i));
    }
    Tail(dwAt, m_in.End());
    return true;
}

// Block n holds the strings (n - 1) * 16 to (n - 1) * 16 + 15, each a count
// and that many units; a string that ends in a zero unit keeps it.
bool CTextWalk::StringTable()
{
    DWORD dwAt = 0;
    if (m_entry.name.fNamed || m_entry.name.wId == 0)
    {
        Tail(dwAt, m_in.End());
        return true;
    }
    DWORD dwFirst = (m_entry.name.wId - 1u) * kStringsPerBlock;
    for (UINT i = 0; i < kStringsPerBlock && m_in.Holds(dwAt, 2); ++i)
    {
        WORD cUnits = 0;
        m_in.Read16(dwAt, cUnits);
        std::string sContext = "STRINGTABLE / " + Hex(dwFirst + i);
        if (!m_in.Holds(dwAt + 2, 2u * cUnits))
            return Fail("string " + Hex(dwFirst + i) + " runs past the end of its block");
        std::u16string ws(cUnits, 0);
        for (WORD k = 0; k < cUnits; ++k)
        {
            WORD w = 0;
            m_in.Read16(dwAt + 2 + 2u * k, w);
            ws[k] = w;
        }
        dwAt += 2 + 2u * cUnits;
        bool fTerminated = !ws.empty() && ws.back() == 0;
        if (fTerminated)
            ws.pop_back();
        if (!Text(sContext, sContext, "STRINGTABLE " + m_sLang + ", string " + Hex(dwFirst + i), ws, true))
            return false;
        size_t cOut = ws.size() + (fTerminated ? 1 : 0);
        if (cOut > 0xFFFF)
            return Fail("the translation of " + sContext + " is longer than a string table holds");
        m_out.push_back(static_cast<BYTE>(cOut));
        m_out.push_back(static_cast<BYTE>(cOut >> 8));
        Append(ws, fTerminated);
    }
    Tail(dwAt, m_in.End());
    return true;
}

bool CTextWalk::Version()
{
    DWORD dwEnd = 0;
    if (!VersionNode(0, m_in.End(), 0, false, std::string(), dwEnd))
        return false;
    Tail(dwEnd, m_in.End());
    return true;
}

// One node: length, value length, type, key, padding, value, padding and the
// nodes inside it. Only the way down to the strings is taken apart (the root,
// StringFileInfo, its tables and their strings); every other node, the fixed
// information and VarFileInfo among them, is copied whole. Lengths are
// counted again from what is written; a node whose length counted the
// padding behind it keeps doing so.
bool CTextWalk::VersionNode(DWORD dwAt, DWORD dwLimit, UINT uDepth, bool fInStrings,
                            const std::string& sTable, DWORD& dwEnd)
{
    WORD cbLength = 0, cbValue = 0, wType = 0;
    if (!m_in.Read16(dwAt, cbLength) || !m_in.Read16(dwAt + 2, cbValue) || !m_in.Read16(dwAt + 4, wType) ||
        cbLength < 6 || cbLength > dwLimit - dwAt)
        return Fail("a version node at " + Hex(dwAt) + " lies outside its parent");
    dwEnd = dwAt + cbLength;
    size_t outStart = m_out.size();
    DWORD dwKey = dwAt + 6;
    std::u16string wsKey;
    if (!ReadText(dwKey, dwEnd, wsKey))
        return false;
    bool fString = uDepth == 3 && fInStrings;
    bool fWalk =
        uDepth == 0 || (uDepth == 1 && wsKey == u"StringFileInfo") || (uDepth == 2 && fInStrings) || fString;
    if (!fWalk)
        return Copy(dwAt, cbLength);
    Copy(dwAt, dwKey - dwAt);
    DWORD dwValue = Align4(dwKey) < dwEnd ? Align4(dwKey) : dwEnd;
    DWORD dwAfter = dwKey;
    WORD cbNewValue = cbValue;
    if (fString)
    {
        std::string sKey = ToUtf8(wsKey, false);
        std::string sContext = m_fFirstTable ? "VERSION / " + sKey : "VERSION " + sTable + " / " + sKey;
        CImageBytes value = m_in.Sub(dwValue, dwEnd);
        bool fTerminated = false;
        DWORD cUnits = value.WideLength(dwValue, fTerminated);
        std::u16string ws(cUnits, 0);
        for (DWORD k = 0; k < cUnits; ++k)
        {
            WORD w = 0;
            value.Read16(dwValue + 2 * k, w);
            ws[k] = w;
        }
        // The value length counts units with or without the terminator, or
        // bytes; whichever this node used is used again.
        DWORD cWith = cUnits + (fTerminated ? 1 : 0);
        bool fBytes =
            cbValue != cWith && cbValue != cUnits && (cbValue == 2 * cWith || cbValue == 2 * cUnits);
        bool fWithTerminator = fBytes ? cbValue == 2 * cWith : cbValue != cUnits || cUnits == cWith;
        if (dwValue > dwKey)
            PadOut();
        std::u16string wsSource = ws;
        if (!Text(sContext, sContext,
                  "VERSIONINFO " + m_sName + " " + m_sLang + ", StringFileInfo " + sTable + ", " + sKey, ws,
                  false))
            return false;
        Append(ws, fTerminated);
        size_t cNew = ws.size() + (fWithTerminator && fTerminated ? 1 : 0);
        cNew *= fBytes ? 2 : 1;
        if (cNew > 0xFFFF)
            return Fail("the translation of " + sContext + " is too long for version information");
        // An untranslated value keeps its length field even where it matches none of the forms.
        if (ws != wsSource)
            cbNewValue = static_cast<WORD>(cNew);
        dwAfter = dwValue + 2 * cWith;
    }
    else
    {
        DWORD cbBinary = wType == 1 ? 2u * cbValue : cbValue;
        if (cbBinary > dwEnd - dwValue)
            return Fail("the value of a version node at " + Hex(dwAt) + " runs past the node");
        if (dwValue > dwKey)
            PadOut();
        dwAfter = dwValue;
        Copy(dwAfter, cbBinary);
        bool fStrings = uDepth == 1 || fInStrings;
        for (DWORD dwChild = Align4(dwAfter); dwChild < dwEnd; dwChild = Align4(dwAfter))
        {
            std::u16string wsTable;
            DWORD dwTableKey = dwChild + 6;
            if (uDepth == 1 && fStrings)
                ReadText(dwTableKey, dwEnd, wsTable);
            PadOut();
            if (!VersionNode(dwChild, dwEnd, uDepth + 1, fStrings,
                             uDepth == 1 ? ToUtf8(wsTable, false) : sTable, dwAfter))
                return false;
            if (uDepth == 1 && fStrings)
                m_fFirstTable = false;
        }
    }
    Tail(dwAfter, dwEnd, !fString);
    if (m_out.size() - outStart > 0xFFFF)
        return Fail("a version node grows beyond 64 KB");
    Put16(outStart, static_cast<DWORD>(m_out.size() - outStart));
    Put16(outStart + 2, cbNewValue);
    return true;
}

std::string Describe(const ResourceEntry& entry)
{
    return (entry.type.fNamed ? NameOf(entry.type) : ResourceTypeName(entry.type.wId)) + " " +
           NameOf(entry.name);
}

int Walk(const ResourceEntry& entry, CTextWalk& walk)
{
    bool fRead = true;
    if (!entry.type.fNamed)
        switch (entry.type.wId)
        {
        case kTypeMenu:
            fRead = walk.Menu();
            break;
        case kTypeDialog:
            fRead = walk.Dialog();
            break;
        case kTypeStringTable:
            fRead = walk.StringTable();
            break;
        case kTypeVersion:
            fRead = walk.Version();
            break;
        }
    return fRead ? 1 : 0;
}
} // namespace

bool HasResourceTexts(const ResourceEntry& entry)
{
    return !entry.type.fNamed && (entry.type.wId == kTypeMenu || entry.type.wId == kTypeDialog ||
                                  entry.type.wId == kTypeStringTable || entry.type.wId == kTypeVersion);
}

int ListResourceTexts(const ResourceEntry& entry, std::vector<ResourceText>& texts, std::string& sReason)
{
    // Nothing is appended unless the whole resource could be read.
    std::vector<ResourceText> found;
    CTextWalk walk(entry, nullptr, &found);
    if (!Walk(entry, walk))
    {
        sReason = Describe(entry) + ": " + walk.m_sReason;
        return 0;
    }
    texts.insert(texts.end(), found.begin(), found.end());
    return 1;
}

int TranslateResource(const ResourceEntry& entry, const std::map<std::string, std::string>& translations,
                      std::vector<BYTE>& data, std::string& sReason)
{
    if (!HasResourceTexts(entry))
    {
        if (entry.pBorrowed != nullptr)
            data.assign(entry.Bytes(), entry.Bytes() + entry.Size());
        else
            data = entry.data;
        return 1;
    }
    // Written aside first: data may be the entry's own.
    CTextWalk walk(entry, &translations, nullptr);
    if (!Walk(entry, walk))
    {
        sReason = Describe(entry) + ": " + walk.m_sReason;
        data.clear();
        return 0;
    }
    data.swap(walk.m_out);
    return 1;
}
