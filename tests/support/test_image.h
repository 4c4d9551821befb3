// PE images laid out for tests: the headers, a section table, sections at
// consecutive addresses, data directories, a resource tree written from
// entries, COFF symbols and appended data. The layout is computed first and
// returned with the bytes, so a test can find and break any one field.
#pragma once

#include "port/win32.h"

#include <string>
#include <vector>

// Little-endian fields of cb bytes (1 to 4) in a byte buffer.
void PutLe(std::vector<BYTE>& bytes, DWORD dwAt, DWORD dwValue, UINT cb = 4);
DWORD GetLe(const std::vector<BYTE>& bytes, DWORD dwAt, UINT cb = 4);

const WORD kTestMachineI386 = 0x014C;
const WORD kTestMachineAmd64 = 0x8664;
const DWORD kTestCodeSection = 0x60000020;        // code, execute, read
const DWORD kTestDataSection = 0x40000040;        // initialised data, read
const DWORD kTestWriteSection = 0xC0000040;       // initialised data, read, write
const DWORD kTestBssSection = 0xC0000080;         // uninitialised data, read, write
const DWORD kTestDiscardableSection = 0x42000040; // initialised data, discardable, read
const UINT kTestImportDirectory = 1, kTestResourceDirectory = 2, kTestCertificateDirectory = 4,
           kTestRelocationDirectory = 5, kTestDebugDirectory = 6;

// A resource type or name: a number, or a name when name is not empty.
struct TestResourceId
{
    TestResourceId(WORD w) : wId(w) {}
    TestResourceId(const char16_t* ws) : name(ws) {}
    WORD wId = 0;
    std::u16string name;
};

struct TestResource
{
    TestResourceId type, name;
    WORD wLang;
    std::vector<BYTE> data;
    DWORD dwCodePage = 0;
};

struct TestSectionLayout
{
    DWORD dwHeader; // its entry in the section table
    DWORD dwRaw, cbRaw, dwRva, cbVirtual;
};

// File offsets of every part of a built image.
struct TestImageLayout
{
    DWORD dwFileHeader; // behind "PE\0\0"
    DWORD dwOptional, dwDirectories, dwSectionTable;
    DWORD dwHeaderData; // behind the section table
    DWORD cbHeaders;
    std::vector<TestSectionLayout> sections;
    DWORD dwSymbols; // the COFF symbol table, then its string table; 0 when there is neither
    DWORD dwStrings;
    DWORD dwAppended;  // the file's size when nothing is appended
    DWORD dwSignature; // 0 when there is none
    DWORD dwEnd;
    // The resource tree: its directory tables (the root, then the tables of
    // each level in turn), and each resource's data entry and data.
    std::vector<DWORD> resourceTables, resourceDataEntries, resourceData;
};

class TestImage
{
  public:
    explicit TestImage(bool f64 = false);

    void SetMachine(WORD wMachine) { m_wMachine = wMachine; }
    void SetLfanew(DWORD dwLfanew) { m_dwLfanew = dwLfanew; }
    void SetCharacteristics(WORD w) { m_wCharacteristics = w; }
    void SetEntryPoint(DWORD dwRva) { m_dwEntryPoint = dwRva; }
    void SetChecksum(DWORD dw) { m_dwChecksum = dw; }
    void SetAlignment(DWORD dwSection, DWORD dwFile);
    // Bytes inside the headers, behind the section table.
    void AddHeaderData(const std::string& bytes) { m_headerData += bytes; }

    // A section at the next free address or at dwRva, its raw data the
    // content padded to the file alignment (none for no content); its virtual
    // size is cbVirtual, or the content's size. A name longer than eight
    // characters goes into the COFF string table. Returns its index.
    UINT AddSection(const std::string& sName, DWORD dwFlags, const std::vector<BYTE>& content,
                    DWORD cbVirtual = 0, DWORD dwRva = 0);
    UINT AddSection(const std::string& sName, DWORD dwFlags, const std::string& content, DWORD cbVirtual = 0,
                    DWORD dwRva = 0);
    // A .rsrc section holding the tree of these resources, which the resource
    // directory names. The tree holds them in the order given, named entries
    // before numbered ones at each level as the entry counts require: give
    // them sorted for a tree the loader can search. One such section an image.
    UINT AddResources(const std::vector<TestResource>& resources, DWORD cbVirtual = 0);

    void SetDirectory(UINT i, DWORD dwRva, DWORD cb);
    // A directory at an offset within a section, wherever it is placed.
    void SetDirectoryInSection(UINT i, UINT iSection, DWORD dwWithin, DWORD cb);

    // A COFF symbol record of this name, kept in the string table when longer than 8.
    void AddSymbol(const std::string& sName);
    // Bytes behind everything else.
    void Append(const std::string& bytes) { m_appended += bytes; }
    // A signature behind the appended data, aligned to 8 as the loader wants
    // it, named by the certificate directory (which holds a file offset).
    void SetSignature(const std::string& bytes) { m_signature = bytes; }

    std::vector<BYTE> Build(TestImageLayout& layout) const;
    std::vector<BYTE> Build() const;
    std::string BuildString() const;

  private:
    struct Section
    {
        std::string sName;
        DWORD dwFlags;
        std::vector<BYTE> content;
        DWORD cbVirtual, dwRva;
        bool fResources;
    };
    struct Directory
    {
        DWORD dwRva, cb; // dwRva is within section iSection when fInSection
        bool fInSection;
        UINT iSection;
    };

    bool m_f64;
    WORD m_wMachine, m_wCharacteristics = 0;
    DWORD m_dwLfanew = 0x40, m_dwEntryPoint = 0, m_dwChecksum = 0;
    DWORD m_dwSectionAlignment = 0x1000, m_dwFileAlignment = 0x200;
    std::string m_headerData, m_appended, m_signature;
    std::vector<Section> m_sections;
    std::vector<TestResource> m_resources;
    std::vector<Directory> m_directories = std::vector<Directory>(16, Directory{0, 0, false, 0});
    std::vector<std::string> m_symbols;
};
