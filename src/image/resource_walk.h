// One walk of the resource tree as the loader walks it from the root, each
// directory read once (so a tree that points back into itself ends), with
// what it finds reported to a sink: the map's labels the tree and reads on
// past a fault, the entries' refuses the tree at its first fault.
#pragma once

#include "image/resource_tree.h"
#include "pe/pe_headers.h"

#include <string>

// The ids on the way down to a resource: type, name, language.
struct ResourcePath
{
    ResourceId type;
    ResourceId name;
    WORD wLang;
};

class CResourceTreeSink
{
  public:
    // Offsets are in the file. Each event returns false to end the walk.
    // A directory of cEntries entries reached at uLevel (0 the root, 1 the
    // names, 2 the languages).
    virtual bool Directory(DWORD dwAt, DWORD cEntries, UINT uLevel, const ResourcePath& path) = 0;
    // Each entry read; names are charged through Spend before they are read.
    virtual bool Entry() = 0;
    virtual bool Spend(DWORD cb) = 0;
    // The counted name at dwAt.
    virtual bool Name(DWORD dwAt, const std::u16string& name) = 0;
    // The data entry at dwAt of the resource at path; fInFile when the file
    // holds the data's first byte, at dwOffset with cbAvailable bytes from
    // there to the end of its section's raw data.
    virtual bool Data(DWORD dwAt, const PeResourceData& data, const ResourcePath& path, bool fInFile,
                      DWORD dwOffset, DWORD cbAvailable) = 0;
    // The tree is malformed here; true when the sink reads on past it.
    virtual bool Fault(const std::string& sReason) = 0;

  protected:
    ~CResourceTreeSink() = default;
};

// Walks the image's resource tree, within the raw data of the section its
// root lies in; an image without a resource directory has none to walk.
// False when the sink ended the walk.
bool WalkResourceTree(const PeHeaders& headers, CResourceTreeSink& sink);
