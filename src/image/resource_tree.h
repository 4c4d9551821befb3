// The resource tree of an image as a list of entries that can be changed and
// written back: every resource with its type, name, language, code page and
// data, and the serialiser that lays them out as a resource section.
#pragma once

#include "pe/pe_headers.h"

#include <string>
#include <vector>

// A type or a name of the tree: a number, or a UTF-16 name as stored.
struct ResourceId
{
    bool fNamed;
    WORD wId;            // when !fNamed
    std::u16string name; // when fNamed
};

struct ResourceEntry
{
    ResourceId type;
    ResourceId name;
    WORD wLang;
    DWORD dwCodePage;
    std::vector<BYTE> data; // the entry's own bytes, unless it borrows
    // Set by a read that borrows: the bytes in the image read, which outlives
    // the entry; data is then empty. SetData gives the entry its own.
    const BYTE* pBorrowed = nullptr;
    DWORD cbBorrowed = 0;

    const BYTE* Bytes() const { return pBorrowed != nullptr ? pBorrowed : data.data(); }
    size_t Size() const { return pBorrowed != nullptr ? cbBorrowed : data.size(); }
    void SetData(std::vector<BYTE>&& bytes)
    {
        data = std::move(bytes);
        pBorrowed = nullptr;
        cbBorrowed = 0;
    }
};

enum ResourceDataUse
{
    kCopyResourceData,
    // The entries point into the view, which must outlive them: an image of
    // large resources is then not held twice.
    kBorrowResourceData
};

// 1 and the image's resources in the order of the tree; an image without a
// resource directory gives 1 and none. 0 with a reason when the tree cannot be
// read whole (a directory or data outside the file, a loop, a tree deeper than
// type/name/language): a rebuild from a partial list would lose resources.
int ReadResourceEntries(const PeHeaders& headers, std::vector<ResourceEntry>& entries, std::string& sReason,
                        ResourceDataUse use = kCopyResourceData);

// The entries as a resource section whose first byte lies at RVA dwRva, in the
// order the loader expects (named entries before id entries, each sorted; data
// aligned to 4). Two entries with the same type, name and language: the first wins.
void WriteResourceSection(const std::vector<ResourceEntry>& entries, DWORD dwRva, std::vector<BYTE>& section);
