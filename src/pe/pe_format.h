// The on-disk structures of a PE image that the map reads, one type each, with
// their sizes checked. They are filled by CImageBytes::ReadStruct, never by a
// cast onto the view, so an unaligned or truncated structure cannot be read.
#pragma once

#include "port/win32.h"

#include <cstring>

struct PeDosHeader
{
    WORD wMagic;
    BYTE abUnused[58];
    DWORD dwLfanew;
};
static_assert(sizeof(PeDosHeader) == 64, "IMAGE_DOS_HEADER");

struct PeFileHeader
{
    WORD wMachine;
    WORD cSections;
    DWORD dwTimeStamp;
    DWORD dwSymbolTable;
    DWORD cSymbols;
    WORD cbOptionalHeader;
    WORD wCharacteristics;
};
static_assert(sizeof(PeFileHeader) == 20, "IMAGE_FILE_HEADER");

struct PeSectionHeader
{
    BYTE abName[8];
    DWORD dwVirtualSize;
    DWORD dwVirtualAddress;
    DWORD dwRawSize;
    DWORD dwRawOffset;
    DWORD dwRelocations;
    DWORD dwLineNumbers;
    WORD cRelocations;
    WORD cLineNumbers;
    DWORD dwCharacteristics;
};
static_assert(sizeof(PeSectionHeader) == 40, "IMAGE_SECTION_HEADER");

struct PeDataDirectory
{
    DWORD dwRva;
    DWORD cb;
};
static_assert(sizeof(PeDataDirectory) == 8, "IMAGE_DATA_DIRECTORY");

struct PeImportDescriptor
{
    DWORD dwLookupTable; // OriginalFirstThunk
    DWORD dwTimeStamp;
    DWORD dwForwarderChain;
    DWORD dwName;
    DWORD dwAddressTable; // FirstThunk
};
static_assert(sizeof(PeImportDescriptor) == 20, "IMAGE_IMPORT_DESCRIPTOR");

struct PeExportDirectory
{
    DWORD dwCharacteristics;
    DWORD dwTimeStamp;
    WORD wMajorVersion;
    WORD wMinorVersion;
    DWORD dwName;
    DWORD dwBase;
    DWORD cFunctions;
    DWORD cNames;
    DWORD dwFunctions;
    DWORD dwNames;
    DWORD dwOrdinals;
};
static_assert(sizeof(PeExportDirectory) == 40, "IMAGE_EXPORT_DIRECTORY");

struct PeRelocationBlock
{
    DWORD dwPage;
    DWORD cbBlock;
};
static_assert(sizeof(PeRelocationBlock) == 8, "IMAGE_BASE_RELOCATION");

struct PeDebugDirectory
{
    DWORD dwCharacteristics;
    DWORD dwTimeStamp;
    WORD wMajorVersion;
    WORD wMinorVersion;
    DWORD dwType;
    DWORD cbData;
    DWORD dwDataRva;
    DWORD dwDataOffset;
};
static_assert(sizeof(PeDebugDirectory) == 28, "IMAGE_DEBUG_DIRECTORY");

struct PeResourceDirectory
{
    DWORD dwCharacteristics;
    DWORD dwTimeStamp;
    WORD wMajorVersion;
    WORD wMinorVersion;
    WORD cNamedEntries;
    WORD cIdEntries;
};
static_assert(sizeof(PeResourceDirectory) == 16, "IMAGE_RESOURCE_DIRECTORY");

struct PeResourceEntry
{
    DWORD dwName;   // an id, or with the high bit the offset of a counted name
    DWORD dwTarget; // with the high bit a subdirectory, else a data entry
};
static_assert(sizeof(PeResourceEntry) == 8, "IMAGE_RESOURCE_DIRECTORY_ENTRY");

struct PeResourceData
{
    DWORD dwRva;
    DWORD cb;
    DWORD dwCodePage;
    DWORD dwReserved;
};
static_assert(sizeof(PeResourceData) == 16, "IMAGE_RESOURCE_DATA_ENTRY");

// Every read of the image goes through this: [dwBegin, dwEnd) of the view is all
// it may touch, and a read that would leave it fails and fills nothing. The
// structures are read by copy, as the image is little-endian like every host
// the tool builds for (x86 and x86-64).
class CImageBytes
{
  public:
    CImageBytes(const BYTE* pView, DWORD dwBegin, DWORD dwEnd)
        : m_pView(pView), m_dwBegin(dwBegin), m_dwEnd(dwEnd)
    {
    }

    // The bytes of [dwBegin, dwEnd) that this window also holds.
    CImageBytes Sub(DWORD dwBegin, DWORD dwEnd) const
    {
        dwBegin = dwBegin < m_dwBegin ? m_dwBegin : dwBegin > m_dwEnd ? m_dwEnd : dwBegin;
        dwEnd = dwEnd < dwBegin ? dwBegin : dwEnd > m_dwEnd ? m_dwEnd : dwEnd;
        return CImageBytes(m_pView, dwBegin, dwEnd);
    }
    DWORD Begin() const { return m_dwBegin; }
    DWORD End() const { return m_dwEnd; }
    bool Holds(DWORD dwAt, DWORD cb) const
    {
        return dwAt >= m_dwBegin && dwAt <= m_dwEnd && cb <= m_dwEnd - dwAt;
    }

    bool Read(DWORD dwAt, void* p, DWORD cb) const
    {
        if (!Holds(dwAt, cb))
            return false;
        std::memcpy(p, m_pView + dwAt, cb);
        return true;
    }
    template <class T> bool ReadStruct(DWORD dwAt, T& value) const { return Read(dwAt, &value, sizeof(T)); }
    bool Read16(DWORD dwAt, WORD& w) const { return Read(dwAt, &w, 2); }
    bool Read32(DWORD dwAt, DWORD& dw) const { return Read(dwAt, &dw, 4); }
    bool Read64(DWORD dwAt, unsigned long long& u) const { return Read(dwAt, &u, 8); }
    BYTE At(DWORD dwAt) const { return m_pView[dwAt]; } // for offsets Holds has passed

    // The units of a zero-terminated UTF-16 string at dwAt, without the
    // terminator; fTerminated is false when the bytes end before one.
    DWORD WideLength(DWORD dwAt, bool& fTerminated) const
    {
        DWORD cUnits = 0;
        WORD w = 0;
        for (DWORD dw = dwAt; Read16(dw, w); dw += 2, ++cUnits)
            if (w == 0)
            {
                fTerminated = true;
                return cUnits;
            }
        fTerminated = false;
        return cUnits;
    }
    DWORD AnsiLength(DWORD dwAt, bool& fTerminated) const
    {
        for (DWORD dw = dwAt; Holds(dw, 1); ++dw)
            if (m_pView[dw] == 0)
            {
                fTerminated = true;
                return dw - dwAt;
            }
        fTerminated = false;
        return Holds(dwAt, 0) ? m_dwEnd - dwAt : 0;
    }

  private:
    const BYTE* m_pView;
    DWORD m_dwBegin;
    DWORD m_dwEnd;
};
