#include "cli/check_report.h"

#include "rules/rule_set.h"

namespace
{
std::string LabelOf(const PeImage& image, DWORD dw)
{
    if (!image.pe)
        return std::string();
    ImageByteInfo info = image.map.Lookup(dw);
    return info.psLabel != nullptr ? *info.psLabel : std::string();
}

bool Inside(const DryRule& rule, const PeImage& image, const BYTE* pBytes, DWORD cbBytes, DWORD dw)
{
    return InsideLongerText(image.map, pBytes, cbBytes, dw, rule.cbEn, rule.unicode ? 2 : 1);
}
} // namespace

std::string RuleHeadText(const DryRule& rule)
{
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, rule.number);
    return ToUtf8(WString(wsNode)) + (rule.unicode ? " UTF-16" : " ANSI") + (rule.repeat ? " REPEAT" : "") +
           (rule.x86 ? " X86" : "") + (rule.x64 ? " X64" : "") + "  EN=" + ShownText(rule.wsEn) + "\n";
}

std::string OffsetLinesText(const std::vector<DWORD>& offsets, UINT uTotal, const DryRule& rule,
                            const PeImage& image, const BYTE* pBytes, DWORD cbBytes, std::string& sNotes)
{
    std::string s;
    for (DWORD dw : offsets)
    {
        std::string sRegion = image.RegionOf(dw);
        std::string sLabel = LabelOf(image, dw);
        s += "       " + HexOffset(dw) + (sRegion.empty() ? "" : "  " + sRegion) +
             (sLabel.empty() ? "" : "  " + sLabel) +
             (Inside(rule, image, pBytes, cbBytes, dw) ? "  (inside a longer text)" : "") + "\n";
        std::string sNote = RegionNote(sRegion);
        if (!sNote.empty() && sNotes.find(sNote) == std::string::npos)
            sNotes += "     (!) " + HexOffset(dw) + " " + sNote + "\n";
    }
    if (uTotal > offsets.size())
        s += "       and " + std::to_string(uTotal - offsets.size()) + " more\n";
    return s;
}

Json OffsetsJson(const std::vector<DWORD>& offsets, const DryRule& rule, const PeImage& image,
                 const BYTE* pBytes, DWORD cbBytes)
{
    Json list = Json::array();
    for (DWORD dw : offsets)
        list.push_back({{"offset", dw},
                        {"section", image.pe ? Json(image.RegionOf(dw)) : Json()},
                        {"label", image.pe ? Json(LabelOf(image, dw)) : Json()},
                        {"insideLongerText", Inside(rule, image, pBytes, cbBytes, dw)}});
    return list;
}

std::string UnsafeText(const DryRule& rule, const PeImage& image)
{
    std::string s;
    for (const UnsafeWrite& write : rule.unsafe)
    {
        std::string sRegion = image.RegionOf(write.dwAt);
        s += "     (X) the write at " + HexOffset(write.dwAt) + (sRegion.empty() ? "" : " " + sRegion) +
             " would break the image" +
             (write.dwFault != write.dwAt ? " (at " + HexOffset(write.dwFault) + ")" : "") + ": " +
             write.sReason + "\n";
    }
    return s;
}

Json UnsafeJson(const DryRule& rule, const PeImage& image)
{
    Json list = Json::array();
    for (const UnsafeWrite& write : rule.unsafe)
        list.push_back({{"offset", write.dwAt},
                        {"section", image.pe ? Json(image.RegionOf(write.dwAt)) : Json()},
                        {"faultOffset", write.dwFault},
                        {"label", LabelOf(image, write.dwFault)},
                        {"reason", write.sReason}});
    return list;
}
