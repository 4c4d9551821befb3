// Delphi, C++Builder and Lazarus forms: an RCDATA resource named after the
// form's class, "TPF0" and then the root object in the binary streaming
// format. An object is an optional flags byte, its class and object name,
// its properties (a name, then a typed value) ended by a zero, and its child
// objects ended by a zero. Texts are rewritten at any length; every other
// byte is copied as it stands.
#include "image/resource_format.h"
#include "port/utf8.h"

#include <algorithm>
#include <cstring>

namespace
{
enum FormValueType : BYTE
{
    kValueNull,
    kValueList,
    kValueInt8,
    kValueInt16,
    kValueInt32,
    kValueExtended,
    kValueString,
    kValueIdent,
    kValueFalse,
    kValueTrue,
    kValueBinary,
    kValueSet,
    kValueLString,
    kValueNil,
    kValueCollection,
    kValueSingle,
    kValueCurrency,
    kValueDate,
    kValueWString,
    kValueInt64,
    kValueUtf8String,
    kValueDoubleOrUString, // Delphi's double, Free Pascal's UTF-16 string
    kValueQWord,           // Free Pascal only
};

const BYTE kFlagsMark = 0xF0;
const BYTE kFlagChildPos = 0x02, kFlagInline = 0x04;
// Far deeper than any form; it bounds the reader's recursion on hostile data.
const UINT kMaxDepth = 128;
const DWORD kAnsiCharset = 0;
const DWORD kDefaultCharset = 1;

// Windows-1252's characters 0x80-0x9F (0 where it has none), the code page of
// the English programs whose ANSI form strings are read.
const char16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::u16string Cp1252ToUtf16(const std::string& s)
{
    std::u16string ws;
    for (unsigned char b : s)
        ws.push_back(b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0 ? kCp1252High[b - 0x80]
                                                                         : static_cast<char16_t>(b));
    return ws;
}

bool IsAscii(const std::u16string& ws)
{
    return std::all_of(ws.begin(), ws.end(), [](char16_t w) { return w < 0x80; });
}

bool IsAsciiBytes(const std::string& s)
{
    return std::all_of(s.begin(), s.end(), [](char b) { return static_cast<unsigned char>(b) < 0x80; });
}

// Reads with nothing labelled, reported or written while it lives.
struct CQuiet
{
    bool& f;
    bool fWas;
    explicit CQuiet(bool& fQuiet) : f(fQuiet), fWas(fQuiet) { f = true; }
    ~CQuiet() { f = fWas; }
};

// An object as contexts, labels and places name it.
struct FormObject
{
    std::string sPath;  // in contexts: "OpenButton", "Frame1.OkButton"; "" for the root
    std::string sLabel; // in the map: "MainForm.OpenButton"
    std::string sName;  // in places: the object's name
    std::string sClass;
    std::string sOwner;       // what the names of its children are prefixed with
    std::string sGroup;       // its controls' accelerator scope
    std::string sParentGroup; // the scope its own caption is picked in
    DWORD dwCharset;          // the font's character set as the object draws with it
    std::string sCharsetFrom; // the object whose Font.Charset that is
};

class CFormReader : public CFormatReader
{
  public:
    CFormReader(const ResourceSource& source, CResourceVisitor& visitor)
        : CFormatReader(source, visitor),
          m_dialect(source.pForms != nullptr ? source.pForms->dialect : kFormDialectUnknown),
          m_pExtra(source.pForms != nullptr ? &source.pForms->extraProperties : nullptr),
          m_sNewCharset(source.pForms != nullptr ? source.pForms->sCharset : std::string())
    {
    }
    bool Read();

  private:
    bool Object(DWORD& dwAt, const FormObject* pParent, UINT uDepth);
    // The properties of an object or a collection item, up to and with the
    // zero that ends them; sPrefix goes before each property's name in texts
    // ("Panels[0].").
    bool Properties(DWORD& dwAt, const FormObject& object, const std::string& sPrefix, UINT uDepth);
    // The value at dwAt of property sShown (as texts name it: "Items[1]");
    // with fText a string value is a text picked among in sGroup.
    bool Value(DWORD& dwAt, const FormObject& object, const std::string& sShown, bool fText,
               const std::string& sGroup, UINT uDepth);
    bool StringValue(DWORD& dwAt, BYTE bType, const FormObject& object, const std::string& sShown, bool fText,
                     const std::string& sGroup);
    // A length-counted name; Field labels it.
    bool ShortString(DWORD& dwAt, std::string& s, const std::string& sLabel);
    bool Integer(DWORD& dwAt, const std::string& sLabel);
    // The character set an object's font is given by its own properties: its
    // Font.Charset, or the default when it has ParentFont = False; else it
    // keeps its parent's. Read ahead, writing and reporting nothing.
    bool OwnCharset(DWORD dwAt, const FormObject& object, DWORD& dwCharset, bool& fOwn, UINT uDepth);
    bool IsTextProperty(const std::string& sName) const;
    // Whether the value at dwAt is the one-character string "-".
    bool IsSeparator(DWORD dwAt) const
    {
        BYTE ab[3] = {0, 0, 0};
        return m_in.Read(dwAt, ab, 3) && ab[0] == kValueString && ab[1] == 1 && ab[2] == '-';
    }
    // Whether the value at dwAt is ANSI_CHARSET, as an identifier or as 0.
    bool IsAnsiCharset(DWORD dwAt) const;
    void Write(const void* p, size_t cb)
    {
        if (m_pOut != nullptr && !m_fQuiet)
            m_pOut->insert(m_pOut->end(), static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + cb);
    }
    bool CopyOut(DWORD& dwAt, DWORD cb)
    {
        if (!m_fQuiet)
            return Copy(dwAt, cb);
        // Fail, not Stop: the read-ahead's fault is reported by the object
        // that read ahead.
        if (!m_in.Holds(dwAt, cb))
            return Fail("the form ends inside a field at " + HexNumber(dwAt, 4));
        dwAt += cb;
        return true;
    }
    void Label(DWORD dwAt, DWORD cb, const std::string& sLabel)
    {
        if (!m_fQuiet && cb != 0 && !sLabel.empty())
            Field(dwAt, cb, sLabel);
    }
    bool Fail(const std::string& sReason)
    {
        if (m_fQuiet)
        {
            m_sQuietFault = sReason;
            return false;
        }
        return Stop(sReason);
    }

    FormDialect m_dialect;
    const std::vector<std::string>* m_pExtra;
    std::string m_sNewCharset;
    std::string m_sForm; // "FORM TMAINFORM"
    bool m_fQuiet = false;
    std::string m_sQuietFault;
    std::string m_sCharsetName; // of the last Font.Charset read
};

bool CFormReader::Read()
{
    if (!m_in.Holds(0, 4) || std::memcmp(m_pData, "TPF0", 4) != 0)
    {
        // Not a form: data without texts, written as it is.
        DWORD dwAt = 0;
        return Copy(dwAt, m_in.End());
    }
    m_sForm = "FORM " + m_sName;
    Label(0, 4, "signature");
    DWORD dwAt = 0;
    Copy(dwAt, 4);
    if (!Object(dwAt, nullptr, 0))
        return false;
    Tail(dwAt, m_in.End());
    return true;
}

bool CFormReader::ShortString(DWORD& dwAt, std::string& s, const std::string& sLabel)
{
    BYTE cb = 0;
    if (!m_in.Read(dwAt, &cb, 1) || !m_in.Holds(dwAt + 1, cb))
        return Fail("the form ends inside a name at " + HexNumber(dwAt, 4));
    s.assign(reinterpret_cast<const char*>(m_pData) + dwAt + 1, cb);
    // Names go into labels, contexts and faults, which are UTF-8: a name
    // that is not (a damaged form, or an ANSI one) is read as Windows-1252.
    size_t badAt = 0;
    if (!IsAsciiBytes(s) && !IsWellFormedUtf8(s, badAt))
        s = Utf16ToUtf8(Cp1252ToUtf16(s));
    Label(dwAt, 1u + cb, sLabel);
    return CopyOut(dwAt, 1u + cb);
}

bool CFormReader::Integer(DWORD& dwAt, const std::string& sLabel)
{
    BYTE bType = 0;
    if (!m_in.Read(dwAt, &bType, 1))
        return Fail("the form ends before an integer at " + HexNumber(dwAt, 4));
    DWORD cb = bType == kValueInt8 ? 1 : bType == kValueInt16 ? 2 : bType == kValueInt32 ? 4 : 0;
    if (cb == 0)
        return Fail("value type " + std::to_string(bType) + " at " + HexNumber(dwAt, 4) + " is no integer");
    if (!m_in.Holds(dwAt, 1 + cb))
        return Fail("the form ends inside an integer at " + HexNumber(dwAt, 4));
    Label(dwAt, 1 + cb, sLabel);
    return CopyOut(dwAt, 1 + cb);
}

bool CFormReader::IsTextProperty(const std::string& sName) const
{
    static const char* const kTextProperties[] = {
        "Caption",       "Hint",          "Text",         "TextHint",
        "Title",         "Filter",        "DisplayLabel", "EditLabel.Caption",
        "Items.Strings", "Lines.Strings", "Tabs.Strings"};
    for (const char* sz : kTextProperties)
        if (sName == sz)
            return true;
    return m_pExtra != nullptr && std::find(m_pExtra->begin(), m_pExtra->end(), sName) != m_pExtra->end();
}

bool CFormReader::Object(DWORD& dwAt, const FormObject* pParent, UINT uDepth)
{
    if (uDepth > kMaxDepth)
        return Fail("objects are nested more than " + std::to_string(kMaxDepth) + " deep at " +
                    HexNumber(dwAt, 4));
    if (m_visitor.Full() || !m_visitor.Spend(16))
        return false;
    BYTE bFlags = 0;
    if (!m_in.Read(dwAt, &bFlags, 1))
        return Fail("the form ends before an object at " + HexNumber(dwAt, 4));
    bool fInline = false;
    const std::string sWhere = (pParent == nullptr ? std::string("form") : pParent->sLabel + ", child") +
                               " at " + HexNumber(dwAt, 4);
    if ((bFlags & 0xF0) == kFlagsMark)
    {
        fInline = (bFlags & kFlagInline) != 0;
        Label(dwAt, 1, sWhere + ", flags");
        CopyOut(dwAt, 1);
        if ((bFlags & kFlagChildPos) && !Integer(dwAt, sWhere + ", child position"))
            return false;
    }
    FormObject object;
    const DWORD dwClass = dwAt;
    if (!ShortString(dwAt, object.sClass, std::string()))
        return false;
    const DWORD dwName = dwAt;
    if (!ShortString(dwAt, object.sName, std::string()))
        return false;
    const std::string sShownName = object.sName.empty() ? object.sClass : object.sName;
    if (pParent == nullptr)
    {
        object.sLabel = sShownName;
        // The title bar shows an ampersand as it is: the form's own caption
        // is picked by no key.
        object.sParentGroup.clear();
        object.sGroup = m_sForm;
    }
    else
    {
        object.sPath = pParent->sOwner + sShownName;
        object.sLabel = pParent->sLabel + "." + sShownName;
        object.sParentGroup = pParent->sGroup;
        object.sGroup = m_sForm + " / " + object.sPath;
    }
    Label(dwClass, dwName - dwClass, object.sLabel + ", class name");
    Label(dwName, dwAt - dwName, object.sLabel + ", object name");
    // The children of an inline frame are named within the frame.
    object.sOwner = fInline              ? object.sPath + (object.sPath.empty() ? "" : ".")
                    : pParent != nullptr ? pParent->sOwner
                                         : std::string();
    object.dwCharset = pParent != nullptr ? pParent->dwCharset : kDefaultCharset;
    object.sCharsetFrom = pParent != nullptr ? pParent->sCharsetFrom : std::string();
    DWORD dwCharset = kDefaultCharset;
    bool fOwn = false;
    if (!OwnCharset(dwAt, object, dwCharset, fOwn, uDepth))
        return Stop(m_sQuietFault);
    if (fOwn)
    {
        object.dwCharset = dwCharset;
        object.sCharsetFrom = "Font.Charset of " + sShownName + " is " + m_sCharsetName;
    }
    if (!Properties(dwAt, object, std::string(), uDepth))
        return false;
    for (;;)
    {
        BYTE b = 0;
        if (!m_in.Read(dwAt, &b, 1))
            return Fail("the form ends inside the children of " + object.sLabel);
        if (b == 0)
        {
            Label(dwAt, 1, object.sLabel + ", end of children");
            return CopyOut(dwAt, 1);
        }
        if (!Object(dwAt, &object, uDepth + 1))
            return false;
    }
}

bool CFormReader::IsAnsiCharset(DWORD dwAt) const
{
    BYTE bType = 0, b = 0xFF;
    if (!m_in.Read(dwAt, &bType, 1))
        return false;
    if (bType == kValueInt8)
        return m_in.Read(dwAt + 1, &b, 1) && b == kAnsiCharset;
    const std::string sAnsi = "ANSI_CHARSET";
    return bType == kValueIdent && m_in.Read(dwAt + 1, &b, 1) && b == sAnsi.size() &&
           m_in.Holds(dwAt + 2, b) && std::memcmp(m_pData + dwAt + 2, sAnsi.data(), b) == 0;
}

bool CFormReader::OwnCharset(DWORD dwAt, const FormObject& object, DWORD& dwCharset, bool& fOwn, UINT uDepth)
{
    // Read ahead as the properties are read, but quietly: nothing is
    // labelled, reported or written.
    CQuiet quiet(m_fQuiet);
    fOwn = false;
    for (;;)
    {
        BYTE cb = 0;
        if (!m_in.Read(dwAt, &cb, 1))
            return Fail("the form ends inside the properties of " + object.sLabel);
        if (cb == 0)
            return true;
        std::string sName;
        if (!ShortString(dwAt, sName, std::string()))
            return false;
        BYTE bType = 0;
        m_in.Read(dwAt, &bType, 1);
        if (sName == "Font.Charset")
        {
            fOwn = true;
            std::string sIdent;
            BYTE bValue = 0;
            if (bType == kValueIdent)
            {
                DWORD dw = dwAt + 1;
                if (!ShortString(dw, sIdent, std::string()))
                    return false;
                dwCharset = sIdent == "ANSI_CHARSET" ? kAnsiCharset : kDefaultCharset;
                m_sCharsetName = sIdent;
            }
            else if (bType == kValueInt8 && m_in.Read(dwAt + 1, &bValue, 1))
            {
                dwCharset = bValue;
                m_sCharsetName = bValue == kAnsiCharset ? "ANSI_CHARSET (0)" : std::to_string(bValue);
            }
        }
        else if (sName == "ParentFont" && bType == kValueFalse && !fOwn)
        {
            fOwn = true;
            dwCharset = kDefaultCharset;
            m_sCharsetName = "DEFAULT_CHARSET";
        }
        // Named as the properties are, for the faults it finds.
        if (!Value(dwAt, object, sName, false, std::string(), uDepth))
            return false;
    }
}

bool CFormReader::Properties(DWORD& dwAt, const FormObject& object, const std::string& sPrefix, UINT uDepth)
{
    for (;;)
    {
        BYTE cb = 0;
        if (!m_in.Read(dwAt, &cb, 1))
            return Fail("the form ends inside the properties of " + object.sLabel);
        if (cb == 0)
        {
            Label(dwAt, 1, object.sLabel + ", end of properties");
            return CopyOut(dwAt, 1);
        }
        std::string sName;
        if (!ShortString(dwAt, sName, object.sLabel + ", property name"))
            return false;
        // Lists of strings are named by the list ("Items[1]", not "Items.Strings[1]").
        std::string sShown = sName;
        const std::string kStrings = ".Strings";
        if (sShown.size() > kStrings.size() &&
            sShown.compare(sShown.size() - kStrings.size(), kStrings.size(), kStrings) == 0)
            sShown.resize(sShown.size() - kStrings.size());
        sShown = sPrefix + sShown;
        // A menu item whose caption is "-" is a separator, no text.
        const bool fText = IsTextProperty(sName) &&
                           !(sName == "Caption" && object.sClass == "TMenuItem" && IsSeparator(dwAt));
        // A caption is picked by its accelerator among its parent's controls
        // (or its menu's items), the items of a radio group or the tabs of a
        // tab control among each other; hints, edit texts and memo lines
        // have no accelerators.
        std::string sGroup;
        if (!sPrefix.empty())
            sGroup.clear();
        else if (sName == "Caption" || sName == "EditLabel.Caption")
            sGroup = object.sParentGroup;
        else if (sName == "Items.Strings" || sName == "Tabs.Strings")
            sGroup = object.sGroup + "." + sShown;
        if (sName == "Font.Charset" && !m_sNewCharset.empty() && m_pOut != nullptr && !m_fQuiet &&
            IsAnsiCharset(dwAt))
        {
            // Skipped quietly, then written as the new identifier.
            const DWORD dwValue = dwAt;
            {
                CQuiet quiet(m_fQuiet);
                if (!Value(dwAt, object, sShown, false, std::string(), uDepth))
                    return Stop(m_sQuietFault);
            }
            Label(dwValue, dwAt - dwValue, object.sLabel + "." + sShown + ", value");
            const BYTE bIdent = kValueIdent, cbName = static_cast<BYTE>(m_sNewCharset.size());
            Write(&bIdent, 1);
            Write(&cbName, 1);
            Write(m_sNewCharset.data(), cbName);
            continue;
        }
        if (!Value(dwAt, object, sShown, fText, sGroup, uDepth))
            return false;
    }
}

bool CFormReader::Value(DWORD& dwAt, const FormObject& object, const std::string& sShown, bool fText,
                        const std::string& sGroup, UINT uDepth)
{
    if (uDepth > kMaxDepth)
        return Fail("values are nested more than " + std::to_string(kMaxDepth) + " deep at " +
                    HexNumber(dwAt, 4));
    BYTE bType = 0;
    if (!m_in.Read(dwAt, &bType, 1))
        return Fail("the form ends before the value of " + object.sLabel + "." + sShown);
    const std::string sLabel = object.sLabel + "." + sShown;
    DWORD cbFixed = 0;
    switch (bType)
    {
    case kValueNull:
        // Only ends a list; as a value no writer writes it and Free Pascal's
        // reader refuses it, so the form is damaged.
        return Fail("value type 0 at " + HexNumber(dwAt, 4) + " ends a list, not the value of " + sLabel);
    case kValueFalse:
    case kValueTrue:
    case kValueNil:
        Label(dwAt, 1, sLabel + ", value");
        return CopyOut(dwAt, 1);
    case kValueInt8:
        cbFixed = 1;
        break;
    case kValueInt16:
        cbFixed = 2;
        break;
    case kValueInt32:
    case kValueSingle:
        cbFixed = 4;
        break;
    case kValueCurrency:
    case kValueDate:
    case kValueInt64:
        cbFixed = 8;
        break;
    case kValueExtended:
        cbFixed = 10;
        break;
    case kValueQWord:
        if (m_dialect == kFormDialectDelphi)
            return Fail("value type 22 at " + HexNumber(dwAt, 4) + " is none Delphi writes");
        cbFixed = 8;
        break;
    case kValueDoubleOrUString:
        if (m_dialect == kFormDialectUnknown)
            return Fail("value type 21 at " + HexNumber(dwAt, 4) +
                        " is a double to Delphi and a string to Free Pascal, and the program's compiler "
                        "is not known");
        if (m_dialect == kFormDialectDelphi)
            cbFixed = 8;
        else
            return StringValue(dwAt, bType, object, sShown, fText, sGroup);
        break;
    case kValueString:
    case kValueLString:
    case kValueWString:
    case kValueUtf8String:
        return StringValue(dwAt, bType, object, sShown, fText, sGroup);
    case kValueIdent: {
        Label(dwAt, 1, sLabel + ", value type");
        CopyOut(dwAt, 1);
        std::string sIdent;
        return ShortString(dwAt, sIdent, sLabel + ", identifier");
    }
    case kValueBinary: {
        DWORD cb = 0;
        if (!m_in.Read32(dwAt + 1, cb) || !m_in.Holds(dwAt + 5, cb))
            return Fail("the form ends inside the binary value of " + sLabel);
        Label(dwAt, 5 + cb, sLabel + ", binary value");
        return CopyOut(dwAt, 5 + cb);
    }
    case kValueSet: {
        Label(dwAt, 1, sLabel + ", value type");
        CopyOut(dwAt, 1);
        for (;;)
        {
            std::string sElement;
            if (!ShortString(dwAt, sElement, sLabel + ", set element"))
                return false;
            if (sElement.empty())
                return true;
        }
    }
    case kValueList: {
        Label(dwAt, 1, sLabel + ", list");
        CopyOut(dwAt, 1);
        for (UINT i = 0;; ++i)
        {
            BYTE b = 0;
            if (!m_in.Read(dwAt, &b, 1))
                return Fail("the form ends inside the list " + sLabel);
            if (b == kValueNull)
            {
                Label(dwAt, 1, sLabel + ", end of list");
                return CopyOut(dwAt, 1);
            }
            if (!m_fQuiet && !m_visitor.Spend(4))
                return false;
            if (!Value(dwAt, object, sShown + "[" + std::to_string(i) + "]", fText, sGroup, uDepth + 1))
                return false;
        }
    }
    case kValueCollection: {
        Label(dwAt, 1, sLabel + ", collection");
        CopyOut(dwAt, 1);
        for (UINT i = 0;; ++i)
        {
            BYTE b = 0;
            if (!m_in.Read(dwAt, &b, 1))
                return Fail("the form ends inside the collection " + sLabel);
            if (b == kValueNull)
            {
                Label(dwAt, 1, sLabel + ", end of collection");
                return CopyOut(dwAt, 1);
            }
            if (!m_fQuiet && !m_visitor.Spend(4))
                return false;
            const std::string sItem = sShown + "[" + std::to_string(i) + "]";
            if ((b == kValueInt8 || b == kValueInt16 || b == kValueInt32) &&
                !Integer(dwAt, sLabel + ", item order"))
                return false;
            if (!m_in.Read(dwAt, &b, 1))
                return Fail("the form ends inside the collection " + sLabel);
            if (b != kValueList)
                return Fail("an item of the collection " + sLabel + " does not begin with a list at " +
                            HexNumber(dwAt, 4));
            Label(dwAt, 1, sLabel + ", item");
            CopyOut(dwAt, 1);
            if (!Properties(dwAt, object, sItem + ".", uDepth + 1))
                return false;
        }
    }
    default:
        return Fail("value type " + std::to_string(bType) + " at " + HexNumber(dwAt, 4) +
                    " is none the form format has");
    }
    if (!m_in.Holds(dwAt, 1 + cbFixed))
        return Fail("the form ends inside the value of " + sLabel);
    Label(dwAt, 1 + cbFixed, sLabel + ", value");
    return CopyOut(dwAt, 1 + cbFixed);
}

bool CFormReader::StringValue(DWORD& dwAt, BYTE bType, const FormObject& object, const std::string& sShown,
                              bool fText, const std::string& sGroup)
{
    const std::string sLabel = object.sLabel + "." + sShown;
    const bool fWide = bType == kValueWString || bType == kValueDoubleOrUString;
    const DWORD cbCount = bType == kValueString ? 1 : 4;
    DWORD cCount = 0;
    BYTE bCount = 0;
    if (cbCount == 1 ? !m_in.Read(dwAt + 1, &bCount, 1) : !m_in.Read32(dwAt + 1, cCount))
        return Fail("the form ends inside the string " + sLabel);
    if (cbCount == 1)
        cCount = bCount;
    const DWORD dwText = dwAt + 1 + cbCount;
    if ((fWide && cCount > (m_in.End() - std::min(dwText, m_in.End())) / 2) ||
        !m_in.Holds(dwText, fWide ? 2 * cCount : cCount))
        return Fail("the form ends inside the string " + sLabel);
    const DWORD cbText = fWide ? 2 * cCount : cCount;
    if (m_fQuiet)
    {
        dwAt = dwText + cbText;
        return true;
    }
    Label(dwAt, 1 + cbCount, sLabel + ", type and length");
    std::u16string ws;
    std::string sBytes(reinterpret_cast<const char*>(m_pData) + dwText, cbText);
    if (fWide)
        ws = Units(dwText, cCount);
    else if (bType == kValueUtf8String || IsAsciiBytes(sBytes))
        ws = Utf8ToUtf16(sBytes);
    else
    {
        // Lazarus writes UTF-8; Delphi before 2009 the program's ANSI code page.
        size_t badAt = 0;
        const bool fUtf8 = m_dialect == kFormDialectFreePascal ||
                           (m_dialect == kFormDialectUnknown && IsWellFormedUtf8(sBytes, badAt));
        ws = fUtf8 ? Utf8ToUtf16(sBytes) : Cp1252ToUtf16(sBytes);
    }
    ResourceTextAt text = MapText(fText ? sLabel : sLabel + ", string");
    text.dwAt = dwText;
    text.cbText = cbText;
    text.fWide = fWide;
    text.fCounted = true;
    text.fPaddingShows = true;
    if (fText)
    {
        text.sContext = m_sForm + " / " + (object.sPath.empty() ? "" : object.sPath + ".") + sShown;
        text.sGroup = sGroup;
        text.sPlace = m_sForm + " " + m_sLang + ", " + (object.sPath.empty() ? object.sName : object.sPath) +
                      " (" + object.sClass + "), " + sShown;
        if (object.dwCharset == kAnsiCharset)
            text.sFontWarning = object.sCharsetFrom;
    }
    const std::u16string wsSource = ws;
    if (!m_visitor.Text(text, ws))
        return false;
    if (ws == wsSource || m_pOut == nullptr)
        return Copy(dwAt, 1 + cbCount + cbText);
    dwAt = dwText + cbText;
    // An ASCII text keeps its type where it fits; any other is written as
    // UTF-16, which every string property reads.
    BYTE bNew = bType;
    if (!IsAscii(ws))
        bNew = kValueWString;
    else if (bType == kValueString && ws.size() > 0xFF)
        bNew = kValueLString;
    Write(&bNew, 1);
    const bool fNewWide = bNew == kValueWString || bNew == kValueDoubleOrUString;
    std::string sOut;
    if (!fNewWide)
        sOut = Utf16ToUtf8(ws);
    const DWORD cNew = fNewWide ? static_cast<DWORD>(ws.size()) : static_cast<DWORD>(sOut.size());
    if (bNew == kValueString)
    {
        const BYTE b = static_cast<BYTE>(cNew);
        Write(&b, 1);
    }
    else
    {
        const BYTE abCount[4] = {static_cast<BYTE>(cNew), static_cast<BYTE>(cNew >> 8),
                                 static_cast<BYTE>(cNew >> 16), static_cast<BYTE>(cNew >> 24)};
        Write(abCount, 4);
    }
    if (fNewWide)
        Append(ws, false);
    else
        Write(sOut.data(), sOut.size());
    return true;
}
} // namespace

bool ReadFormFormat(const ResourceSource& source, CResourceVisitor& visitor)
{
    return CFormReader(source, visitor).Read();
}
