#include "image/resource_names.h"

#include "port/utf8.h"

namespace
{
struct LangName
{
    WORD wLang;
    const char* szName;
};
const LangName kLangNames[] = {
    {0x0000, "neutral"}, {0x0400, "process default"}, {0x0800, "system default"}, {0x0401, "ar-SA"},
    {0x0402, "bg-BG"},   {0x0403, "ca-ES"},           {0x0404, "zh-TW"},          {0x0405, "cs-CZ"},
    {0x0406, "da-DK"},   {0x0407, "de-DE"},           {0x0408, "el-GR"},          {0x0409, "en-US"},
    {0x040A, "es-ES"},   {0x040B, "fi-FI"},           {0x040C, "fr-FR"},          {0x040D, "he-IL"},
    {0x040E, "hu-HU"},   {0x0410, "it-IT"},           {0x0411, "ja-JP"},          {0x0412, "ko-KR"},
    {0x0413, "nl-NL"},   {0x0414, "nb-NO"},           {0x0415, "pl-PL"},          {0x0416, "pt-BR"},
    {0x0418, "ro-RO"},   {0x0419, "ru-RU"},           {0x041A, "hr-HR"},          {0x041B, "sk-SK"},
    {0x041D, "sv-SE"},   {0x041E, "th-TH"},           {0x041F, "tr-TR"},          {0x0421, "id-ID"},
    {0x0422, "uk-UA"},   {0x0424, "sl-SI"},           {0x0425, "et-EE"},          {0x0426, "lv-LV"},
    {0x0427, "lt-LT"},   {0x042A, "vi-VN"},           {0x0804, "zh-CN"},          {0x0809, "en-GB"},
    {0x0816, "pt-PT"},   {0x0C04, "zh-HK"},           {0x0C0A, "es-ES"},          {0x1004, "zh-SG"},
};
// Languages without a country (SUBLANG_NEUTRAL), as many programs tag their resources.
const char* const kPrimaryNames[] = {
    nullptr, "ar", "bg", "ca", "zh", "cs", "da", "de", "el", "en", "es", "fi", "fr", "he", "hu", "is",
    "it",    "ja", "ko", "nl", "no", "pl", "pt", "rm", "ro", "ru", "hr", "sk", "sq", "sv", "th", "tr",
    "ur",    "id", "uk", "be", "sl", "et", "lv", "lt", "tg", "fa", "vi", "hy", "az", "eu"};

const char* const kTypeNames[] = {nullptr,  "CURSOR",       "BITMAP",       "ICON",  "MENU",
                                  "DIALOG", "STRINGTABLE",  "FONTDIR",      "FONT",  "ACCELERATORS",
                                  "RCDATA", "MESSAGETABLE", "GROUP_CURSOR", nullptr, "GROUP_ICON",
                                  nullptr,  "VERSIONINFO",  "DLGINCLUDE",   nullptr, "PLUGPLAY",
                                  "VXD",    "ANICURSOR",    "ANIICON",      "HTML",  "MANIFEST"};

} // namespace

std::string LanguageName(WORD wLang)
{
    for (const LangName& lang : kLangNames)
        if (lang.wLang == wLang)
            return lang.szName;
    if (wLang < sizeof(kPrimaryNames) / sizeof(kPrimaryNames[0]) && kPrimaryNames[wLang] != nullptr)
        return kPrimaryNames[wLang];
    return "lang " + HexNumber(wLang, 4);
}

std::string ResourceTypeName(WORD wType)
{
    if (wType < sizeof(kTypeNames) / sizeof(kTypeNames[0]) && kTypeNames[wType] != nullptr)
        return kTypeNames[wType];
    return "type " + std::to_string(wType);
}
