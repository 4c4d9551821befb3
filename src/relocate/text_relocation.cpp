#include "relocate/text_relocation.h"

#include "code/x86_decode.h"
#include "port/utf8.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <set>

const char kRelocationSection[] = ".pivra";

namespace
{
const DWORD kTextAlignment = 4; // every new text, and a length header before it
// Zeros behind a writable text are room its buffer may have, all of which the
// new text keeps; more than this is a buffer too large to copy.
const DWORD kMaxSlackBytes = 0x10000;
const DWORD kMaxLiteralLength = 0x10000000;

std::string Hex(DWORD dw)
{
    return HexNumber(dw, 1);
}

// "section+0x12", as the other reports name a place.
std::string Place(const PeHeaders& headers, DWORD dwRva)
{
    const int i = headers.SectionOfRva(dwRva);
    if (i < 0)
        return "RVA " + Hex(dwRva);
    return headers.sectionNames[i] + "+" + Hex(dwRva - headers.sections[i].dwVirtualAddress);
}

bool InResources(const PeHeaders& headers, DWORD dwRva)
{
    if (headers.directories.size() <= kPeResourceDirectory)
        return false;
    const PeDataDirectory& resources = headers.directories[kPeResourceDirectory];
    return resources.dwRva != 0 && dwRva - resources.dwRva < resources.cb;
}

bool Writable(const PeHeaders& headers, DWORD dwRva)
{
    const int i = headers.SectionOfRva(dwRva);
    return i >= 0 && (headers.sections[i].dwCharacteristics & kScnWrite) != 0;
}

bool Read32At(const PeHeaders& headers, DWORD dwAt, DWORD& dw)
{
    return headers.Bytes().Read32(dwAt, dw);
}

// What stands in front of the text: a Delphi literal's header of exactly
// its length (present), a header of a longer literal it only begins (then
// sReason), or nothing of the kind.
void ReadLengthHeader(const PeHeaders& headers, const RelocationRequest& request, DWORD dwAt,
                      LengthHeader& header, std::string& sReason)
{
    header = LengthHeader();
    DWORD dwCount = 0, dwLength = 0;
    if (dwAt < 8 || !Read32At(headers, dwAt - 8, dwCount) || !Read32At(headers, dwAt - 4, dwLength) ||
        dwCount != 0xFFFFFFFF || dwLength == 0 || dwLength > kMaxLiteralLength)
        return;
    const DWORD cbUnit = request.unicode ? 2 : 1;
    const DWORD cElements = static_cast<DWORD>(request.en.size()) / cbUnit;
    // A UTF-16 literal counts its length in units, or in bytes (WideString).
    header.lengthInBytes = request.unicode && dwLength == request.en.size();
    if (dwLength < cElements)
        return;
    if (dwLength > cElements && !header.lengthInBytes)
    {
        sReason = "it begins a length-prefixed string of " + std::to_string(dwLength) +
                  (request.unicode ? " units" : " bytes") +
                  " (a Delphi string literal), whose length would then be wrong: translate the whole string";
        return;
    }
    header.present = true;
    if (header.lengthInBytes)
        return; // no code page and element size before a byte count
    DWORD dwForm = 0;
    if (dwAt >= 12 && Read32At(headers, dwAt - 12, dwForm) && (dwForm >> 16) == cbUnit &&
        (dwForm & 0xFFFF) != 0)
    {
        header.codePage = true;
        header.wCodePage = static_cast<WORD>(dwForm & 0xFFFF);
        header.wElementSize = static_cast<WORD>(cbUnit);
    }
}

// The zero bytes behind a text in its section, up to one more than
// kMaxSlackBytes: a buffer's slack, which the program may fill. The loader
// fills the section's extent past its raw data with zeros, and a buffer may
// reach into that; the bytes of the file behind the raw data do not belong to it.
DWORD TrailingZeros(const PeHeaders& headers, DWORD dwEndRva)
{
    const int i = headers.SectionOfRva(dwEndRva - 1);
    if (i < 0)
        return 0;
    const PeSectionHeader& s = headers.sections[static_cast<size_t>(i)];
    const DWORD dwWithin = dwEndRva - s.dwVirtualAddress, cbVirtual = SectionVirtualSize(s);
    const DWORD cbRaw = std::min(headers.RawSize(static_cast<size_t>(i)), cbVirtual);
    const BYTE* pRaw = headers.pView + headers.RawOffset(static_cast<size_t>(i));
    DWORD cb = 0;
    while (cb <= kMaxSlackBytes && dwWithin + cb < cbVirtual &&
           (dwWithin + cb >= cbRaw || pRaw[dwWithin + cb] == 0))
        ++cb;
    return cb;
}

// Whether a zero unit follows EN, so that what points to EN names EN alone.
// Bytes past a section's raw data but inside its extent read as zero.
bool EndsText(const PeHeaders& headers, const RelocationRequest& request, DWORD dwRva)
{
    const DWORD cbUnit = request.unicode ? 2 : 1;
    const DWORD dwEnd = dwRva + static_cast<DWORD>(request.en.size());
    const int i = headers.SectionOfRva(dwEnd);
    if (i < 0 || headers.SectionOfRva(dwEnd + cbUnit - 1) != i)
        return false;
    for (DWORD k = 0; k < cbUnit; ++k)
    {
        DWORD dwOffset = 0, cbAvailable = 0;
        if (headers.RvaToOffset(dwEnd + k, dwOffset, cbAvailable) && headers.pView[dwOffset] != 0)
            return false;
    }
    return true;
}

std::string ReferenceText(const PeHeaders& headers, const TextReference& ref)
{
    return Place(headers, ref.dwSlotRva) + " (" + ReferenceKindName(ref.kind) + ")";
}

struct Planner
{
    const PeHeaders& headers;
    const CReferenceIndex& index;
    RelocationPlan& plan;
    std::set<DWORD> taken;              // slots an earlier rule points elsewhere now
    std::map<DWORD, DWORD> unexplained; // target -> a place holding its address unexplained
    bool writable = false;
};

// One occurrence: its references, or why it cannot be moved (sReason), or
// nothing pointing to it at all (no references, no reason). With REPEAT an
// occurrence nothing points to is passed over unjudged: it stays as it is
// (a copy in the resources, in debug data, inside a longer text). A refusal for
// references into the middle of EN names their slots in blocked.
void PlanText(Planner& planner, const RelocationRequest& request, DWORD dwAt, RelocatedText& text,
              LengthHeader& header, std::string& sReason, std::vector<DWORD>& blocked)
{
    const PeHeaders& headers = planner.headers;
    text.dwAt = dwAt;
    DWORD dwOffset = 0, cbAvailable = 0;
    if (!headers.OffsetToRva(dwAt, text.dwRva) || !headers.RvaToOffset(text.dwRva, dwOffset, cbAvailable) ||
        dwOffset != dwAt || cbAvailable < request.en.size())
    {
        if (!request.repeat)
            sReason = "EN at " + Hex(dwAt) + " lies outside the sections' mapped data, where nothing points";
        return;
    }
    std::vector<TextReference> refs;
    planner.index.Find(text.dwRva, text.dwRva + 1, refs);
    for (const TextReference& ref : refs)
        if (planner.taken.count(ref.dwSlotRva) == 0)
            text.references.push_back(ref);
    if (request.repeat && text.references.empty())
        return;
    if (InResources(headers, text.dwRva))
    {
        sReason = "EN at " + Place(headers, text.dwRva) +
                  " lies in the resources, which po apply translates at any length";
        return;
    }
    const DWORD cbEn = static_cast<DWORD>(request.en.size());
    std::vector<TextReference> inside;
    // Its terminator too: an end pointer (a loop's bound) would stay behind.
    planner.index.Find(text.dwRva + 1, text.dwRva + cbEn + (request.unicode ? 2 : 1), inside);
    // A reference another rule has moved points to that rule's text now.
    inside.erase(
        std::remove_if(inside.begin(), inside.end(),
                       [&](const TextReference& ref) { return planner.taken.count(ref.dwSlotRva) != 0; }),
        inside.end());
    if (!inside.empty())
    {
        for (const TextReference& ref : inside)
            blocked.push_back(ref.dwSlotRva);
        sReason = "a reference points into the middle of EN at " + Place(headers, text.dwRva) + ": +" +
                  std::to_string(inside[0].dwTargetRva - text.dwRva) + " from " +
                  ReferenceText(headers, inside[0]) +
                  " (a pointer past its start, or a shorter text kept as "
                  "its tail)";
        return;
    }
    ReadLengthHeader(headers, request, dwAt, header, sReason);
    if (!sReason.empty())
        return;
    if (!EndsText(headers, request, text.dwRva))
    {
        sReason = "EN at " + Place(headers, text.dwRva) +
                  " is only the beginning of a longer text (no zero follows it): what points there names the "
                  "whole text, which the new one would cut short; give the whole text as EN";
        return;
    }
    auto it = planner.unexplained.find(text.dwRva);
    if (it != planner.unexplained.end())
    {
        sReason = "the references were found by scanning, and the address of EN at " +
                  Place(headers, text.dwRva) + " also lies at " + Place(headers, it->second) +
                  ", where no instruction or aligned pointer holds it";
        return;
    }
    if (!text.references.empty() && Writable(headers, text.dwRva) &&
        TrailingZeros(headers, text.dwRva + cbEn) > kMaxSlackBytes)
    {
        text.references.clear();
        sReason = "EN at " + Place(headers, text.dwRva) + " is followed by more than " +
                  std::to_string(kMaxSlackBytes) +
                  " zero bytes of writable data: a buffer of unknown size, too large to copy";
    }
}

void PlanRule(Planner& planner, const RelocationRequest& request, RuleRelocation& rule,
              std::vector<DWORD>& blocked)
{
    const PeHeaders& headers = planner.headers;
    rule.uRule = request.uRule;
    if (request.en.empty() || request.occurrences.empty())
    {
        rule.sReason = "EN is not in the target";
        return;
    }
    if (request.en[0] == 0 && (!request.unicode || request.en.size() < 2 || request.en[1] == 0))
    {
        rule.sReason = "EN begins with a zero unit";
        return;
    }
    for (DWORD dwAt : request.occurrences)
    {
        RelocatedText text;
        LengthHeader header;
        std::string sReason;
        PlanText(planner, request, dwAt, text, header, sReason, blocked);
        if (!sReason.empty())
        {
            rule.sReason = sReason;
            rule.texts.clear();
            return;
        }
        if (text.references.empty())
        {
            rule.unreferenced.push_back(dwAt);
            continue;
        }
        if (header.present && !rule.header.present)
            rule.header = header;
        rule.texts.push_back(text);
    }
    if (rule.texts.empty())
    {
        const DWORD dwAt = request.occurrences[0];
        DWORD dwRva = 0;
        headers.OffsetToRva(dwAt, dwRva);
        rule.sReason = "no reference to EN at " + Place(headers, dwRva) + " was found" +
                       (planner.index.Scanned() ? " by scanning code and data" : "");
        for (size_t i = 0; i < headers.sections.size(); ++i)
            if (headers.sectionNames[i] == kRelocationSection)
            {
                rule.sReason += "; the image has a " + std::string(kRelocationSection) +
                                " section: an earlier run may have relocated it already";
                break;
            }
        rule.unreferenced.clear();
        return;
    }
    rule.relocated = true;
    for (const RelocatedText& text : rule.texts)
    {
        planner.writable = planner.writable || Writable(headers, text.dwRva);
        for (const TextReference& ref : text.references)
            planner.taken.insert(ref.dwSlotRva);
    }
}

// The rule's new text at the end of the data: header, CN, terminator, and
// for a text the program may write, at least the room the old one had.
void LayOut(const PeHeaders& headers, const RelocationRequest& request, RuleRelocation& rule,
            std::vector<BYTE>& data)
{
    const DWORD cbUnit = request.unicode ? 2 : 1;
    data.resize(static_cast<size_t>(AlignUp(data.size(), kTextAlignment)), 0);
    if (rule.header.present)
    {
        const DWORD cElements =
            static_cast<DWORD>(request.cn.size()) / (rule.header.lengthInBytes ? 1 : cbUnit);
        DWORD words[3] = {static_cast<DWORD>(rule.header.wCodePage) | static_cast<DWORD>(cbUnit) << 16,
                          0xFFFFFFFF, cElements};
        const BYTE* p = reinterpret_cast<const BYTE*>(rule.header.codePage ? words : words + 1);
        data.insert(data.end(), p, p + (rule.header.codePage ? 12 : 8));
    }
    rule.dwNewAt = static_cast<DWORD>(data.size());
    data.insert(data.end(), request.cn.begin(), request.cn.end());
    data.insert(data.end(), cbUnit, 0);
    rule.cbNew = static_cast<DWORD>(data.size()) - rule.dwNewAt;
    DWORD cbRoom = rule.cbNew;
    for (const RelocatedText& text : rule.texts)
        if (Writable(headers, text.dwRva))
        {
            const DWORD dwEnd = text.dwRva + static_cast<DWORD>(request.en.size());
            cbRoom = std::max(cbRoom, static_cast<DWORD>(request.en.size()) + TrailingZeros(headers, dwEnd));
        }
    data.resize(rule.dwNewAt + static_cast<size_t>(cbRoom), 0);
}

// Whether every reference can hold the new address: a RIP-relative one
// within 2 GB, a 32-bit slot of a 64-bit image below 4 GB.
bool Reachable(const PeHeaders& headers, const RuleRelocation& rule, std::string& sReason)
{
    for (const RelocatedText& text : rule.texts)
        for (const TextReference& ref : text.references)
        {
            const long long llDisp = static_cast<long long>(rule.dwNewRva) - (ref.dwInsnRva + ref.cbInsn);
            bool fits =
                ref.kind == kRefRipRelative
                    ? llDisp >= std::numeric_limits<int>::min() && llDisp <= std::numeric_limits<int>::max()
                    : ref.cbSlot == 8 || headers.ullImageBase + rule.dwNewRva <= 0xFFFFFFFFull;
            if (!fits)
            {
                sReason = "the reference at " + ReferenceText(headers, ref) + " cannot reach the new section";
                return false;
            }
        }
    return true;
}
// The lengths code may hold for EN: its bytes, with the terminator, its
// units, and the dwords or qwords an inlined copy moves. Small numbers are everywhere
// and tell nothing.
std::vector<long long> LengthsOf(const RelocationRequest& request, bool fCounts, long long llAtLeast)
{
    const long long cb = static_cast<long long>(request.en.size()), cbUnit = request.unicode ? 2 : 1;
    std::vector<long long> lengths = {cb, cb + cbUnit};
    if (request.unicode)
        lengths.insert(lengths.end(), {cb / 2, cb / 2 + 1});
    if (fCounts)
        lengths.insert(lengths.end(), {(cb + cbUnit) / 4, (cb + cbUnit + 3) / 4, (cb + cbUnit) / 8});
    lengths.erase(std::remove_if(lengths.begin(), lengths.end(), [&](long long n) { return n < llAtLeast; }),
                  lengths.end());
    return lengths;
}

// Whether the instruction moves or pushes its immediate (mov r, imm; mov
// r/m, imm; push imm): how code passes a count on, where arithmetic and masks
// hold numbers of any kind.
bool LoadsImmediate(const BYTE* p, const X86Instruction& insn, bool f64)
{
    BYTE i = 0;
    while (i < insn.cb &&
           (p[i] == 0x66 || p[i] == 0x67 || p[i] == 0xF2 || p[i] == 0xF3 || (f64 && (p[i] & 0xF0) == 0x40)))
        ++i;
    if (i >= insn.cb)
        return false;
    const BYTE op = p[i];
    return (op >= 0xB8 && op <= 0xBF) || op == 0xC7 || op == 0xC6 || op == 0x68 || op == 0x6A;
}

// Whether a displacement is taken from the stack pointer or the frame
// pointer: a local or an argument slot, whose offset is no text's length.
// The byte before the displacement is the SIB when the ModRM before it names
// one (rm 100), else the ModRM itself.
bool StackSlot(const BYTE* p, const X86Instruction& insn)
{
    if (insn.dispAt < 1)
        return false;
    const BYTE before = p[insn.dispAt - 1];
    const bool fSib = insn.dispAt >= 2 && (p[insn.dispAt - 2] & 0x07) == 0x04 &&
                      (p[insn.dispAt - 2] & 0xC0) != 0xC0 && (p[insn.dispAt - 2] & 0xC0) != 0x00;
    const BYTE base = static_cast<BYTE>(before & 0x07);
    return fSib ? base == 4 || base == 5 : (before & 0xC0) != 0 && (base == 4 || base == 5);
}

const DWORD kLengthLookBehind = 32; // bytes before the reference where the decode starts
const int kLengthLookAhead = 8;     // instructions after it

// Decodes the code around a reference, from a start that runs into the
// reference's instruction, and names each immediate equal to one of EN's
// lengths.
void CheckLengths(const PeHeaders& headers, const RelocationRequest& request, const TextReference& ref,
                  std::vector<std::string>& warnings)
{
    DWORD dwInsn = 0, cbAvailable = 0;
    if (ref.cbInsn == 0 || !headers.RvaToOffset(ref.dwInsnRva, dwInsn, cbAvailable))
        return;
    const int iSection = headers.SectionOfRva(ref.dwInsnRva);
    if (iSection < 0)
        return;
    const DWORD dwSectionStart = headers.sections[iSection].dwVirtualAddress;
    const DWORD cbBack = std::min(kLengthLookBehind, ref.dwInsnRva - dwSectionStart);
    // Immediates are counts; displacements under 16 are mostly stack slots.
    const std::vector<long long> counts = LengthsOf(request, true, 8), ends = LengthsOf(request, false, 16);
    for (DWORD dwFrom = ref.dwInsnRva - cbBack; dwFrom <= ref.dwInsnRva; ++dwFrom)
    {
        DWORD dwOffset = dwInsn - (ref.dwInsnRva - dwFrom);
        const DWORD cbEnd = cbAvailable + (ref.dwInsnRva - dwFrom);
        std::vector<std::pair<DWORD, X86Instruction>> decoded;
        bool fReached = false;
        int cAfter = 0;
        for (DWORD dw = 0; dw < cbEnd && cAfter < kLengthLookAhead;)
        {
            X86Instruction insn;
            if (!DecodeX86(headers.pView + dwOffset + dw, cbEnd - dw, headers.f64, insn))
                break;
            decoded.push_back({dw, insn});
            fReached = fReached || dwFrom + dw == ref.dwInsnRva;
            cAfter += fReached ? 1 : 0;
            dw += insn.cb;
            if (!fReached && dwFrom + dw > ref.dwInsnRva)
                break;
        }
        if (!fReached)
            continue;
        for (const auto& at : decoded)
        {
            const X86Instruction& insn = at.second;
            const BYTE* p = headers.pView + dwOffset + at.first;
            // An immediate (a count), or a displacement from a register (an end pointer).
            std::vector<long long> values;
            if (insn.cbImm != 0 && !insn.relBranch && LoadsImmediate(p, insn, headers.f64))
            {
                const long long value = X86FieldValue(p + insn.immAt, insn.cbImm);
                if (std::find(counts.begin(), counts.end(), value) != counts.end())
                    values.push_back(value);
            }
            if (insn.cbDisp != 0 && !insn.ripRelative && !insn.moffs && !StackSlot(p, insn))
            {
                const long long value = X86FieldValue(p + insn.dispAt, insn.cbDisp);
                if (std::find(ends.begin(), ends.end(), value) != ends.end())
                    values.push_back(value);
            }
            for (long long value : values)
                warnings.push_back("the instruction at " + Place(headers, dwFrom + at.first) + " (" +
                                   FormatInstructionBytes(p, insn.cb) + ") beside the reference at " +
                                   Place(headers, ref.dwSlotRva) + " holds " + std::to_string(value) +
                                   ", a length of EN: the program may copy or write only that much of the "
                                   "new text");
        }
        return;
    }
}
} // namespace

UINT RelocationPlan::Relocated() const
{
    UINT n = 0;
    for (const RuleRelocation& rule : rules)
        n += rule.relocated ? 1 : 0;
    return n;
}

void PlanRelocations(const PeHeaders& headers, const CReferenceIndex& index,
                     const std::vector<RelocationRequest>& requests, RelocationPlan& plan)
{
    plan = RelocationPlan();
    plan.scanned = index.Scanned();
    plan.pe64 = index.Pe64();
    plan.uFunctions = index.Functions();
    Planner planner = {headers, index, plan, {}, {}, false};
    if (index.Scanned())
    {
        std::vector<DWORD> targets;
        for (const RelocationRequest& request : requests)
            for (DWORD dwAt : request.occurrences)
            {
                DWORD dwRva = 0;
                if (headers.OffsetToRva(dwAt, dwRva))
                    targets.push_back(dwRva);
            }
        std::sort(targets.begin(), targets.end());
        std::vector<std::pair<DWORD, DWORD>> found;
        index.Unexplained(headers, targets, found);
        for (const auto& at : found)
            planner.unexplained.emplace(at.first, at.second);
    }
    plan.rules.resize(requests.size());
    std::vector<std::vector<DWORD>> blocked(requests.size());
    for (size_t i = 0; i < requests.size(); ++i)
        PlanRule(planner, requests[i], plan.rules[i], blocked[i]);
    // A pointer into the middle of one EN can be the start of another EN that
    // a later rule moves; once every such pointer is moved the first rule is
    // planned again, so the run does what a second run over its result would.
    for (bool fAgain = true; fAgain;)
    {
        fAgain = false;
        for (size_t i = 0; i < requests.size(); ++i)
        {
            if (blocked[i].empty() || !std::all_of(blocked[i].begin(), blocked[i].end(),
                                                   [&](DWORD dw) { return planner.taken.count(dw) != 0; }))
                continue;
            plan.rules[i] = RuleRelocation();
            blocked[i].clear();
            PlanRule(planner, requests[i], plan.rules[i], blocked[i]);
            fAgain = fAgain || plan.rules[i].relocated;
        }
    }
    for (size_t i = 0; i < requests.size(); ++i)
        if (plan.rules[i].relocated)
            LayOut(headers, requests[i], plan.rules[i], plan.data);
    if (plan.data.empty())
        return;
    plan.dwCharacteristics = kScnInitializedData | kScnRead | (planner.writable ? kScnWrite : 0);
    std::string sReason;
    if (!PlanNewSection(headers, static_cast<DWORD>(plan.data.size()), "text section", plan.section,
                        plan.warnings, sReason))
    {
        for (RuleRelocation& rule : plan.rules)
            if (rule.relocated)
            {
                rule.relocated = false;
                rule.sReason = "the image cannot take a new section: " + sReason;
                rule.texts.clear();
            }
        plan.data.clear();
        plan.warnings.clear();
        return;
    }
    for (RuleRelocation& rule : plan.rules)
    {
        if (!rule.relocated)
            continue;
        rule.dwNewRva = plan.section.dwRva + rule.dwNewAt;
        if (!Reachable(headers, rule, rule.sReason))
        {
            rule.relocated = false;
            rule.texts.clear();
            continue;
        }
        const RelocationRequest& request = requests[static_cast<size_t>(&rule - plan.rules.data())];
        for (const RelocatedText& text : rule.texts)
            for (const TextReference& ref : text.references)
                CheckLengths(headers, request, ref, rule.warnings);
    }
}

void WriteRelocations(const PeHeaders& headers, const RelocationPlan& plan, std::vector<BYTE>& image)
{
    if (plan.Relocated() == 0)
        return;
    for (const RuleRelocation& rule : plan.rules)
    {
        if (!rule.relocated)
            continue;
        for (const RelocatedText& text : rule.texts)
            for (const TextReference& ref : text.references)
            {
                DWORD dwSlot = 0, cbAvailable = 0;
                if (!headers.RvaToOffset(ref.dwSlotRva, dwSlot, cbAvailable) || cbAvailable < ref.cbSlot)
                    continue; // the index keeps only slots the file holds
                unsigned long long ullValue =
                    ref.kind == kRefRipRelative
                        ? static_cast<unsigned long long>(static_cast<long long>(rule.dwNewRva) -
                                                          (ref.dwInsnRva + ref.cbInsn))
                        : headers.ullImageBase + rule.dwNewRva;
                std::memcpy(&image[dwSlot], &ullValue, ref.cbSlot);
            }
    }
    WriteNewSection(headers, plan.section, kRelocationSection, plan.dwCharacteristics, plan.data, image);
}
