// MENU and MENUEX: a header, then items level by level, each level ending at
// the item flagged as its last.
#include "image/resource_format.h"

#include "port/utf8.h"

namespace
{
const WORD kMenuPopup = 0x10;
const WORD kMenuEnd = 0x80;
const WORD kMenuExPopup = 0x01;
const UINT kMaxDepth = 16;
const DWORD kPlaceUnits = 40; // of a text quoted in a place

class CMenuReader : public CFormatReader
{
  public:
    using CFormatReader::CFormatReader;
    bool Read();

  private:
    bool Items(DWORD& dwAt, UINT uDepth, const std::string& sPath, const std::string& sPlace);
    bool ExItems(DWORD& dwAt, UINT uDepth, const std::string& sPath, const std::string& sPlace);
    // The text of an item: labelled, listed, written again; sPlace becomes
    // the place of the items below it.
    bool ItemText(DWORD& dwAt, bool fPopup, DWORD dwId, const std::string& sItem, const std::string& sPath,
                  std::string& sPlace);
    bool Deeper(UINT uDepth)
    {
        return uDepth < kMaxDepth ||
               Stop("the menu nests deeper than " + std::to_string(kMaxDepth) + " levels");
    }

    UINT m_cPopups = 0; // numbers the map's labels of popups in the order they come
};

bool CMenuReader::Read()
{
    WORD wVersion = 0, cbHeader = 0;
    if (!m_in.Read16(0, wVersion) || !m_in.Read16(2, cbHeader))
        return Stop("the menu header is cut short");
    Field(0, 4, "header");
    if (cbHeader > m_in.End() - 4)
        return Stop("the menu header is cut short");
    if (cbHeader != 0)
        Field(4, cbHeader, wVersion == 1 ? "help id" : "header");
    DWORD dwAt = 0;
    Copy(dwAt, 4u + cbHeader);
    std::string sPlace = "MENU " + m_sName + " " + m_sLang;
    if (wVersion == 1)
    {
        if (!ExItems(dwAt, 0, std::string(), sPlace))
            return false;
    }
    else if (wVersion != 0 && !m_visitor.Fault("the menu has an unknown version " + std::to_string(wVersion)))
        return false;
    else if (!Items(dwAt, 0, std::string(), sPlace))
        return false;
    Tail(dwAt, m_in.End());
    return true;
}

bool CMenuReader::ItemText(DWORD& dwAt, bool fPopup, DWORD dwId, const std::string& sItem,
                           const std::string& sPath, std::string& sPlace)
{
    std::string sMenu = "MENU " + m_sName;
    size_t iDot = sPath.rfind('.');
    std::string sParent = iDot == std::string::npos ? std::string() : sPath.substr(0, iDot);
    ResourceTextAt text = MapText(sItem + ", text");
    text.sContext = fPopup ? sMenu + " / popup " + sPath : sMenu + " / " + HexNumber(dwId, 4);
    text.sGroup = sParent.empty() ? sMenu : sMenu + " / popup " + sParent;
    text.sPlace = sPlace + (fPopup ? ", popup " + sPath : ", item " + HexNumber(dwId, 4));
    std::u16string ws;
    if (!ZeroText(dwAt, m_in.End(), text, ws))
        return false;
    DWORD cQuoted = text.cbText / 2 < kPlaceUnits ? text.cbText / 2 : kPlaceUnits;
    sPlace = text.sPlace + " \"" + Utf16ToUtf8(Units(text.dwAt, cQuoted), true) + "\"";
    Append(ws, true);
    return true;
}

// sPath is the index path of the popup that holds the items ("" for the menu
// bar, "0.2").
bool CMenuReader::Items(DWORD& dwAt, UINT uDepth, const std::string& sPath, const std::string& sPlace)
{
    if (!Deeper(uDepth))
        return false;
    for (UINT i = 0;; ++i)
    {
        WORD wFlags = 0, wId = 0;
        if (!m_in.Read16(dwAt, wFlags))
            return Stop("the menu ends before its last item");
        if (!m_visitor.Spend(4) || m_visitor.Full())
            return false;
        bool fPopup = (wFlags & kMenuPopup) != 0;
        if (!fPopup && !m_in.Read16(dwAt + 2, wId))
            return Stop("the menu ends inside an item");
        std::string sItem = fPopup ? "popup " + std::to_string(m_cPopups++) : "item " + HexNumber(wId, 4);
        Field(dwAt, 2, sItem + ", flags");
        if (!fPopup)
            Field(dwAt + 2, 2, sItem + ", id");
        Copy(dwAt, fPopup ? 2 : 4);
        std::string sItemPath = sPath.empty() ? std::to_string(i) : sPath + "." + std::to_string(i);
        std::string sItemPlace = sPlace;
        if (!ItemText(dwAt, fPopup, wId, sItem, sItemPath, sItemPlace) ||
            (fPopup && !Items(dwAt, uDepth + 1, sItemPath, sItemPlace)))
            return false;
        if (wFlags & kMenuEnd)
            return true;
    }
}

// The extended form: DWORD type, state and id, a WORD of flags, the text, and
// for a popup a help id before its items; each item starts on a DWORD.
bool CMenuReader::ExItems(DWORD& dwAt, UINT uDepth, const std::string& sPath, const std::string& sPlace)
{
    if (!Deeper(uDepth))
        return false;
    for (UINT i = 0;; ++i)
    {
        if (i > 0 || uDepth > 0)
        {
            dwAt = Align4(dwAt);
            PadOut();
        }
        DWORD dwId = 0;
        WORD wFlags = 0;
        if (!m_in.Read32(dwAt + 8, dwId) || !m_in.Read16(dwAt + 12, wFlags) || !m_in.Holds(dwAt, 14))
            return Stop("the menu ends inside an item");
        if (!m_visitor.Spend(16) || m_visitor.Full())
            return false;
        bool fPopup = (wFlags & kMenuExPopup) != 0;
        std::string sItem = fPopup ? "popup " + std::to_string(m_cPopups++)
                                   : "item " + HexNumber(dwId, dwId > 0xFFFF ? 8 : 4);
        Field(dwAt, 8, sItem + ", type and state");
        Field(dwAt + 8, 4, sItem + ", id");
        Field(dwAt + 12, 2, sItem + ", flags");
        Copy(dwAt, 14);
        std::string sItemPath = sPath.empty() ? std::to_string(i) : sPath + "." + std::to_string(i);
        std::string sItemPlace = sPlace;
        if (!ItemText(dwAt, fPopup, dwId, sItem, sItemPath, sItemPlace))
            return false;
        if (Align4(dwAt) != dwAt)
            Field(dwAt, Align4(dwAt) - dwAt, sItem + ", padding");
        if (fPopup)
        {
            dwAt = Align4(dwAt);
            PadOut();
            Field(dwAt, 4, sItem + ", help id");
            if (!Copy(dwAt, 4) || !ExItems(dwAt, uDepth + 1, sItemPath, sItemPlace))
                return false;
        }
        if (wFlags & kMenuEnd)
            return true;
    }
}
} // namespace

bool ReadMenuFormat(const ResourceSource& source, CResourceVisitor& visitor)
{
    return CMenuReader(source, visitor).Read();
}
