// Forms on arbitrary data: a form that reads writes back byte for byte when
// nothing is translated; translated, every text at another length, it reads
// again with the same objects, properties and values and the new texts.
//
// Input: a byte choosing the compiler (unknown, Delphi, Free Pascal), then
// the form behind "TPF0".
#include "image/resource_format.h"
#include "image/resource_texts.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// What a reading saw, offsets left out (they move when texts change length):
// each field's label, each string's label and, unless it is a text, its value.
class CStructure : public CResourceVisitor
{
  public:
    void Field(DWORD, DWORD, const std::string& sLabel) override { m_s += Unplaced(sLabel) + "\n"; }
    bool Text(const ResourceTextAt& text, std::u16string& ws) override
    {
        m_s += Unplaced(text.sLabel) + (text.sContext.empty() ? "=" + std::string(ws.begin(), ws.end()) : "") +
               "\n";
        return true;
    }
    bool Fault(const std::string&) override { return false; }
    bool Spend(DWORD) override { return true; }
    bool Full() const override { return false; }
    std::vector<BYTE>* Output() override { return nullptr; }

    std::string m_s;

  private:
    static std::string Unplaced(const std::string& s)
    {
        std::string sOut;
        for (size_t i = 0; i < s.size(); ++i)
        {
            if (s.compare(i, 2, "0x") == 0)
                for (i += 2; i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])); ++i)
                    ;
            if (i < s.size())
                sOut += s[i];
        }
        return sOut;
    }
};

std::string StructureOf(const std::vector<BYTE>& data, const ResourceEntry& entry, const FormSettings& forms)
{
    CStructure structure;
    ReadFormFormat({data.data(), static_cast<DWORD>(data.size()), entry.type, entry.name, entry.wLang, &forms},
                   structure);
    return structure.m_s;
}

// Longer than the source for even i, CJK for odd i, empty never.
std::string NewText(const std::string& sSource, size_t i)
{
    if (i % 3 == 0)
        return sSource + "译";
    if (i % 3 == 1)
        return sSource + std::string(300, 'x');
    return std::string(1 + i % 4, 'y');
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    if (cb < 1 || cb > (1 << 16))
        return 0;
    FormSettings forms;
    forms.dialect = static_cast<FormDialect>(pData[0] % 3);
    std::vector<BYTE> form = {'T', 'P', 'F', '0'};
    form.insert(form.end(), pData + 1, pData + cb);
    ResourceEntry entry = {{false, 10, {}}, {true, 0, u"TMAINFORM"}, 0x0409, 0, form};

    std::vector<ResourceText> texts;
    std::string sReason;
    std::vector<BYTE> data;
    if (!ListResourceTexts(entry, texts, sReason, &forms))
    {
        Check(texts.empty() && !sReason.empty());
        Check(TranslateResource(entry, {}, data, sReason, &forms) == 0 && data.empty());
        return 0;
    }
    Check(TranslateResource(entry, {}, data, sReason, &forms) == 1);
    Check(data == entry.data);

    std::map<std::string, std::string> translations;
    for (size_t i = 0; i < texts.size(); ++i)
        translations[texts[i].sContext] = NewText(texts[i].sText, i);
    ResourceEntry translated = entry;
    Check(TranslateResource(entry, translations, translated.data, sReason, &forms) == 1);
    std::vector<ResourceText> again;
    Check(ListResourceTexts(translated, again, sReason, &forms) == 1);
    Check(again.size() == texts.size());
    for (size_t i = 0; i < again.size(); ++i)
        Check(again[i].sContext == texts[i].sContext && again[i].sText == translations[texts[i].sContext]);
    Check(StructureOf(entry.data, entry, forms) == StructureOf(translated.data, entry, forms));
    return 0;
}
