#include "scan/check_report.h"

#include "rules/rule_set.h"

std::string MapLabelOf(const CImageMap& image, DWORD dw)
{
    if (!image.IsPe())
        return std::string();
    ImageByteInfo info = image.Lookup(dw);
    return info.psLabel != nullptr ? *info.psLabel : std::string();
}

bool OccurrenceInsideText(const DryRule& rule, const CImageMap& image, const BYTE* pBytes, DWORD cbBytes,
                          DWORD dw)
{
    return InsideLongerText(image, pBytes, cbBytes, dw, rule.cbEn, rule.unicode ? 2 : 1);
}

std::string RuleHeadText(const DryRule& rule)
{
    WCHAR wsNode[kKeyChars];
    FormatNode(wsNode, rule.number);
    return ToUtf8(WString(wsNode)) + (rule.unicode ? " UTF-16" : " ANSI") + (rule.repeat ? " REPEAT" : "") +
           (rule.x86 ? " X86" : "") + (rule.x64 ? " X64" : "") + "  EN=" + ShownText(rule.wsEn) + "\n";
}

std::string OffsetLinesText(const std::vector<DWORD>& offsets, UINT uTotal, const DryRule& rule,
                            const CImageMap& image, const BYTE* pBytes, DWORD cbBytes, std::string& sNotes)
{
    std::string s;
    for (DWORD dw : offsets)
    {
        std::string sRegion = image.RegionOf(dw);
        std::string sLabel = MapLabelOf(image, dw);
        s += "       " + HexOffset(dw) + (sRegion.empty() ? "" : "  " + sRegion) +
             (sLabel.empty() ? "" : "  " + sLabel) +
             (OccurrenceInsideText(rule, image, pBytes, cbBytes, dw) ? "  (inside a longer text)" : "") +
             "\n";
        std::string sNote = RegionNote(sRegion);
        if (!sNote.empty() && sNotes.find(sNote) == std::string::npos)
            sNotes += "     (!) " + HexOffset(dw) + " " + sNote + "\n";
    }
    if (uTotal > offsets.size())
        s += "       and " + std::to_string(uTotal - offsets.size()) + " more\n";
    return s;
}

std::string UnsafeText(const DryRule& rule, const CImageMap& image)
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
