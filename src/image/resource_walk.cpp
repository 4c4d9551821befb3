#include "image/resource_walk.h"

#include <unordered_set>

namespace
{
const DWORD kHighBit = 0x80000000;
const UINT kLevels = 3; // type, name, language

class CTreeWalk
{
  public:
    CTreeWalk(const PeHeaders& headers, const CImageBytes& tree, CResourceTreeSink& sink)
        : m_headers(headers), m_tree(tree), m_sink(sink)
    {
    }

    bool Directory(DWORD dwRelative, UINT uLevel, ResourcePath& path);

  private:
    bool Entry(const PeResourceEntry& item, UINT uLevel, ResourcePath& path);
    bool Name(DWORD dwRelative, std::u16string& name);
    bool Data(DWORD dwRelative, const ResourcePath& path);

    const PeHeaders& m_headers;
    CImageBytes m_tree;
    CResourceTreeSink& m_sink;
    std::unordered_set<DWORD> m_visited;
};

bool CTreeWalk::Directory(DWORD dwRelative, UINT uLevel, ResourcePath& path)
{
    DWORD dwAt = m_tree.Begin() + dwRelative;
    PeResourceDirectory dir;
    if (dwAt < m_tree.Begin() || !m_tree.ReadStruct(dwAt, dir))
        return m_sink.Fault("a resource directory lies outside the resource section");
    if (!m_visited.insert(dwRelative).second)
        return m_sink.Fault("a resource directory is reached twice (a loop in the tree)");
    DWORD cEntries = static_cast<DWORD>(dir.cNamedEntries) + dir.cIdEntries;
    if (!m_sink.Directory(dwAt, cEntries, uLevel, path))
        return false;
    if (!m_tree.Holds(dwAt + sizeof(dir), cEntries * static_cast<DWORD>(sizeof(PeResourceEntry))) &&
        !m_sink.Fault("a resource directory's entries lie outside the resource section"))
        return false;
    for (DWORD i = 0; i < cEntries; ++i)
    {
        PeResourceEntry item;
        if (!m_tree.ReadStruct(dwAt + sizeof(dir) + i * sizeof(item), item))
            return true;
        if (!m_sink.Entry() || !Entry(item, uLevel, path))
            return false;
    }
    return true;
}

bool CTreeWalk::Entry(const PeResourceEntry& item, UINT uLevel, ResourcePath& path)
{
    ResourceId id = {false, 0, std::u16string()};
    if (item.dwName & kHighBit)
    {
        if (uLevel + 1 == kLevels && !m_sink.Fault("a resource language is a name"))
            return false;
        id.fNamed = true;
        if (!Name(item.dwName & ~kHighBit, id.name))
            return false;
    }
    else
    {
        if (item.dwName > 0xFFFF && !m_sink.Fault("a resource id does not fit in 16 bits"))
            return false;
        id.wId = static_cast<WORD>(item.dwName);
    }
    if (uLevel == 0)
        path.type = id;
    else if (uLevel == 1)
        path.name = id;
    else
        path.wLang = id.wId;

    bool fSubdirectory = (item.dwTarget & kHighBit) != 0;
    if (uLevel + 1 < kLevels && !fSubdirectory)
        return m_sink.Fault("a resource data entry stands above the language level");
    if (uLevel + 1 == kLevels && fSubdirectory)
        return m_sink.Fault("a resource directory stands at the language level");
    return fSubdirectory ? Directory(item.dwTarget & ~kHighBit, uLevel + 1, path) : Data(item.dwTarget, path);
}

bool CTreeWalk::Name(DWORD dwRelative, std::u16string& name)
{
    DWORD dwAt = m_tree.Begin() + dwRelative;
    WORD cUnits = 0;
    if (dwAt < m_tree.Begin() || !m_tree.Read16(dwAt, cUnits) || !m_tree.Holds(dwAt + 2, cUnits * 2u))
        return m_sink.Fault("a resource name lies outside the resource section");
    if (!m_sink.Spend(cUnits * 2u))
        return false;
    name.resize(cUnits);
    for (WORD i = 0; i < cUnits; ++i)
    {
        WORD w = 0;
        m_tree.Read16(dwAt + 2 + i * 2u, w);
        name[i] = static_cast<char16_t>(w);
    }
    return m_sink.Name(dwAt, name);
}

bool CTreeWalk::Data(DWORD dwRelative, const ResourcePath& path)
{
    DWORD dwAt = m_tree.Begin() + dwRelative;
    PeResourceData data;
    if (dwAt < m_tree.Begin() || !m_tree.ReadStruct(dwAt, data))
        return m_sink.Fault("a resource data entry lies outside the resource section");
    DWORD dwOffset = 0, cbAvailable = 0;
    bool fInFile = m_headers.RvaToOffset(data.dwRva, dwOffset, cbAvailable);
    return m_sink.Data(dwAt, data, path, fInFile, dwOffset, cbAvailable);
}
} // namespace

bool WalkResourceTree(const PeHeaders& headers, CResourceTreeSink& sink)
{
    if (headers.directories.size() <= kPeResourceDirectory ||
        headers.directories[kPeResourceDirectory].dwRva == 0)
        return true;
    DWORD dwRoot = 0, cbTree = 0;
    if (!headers.RvaToOffset(headers.directories[kPeResourceDirectory].dwRva, dwRoot, cbTree))
        return sink.Fault("the resource directory lies outside the file");
    CTreeWalk walk(headers, headers.Bytes().Sub(dwRoot, dwRoot + cbTree), sink);
    ResourcePath path = {{false, 0, std::u16string()}, {false, 0, std::u16string()}, 0};
    return walk.Directory(0, 0, path);
}
