// The map's sinks of the resource tree walk and of the format readers: spans
// of directories, names, data entries and data, the list of resources, and
// the fields and texts inside the resources it can read. Tolerant: what lies
// before a fault is labelled, and a fault never fails the image.
#include "image/image_map.h"

#include "image/form_dialect.h"
#include "image/resource_format.h"
#include "image/resource_walk.h"
#include "port/utf8.h"

#include <cstring>

namespace
{
const DWORD kMaxNameUnits = 256; // of a resource name; longer ones are cut

std::string NameLabel(const ResourceId& id)
{
    return id.fNamed ? Utf16ToUtf8(id.name.substr(0, kMaxNameUnits)) : std::to_string(id.wId);
}

std::string TypeLabel(const ResourceId& id)
{
    return id.fNamed ? NameLabel(id) : ResourceTypeName(id.wId);
}
} // namespace

class CImageMap::CResourceLabels : public CResourceVisitor
{
  public:
    CResourceLabels(CImageMap& map, DWORD dwBase, const std::string& sPrefix)
        : m_map(map), m_dwBase(dwBase), m_sPrefix(sPrefix + ", ")
    {
    }

    void Field(DWORD dwAt, DWORD cb, const std::string& sLabel) override
    {
        m_map.AddSpan(m_dwBase + dwAt, cb, kByteResourceField, m_sPrefix + sLabel);
    }
    bool Text(const ResourceTextAt& text, std::u16string&) override
    {
        if (!text.sLabel.empty())
            m_map.AddText(m_dwBase + text.dwAt, text.cbText, text.fTerminated, text.fWide,
                          m_sPrefix + text.sLabel, text.fPaddingShows);
        return true;
    }
    bool Fault(const std::string&) override { return true; }
    bool Spend(DWORD cb) override { return m_map.Spend(cb); }
    bool Full() const override { return m_map.Full(); }
    std::vector<BYTE>* Output() override { return nullptr; }

  private:
    CImageMap& m_map;
    DWORD m_dwBase;
    std::string m_sPrefix;
};

class CImageMap::CTreeLabels : public CResourceTreeSink
{
  public:
    CTreeLabels(CImageMap& map, const PeHeaders& headers) : m_map(map), m_headers(headers) {}

    bool Directory(DWORD dwAt, DWORD cEntries, UINT uLevel, const ResourcePath& path) override
    {
        std::string sAt = uLevel == 0   ? std::string(" (root)")
                          : uLevel == 1 ? " " + TypeLabel(path.type)
                                        : " " + TypeLabel(path.type) + " " + NameLabel(path.name);
        m_map.AddSpan(dwAt, sizeof(PeResourceDirectory), kByteDirectory, "resource directory" + sAt);
        m_map.AddSpan(dwAt + sizeof(PeResourceDirectory), cEntries * sizeof(PeResourceEntry), kByteDirectory,
                      "resource directory entries" + sAt);
        return true;
    }
    bool Entry() override { return !m_map.Full() && m_map.Spend(sizeof(PeResourceEntry)); }
    bool Spend(DWORD cb) override { return m_map.Spend(cb); }
    bool Name(DWORD dwAt, const std::u16string& name) override
    {
        m_map.AddSpan(dwAt, 2 + static_cast<DWORD>(name.size()) * 2, kByteDirectory,
                      "resource name " + Utf16ToUtf8(name.substr(0, kMaxNameUnits)));
        return true;
    }
    bool Data(DWORD dwAt, const PeResourceData& data, const ResourcePath& path, bool fInFile, DWORD dwOffset,
              DWORD cbAvailable) override;
    bool Fault(const std::string&) override { return true; }

  private:
    CImageMap& m_map;
    const PeHeaders& m_headers;
    // Worked out at the first form, as few images have one.
    FormSettings m_forms;
    bool m_fDialectKnown = false;
};

bool CImageMap::CTreeLabels::Data(DWORD dwAt, const PeResourceData& data, const ResourcePath& path,
                                  bool fInFile, DWORD dwOffset, DWORD cbAvailable)
{
    ImageResource resource = {
        TypeLabel(path.type), NameLabel(path.name), static_cast<WORD>(path.type.fNamed ? 0 : path.type.wId),
        path.wLang,           data.dwRva,           data.cb,
        kNoImageOffset};
    std::string sLabel = resource.sType + " " + resource.sName + " " + LanguageName(resource.wLang);
    m_map.AddSpan(dwAt, sizeof(data), kByteDirectory, "resource data entry " + sLabel);
    if (fInFile)
        resource.dwOffset = dwOffset;
    m_map.m_resources.push_back(resource);
    if (resource.dwOffset == kNoImageOffset)
        return true;
    DWORD cb = data.cb < cbAvailable ? data.cb : cbAvailable;
    m_map.AddSpan(dwOffset, cb, kByteResourceData, sLabel);
    if (resource.wTypeId == 0 || !m_map.Spend(cb))
        return true;
    const ResourceFormat* pFormat = FindResourceFormat(resource.wTypeId);
    if (pFormat == nullptr)
        return true;
    std::string sType = pFormat->szMapType != nullptr ? pFormat->szMapType : resource.sType;
    std::string sPrefix = sType +
                          (pFormat->szMapWord != nullptr ? " " + std::string(pFormat->szMapWord) : "") + " " +
                          resource.sName + " " + LanguageName(resource.wLang);
    const BYTE* pData = m_headers.pView + dwOffset;
    if (pFormat->pfnRead == ReadFormFormat && !m_fDialectKnown && cb >= 4 &&
        std::memcmp(pData, "TPF0", 4) == 0)
    {
        m_forms.dialect = DetectFormDialect(m_headers);
        m_fDialectKnown = true;
    }
    CResourceLabels labels(m_map, dwOffset, sPrefix);
    pFormat->pfnRead({pData, cb, path.type, path.name, path.wLang, &m_forms}, labels);
    return true;
}

void CImageMap::ReadResources()
{
    CTreeLabels labels(*this, m_headers);
    WalkResourceTree(m_headers, labels);
}
