#include "test_image.h"

#include <algorithm>
#include <cstring>
#include <string>

void PutLe(std::vector<BYTE>& bytes, DWORD dwAt, DWORD dwValue, UINT cb)
{
    for (UINT i = 0; i < cb; ++i)
        bytes.at(dwAt + i) = static_cast<BYTE>(dwValue >> 8 * i);
}

DWORD GetLe(const std::vector<BYTE>& bytes, DWORD dwAt, UINT cb)
{
    DWORD dw = 0;
    for (UINT i = 0; i < cb; ++i)
        dw |= static_cast<DWORD>(bytes.at(dwAt + i)) << 8 * i;
    return dw;
}

namespace
{
const DWORD kWholeContent = 0xFFFFFFFF; // a directory's size: all its section holds
const DWORD kSymbolBytes = 18, kSectionHeaderBytes = 40;

DWORD Align(DWORD dw, DWORD dwAlignment)
{
    return dwAlignment == 0 ? dw : (dw + dwAlignment - 1) / dwAlignment * dwAlignment;
}

bool SameId(const TestResourceId& a, const TestResourceId& b)
{
    return a.name == b.name && (!a.name.empty() || a.wId == b.wId);
}

struct TreeNode
{
    TestResourceId id;
    std::vector<TreeNode> children;
    size_t iResource; // at the language level
    DWORD dwAt;       // of its table, or at the language level of its data entry
    DWORD dwName;     // of its name string
};

TreeNode& Child(TreeNode& parent, const TestResourceId& id)
{
    for (TreeNode& child : parent.children)
        if (SameId(child.id, id))
            return child;
    parent.children.push_back({id, {}, 0, 0, 0});
    return parent.children.back();
}

void NamedFirst(TreeNode& node)
{
    std::stable_partition(node.children.begin(), node.children.end(),
                          [](const TreeNode& n) { return !n.id.name.empty(); });
    for (TreeNode& child : node.children)
        NamedFirst(child);
}

// The tree in the usual order of a linker: the directory tables level by
// level, the data entries, the name strings, then the data aligned to 4.
std::vector<BYTE> ResourceTree(const std::vector<TestResource>& resources, DWORD dwRva, DWORD dwRaw,
                               TestImageLayout& layout)
{
    TreeNode root = {TestResourceId(WORD(0)), {}, 0, 0, 0};
    for (size_t i = 0; i < resources.size(); ++i)
    {
        TreeNode& name = Child(Child(root, resources[i].type), resources[i].name);
        name.children.push_back({TestResourceId(resources[i].wLang), {}, i, 0, 0});
    }
    NamedFirst(root);
    std::vector<TreeNode*> levels[3] = {{&root}, {}, {}}, leaves;
    for (UINT i = 0; i < 3; ++i)
        for (TreeNode* p : levels[i])
            for (TreeNode& child : p->children)
                (i < 2 ? levels[i + 1] : leaves).push_back(&child);

    DWORD dw = 0;
    for (const std::vector<TreeNode*>& level : levels)
        for (TreeNode* p : level)
        {
            p->dwAt = dw;
            dw += 16 + 8 * static_cast<DWORD>(p->children.size());
        }
    for (TreeNode* p : leaves)
    {
        p->dwAt = dw;
        dw += 16;
    }
    for (UINT i = 1; i < 3; ++i)
        for (TreeNode* p : levels[i])
            if (!p->id.name.empty())
            {
                p->dwName = dw;
                dw += 2 + 2 * static_cast<DWORD>(p->id.name.size());
            }
    std::vector<DWORD> dataAt(resources.size());
    for (TreeNode* p : leaves)
    {
        dw = Align(dw, 4);
        dataAt[p->iResource] = dw;
        dw += static_cast<DWORD>(resources[p->iResource].data.size());
    }

    std::vector<BYTE> tree(dw, 0);
    for (const std::vector<TreeNode*>& level : levels)
        for (TreeNode* p : level)
        {
            layout.resourceTables.push_back(dwRaw + p->dwAt);
            DWORD cNamed =
                static_cast<DWORD>(std::count_if(p->children.begin(), p->children.end(),
                                                 [](const TreeNode& n) { return !n.id.name.empty(); }));
            PutLe(tree, p->dwAt + 12, cNamed, 2);
            PutLe(tree, p->dwAt + 14, static_cast<DWORD>(p->children.size()) - cNamed, 2);
            DWORD dwEntry = p->dwAt + 16;
            for (const TreeNode& child : p->children)
            {
                PutLe(tree, dwEntry, child.id.name.empty() ? child.id.wId : 0x80000000 | child.dwName);
                PutLe(tree, dwEntry + 4, child.children.empty() ? child.dwAt : 0x80000000 | child.dwAt);
                dwEntry += 8;
            }
            if (p != &root && !p->id.name.empty())
            {
                PutLe(tree, p->dwName, static_cast<DWORD>(p->id.name.size()), 2);
                for (size_t i = 0; i < p->id.name.size(); ++i)
                    PutLe(tree, p->dwName + 2 + 2 * static_cast<DWORD>(i), p->id.name[i], 2);
            }
        }
    layout.resourceDataEntries.assign(resources.size(), 0);
    layout.resourceData.assign(resources.size(), 0);
    for (TreeNode* p : leaves)
    {
        const TestResource& r = resources[p->iResource];
        PutLe(tree, p->dwAt, dwRva + dataAt[p->iResource]);
        PutLe(tree, p->dwAt + 4, static_cast<DWORD>(r.data.size()));
        PutLe(tree, p->dwAt + 8, r.dwCodePage);
        std::copy(r.data.begin(), r.data.end(), tree.begin() + dataAt[p->iResource]);
        layout.resourceDataEntries[p->iResource] = dwRaw + p->dwAt;
        layout.resourceData[p->iResource] = dwRaw + dataAt[p->iResource];
    }
    return tree;
}

// "/4" for a name at offset 4 of the string table; the name itself when it fits.
std::string ShortName(const std::string& sName, std::string& strings)
{
    if (sName.size() <= 8)
        return sName;
    std::string sShort = "/" + std::to_string(4 + strings.size());
    strings += sName + '\0';
    return sShort;
}
} // namespace

TestImage::TestImage(bool f64) : m_f64(f64), m_wMachine(f64 ? kTestMachineAmd64 : kTestMachineI386) {}

void TestImage::SetAlignment(DWORD dwSection, DWORD dwFile)
{
    m_dwSectionAlignment = dwSection;
    m_dwFileAlignment = dwFile;
}

UINT TestImage::AddSection(const std::string& sName, DWORD dwFlags, const std::vector<BYTE>& content,
                           DWORD cbVirtual, DWORD dwRva)
{
    m_sections.push_back({sName, dwFlags, content, cbVirtual, dwRva, false});
    return static_cast<UINT>(m_sections.size() - 1);
}

UINT TestImage::AddSection(const std::string& sName, DWORD dwFlags, const std::string& content,
                           DWORD cbVirtual, DWORD dwRva)
{
    return AddSection(sName, dwFlags, std::vector<BYTE>(content.begin(), content.end()), cbVirtual, dwRva);
}

UINT TestImage::AddResources(const std::vector<TestResource>& resources, DWORD cbVirtual)
{
    m_resources = resources;
    m_sections.push_back({".rsrc", kTestDataSection, {}, cbVirtual, 0, true});
    UINT i = static_cast<UINT>(m_sections.size() - 1);
    SetDirectoryInSection(kTestResourceDirectory, i, 0, kWholeContent);
    return i;
}

void TestImage::SetDirectory(UINT i, DWORD dwRva, DWORD cb)
{
    m_directories.at(i) = {dwRva, cb, false, 0};
}

void TestImage::SetDirectoryInSection(UINT i, UINT iSection, DWORD dwWithin, DWORD cb)
{
    m_directories.at(i) = {dwWithin, cb, true, iSection};
}

void TestImage::AddSymbol(const std::string& sName)
{
    m_symbols.push_back(sName);
}

std::vector<BYTE> TestImage::Build() const
{
    TestImageLayout layout;
    return Build(layout);
}

std::string TestImage::BuildString() const
{
    std::vector<BYTE> bytes = Build();
    return std::string(bytes.begin(), bytes.end());
}

std::vector<BYTE> TestImage::Build(TestImageLayout& layout) const
{
    layout = TestImageLayout();
    const DWORD cbOptional = m_f64 ? 0xF0 : 0xE0, cSections = static_cast<DWORD>(m_sections.size());
    layout.dwFileHeader = m_dwLfanew + 4;
    layout.dwOptional = layout.dwFileHeader + 20;
    layout.dwDirectories = layout.dwOptional + (m_f64 ? 112 : 96);
    layout.dwSectionTable = layout.dwOptional + cbOptional;
    layout.dwHeaderData = layout.dwSectionTable + cSections * kSectionHeaderBytes;
    layout.cbHeaders =
        Align(layout.dwHeaderData + static_cast<DWORD>(m_headerData.size()), m_dwFileAlignment);

    std::vector<std::vector<BYTE>> contents;
    DWORD dwRaw = layout.cbHeaders, dwNextRva = Align(layout.cbHeaders, m_dwSectionAlignment);
    DWORD cbImage = dwNextRva;
    for (const Section& s : m_sections)
    {
        TestSectionLayout at = {layout.dwSectionTable +
                                    static_cast<DWORD>(contents.size()) * kSectionHeaderBytes,
                                0, 0, s.dwRva != 0 ? s.dwRva : dwNextRva, 0};
        contents.push_back(s.fResources ? ResourceTree(m_resources, at.dwRva, dwRaw, layout) : s.content);
        DWORD cbContent = static_cast<DWORD>(contents.back().size());
        at.cbVirtual = s.cbVirtual != 0 ? s.cbVirtual : cbContent;
        at.cbRaw = Align(cbContent, m_dwFileAlignment);
        at.dwRaw = at.cbRaw != 0 ? dwRaw : 0;
        dwRaw += at.cbRaw;
        dwNextRva = Align(at.dwRva + std::max({at.cbVirtual, at.cbRaw, DWORD(1)}), m_dwSectionAlignment);
        cbImage = std::max(cbImage, Align(at.dwRva + at.cbVirtual, m_dwSectionAlignment));
        layout.sections.push_back(at);
    }

    std::string strings;
    std::vector<std::string> shortNames;
    for (const Section& s : m_sections)
        shortNames.push_back(ShortName(s.sName, strings));
    // A long symbol name is four zero bytes and its offset in the string table.
    std::vector<std::string> symbolNames;
    for (const std::string& sName : m_symbols)
    {
        std::string sShort = ShortName(sName, strings);
        if (sShort != sName)
        {
            DWORD dwAt = static_cast<DWORD>(std::stoul(sShort.substr(1)));
            sShort = std::string(4, '\0');
            for (UINT i = 0; i < 4; ++i)
                sShort += static_cast<char>(dwAt >> 8 * i);
        }
        symbolNames.push_back(sShort);
    }
    DWORD cbSymbols = 0;
    if (!m_symbols.empty() || !strings.empty())
    {
        layout.dwSymbols = dwRaw;
        layout.dwStrings = dwRaw + static_cast<DWORD>(m_symbols.size()) * kSymbolBytes;
        cbSymbols = layout.dwStrings - dwRaw + 4 + static_cast<DWORD>(strings.size());
    }
    layout.dwAppended = dwRaw + cbSymbols;
    layout.dwEnd = layout.dwAppended + static_cast<DWORD>(m_appended.size());
    if (!m_signature.empty())
    {
        layout.dwSignature = Align(layout.dwEnd, 8);
        layout.dwEnd = layout.dwSignature + static_cast<DWORD>(m_signature.size());
    }

    std::vector<BYTE> b(layout.dwEnd, 0);
    PutLe(b, 0, 0x5A4D, 2);
    PutLe(b, 0x3C, m_dwLfanew);
    PutLe(b, m_dwLfanew, 0x4550);
    const DWORD dwFh = layout.dwFileHeader, dwOpt = layout.dwOptional;
    PutLe(b, dwFh, m_wMachine, 2);
    PutLe(b, dwFh + 2, cSections, 2);
    PutLe(b, dwFh + 8, layout.dwSymbols);
    PutLe(b, dwFh + 12, static_cast<DWORD>(m_symbols.size()));
    PutLe(b, dwFh + 16, cbOptional, 2);
    PutLe(b, dwFh + 18, m_wCharacteristics, 2);
    PutLe(b, dwOpt, m_f64 ? 0x20B : 0x10B, 2);
    PutLe(b, dwOpt + 16, m_dwEntryPoint);
    PutLe(b, dwOpt + 32, m_dwSectionAlignment);
    PutLe(b, dwOpt + 36, m_dwFileAlignment);
    PutLe(b, dwOpt + 56, cbImage);
    PutLe(b, dwOpt + 60, layout.cbHeaders);
    PutLe(b, dwOpt + 64, m_dwChecksum);
    PutLe(b, layout.dwDirectories - 4, 16);
    for (UINT i = 0; i < 16; ++i)
    {
        const Directory& d = m_directories[i];
        DWORD dwRva = d.dwRva, cb = d.cb;
        if (d.fInSection)
        {
            dwRva += layout.sections.at(d.iSection).dwRva;
            if (cb == kWholeContent)
                cb = static_cast<DWORD>(contents[d.iSection].size());
        }
        if (i == kTestCertificateDirectory && !m_signature.empty())
        {
            dwRva = layout.dwSignature;
            cb = static_cast<DWORD>(m_signature.size());
        }
        PutLe(b, layout.dwDirectories + 8 * i, dwRva);
        PutLe(b, layout.dwDirectories + 8 * i + 4, cb);
    }
    for (DWORD i = 0; i < cSections; ++i)
    {
        const TestSectionLayout& at = layout.sections[i];
        std::copy(shortNames[i].begin(), shortNames[i].end(), b.begin() + at.dwHeader);
        PutLe(b, at.dwHeader + 8, at.cbVirtual);
        PutLe(b, at.dwHeader + 12, at.dwRva);
        PutLe(b, at.dwHeader + 16, at.cbRaw);
        PutLe(b, at.dwHeader + 20, at.dwRaw);
        PutLe(b, at.dwHeader + 36, m_sections[i].dwFlags);
        std::copy(contents[i].begin(), contents[i].end(), b.begin() + at.dwRaw);
    }
    std::copy(m_headerData.begin(), m_headerData.end(), b.begin() + layout.dwHeaderData);
    for (size_t i = 0; i < symbolNames.size(); ++i)
        std::copy(symbolNames[i].begin(), symbolNames[i].end(),
                  b.begin() + layout.dwSymbols + static_cast<DWORD>(i) * kSymbolBytes);
    if (cbSymbols != 0)
    {
        PutLe(b, layout.dwStrings, 4 + static_cast<DWORD>(strings.size()));
        std::copy(strings.begin(), strings.end(), b.begin() + layout.dwStrings + 4);
    }
    std::copy(m_appended.begin(), m_appended.end(), b.begin() + layout.dwAppended);
    std::copy(m_signature.begin(), m_signature.end(), b.begin() + layout.dwSignature);
    return b;
}
