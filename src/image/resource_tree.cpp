#include "image/resource_tree.h"

#include "pe/pe_headers.h"

#include <map>
#include <unordered_set>

namespace
{
const DWORD kHighBit = 0x80000000;
const UINT kLevels = 3; // type, name, language
// DWORD alignment is all any resource format needs (dialog templates), and it
// is what the resource compilers of mingw and Wine write: a wider one makes a
// rebuilt tree outgrow the room its original had.
const DWORD kDataAlignment = 4;

// The tree as the loader walks it from the root. Each directory is read once,
// so the work is bounded by the size of the tree; copied data and names are
// charged to a budget a few times the file, as data entries may be shared.
class CEntryReader
{
  public:
    CEntryReader(const PeHeaders& layout, const CImageBytes& bytes, const CImageBytes& tree,
                 std::vector<ResourceEntry>& entries, const BYTE* pBorrowFrom)
        : m_layout(layout), m_bytes(bytes), m_tree(tree), m_entries(entries), m_pBorrowFrom(pBorrowFrom),
          m_uBudget(4ull * layout.dwSize + (1u << 20))
    {
    }

    bool Directory(DWORD dwRelative, UINT uLevel, ResourceEntry& entry);
    std::string m_sReason;

  private:
    bool Fail(const std::string& sReason)
    {
        m_sReason = sReason;
        return false;
    }
    bool Name(DWORD dwRelative, std::u16string& name);
    bool Data(DWORD dwRelative, ResourceEntry& entry);
    bool Spend(DWORD cb)
    {
        if (m_uBudget < cb)
            return false;
        m_uBudget -= cb;
        return true;
    }

    const PeHeaders& m_layout;
    CImageBytes m_bytes;
    CImageBytes m_tree;
    std::vector<ResourceEntry>& m_entries;
    const BYTE* m_pBorrowFrom; // the view, when the entries borrow from it
    std::unordered_set<DWORD> m_visited;
    unsigned long long m_uBudget;
};

bool CEntryReader::Name(DWORD dwRelative, std::u16string& name)
{
    DWORD dwAt = m_tree.Begin() + dwRelative;
    WORD cUnits = 0;
    if (dwAt < m_tree.Begin() || !m_tree.Read16(dwAt, cUnits) || !m_tree.Holds(dwAt + 2, cUnits * 2u))
        return Fail("a resource name lies outside the resource section");
    if (!Spend(cUnits * 2u))
        return Fail("the resource tree asks for too much work");
    name.resize(cUnits);
    for (WORD i = 0; i < cUnits; ++i)
    {
        WORD w = 0;
        m_tree.Read16(dwAt + 2 + i * 2u, w);
        name[i] = static_cast<char16_t>(w);
    }
    return true;
}

bool CEntryReader::Data(DWORD dwRelative, ResourceEntry& entry)
{
    DWORD dwAt = m_tree.Begin() + dwRelative;
    PeResourceData data;
    if (dwAt < m_tree.Begin() || !m_tree.ReadStruct(dwAt, data))
        return Fail("a resource data entry lies outside the resource section");
    entry.dwCodePage = data.dwCodePage;
    DWORD dwOffset = 0;
    if (data.cb != 0)
    {
        DWORD cbAvailable = 0;
        if (!m_layout.RvaToOffset(data.dwRva, dwOffset, cbAvailable) || data.cb > cbAvailable)
            return Fail("the data of a resource lies outside the file");
        // Charged alike whether copied or borrowed, so both reads refuse the same trees.
        if (!Spend(data.cb))
            return Fail("the resource tree asks for too much work");
    }
    // The walk's entry carries the ids only; the data goes straight into the list.
    m_entries.push_back(entry);
    ResourceEntry& added = m_entries.back();
    if (data.cb != 0 && m_pBorrowFrom != nullptr)
    {
        added.pBorrowed = m_pBorrowFrom + dwOffset;
        added.cbBorrowed = data.cb;
    }
    else if (data.cb != 0)
    {
        added.data.resize(data.cb);
        m_bytes.Read(dwOffset, added.data.data(), data.cb);
    }
    return true;
}

bool CEntryReader::Directory(DWORD dwRelative, UINT uLevel, ResourceEntry& entry)
{
    DWORD dwAt = m_tree.Begin() + dwRelative;
    PeResourceDirectory dir;
    if (dwAt < m_tree.Begin() || !m_tree.ReadStruct(dwAt, dir))
        return Fail("a resource directory lies outside the resource section");
    DWORD cEntries = static_cast<DWORD>(dir.cNamedEntries) + dir.cIdEntries;
    if (!m_tree.Holds(dwAt + sizeof(dir), cEntries * static_cast<DWORD>(sizeof(PeResourceEntry))))
        return Fail("a resource directory's entries lie outside the resource section");
    if (!m_visited.insert(dwRelative).second)
        return Fail("a resource directory is reached twice (a loop in the tree)");
    for (DWORD i = 0; i < cEntries; ++i)
    {
        PeResourceEntry item;
        m_tree.ReadStruct(dwAt + sizeof(dir) + i * sizeof(item), item);
        ResourceId id = {false, 0, std::u16string()};
        if (item.dwName & kHighBit)
        {
            if (uLevel + 1 == kLevels)
                return Fail("a resource language is a name");
            id.fNamed = true;
            if (!Name(item.dwName & ~kHighBit, id.name))
                return false;
        }
        else if (item.dwName > 0xFFFF)
            return Fail("a resource id does not fit in 16 bits");
        else
            id.wId = static_cast<WORD>(item.dwName);
        if (uLevel == 0)
            entry.type = id;
        else if (uLevel == 1)
            entry.name = id;
        else
            entry.wLang = id.wId;

        bool fSubdirectory = (item.dwTarget & kHighBit) != 0;
        if (uLevel + 1 < kLevels && !fSubdirectory)
            return Fail("a resource data entry stands above the language level");
        if (uLevel + 1 == kLevels && fSubdirectory)
            return Fail("a resource directory stands at the language level");
        if (fSubdirectory ? !Directory(item.dwTarget & ~kHighBit, uLevel + 1, entry)
                          : !Data(item.dwTarget, entry))
            return false;
    }
    return true;
}

// The loader finds names by a case-insensitive ordinal compare of upper-cased
// units; this upper-cases the scripts resource names are written in (Latin,
// Greek, Cyrillic) as its table does.
char16_t Upcase(char16_t ch)
{
    if ((ch >= u'a' && ch <= u'z') || (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) ||
        (ch >= 0x3B1 && ch <= 0x3CB && ch != 0x3C2) || (ch >= 0x430 && ch <= 0x44F))
        return static_cast<char16_t>(ch - 0x20);
    if (ch == 0xFF)
        return 0x178;
    if (ch >= 0x450 && ch <= 0x45F)
        return static_cast<char16_t>(ch - 0x50);
    if (ch >= 0x100 && ch <= 0x17F && ch != 0x130 && ch != 0x131 && ch != 0x138 && ch != 0x149 &&
        ch != 0x17F && (ch < 0x139 || ch > 0x148) && (ch < 0x179 || ch > 0x17E) && (ch & 1))
        return static_cast<char16_t>(ch - 1);
    if (((ch >= 0x139 && ch <= 0x148) || (ch >= 0x179 && ch <= 0x17E)) && !(ch & 1))
        return static_cast<char16_t>(ch - 1);
    return ch;
}

int CompareNames(const std::u16string& a, const std::u16string& b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    {
        char16_t chA = Upcase(a[i]), chB = Upcase(b[i]);
        if (chA != chB)
            return chA < chB ? -1 : 1;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return 0;
}

// Named entries first, by the loader's compare (and by their exact units where
// it sees two names as one, so the order is fixed); then ids ascending.
struct IdLess
{
    bool operator()(const ResourceId& a, const ResourceId& b) const
    {
        if (a.fNamed != b.fNamed)
            return a.fNamed;
        if (!a.fNamed)
            return a.wId < b.wId;
        int iCompare = CompareNames(a.name, b.name);
        return iCompare != 0 ? iCompare < 0 : a.name < b.name;
    }
};

typedef std::map<WORD, const ResourceEntry*> LangMap;
typedef std::map<ResourceId, LangMap, IdLess> NameMap;
typedef std::map<ResourceId, NameMap, IdLess> TypeMap;

DWORD DirectoryBytes(size_t cEntries)
{
    return static_cast<DWORD>(sizeof(PeResourceDirectory) + cEntries * sizeof(PeResourceEntry));
}

// The offsets of the strings of the named ids, each name written once.
class CNameTable
{
  public:
    void Add(const ResourceId& id)
    {
        if (id.fNamed && m_offsets.emplace(id.name, m_cb).second)
        {
            m_order.push_back(&id.name);
            m_cb += 2 + static_cast<DWORD>(id.name.size()) * 2;
        }
    }
    DWORD Size() const { return m_cb; }
    DWORD Field(const ResourceId& id, DWORD dwBase) const
    {
        return id.fNamed ? kHighBit | (dwBase + m_offsets.at(id.name)) : id.wId;
    }
    void Write(std::vector<BYTE>& out, DWORD dwBase) const
    {
        for (const std::u16string* pName : m_order)
        {
            DWORD dwAt = dwBase + m_offsets.at(*pName);
            Put16(out, dwAt, static_cast<DWORD>(pName->size()));
            for (size_t i = 0; i < pName->size(); ++i)
                Put16(out, dwAt + 2 + static_cast<DWORD>(i) * 2, (*pName)[i]);
        }
    }

  private:
    std::map<std::u16string, DWORD> m_offsets;
    std::vector<const std::u16string*> m_order;
    DWORD m_cb = 0;
};

void PutDirectory(std::vector<BYTE>& out, DWORD dwAt, size_t cNamed, size_t cIds)
{
    Put16(out, dwAt + 12, static_cast<DWORD>(cNamed));
    Put16(out, dwAt + 14, static_cast<DWORD>(cIds));
}

template <class M> size_t CountNamed(const M& map)
{
    size_t c = 0;
    for (const auto& item : map)
        c += item.first.fNamed ? 1 : 0;
    return c;
}
} // namespace

int ReadResourceEntries(const PeHeaders& layout, std::vector<ResourceEntry>& entries, std::string& sReason,
                        ResourceDataUse use)
{
    entries.clear();
    const BYTE* pView = layout.pView;
    if (!layout.sIncomplete.empty())
    {
        sReason = layout.sIncomplete;
        return 0;
    }
    if (layout.directories.size() <= kPeResourceDirectory ||
        layout.directories[kPeResourceDirectory].dwRva == 0)
        return 1;
    DWORD dwRoot = 0, cbTree = 0;
    if (!layout.RvaToOffset(layout.directories[kPeResourceDirectory].dwRva, dwRoot, cbTree))
    {
        sReason = "the resource directory lies outside the file";
        return 0;
    }
    CImageBytes bytes(pView, 0, layout.dwSize);
    CEntryReader reader(layout, bytes, bytes.Sub(dwRoot, dwRoot + cbTree), entries,
                        use == kBorrowResourceData ? pView : nullptr);
    ResourceEntry entry = {{false, 0, std::u16string()}, {false, 0, std::u16string()}, 0, 0, {}};
    if (!reader.Directory(0, 0, entry))
    {
        entries.clear();
        sReason = reader.m_sReason;
        return 0;
    }
    return 1;
}

void WriteResourceSection(const std::vector<ResourceEntry>& entries, DWORD dwRva, std::vector<BYTE>& section)
{
    TypeMap types;
    for (const ResourceEntry& entry : entries)
        types[entry.type][entry.name].emplace(entry.wLang, &entry);

    // Directories breadth first (root, the name level, the language level),
    // then the data entries, the names, and the data.
    CNameTable names;
    DWORD cbDirectories = DirectoryBytes(types.size());
    size_t cLeaves = 0;
    for (const auto& type : types)
    {
        names.Add(type.first);
        cbDirectories += DirectoryBytes(type.second.size());
    }
    for (const auto& type : types)
        for (const auto& name : type.second)
        {
            names.Add(name.first);
            cbDirectories += DirectoryBytes(name.second.size());
            cLeaves += name.second.size();
        }
    DWORD dwDataEntries = cbDirectories;
    DWORD dwNames = dwDataEntries + static_cast<DWORD>(cLeaves * sizeof(PeResourceData));
    DWORD dwData = (dwNames + names.Size() + kDataAlignment - 1) & ~(kDataAlignment - 1);
    DWORD cbSection = dwData;
    for (const auto& type : types)
        for (const auto& name : type.second)
            for (const auto& lang : name.second)
                cbSection = ((cbSection + kDataAlignment - 1) & ~(kDataAlignment - 1)) +
                            static_cast<DWORD>(lang.second->Size());
    section.assign(cbSection, 0);

    PutDirectory(section, 0, CountNamed(types), types.size() - CountNamed(types));
    names.Write(section, dwNames);
    DWORD dwNameLevel = DirectoryBytes(types.size());
    DWORD dwLangLevel = dwNameLevel;
    for (const auto& type : types)
        dwLangLevel += DirectoryBytes(type.second.size());
    DWORD dwRootItem = sizeof(PeResourceDirectory);
    DWORD dwLeaf = dwDataEntries;
    DWORD dwNextData = dwData;
    for (const auto& type : types)
    {
        Put32(section, dwRootItem, names.Field(type.first, dwNames));
        Put32(section, dwRootItem + 4, kHighBit | dwNameLevel);
        dwRootItem += sizeof(PeResourceEntry);
        PutDirectory(section, dwNameLevel, CountNamed(type.second),
                     type.second.size() - CountNamed(type.second));
        DWORD dwNameItem = dwNameLevel + sizeof(PeResourceDirectory);
        dwNameLevel += DirectoryBytes(type.second.size());
        for (const auto& name : type.second)
        {
            Put32(section, dwNameItem, names.Field(name.first, dwNames));
            Put32(section, dwNameItem + 4, kHighBit | dwLangLevel);
            dwNameItem += sizeof(PeResourceEntry);
            PutDirectory(section, dwLangLevel, 0, name.second.size());
            DWORD dwLangItem = dwLangLevel + sizeof(PeResourceDirectory);
            dwLangLevel += DirectoryBytes(name.second.size());
            for (const auto& lang : name.second)
            {
                const ResourceEntry& data = *lang.second;
                dwNextData = (dwNextData + kDataAlignment - 1) & ~(kDataAlignment - 1);
                Put32(section, dwLangItem, lang.first);
                Put32(section, dwLangItem + 4, dwLeaf);
                dwLangItem += sizeof(PeResourceEntry);
                Put32(section, dwLeaf, dwRva + dwNextData);
                Put32(section, dwLeaf + 4, static_cast<DWORD>(data.Size()));
                Put32(section, dwLeaf + 8, lang.second->dwCodePage);
                dwLeaf += sizeof(PeResourceData);
                if (data.Size() != 0)
                    std::memcpy(&section[dwNextData], data.Bytes(), data.Size());
                dwNextData += static_cast<DWORD>(data.Size());
            }
        }
    }
}
