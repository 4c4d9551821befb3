// Prints the map of a PE image as JSON, for the comparison with independent
// readers (tests/image/map_oracle_test.py): sections, imports, exports, the
// resource tree and every resource text with its label.
//
//   pivra-image-dump IMAGE            the map
//   pivra-image-dump IMAGE OFFSET...  what each byte is
#include "image/image_map.h"
#include "image/image_resources.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

namespace
{
const char* const kKindNames[] = {"outside",      "header",     "section table", "code",
                                  "data",         "directory",  "import name",   "export name",
                                  "relocation",   "debug data", "resource data", "resource field",
                                  "resource text"};

std::string TextOf(const std::vector<BYTE>& bytes, const ImageText& text)
{
    CImageBytes view(bytes.data(), 0, static_cast<DWORD>(bytes.size()));
    if (text.fWide)
        return WideToUtf8(view, text.dwStart, text.cbText / 2, false);
    return std::string(bytes.begin() + text.dwStart, bytes.begin() + text.dwStart + text.cbText);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: pivra-image-dump IMAGE [OFFSET...]\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof())
        return 2;
    CImageMap map;
    int pe = map.Load(bytes.data(), static_cast<DWORD>(bytes.size()));
    using Json = nlohmann::ordered_json;
    Json out;
    if (argc > 2)
    {
        for (int i = 2; i < argc; ++i)
        {
            ImageByteInfo info = map.Lookup(static_cast<DWORD>(std::strtoul(argv[i], nullptr, 0)));
            Json item = {{"offset", argv[i]}, {"kind", kKindNames[info.kind]}, {"label", *info.psLabel}};
            if (info.pText != nullptr)
                item["text"] = {{"start", info.pText->dwStart},
                                {"bytes", info.pText->cbText},
                                {"terminated", info.pText->fTerminated}};
            out.push_back(item);
        }
        std::cout << out.dump(1, ' ', false, Json::error_handler_t::replace) << "\n";
        return 0;
    }
    out["pe"] = pe == 1;
    out["machine"] = map.Machine();
    out["pe64"] = map.Is64();
    out["headers_end"] = map.HeadersEnd();
    for (const ImageSection& s : map.Sections())
        out["sections"].push_back({{"name", s.sName},
                                   {"va", s.dwVirtualAddress},
                                   {"vsize", s.dwVirtualSize},
                                   {"raw_offset", s.dwRawOffset},
                                   {"raw_size", s.dwRawSize},
                                   {"code", s.fCode}});
    for (const ImageImport& import : map.Imports())
        out["imports"].push_back({{"dll", import.sDll}, {"functions", import.functions}});
    out["exports"] = map.ExportNames();
    for (const ImageResource& r : map.Resources())
        out["resources"].push_back({{"label", r.sType + " " + r.sName + " " + LanguageName(r.wLang)},
                                    {"type", r.sType},
                                    {"type_id", r.wTypeId},
                                    {"name", r.sName},
                                    {"lang", r.wLang},
                                    {"rva", r.dwRva},
                                    {"size", r.cb},
                                    {"offset", r.dwOffset == kNoImageOffset ? Json() : Json(r.dwOffset)}});
    for (const ImageSpan& span : map.Spans())
        if (span.fText)
            out["texts"].push_back({{"label", span.sLabel},
                                    {"start", span.text.dwStart},
                                    {"bytes", span.text.cbText},
                                    {"terminated", span.text.fTerminated},
                                    {"text", TextOf(bytes, span.text)}});
    out["spans"] = map.Spans().size();
    std::cout << out.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
    return 0;
}
