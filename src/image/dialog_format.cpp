// DIALOG and DIALOGEX templates: a header, menu, class, caption, the font,
// then each control on a DWORD boundary.
#include "image/resource_format.h"

#include "port/utf8.h"

namespace
{
const DWORD kDialogSetFont = 0x40;
const WORD kOrdinalMarker = 0xFFFF;
const DWORD kPlaceUnits = 40; // of a class name quoted in a place
const DWORD kStaticClass = 0x82;
const DWORD kStaticTypeMask = 0x1F;
// Statics whose title names an image resource rather than showing text.
const DWORD kStaticIcon = 0x03, kStaticBitmap = 0x0E, kStaticMetafile = 0x0F;

const char* const kControlClasses[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};

bool IsStaticName(const std::u16string& ws)
{
    const char* sz = "STATIC";
    size_t i = 0;
    for (; i < ws.size() && sz[i] != 0; ++i)
        if ((ws[i] & ~0x20u) != static_cast<unsigned>(sz[i]))
            return false;
    return i == ws.size() && sz[i] == 0;
}

class CDialogReader : public CFormatReader
{
  public:
    using CFormatReader::CFormatReader;
    bool Read();

  private:
    // A name or a number (menu, class, control title), copied as it stands.
    bool NameOrOrdinal(DWORD& dwAt, const std::string& sWhat, std::u16string* pName, DWORD* pdwOrdinal);
    bool Control(DWORD& dwAt, UINT i);
    // The title of control i at dwAt; a text unless it is a number or names an image.
    bool Title(DWORD& dwAt, const std::string& sControl, bool fImage, const std::string& sPlace);

    bool m_fEx = false;
    std::string m_sDialog;
    std::string m_sPlace;
};

bool CDialogReader::NameOrOrdinal(DWORD& dwAt, const std::string& sWhat, std::u16string* pName,
                                  DWORD* pdwOrdinal)
{
    WORD w = 0;
    if (!m_in.Read16(dwAt, w))
        return Stop("the data ends before a name at " + HexNumber(dwAt, 4));
    if (w == 0)
    {
        Field(dwAt, 2, sWhat + " (none)");
        return Copy(dwAt, 2);
    }
    if (w == kOrdinalMarker)
    {
        WORD wOrdinal = 0;
        m_in.Read16(dwAt + 2, wOrdinal);
        if (pdwOrdinal != nullptr)
            *pdwOrdinal = wOrdinal;
        Field(dwAt, 4, sWhat + " (ordinal)");
        return Copy(dwAt, 4);
    }
    ResourceTextAt text = MapText(sWhat);
    std::u16string ws;
    if (!ZeroText(dwAt, m_in.End(), text, ws))
        return false;
    if (pName != nullptr)
        *pName = ws;
    Append(ws, true);
    return true;
}

bool CDialogReader::Read()
{
    WORD wVersion = 0, wSignature = 0, cItems = 0;
    DWORD dwStyle = 0;
    if (!m_in.Read16(0, wVersion) || !m_in.Read16(2, wSignature))
        return Stop("the dialog header is cut short");
    m_fEx = wVersion == 1 && wSignature == kOrdinalMarker;
    // DIALOGEX: version, signature, help id, extended style, style, count,
    // x, y, cx, cy; DIALOG: style, extended style, count, x, y, cx, cy.
    DWORD cbFixed = m_fEx ? 26 : 18;
    if (!m_in.Read32(m_fEx ? 12 : 0, dwStyle) || !m_in.Read16(m_fEx ? 16 : 8, cItems) ||
        !m_in.Holds(0, cbFixed))
        return Stop("the dialog header is cut short");
    Field(0, cbFixed, "header");
    DWORD dwAt = 0;
    Copy(dwAt, cbFixed);
    m_sDialog = "DIALOG " + m_sName;
    m_sPlace = m_sDialog + " " + m_sLang;
    ResourceTextAt caption = MapText("caption");
    caption.sContext = m_sDialog + " / caption";
    caption.sGroup = m_sDialog;
    caption.sPlace = m_sPlace + ", caption";
    std::u16string ws;
    if (!NameOrOrdinal(dwAt, "menu", nullptr, nullptr) || !NameOrOrdinal(dwAt, "class", nullptr, nullptr) ||
        !ZeroText(dwAt, m_in.End(), caption, ws))
        return false;
    Append(ws, true);
    if (dwStyle & kDialogSetFont)
    {
        // Point size, and for DIALOGEX weight, italic and character set; then
        // the face, always a string.
        DWORD cbFont = m_fEx ? 6 : 2;
        if (m_in.Holds(dwAt, cbFont))
            Field(dwAt, cbFont, "font size");
        ResourceTextAt face = MapText("font name");
        if (!Copy(dwAt, cbFont))
            return false;
        if (!m_in.Holds(dwAt, 2))
            return Stop("the data ends before a name at " + HexNumber(dwAt, 4));
        if (!ZeroText(dwAt, m_in.End(), face, ws))
            return false;
        Append(ws, true);
    }
    for (UINT i = 0; i < cItems; ++i)
        if (m_visitor.Full() || !m_visitor.Spend(24) || !Control(dwAt, i))
            return false;
    Tail(dwAt, m_in.End());
    return true;
}

bool CDialogReader::Control(DWORD& dwAt, UINT i)
{
    std::string sControl = "control " + std::to_string(i);
    if (Align4(dwAt) != dwAt)
        Field(dwAt, Align4(dwAt) - dwAt, sControl + ", padding");
    dwAt = Align4(dwAt);
    PadOut();
    // DIALOGEX: help id, extended style, style, x, y, cx, cy, DWORD id;
    // DIALOG: style, extended style, x, y, cx, cy, WORD id.
    DWORD cbBefore = m_fEx ? 20 : 16, cbId = m_fEx ? 4 : 2;
    DWORD dwStyle = 0, dwId = 0;
    WORD wId = 0;
    if (!m_in.Read32(dwAt + (m_fEx ? 8 : 0), dwStyle) ||
        !(m_fEx ? m_in.Read32(dwAt + 20, dwId) : m_in.Read16(dwAt + 16, wId)) ||
        !m_in.Holds(dwAt, cbBefore + cbId))
        return Stop("the dialog ends inside " + sControl);
    if (!m_fEx)
        dwId = wId;
    Field(dwAt, cbBefore, sControl + ", style and position");
    Field(dwAt + cbBefore, cbId, sControl + ", id");
    Copy(dwAt, cbBefore + cbId);
    std::u16string wsClass;
    DWORD dwClass = 0;
    if (!NameOrOrdinal(dwAt, sControl + ", class", &wsClass, &dwClass))
        return false;
    std::string sClass = dwClass >= 0x80 && dwClass < 0x86 ? kControlClasses[dwClass - 0x80]
                         : dwClass != 0                    ? "class " + HexNumber(dwClass, 4)
                                        : Utf16ToUtf8(wsClass.substr(0, kPlaceUnits), true);
    DWORD dwStaticType = dwStyle & kStaticTypeMask;
    bool fImage =
        (dwClass == kStaticClass || IsStaticName(wsClass)) &&
        (dwStaticType == kStaticIcon || dwStaticType == kStaticBitmap || dwStaticType == kStaticMetafile);
    if (!Title(dwAt, sControl, fImage,
               m_sPlace + ", " + sControl + " (" + sClass + ", id " + HexNumber(dwId, 4) + ")"))
        return false;
    WORD cbExtra = 0;
    if (!m_in.Read16(dwAt, cbExtra))
        return Stop("the dialog ends inside the creation data of " + sControl);
    Field(dwAt, 2, sControl + ", creation data size");
    if (cbExtra > m_in.End() - dwAt - 2)
        return Stop("the dialog ends inside the creation data of " + sControl);
    if (cbExtra != 0)
        Field(dwAt + 2, cbExtra, sControl + ", creation data");
    return Copy(dwAt, 2u + cbExtra);
}

bool CDialogReader::Title(DWORD& dwAt, const std::string& sControl, bool fImage, const std::string& sPlace)
{
    WORD wTitle = 0;
    if (!m_in.Read16(dwAt, wTitle))
        return Stop("the dialog ends before the title of " + sControl);
    if (wTitle == 0 || wTitle == kOrdinalMarker)
        return NameOrOrdinal(dwAt, sControl + ", text", nullptr, nullptr);
    if (fImage)
    {
        // The name of the icon, bitmap or metafile the static shows.
        bool fTerminated = false;
        DWORD cUnits = m_in.Sub(dwAt, m_in.End()).WideLength(dwAt, fTerminated);
        Field(dwAt, 2 * cUnits + (fTerminated ? 2 : 0), sControl + ", image name");
        if (!fTerminated)
            return Stop("a text at " + HexNumber(dwAt, 4) + " has no terminator");
        return Copy(dwAt, 2 * cUnits + 2);
    }
    ResourceTextAt text = MapText(sControl + ", text");
    text.sContext = m_sDialog + " / " + sControl;
    text.sGroup = m_sDialog;
    text.sPlace = sPlace;
    std::u16string ws;
    if (!ZeroText(dwAt, m_in.End(), text, ws))
        return false;
    Append(ws, true);
    return true;
}
} // namespace

bool ReadDialogFormat(const ResourceSource& source, CResourceVisitor& visitor)
{
    return CDialogReader(source, visitor).Read();
}
