#include "image/resource_texts.h"

#include "image/resource_format.h"
#include "image/resource_names.h"
#include "port/utf8.h"

#include <cstring>
#include <set>

namespace
{
// The texts' visitor: lists every text with a context (empty ones left out)
// and puts in the translations, the contexts made unique in the order they
// come; the first fault ends the reading.
class CTextSink : public CResourceVisitor
{
  public:
    CTextSink(const std::map<std::string, std::string>* pTranslations, std::vector<ResourceText>* pTexts)
        : m_pTranslations(pTranslations), m_pTexts(pTexts)
    {
    }

    void Field(DWORD, DWORD, const std::string&) override {}
    bool Text(const ResourceTextAt& text, std::u16string& ws) override;
    bool Fault(const std::string& sReason) override
    {
        m_sReason = sReason;
        return false;
    }
    bool Spend(DWORD) override { return true; }
    bool Full() const override { return false; }
    std::vector<BYTE>* Output() override { return &m_out; }

    std::vector<BYTE> m_out;
    std::string m_sReason;

  private:
    const std::map<std::string, std::string>* m_pTranslations;
    std::vector<ResourceText>* m_pTexts;
    std::set<std::string> m_contexts;
    std::map<std::string, UINT> m_nextNumber;
};

bool CTextSink::Text(const ResourceTextAt& text, std::u16string& ws)
{
    if (text.sContext.empty() || ws.empty())
        return true;
    std::string sContext = text.sContext;
    if (!m_contexts.insert(sContext).second)
    {
        // Numbered on from the last number this context was given, so a
        // resource of many alike (a form of unnamed objects) is not quadratic.
        UINT& uNext = m_nextNumber[sContext];
        UINT n = uNext < 2 ? 2 : uNext;
        while (m_contexts.count(sContext + " #" + std::to_string(n)) != 0)
            ++n;
        uNext = n + 1;
        sContext += " #" + std::to_string(n);
        m_contexts.insert(sContext);
    }
    if (m_pTexts != nullptr)
        m_pTexts->push_back({sContext, Utf16ToUtf8(ws), text.sGroup, text.sPlace, text.sFontWarning});
    if (m_pTranslations == nullptr)
        return true;
    auto it = m_pTranslations->find(sContext);
    if (it == m_pTranslations->end())
        return true;
    ws = Utf8ToUtf16(it->second);
    // Texts of zero-terminated fields cannot hold a zero unit.
    if (!text.fCounted && ws.find(u'\0') != std::u16string::npos)
        return Fault("the translation of " + sContext + " holds a zero character");
    return true;
}

const ResourceFormat* TextFormat(const ResourceEntry& entry)
{
    const ResourceFormat* pFormat = entry.type.fNamed ? nullptr : FindResourceFormat(entry.type.wId);
    // Of RCDATA only forms hold texts.
    if (pFormat != nullptr && pFormat->pfnRead == ReadFormFormat &&
        (entry.Size() < 4 || std::memcmp(entry.Bytes(), "TPF0", 4) != 0))
        return nullptr;
    return pFormat != nullptr && pFormat->fTexts ? pFormat : nullptr;
}

// 1 when the entry's data could be read whole; else 0 with a reason naming it.
int Walk(const ResourceEntry& entry, CTextSink& sink, std::string& sReason, const FormSettings* pForms)
{
    const ResourceFormat* pFormat = TextFormat(entry);
    ResourceSource source = {
        entry.Bytes(), static_cast<DWORD>(entry.Size()), entry.type, entry.name, entry.wLang, pForms};
    if (pFormat == nullptr || pFormat->pfnRead(source, sink))
        return 1;
    sReason = (entry.type.fNamed ? ResourceIdName(entry.type) : ResourceTypeName(entry.type.wId)) + " " +
              ResourceIdName(entry.name) + ": " + sink.m_sReason;
    return 0;
}
} // namespace

bool HasResourceTexts(const ResourceEntry& entry)
{
    return TextFormat(entry) != nullptr;
}

int ListResourceTexts(const ResourceEntry& entry, std::vector<ResourceText>& texts, std::string& sReason,
                      const FormSettings* pForms)
{
    // Nothing is appended unless the whole resource could be read.
    std::vector<ResourceText> found;
    CTextSink sink(nullptr, &found);
    if (!Walk(entry, sink, sReason, pForms))
        return 0;
    texts.insert(texts.end(), found.begin(), found.end());
    return 1;
}

int TranslateResource(const ResourceEntry& entry, const std::map<std::string, std::string>& translations,
                      std::vector<BYTE>& data, std::string& sReason, const FormSettings* pForms)
{
    if (!HasResourceTexts(entry))
    {
        if (entry.pBorrowed != nullptr)
            data.assign(entry.Bytes(), entry.Bytes() + entry.Size());
        else
            data = entry.data;
        return 1;
    }
    // Written aside first: data may be the entry's own.
    CTextSink sink(&translations, nullptr);
    if (!Walk(entry, sink, sReason, pForms))
    {
        data.clear();
        return 0;
    }
    data.swap(sink.m_out);
    return 1;
}
