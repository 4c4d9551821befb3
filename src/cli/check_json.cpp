#include "cli/check_json.h"

Json OffsetsJson(const std::vector<DWORD>& offsets, const DryRule& rule, const CImageMap& image,
                 const BYTE* pBytes, DWORD cbBytes)
{
    Json list = Json::array();
    for (DWORD dw : offsets)
        list.push_back({{"offset", dw},
                        {"section", image.IsPe() ? Json(image.RegionOf(dw)) : Json()},
                        {"label", image.IsPe() ? Json(MapLabelOf(image, dw)) : Json()},
                        {"insideLongerText", OccurrenceInsideText(rule, image, pBytes, cbBytes, dw)}});
    return list;
}

Json UnsafeJson(const DryRule& rule, const CImageMap& image)
{
    Json list = Json::array();
    for (const UnsafeWrite& write : rule.unsafe)
        list.push_back({{"offset", write.dwAt},
                        {"section", image.IsPe() ? Json(image.RegionOf(write.dwAt)) : Json()},
                        {"faultOffset", write.dwFault},
                        {"label", MapLabelOf(image, write.dwFault)},
                        {"reason", write.sReason}});
    return list;
}
