// Resource texts on arbitrary data: listing and translating must stay inside
// the data and end; a resource that lists must translate, every text to one of
// another length, and list again with the same contexts and the new texts.
//
// Input: a byte choosing the type (menu, dialog, string table, version), a
// byte for the name (an id from 0 to 7), then the resource's data.
#include "image/resource_texts.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace
{
const WORD kTypes[] = {4, 5, 6, 16};

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// Longer than the source for even i; a short run of CJK for odd i.
std::string NewText(const std::string& sSource, size_t i)
{
    if (i % 2 == 0)
        return sSource + "译";
    std::string s;
    for (size_t k = 0; k <= i % 4; ++k)
        s += "文";
    return s;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    if (cb < 2 || cb > (1 << 16))
        return 0;
    ResourceEntry entry = {{false, kTypes[pData[0] % 4], {}},
                           {false, static_cast<WORD>(pData[1] % 8), {}},
                           0x0409,
                           0,
                           std::vector<BYTE>(pData + 2, pData + cb)};
    std::vector<ResourceText> texts;
    std::string sReason;
    std::vector<BYTE> data;
    if (!ListResourceTexts(entry, texts, sReason))
    {
        Check(texts.empty() && !sReason.empty());
        Check(TranslateResource(entry, {}, data, sReason) == 0 && data.empty());
        return 0;
    }
    Check(TranslateResource(entry, {}, data, sReason) == 1);

    std::map<std::string, std::string> translations;
    for (size_t i = 0; i < texts.size(); ++i)
        translations[texts[i].sContext] = NewText(texts[i].sText, i);
    ResourceEntry translated = entry;
    if (!TranslateResource(entry, translations, translated.data, sReason))
    {
        // Only a text grown past what its length field can count is refused.
        Check(translated.data.empty() && !sReason.empty());
        return 0;
    }
    std::vector<ResourceText> again;
    Check(ListResourceTexts(translated, again, sReason) == 1);
    Check(again.size() == texts.size());
    for (size_t i = 0; i < again.size(); ++i)
        Check(again[i].sContext == texts[i].sContext && again[i].sText == translations[texts[i].sContext]);
    return 0;
}
