// The formats inside a resource's data (menus, dialogs, string tables, version
// information, accelerator and message tables, Delphi and Lazarus forms): one reader each, reporting
// what it reads to a visitor. The map's visitor labels fields and texts and
// reads on past what it can; the texts' visitor lists and translates texts,
// refuses a resource at its first fault, and has the reader write the
// resource again. A new format is a reader and a row of kResourceFormats.
#pragma once

#include "image/resource_tree.h"
#include "pe/pe_format.h"

#include <string>
#include <vector>

// A text a reader found. sLabel is for the map, behind the resource's name
// ("item 0x0108, text"); the rest is for the list. A text with an empty
// context is one the map labels but nobody translates (a key, a face name).
struct ResourceTextAt
{
    DWORD dwAt; // in the resource's data
    DWORD cbText;
    bool fTerminated;
    bool fWide;
    std::string sLabel;
    std::string sContext;
    std::string sGroup;
    std::string sPlace;
    bool fCounted; // its length is counted before it, so it may hold a zero unit
    // The count is the length the program shows (a form's string), so zeros
    // padding a shorter text are shown too.
    bool fPaddingShows = false;
    // Why Chinese in this text may not show: "Font.Charset of MainForm is ANSI_CHARSET".
    std::string sFontWarning;
};

class CResourceVisitor
{
  public:
    // A fixed field: id, length, flags, style, padding, a name.
    virtual void Field(DWORD dwAt, DWORD cb, const std::string& sLabel) = 0;
    // ws is the text; the visitor may put its translation in its place. False
    // stops the reader.
    virtual bool Text(const ResourceTextAt& text, std::u16string& ws) = 0;
    // The data is malformed here; true when the visitor reads on past it.
    virtual bool Fault(const std::string& sReason) = 0;
    // Charges work done on bytes a hostile tree can make the reader visit
    // many times; false when no more may be done.
    virtual bool Spend(DWORD cb) = 0;
    virtual bool Full() const = 0;
    // Where the resource is written again, or nullptr.
    virtual std::vector<BYTE>* Output() = 0;

  protected:
    ~CResourceVisitor() = default;
};

// Which compiler wrote a program's forms: value type 21 is a double to
// Delphi and C++Builder and a UTF-16 string to Free Pascal.
enum FormDialect
{
    kFormDialectUnknown,
    kFormDialectDelphi,
    kFormDialectFreePascal
};

// How the forms of one image are read: the dialect, and the property names
// beyond the usual ones whose strings are texts ("Prompt", "Items.Strings").
struct FormSettings
{
    FormDialect dialect = kFormDialectUnknown;
    std::vector<std::string> extraProperties;
    // When not empty, a rewritten form's Font.Charset = ANSI_CHARSET becomes
    // this character set ("DEFAULT_CHARSET"), so Chinese texts can show.
    std::string sCharset;
};

// One resource's data and what the tree says of it.
struct ResourceSource
{
    const BYTE* pData;
    DWORD cb;
    const ResourceId& type;
    const ResourceId& name;
    WORD wLang;
    const FormSettings* pForms = nullptr; // nullptr: the defaults
};

// Reads one format; false when it stopped at a fault.
typedef bool (*ResourceFormatReader)(const ResourceSource& source, CResourceVisitor& visitor);

struct ResourceFormat
{
    WORD wType;
    const char* szMapWord; // between type and name in the map's labels ("STRINGTABLE block 3"), or nullptr
    const char* szMapType; // in place of the type's name in the map's labels ("FORM"), or nullptr
    bool fTexts;           // whether its texts are listed and translated
    ResourceFormatReader pfnRead;
};

// The format of an unnamed type, or nullptr.
const ResourceFormat* FindResourceFormat(WORD wType);

// What the readers share: bounds-checked reads of the data (offsets from its
// start) and the writing of it again when the visitor asks for that.
class CFormatReader
{
  public:
    CFormatReader(const ResourceSource& source, CResourceVisitor& visitor);

  protected:
    // Reports a fault that ends the reading; always false.
    bool Stop(const std::string& sReason)
    {
        m_visitor.Fault(sReason);
        return false;
    }
    void Field(DWORD dwAt, DWORD cb, const std::string& sLabel) { m_visitor.Field(dwAt, cb, sLabel); }
    // Copies cb bytes at dwAt to the output; false (a fault) when the data ends first.
    bool Copy(DWORD& dwAt, DWORD cb);
    void Append(const std::u16string& ws, bool fTerminated);
    void Put16(size_t at, DWORD w);
    void PadOut();
    size_t OutSize() const { return m_pOut != nullptr ? m_pOut->size() : 0; }
    // Bytes behind a structure: kept, except zero padding to a DWORD
    // boundary, which follows the end as it now lies. With fInGap, bytes
    // short of the next DWORD behind a version node's last child, which must
    // stay short of it: kept where the end lies as it did, else padding.
    void Tail(DWORD dwFrom, DWORD dwEnd, bool fInGap = false);
    // The zero-terminated text at dwAt before dwEnd, shown to the visitor
    // (the map labels even one cut short); dwAt moves behind its terminator.
    // False, a fault, when it has none.
    bool ZeroText(DWORD& dwAt, DWORD dwEnd, ResourceTextAt& text, std::u16string& ws);
    // The cUnits units at dwAt (which Holds has passed).
    std::u16string Units(DWORD dwAt, DWORD cUnits) const;

    CImageBytes m_in;
    const BYTE* m_pData;
    CResourceVisitor& m_visitor;
    std::vector<BYTE>* m_pOut;
    std::string m_sName; // of the resource, as contexts give it
    std::string m_sLang;
};

inline DWORD Align4(DWORD dw)
{
    return (dw + 3) & ~3u;
}

// A ResourceTextAt with the map's label only.
ResourceTextAt MapText(const std::string& sLabel);

// The resource's name as contexts give it: "1", "MAINMENU".
std::string ResourceIdName(const ResourceId& id);

bool ReadMenuFormat(const ResourceSource& source, CResourceVisitor& visitor);
bool ReadDialogFormat(const ResourceSource& source, CResourceVisitor& visitor);
bool ReadStringTableFormat(const ResourceSource& source, CResourceVisitor& visitor);
bool ReadVersionFormat(const ResourceSource& source, CResourceVisitor& visitor);
bool ReadAcceleratorFormat(const ResourceSource& source, CResourceVisitor& visitor);
bool ReadMessageTableFormat(const ResourceSource& source, CResourceVisitor& visitor);
// RCDATA: a form when it begins with "TPF0", else data without texts.
bool ReadFormFormat(const ResourceSource& source, CResourceVisitor& visitor);
