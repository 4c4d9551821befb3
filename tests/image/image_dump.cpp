// Prints the map of a PE image as JSON, for the comparison with independent
// readers (tests/image/map_oracle_test.py): sections, imports, exports, the
// resource tree and every resource text with its label.
//
//   pivra-image-dump IMAGE                  the map
//   pivra-image-dump IMAGE OFFSET...        what each byte is
//   pivra-image-dump --spans IMAGE          every span of the map, one a line
//   pivra-image-dump --rebuild OUT IMAGE    the image with its resource section
//                                           written again from its own entries
#include "image/image_map.h"
#include "image/image_rebuild.h"
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

// Exit status 0 with OUT written, 1 when the image was refused (the reason on
// stderr), 2 when a file could not be read or written.
int Rebuild(const std::vector<BYTE>& bytes, const char* szOut)
{
    std::vector<ResourceEntry> entries;
    std::string sReason;
    RebuildResult result;
    DWORD dwSize = static_cast<DWORD>(bytes.size());
    PeHeaders headers;
    if (!headers.Read(bytes.data(), dwSize, sReason) || !ReadResourceEntries(headers, entries, sReason) ||
        !RebuildResources(headers, entries, result))
    {
        std::fprintf(stderr, "refused: %s\n", sReason.empty() ? result.sReason.c_str() : sReason.c_str());
        return 1;
    }
    for (const std::string& sWarning : result.warnings)
        std::fprintf(stderr, "warning: %s\n", sWarning.c_str());
    std::ofstream out(szOut, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(result.image.data()),
              static_cast<std::streamsize>(result.image.size()));
    out.close();
    return out.good() ? 0 : 2;
}
} // namespace

int main(int argc, char** argv)
{
    const char* szOut = nullptr;
    bool fSpans = argc == 3 && std::string(argv[1]) == "--spans";
    if (fSpans)
    {
        ++argv;
        --argc;
    }
    if (argc >= 4 && std::string(argv[1]) == "--rebuild")
    {
        szOut = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc < 2 || (szOut != nullptr && argc != 2))
    {
        std::fprintf(stderr, "usage: pivra-image-dump IMAGE [OFFSET...]\n"
                             "       pivra-image-dump --spans IMAGE\n"
                             "       pivra-image-dump --rebuild OUT IMAGE\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof())
        return 2;
    if (szOut != nullptr)
        return Rebuild(bytes, szOut);
    CImageMap map;
    int pe = map.Load(bytes.data(), static_cast<DWORD>(bytes.size()));
    using Json = nlohmann::ordered_json;
    Json out;
    if (fSpans)
    {
        for (const ImageSpan& span : map.Spans())
            std::cout << span.dwStart << ' ' << span.dwEnd << ' ' << kKindNames[span.kind] << ' '
                      << (!span.fText             ? ""
                          : span.text.fTerminated ? "text-terminated "
                                                  : "text-counted ")
                      << (span.fText && !span.text.fWide ? "ansi " : "")
                      << Json(span.sLabel).dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
        return 0;
    }
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
