#include "cli/relocation_report.h"

#include "code/x86_decode.h"

namespace
{
std::string Hex(DWORD dw)
{
    return HexNumber(dw, 1);
}

std::string Place(const PeHeaders& headers, DWORD dwRva)
{
    const int i = headers.SectionOfRva(dwRva);
    return i < 0 ? "RVA " + Hex(dwRva)
                 : headers.sectionNames[i] + "+" + Hex(dwRva - headers.sections[i].dwVirtualAddress);
}

DWORD OffsetOf(const PeHeaders& headers, DWORD dwRva)
{
    DWORD dwOffset = 0, cbAvailable = 0;
    return headers.RvaToOffset(dwRva, dwOffset, cbAvailable) ? dwOffset : 0;
}

// The instruction's bytes as the target holds them, "" for a data slot.
std::string Instruction(const PeHeaders& headers, const TextReference& ref)
{
    DWORD dwOffset = 0, cbAvailable = 0;
    if (ref.cbInsn == 0 || !headers.RvaToOffset(ref.dwInsnRva, dwOffset, cbAvailable) ||
        cbAvailable < ref.cbInsn)
        return "";
    return FormatInstructionBytes(headers.pView + dwOffset, ref.cbInsn);
}

std::string NewPlace(const RelocationPlan& plan, const RuleRelocation& rule)
{
    return std::string(kRelocationSection) + "+" + Hex(rule.dwNewAt) + " (offset " +
           HexOffset(plan.section.dwRawOffset + rule.dwNewAt) + ")";
}

std::string Count(size_t n, const char* szOne, const char* szMany)
{
    return std::to_string(n) + " " + (n == 1 ? szOne : szMany);
}
} // namespace

std::string RelocationSummary(const RuleRelocation& rule)
{
    if (!rule.relocated)
        return "cannot be relocated: " + rule.sReason;
    size_t cRefs = 0;
    for (const RelocatedText& text : rule.texts)
        cRefs += text.references.size();
    return "relocated to " + std::string(kRelocationSection) + "+" + Hex(rule.dwNewAt) + ", " +
           Count(cRefs, "reference", "references") + " moved" +
           (rule.header.present ? ", with a new length header" : "");
}

std::string RelocationScopeText(const RelocationPlan& plan, const char* szIndent)
{
    if (plan.Relocated() == 0)
        return "";
    std::string s;
    if (plan.scanned)
        s += std::string(szIndent) +
             "the image has no base relocations: the references were found by scanning code and data\n";
    if (plan.pe64)
        s += std::string(szIndent) + "64-bit code decoded from " +
             Count(plan.uFunctions, "function start", "function starts") +
             " (the exception directory, the entry point, the exports and the calls between them); code "
             "reached only through pointers outside them is not searched\n";
    return s;
}

std::string RelocationText(const PeHeaders& headers, const RelocationPlan& plan, const RuleRelocation& rule)
{
    if (!rule.relocated)
        return "     cannot be relocated: " + rule.sReason + "\n";
    std::string s = "     relocated: the new text goes to " + NewPlace(plan, rule) + ", " +
                    Count(rule.cbNew, "byte", "bytes") + "\n";
    if (rule.header.present)
        s += std::string("     EN is a Delphi string literal: the new text gets a new ") +
             (rule.header.codePage ? "code page, element size, " : "") + "reference count and length\n";
    for (const RelocatedText& text : rule.texts)
    {
        s += "     EN at " + HexOffset(text.dwAt) + "  " + Place(headers, text.dwRva) + ", " +
             Count(text.references.size(), "reference", "references") + " moved:\n";
        for (const TextReference& ref : text.references)
        {
            const std::string sInsn = Instruction(headers, ref);
            s += "       " + HexOffset(OffsetOf(headers, ref.dwSlotRva)) + "  " +
                 Place(headers, ref.dwSlotRva) + "  " + ReferenceKindName(ref.kind) +
                 (sInsn.empty() ? "" : "  " + sInsn) + "\n";
        }
    }
    for (const std::string& sWarning : rule.warnings)
        s += "     warning: " + sWarning + "\n";
    for (DWORD dwAt : rule.unreferenced)
        s += "     EN at " + HexOffset(dwAt) + " stays as it is: nothing points to it\n";
    return s;
}

Json RelocationJson(const PeHeaders& headers, const RelocationPlan& plan, const RuleRelocation& rule)
{
    if (!rule.relocated)
        return {{"relocated", false}, {"reason", rule.sReason}};
    Json texts = Json::array();
    for (const RelocatedText& text : rule.texts)
    {
        Json refs = Json::array();
        for (const TextReference& ref : text.references)
        {
            const std::string sInsn = Instruction(headers, ref);
            refs.push_back({{"offset", OffsetOf(headers, ref.dwSlotRva)},
                            {"rva", ref.dwSlotRva},
                            {"place", Place(headers, ref.dwSlotRva)},
                            {"kind", ReferenceKindName(ref.kind)},
                            {"instruction", sInsn.empty() ? Json() : Json(sInsn)}});
        }
        texts.push_back({{"offset", text.dwAt},
                         {"rva", text.dwRva},
                         {"place", Place(headers, text.dwRva)},
                         {"references", refs}});
    }
    return {{"relocated", true},
            {"section", std::string(kRelocationSection)},
            {"rva", rule.dwNewRva},
            {"offset", plan.section.dwRawOffset + rule.dwNewAt},
            {"bytes", rule.cbNew},
            {"lengthHeader", rule.header.present},
            {"scanned", plan.scanned},
            {"texts", texts},
            {"unreferenced", rule.unreferenced},
            {"warnings", rule.warnings}};
}
