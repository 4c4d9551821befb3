// What every byte of a PE image is: headers, section table, the directories the
// loader reads (imports, exports, relocations, debug, resources) and the texts
// inside menus, dialogs, string tables, version information and message
// tables. Built once from the bytes of the file alone; a malformed image gives
// the part of the map that could be read.
#pragma once

#include "image/resource_names.h"
#include "pe/pe_headers.h"
#include "port/win32.h"

#include <string>
#include <vector>

enum ImageByteKind
{
    kByteOutside,       // outside the headers and every section (appended data, gaps)
    kByteHeader,        // DOS, file and optional headers, data directories
    kByteSectionTable,  // the section table
    kByteCode,          // an executable section, not otherwise known
    kByteData,          // another section, not otherwise known
    kByteDirectory,     // directory data: descriptors, thunk arrays, resource tree, ...
    kByteImportName,    // a DLL name or hint/name entry of the imports
    kByteExportName,    // the DLL name or a function name of the exports
    kByteRelocation,    // base relocation blocks
    kByteDebugData,     // the debug directory's data, COFF symbols
    kByteResourceData,  // a resource whose inside the map does not read (icons, ...)
    kByteResourceField, // a fixed field of a text resource: id, length, flags, style
    kByteResourceText,  // a text of a text resource
};

// The whole text a resource byte belongs to: cbText bytes from dwStart, and
// either a zero unit right behind it (fTerminated) or a count before it.
struct ImageText
{
    DWORD dwStart;
    DWORD cbText;
    bool fTerminated;
    bool fWide; // UTF-16; false for ANSI message-table entries and form strings
    // Counted, and the count is what the program shows (a form's string):
    // zeros padding a shorter CN would be shown.
    bool fPaddingShows;
};

struct ImageSpan
{
    DWORD dwStart;
    DWORD dwEnd;
    ImageByteKind kind;
    std::string sLabel;
    bool fText;
    ImageText text; // when fText
};

struct ImageByteInfo
{
    ImageByteKind kind;
    const std::string* psLabel; // owned by the map: "code (.text)", "MENU 1 en-US, item 0x0108, text"
    const ImageText* pText;     // nullptr unless the byte lies in a resource text
};

struct ImageSection
{
    std::string sName; // printable ASCII, '?' for other bytes; long names resolved
    DWORD dwVirtualAddress;
    DWORD dwVirtualSize;
    DWORD dwRawOffset; // as in the table, cut to the file
    DWORD dwRawSize;   // cut to the end of the file
    DWORD dwCharacteristics;
    bool fCode;
};

struct ImageImport
{
    std::string sDll;
    std::vector<std::string> functions; // names, or "#12" for an import by ordinal
};

struct ImageResource
{
    std::string sType; // "MENU", "type 240", or the name of a named type
    std::string sName; // "1", or the name
    WORD wTypeId;      // 0 for a named type
    WORD wLang;
    DWORD dwRva;
    DWORD cb;
    DWORD dwOffset; // in the file, or kNoImageOffset when the data lies outside it
};

// A run of bytes that one span (or section) answers for.
struct ImageSegment
{
    DWORD dwStart;
    DWORD dwEnd;
    UINT uSpan;
};

const DWORD kNoImageOffset = 0xFFFFFFFF;
const int kImageInHeaders = -1;
const int kImageOutsideSections = -2;

class CImageMap
{
  public:
    // Reads the image; returns 1 for a PE image (as PeHeaders::Read judges
    // one), else 0 with an empty map and the reason. Never reads outside
    // [pView, pView + dwSize), which must outlive the map.
    int Load(const BYTE* pView, DWORD dwSize, std::string& sReason);
    int Load(const BYTE* pView, DWORD dwSize);
    // The map of an image whose headers have been read.
    int Load(const PeHeaders& headers);

    bool IsPe() const { return m_fPe; }
    // The headers the map was built from (empty for no PE image).
    const PeHeaders& Headers() const { return m_headers; }
    bool Is64() const { return m_headers.f64; }
    WORD Machine() const { return m_headers.fh.wMachine; }
    // SizeOfHeaders, or the lowest section start, at least the end of the
    // section table, cut to the file.
    DWORD HeadersEnd() const { return m_headers.dwHeadersEnd; }
    const std::vector<ImageSection>& Sections() const { return m_sections; }
    const std::vector<ImageImport>& Imports() const { return m_imports; }
    const std::vector<std::string>& ExportNames() const { return m_exportNames; }
    const std::vector<ImageResource>& Resources() const { return m_resources; }
    const std::vector<ImageSpan>& Spans() const { return m_spans; }

    // What the byte at dwOffset is; the most specific thing the map knows.
    ImageByteInfo Lookup(DWORD dwOffset) const;
    // The first section whose raw data holds the offset, else kImageInHeaders
    // or kImageOutsideSections.
    int SectionIndexOf(DWORD dwOffset) const;
    // ".rdata", "headers", "overlay" (outside every section), or "" for no PE image.
    std::string RegionOf(DWORD dwOffset) const;

  private:
    // The labels of the resource tree and of the resources inside it
    // (image_map_resources.cpp).
    class CTreeLabels;
    class CResourceLabels;

    void AddSpan(DWORD dwStart, DWORD cb, ImageByteKind kind, const std::string& sLabel);
    void AddText(DWORD dwStart, DWORD cbText, bool fTerminated, bool fWide, const std::string& sLabel,
                 bool fPaddingShows = false);
    bool Full() const;
    void ReadSections(const CImageBytes& bytes);
    void ReadImports(const CImageBytes& bytes);
    void ReadExports(const CImageBytes& bytes);
    void ReadRelocations(const CImageBytes& bytes);
    void ReadDebug(const CImageBytes& bytes);
    void ReadResources();
    bool Directory(UINT i, DWORD& dwOffset, DWORD& cb) const;
    // Counts work done on bytes the image may make the map visit more than
    // once; false when the image has asked for more than a few passes over it.
    bool Spend(DWORD cb);

    bool m_fPe = false;
    PeHeaders m_headers;
    DWORD m_dwSize = 0;
    std::vector<ImageSection> m_sections;
    std::vector<ImageImport> m_imports;
    std::vector<std::string> m_exportNames;
    std::vector<ImageResource> m_resources;
    std::vector<ImageSpan> m_spans;
    std::vector<ImageSegment> m_segments;        // of m_spans, the shortest covering span for each byte
    std::vector<ImageSegment> m_sectionSegments; // of the sections' raw data, the first covering section
    unsigned long long m_uBudget = 0;
};

// What a translator should know of an occurrence in a region RegionOf names:
// a warning for the headers, code and resources, else "".
std::string RegionNote(const std::string& sRegion);
