#include "code/code_references.h"

#include <algorithm>
#include <iterator>
#include <map>

namespace
{
const UINT kPeExceptionDirectory = 3;
const DWORD kRuntimeFunctionBytes = 12;
const DWORD kScnCntCode = 0x00000020;
const DWORD kScnMemExecute = 0x20000000;
const DWORD kOptImageBase32 = 28;
const DWORD kOptImageBase64 = 24;

struct Range
{
    DWORD dwBegin, dwEnd;
};

// The executable sections' virtual extents, by address, with the file bytes
// behind each: every decode is bounded by both.
class CCodeSpace
{
  public:
    explicit CCodeSpace(const PeHeaders& headers) : m_headers(headers)
    {
        for (const PeSectionHeader& s : headers.sections)
        {
            DWORD cb = SectionVirtualSize(s);
            if ((s.dwCharacteristics & (kScnCntCode | kScnMemExecute)) && cb != 0 &&
                s.dwVirtualAddress <= ~cb)
                m_ranges.push_back({s.dwVirtualAddress, s.dwVirtualAddress + cb});
        }
        std::sort(m_ranges.begin(), m_ranges.end(),
                  [](const Range& a, const Range& b) { return a.dwBegin < b.dwBegin; });
    }

    const std::vector<Range>& Ranges() const { return m_ranges; }

    // The executable extent holding the RVA, or nullptr.
    const Range* Find(DWORD dwRva) const
    {
        auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), dwRva,
                                   [](DWORD dw, const Range& r) { return dw < r.dwBegin; });
        while (it != m_ranges.begin())
        {
            --it;
            if (dwRva < it->dwEnd)
                return &*it;
            // Overlapping extents only in malformed images: one look back is enough there.
            break;
        }
        return nullptr;
    }

    // The file bytes from the RVA to the end of its executable extent, or
    // nullptr when the file holds none.
    const BYTE* Bytes(DWORD dwRva, DWORD& cb) const
    {
        const Range* pRange = Find(dwRva);
        DWORD dwOffset = 0;
        if (pRange == nullptr || !m_headers.RvaToOffset(dwRva, dwOffset, cb) || cb == 0)
            return nullptr;
        cb = std::min(cb, pRange->dwEnd - dwRva);
        return m_headers.pView + dwOffset;
    }

  private:
    const PeHeaders& m_headers;
    std::vector<Range> m_ranges;
};

struct Start
{
    DWORD dwRva;
    DWORD dwEnd; // 0: runs until its flow ends
};

bool EndsFlow(const BYTE* p, const X86Instruction& insn)
{
    size_t iOp = 0;
    while (iOp < insn.cb && (p[iOp] == 0x66 || p[iOp] == 0x67 || p[iOp] == 0xF2 || p[iOp] == 0xF3 ||
                             p[iOp] == 0x2E || p[iOp] == 0x3E || (p[iOp] & 0xF0) == 0x40))
        ++iOp;
    if (iOp >= insn.cb)
        return false;
    BYTE op = p[iOp];
    if (op == 0xC3 || op == 0xC2 || op == 0xCB || op == 0xCA || op == 0xE9 || op == 0xEB)
        return true;
    if (op == 0xFF && iOp + 1 < insn.cb)
    {
        BYTE reg = (p[iOp + 1] >> 3) & 7;
        return reg == 4 || reg == 5;
    }
    return false;
}

// A direct call or jump's target, for the 64-bit walk to decode too.
bool DirectTarget(DWORD dwRva, const BYTE* p, const X86Instruction& insn, DWORD& dwTarget)
{
    if (!insn.relBranch || insn.cbImm != 4)
        return false;
    BYTE op = p[insn.immAt - 1];
    if (op != 0xE8 && op != 0xE9)
        return false;
    dwTarget = dwRva + insn.cb + static_cast<DWORD>(X86FieldValue(p + insn.immAt, 4));
    return true;
}

class CWalk64
{
  public:
    CWalk64(const PeHeaders& headers, ICodeVisitor& visitor, CodeScan& scan)
        : m_headers(headers), m_space(headers), m_visitor(visitor), m_scan(scan)
    {
    }

    void Run()
    {
        std::vector<Start> starts;
        ReadFunctionTable(starts);
        m_scan.fromFunctionTable = !starts.empty();
        AddUnbounded(starts, m_headers.dwEntryPoint);
        ReadExports(starts);
        std::sort(starts.begin(), starts.end(), [](const Start& x, const Start& y) {
            return x.dwRva < y.dwRva || (x.dwRva == y.dwRva && x.dwEnd > y.dwEnd);
        });
        for (size_t i = 0; i < starts.size(); ++i)
        {
            if ((i > 0 && starts[i].dwRva == starts[i - 1].dwRva) || Covered(starts[i].dwRva))
                continue;
            size_t iNext = i + 1;
            while (iNext < starts.size() && starts[iNext].dwRva == starts[i].dwRva)
                ++iNext;
            Decode(starts[i], iNext < starts.size() ? starts[iNext].dwRva : 0);
        }
        // Then what those functions call or jump to, and what that reaches, each once.
        while (!m_targets.empty())
        {
            DWORD dwTarget = m_targets.back();
            m_targets.pop_back();
            if (!Covered(dwTarget))
                Decode({dwTarget, 0}, 0);
        }
    }

  private:
    void ReadFunctionTable(std::vector<Start>& starts)
    {
        DWORD dwOffset = 0, cb = 0;
        if (!m_headers.DirectoryInFile(kPeExceptionDirectory, dwOffset, cb))
            return;
        CImageBytes bytes = m_headers.Bytes();
        for (DWORD dw = 0; dw + kRuntimeFunctionBytes <= cb; dw += kRuntimeFunctionBytes)
        {
            DWORD dwBegin = 0, dwEnd = 0;
            if (!bytes.Read32(dwOffset + dw, dwBegin) || !bytes.Read32(dwOffset + dw + 4, dwEnd))
                break;
            const Range* pRange = m_space.Find(dwBegin);
            if (pRange == nullptr || dwEnd <= dwBegin || dwEnd > pRange->dwEnd)
                continue;
            starts.push_back({dwBegin, dwEnd});
        }
    }

    void AddUnbounded(std::vector<Start>& starts, DWORD dwRva)
    {
        if (m_space.Find(dwRva) != nullptr)
            starts.push_back({dwRva, 0});
    }

    void ReadExports(std::vector<Start>& starts)
    {
        DWORD dwOffset = 0, cb = 0;
        PeExportDirectory dir = {};
        CImageBytes bytes = m_headers.Bytes();
        if (!m_headers.DirectoryInFile(kPeExportDirectory, dwOffset, cb) || cb < sizeof(dir) ||
            !bytes.ReadStruct(dwOffset, dir))
            return;
        DWORD dwTable = 0, cbTable = 0;
        if (!m_headers.RvaToOffset(dir.dwFunctions, dwTable, cbTable))
            return;
        DWORD cFunctions = std::min(dir.cFunctions, cbTable / 4);
        for (DWORD i = 0; i < cFunctions; ++i)
        {
            DWORD dwRva = 0;
            if (!bytes.Read32(dwTable + 4 * i, dwRva))
                break;
            AddUnbounded(starts, dwRva);
        }
    }

    // Whether a function decoded so far holds the RVA.
    bool Covered(DWORD dwRva) const
    {
        auto it = m_covered.upper_bound(dwRva);
        return it != m_covered.begin() && dwRva < std::prev(it)->second;
    }

    // Decodes from the start to its end, or for an open start until its flow
    // ends or the next start; dwNext 0 when none follows.
    void Decode(const Start& start, DWORD dwNext)
    {
        DWORD cbAvail = 0;
        const BYTE* p = m_space.Bytes(start.dwRva, cbAvail);
        DWORD cbLimit = cbAvail;
        if (start.dwEnd != 0)
            cbLimit = std::min(cbLimit, start.dwEnd - start.dwRva);
        else if (dwNext > start.dwRva)
            cbLimit = std::min(cbLimit, dwNext - start.dwRva);
        // A function decoded before, ahead of this start, ends it too.
        auto it = m_covered.upper_bound(start.dwRva);
        if (it != m_covered.end())
            cbLimit = std::min(cbLimit, it->first - start.dwRva);
        ++m_scan.uFunctions;
        m_visitor.OnFunction(start.dwRva);
        DWORD dw = 0;
        DWORD dwReach = 0; // the furthest forward branch target inside the function, as an offset
        while (dw < cbLimit)
        {
            X86Instruction insn;
            if (!DecodeX86(p + dw, cbAvail - dw, true, insn))
            {
                // A listed range is code throughout: step over the byte. An
                // open start has lost its way.
                ++m_scan.uUndecodable;
                m_visitor.OnUndecodable(start.dwRva + dw, p + dw, cbAvail - dw);
                ++dw;
                if (start.dwEnd == 0)
                    break;
                continue;
            }
            DWORD dwRva = start.dwRva + dw;
            ++m_scan.uInstructions;
            m_visitor.OnInstruction(dwRva, p + dw, insn);
            dw += insn.cb;
            DWORD dwTarget = 0;
            if (insn.relBranch)
            {
                dwTarget = dwRva + insn.cb +
                           static_cast<DWORD>(X86FieldValue(p + dw - insn.cb + insn.immAt, insn.cbImm));
                if (dwTarget - start.dwRva > dw && dwTarget - start.dwRva < cbLimit)
                    dwReach = std::max(dwReach, dwTarget - start.dwRva);
            }
            if (DirectTarget(dwRva, p + dw - insn.cb, insn, dwTarget) && m_space.Find(dwTarget) != nullptr)
                m_targets.push_back(dwTarget);
            if (start.dwEnd == 0 && dw > dwReach && EndsFlow(p + dw - insn.cb, insn))
                break;
        }
        m_covered[start.dwRva] = start.dwRva + std::max<DWORD>(dw, 1);
    }

    const PeHeaders& m_headers;
    CCodeSpace m_space;
    ICodeVisitor& m_visitor;
    CodeScan& m_scan;
    std::map<DWORD, DWORD> m_covered; // the extent of each function decoded
    std::vector<DWORD> m_targets;     // direct branch targets still to look at
};

void Sweep32(const PeHeaders& headers, ICodeVisitor& visitor, CodeScan& scan)
{
    CCodeSpace space(headers);
    DWORD dwFrom = 0;
    for (const Range& r : space.Ranges())
    {
        // Overlapping sections are swept once.
        DWORD dwBegin = std::max(r.dwBegin, dwFrom);
        if (dwBegin >= r.dwEnd)
            continue;
        dwFrom = r.dwEnd;
        DWORD cb = 0;
        const BYTE* p = space.Bytes(dwBegin, cb);
        if (p == nullptr)
            continue;
        cb = std::min(cb, r.dwEnd - dwBegin);
        for (DWORD dw = 0; dw < cb;)
        {
            X86Instruction insn;
            if (!DecodeX86(p + dw, cb - dw, false, insn))
            {
                ++scan.uUndecodable;
                visitor.OnUndecodable(dwBegin + dw, p + dw, cb - dw);
                ++dw;
                continue;
            }
            ++scan.uInstructions;
            visitor.OnInstruction(dwBegin + dw, p + dw, insn);
            dw += insn.cb;
        }
    }
}

class CFieldCollector : public ICodeVisitor
{
  public:
    CFieldCollector(const PeHeaders& headers, std::vector<CodeField>& fields)
        : m_headers(headers), m_f64(headers.f64), m_dwImageBase(static_cast<DWORD>(ImageBaseOf(headers))),
          m_dwSizeOfImage(headers.dwSizeOfImage), m_fields(fields)
    {
    }

    void OnInstruction(DWORD dwRva, const BYTE* p, const X86Instruction& insn) override
    {
        if (m_f64)
        {
            if (insn.ripRelative)
                Add(dwRva, p, insn, insn.dispAt,
                    dwRva + insn.cb + static_cast<DWORD>(X86FieldValue(p + insn.dispAt, 4)), false);
            return;
        }
        if (insn.cbDisp == 4)
            Add(dwRva, p, insn, insn.dispAt,
                static_cast<DWORD>(X86FieldValue(p + insn.dispAt, 4)) - m_dwImageBase, false);
        if (insn.cbImm == 4 && !insn.relBranch)
            Add(dwRva, p, insn, insn.immAt,
                static_cast<DWORD>(X86FieldValue(p + insn.immAt, 4)) - m_dwImageBase, true);
    }

  private:
    void Add(DWORD dwRva, const BYTE* p, const X86Instruction& insn, BYTE fieldAt, DWORD dwTarget,
             bool fImmediate)
    {
        // A caller rewrites the field at the file offset of its RVA: in an
        // image whose sections overlap, that must be the bytes decoded.
        DWORD dwOffset = 0, cb = 0;
        if (dwTarget < m_dwSizeOfImage && m_headers.RvaToOffset(dwRva, dwOffset, cb) &&
            m_headers.pView + dwOffset == p && cb >= insn.cb)
            m_fields.push_back({dwRva, insn.cb, fieldAt, dwTarget, fImmediate});
    }

    const PeHeaders& m_headers;
    bool m_f64;
    DWORD m_dwImageBase;
    DWORD m_dwSizeOfImage;
    std::vector<CodeField>& m_fields;
};
} // namespace

unsigned long long ImageBaseOf(const PeHeaders& headers)
{
    CImageBytes bytes = headers.Bytes();
    if (headers.f64)
    {
        unsigned long long u = 0;
        return bytes.Read64(headers.dwOptional + kOptImageBase64, u) ? u : 0;
    }
    DWORD dw = 0;
    return bytes.Read32(headers.dwOptional + kOptImageBase32, dw) ? dw : 0;
}

void WalkCode(const PeHeaders& headers, ICodeVisitor& visitor, CodeScan& scan)
{
    scan.uFunctions = scan.uInstructions = scan.uUndecodable = 0;
    scan.fromFunctionTable = false;
    if (headers.f64)
        CWalk64(headers, visitor, scan).Run();
    else
        Sweep32(headers, visitor, scan);
}

void ScanCodeReferences(const PeHeaders& headers, CodeScan& scan)
{
    scan.fields.clear();
    CFieldCollector collector(headers, scan.fields);
    WalkCode(headers, collector, scan);
    std::sort(scan.fields.begin(), scan.fields.end(), [](const CodeField& a, const CodeField& b) {
        return a.dwTargetRva < b.dwTargetRva ||
               (a.dwTargetRva == b.dwTargetRva &&
                (a.dwInsnRva < b.dwInsnRva || (a.dwInsnRva == b.dwInsnRva && a.fieldAt < b.fieldAt)));
    });
}
