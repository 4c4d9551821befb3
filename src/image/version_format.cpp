// Version information: nodes of length, value length, type, key, padding,
// value, padding and the nodes inside. The map labels every node; the texts
// take apart only the way down to the strings (the root, StringFileInfo, its
// tables and their strings) and copy every other node whole, so a fault
// inside one of those is the map's alone.
#include "image/resource_format.h"

#include "port/utf8.h"

namespace
{
const UINT kMaxDepth = 16;
const DWORD kMaxLabelUnits = 64;

// Where a node lies: its depth, whether the texts read it (fActive: its
// parent is taken apart), whether it lies under StringFileInfo, the table it
// belongs to, and the map's path of its parent.
struct VersionWhere
{
    UINT uDepth;
    bool fActive;
    bool fInStrings;
    std::string sTable;
    std::string sParent;
};

class CVersionReader : public CFormatReader
{
  public:
    using CFormatReader::CFormatReader;
    bool Read();

  private:
    // False when the reading of its siblings stops; cbNode is its length field.
    bool Node(DWORD dwAt, DWORD dwLimit, const VersionWhere& where, DWORD& cbNode);
    // The value of a string; dwAfter moves behind it.
    bool StringValue(DWORD dwValue, DWORD dwEnd, WORD& cbValue, const std::string& sKey,
                     const std::string& sTable, const std::string& sLabel, DWORD& dwAfter);
    // A fault where the texts read; true when the visitor reads on.
    bool Refuse(const std::string& sReason)
    {
        if (m_visitor.Fault(sReason))
            return true;
        m_fRefused = true;
        return false;
    }

    bool m_fRefused = false;
    bool m_fFirstTable = true;
};

bool CVersionReader::Read()
{
    DWORD cbRoot = 0;
    if (!Node(0, m_in.End(), {0, true, false, std::string(), std::string()}, cbRoot) || m_fRefused)
        return false;
    Tail(cbRoot, m_in.End());
    return true;
}

bool CVersionReader::Node(DWORD dwAt, DWORD dwLimit, const VersionWhere& where, DWORD& cbNode)
{
    WORD cbLength = 0, cbValue = 0, wType = 0;
    std::string sOutside = "a version node at " + HexNumber(dwAt, 4) + " lies outside its parent";
    if (!m_in.Read16(dwAt, cbLength) || !m_in.Read16(dwAt + 2, cbValue) || !m_in.Read16(dwAt + 4, wType) ||
        cbLength < 6)
    {
        if (where.fActive)
            Refuse(sOutside);
        return false;
    }
    if (!m_visitor.Spend(cbLength) || m_visitor.Full())
        return false;
    bool fFits = cbLength <= dwLimit - dwAt;
    if (!fFits && where.fActive && !Refuse(sOutside))
        return false;
    cbNode = cbLength;
    DWORD dwEnd = fFits ? dwAt + cbLength : dwLimit;
    size_t outStart = OutSize();
    DWORD dwKey = dwAt + 6;
    bool fTerminated = false;
    DWORD cKey = m_in.Sub(dwAt, dwEnd).WideLength(dwKey, fTerminated);
    std::u16string wsKey = Units(dwKey, cKey);
    UINT uDepth = where.uDepth;
    bool fString = uDepth == 3 && where.fInStrings;
    bool fWalk = where.fActive && (uDepth == 0 || (uDepth == 1 && wsKey == u"StringFileInfo") ||
                                   (uDepth == 2 && where.fInStrings) || fString);
    std::string sKey = Utf16ToUtf8(wsKey.substr(0, kMaxLabelUnits), true);
    std::string sPath = uDepth == 0                                        ? std::string()
                        : uDepth == 2 && where.sParent == "StringFileInfo" ? where.sParent + " " + sKey
                        : where.sParent.empty()                            ? sKey
                                                                           : where.sParent + ", " + sKey;
    std::string sAt = sPath.empty() ? std::string() : sPath + ", ";
    Field(dwAt, 6, sAt + "header");
    DWORD cbKey = cKey * 2 + (fTerminated ? 2 : 0);
    if (fString)
    {
        ResourceTextAt text = MapText(sAt + "key");
        text.dwAt = dwKey;
        text.cbText = cKey * 2;
        text.fTerminated = fTerminated;
        std::u16string ws = wsKey;
        m_visitor.Text(text, ws);
    }
    else
        Field(dwKey, cbKey, sAt + "key");
    if (!fTerminated)
        return !where.fActive || Refuse("a text at " + HexNumber(dwKey, 4) + " has no terminator");
    DWORD dwCopy = dwAt;
    if (where.fActive)
        Copy(dwCopy, fWalk ? 6 + cbKey : cbLength);
    DWORD dwAfterKey = dwKey + cbKey;
    DWORD dwValue = Align4(dwAfterKey) < dwEnd ? Align4(dwAfterKey) : dwEnd;
    if (Align4(dwAfterKey) > dwAfterKey && Align4(dwAfterKey) <= dwEnd)
        Field(dwAfterKey, Align4(dwAfterKey) - dwAfterKey, sAt + "padding");
    if (fWalk && dwValue > dwAfterKey)
        PadOut();
    DWORD dwAfter = dwValue;
    WORD cbNewValue = cbValue;
    if (fString)
    {
        std::string sLabel = dwValue < dwEnd && cbValue != 0 ? sAt + "value" : std::string();
        if (!StringValue(dwValue, dwEnd, cbNewValue, Utf16ToUtf8(wsKey), where.sTable, sLabel, dwAfter))
            return false;
    }
    else
    {
        DWORD cbBinary = wType == 1 ? 2u * cbValue : cbValue;
        if (cbBinary > dwEnd - dwValue)
        {
            if (fWalk &&
                !Refuse("the value of a version node at " + HexNumber(dwAt, 4) + " runs past the node"))
                return false;
            cbBinary = dwEnd - dwValue;
        }
        if (cbBinary != 0)
            Field(dwValue, cbBinary, uDepth == 0 ? std::string("VS_FIXEDFILEINFO") : sAt + "value");
        if (fWalk)
            Copy(dwAfter, cbBinary);
        else
            dwAfter += cbBinary;
        VersionWhere child = {uDepth + 1, fWalk, uDepth == 1 ? fWalk : where.fInStrings,
                              uDepth == 1   ? std::string()
                              : uDepth == 2 ? Utf16ToUtf8(wsKey)
                                            : where.sTable,
                              uDepth == 0 ? std::string() : sPath};
        for (DWORD dwChild = Align4(dwAfter); dwChild < dwEnd && uDepth + 1 < kMaxDepth;)
        {
            if (fWalk)
                PadOut();
            DWORD cbChild = 0;
            if (!Node(dwChild, dwEnd, child, cbChild))
            {
                if (m_fRefused)
                    return false;
                break;
            }
            if (uDepth == 1 && fWalk)
                m_fFirstTable = false;
            if (cbChild > dwEnd - dwChild)
                break;
            dwAfter = dwChild + cbChild;
            dwChild = Align4(dwAfter);
        }
    }
    if (!fWalk)
        return true;
    Tail(dwAfter, dwEnd, !fString);
    if (OutSize() - outStart > 0xFFFF)
        return Refuse("a version node grows beyond 64 KB");
    Put16(outStart, static_cast<DWORD>(OutSize() - outStart));
    Put16(outStart + 2, cbNewValue);
    return true;
}

bool CVersionReader::StringValue(DWORD dwValue, DWORD dwEnd, WORD& cbValue, const std::string& sKey,
                                 const std::string& sTable, const std::string& sLabel, DWORD& dwAfter)
{
    bool fTerminated = false;
    DWORD cUnits = m_in.Sub(dwValue, dwEnd).WideLength(dwValue, fTerminated);
    std::u16string ws = Units(dwValue, cUnits);
    // The value length counts units with or without the terminator, or
    // bytes; whichever this node used is used again.
    DWORD cWith = cUnits + (fTerminated ? 1 : 0);
    bool fBytes = cbValue != cWith && cbValue != cUnits && (cbValue == 2 * cWith || cbValue == 2 * cUnits);
    bool fWithTerminator = fBytes ? cbValue == 2 * cWith : cbValue != cUnits || cUnits == cWith;
    ResourceTextAt text = {dwValue,
                           cUnits * 2,
                           fTerminated,
                           true,
                           sLabel,
                           m_fFirstTable ? "VERSION / " + sKey : "VERSION " + sTable + " / " + sKey,
                           std::string(),
                           "VERSIONINFO " + m_sName + " " + m_sLang + ", StringFileInfo " + sTable + ", " +
                               sKey,
                           false,
                           false,
                           ""};
    text.sGroup = text.sContext;
    std::u16string wsSource = ws;
    if (!m_visitor.Text(text, ws))
    {
        m_fRefused = true;
        return false;
    }
    Append(ws, fTerminated);
    size_t cNew = ws.size() + (fWithTerminator && fTerminated ? 1 : 0);
    cNew *= fBytes ? 2 : 1;
    if (cNew > 0xFFFF)
    {
        Refuse("the translation of " + text.sContext + " is too long for version information");
        return false;
    }
    // An untranslated value keeps its length field even where it matches none of the forms.
    if (ws != wsSource)
        cbValue = static_cast<WORD>(cNew);
    dwAfter = dwValue + 2 * cWith;
    return true;
}
} // namespace

bool ReadVersionFormat(const ResourceSource& source, CResourceVisitor& visitor)
{
    return CVersionReader(source, visitor).Read();
}
