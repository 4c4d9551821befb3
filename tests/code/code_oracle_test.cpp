// The decoder judged by Debian's libcapstone on real code nobody here wrote:
// a sample of Wine's 64-bit images, walked function by function, and of its
// 32-bit images, swept section by section. At every instruction the walk
// decodes, capstone must decode the same length and, in 64-bit code, the
// same RIP-relative target (or none); where the walk finds no instruction,
// capstone must find none either. In 32-bit code the 4-byte displacement and
// immediate the reference search reads must lie where capstone puts them.
// Capstone 4.0.2 is older than some instruction sets, but on all of Wine's
// images (every one, not just the sample) it agrees with the decoder
// everywhere, so no class of its answers is set aside.
#include "code/code_references.h"

#include <gtest/gtest.h>

#ifdef PIVRA_HAVE_CAPSTONE
#include <capstone/capstone.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{
const char kWine64[] = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
const char kWine32[] = "/usr/lib/i386-linux-gnu/wine/i386-windows";
// Every Nth image keeps the run to a few seconds.
const size_t kSampleStep = 6;
const size_t kShown = 20;

std::vector<std::string> Sample(const char* pszFolder)
{
    std::vector<std::string> paths;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(pszFolder, ec))
        if (entry.is_regular_file(ec))
            paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> sample;
    for (size_t i = 0; i < paths.size(); i += kSampleStep)
        sample.push_back(paths[i]);
    return sample;
}

bool ReadImage(const std::string& sPath, std::vector<BYTE>& bytes, PeHeaders& headers)
{
    std::ifstream file(sPath, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    std::string sReason;
    return bytes.size() <= 0xFFFFFFFFu &&
           headers.Read(bytes.data(), static_cast<DWORD>(bytes.size()), sReason);
}

#ifdef PIVRA_HAVE_CAPSTONE

struct Tally
{
    size_t cImages = 0, cInstructions = 0, cUndecodable = 0, cRip = 0, cFields = 0;
    std::vector<std::string> disagreements;
};

class CCapstoneJudge : public ICodeVisitor
{
  public:
    CCapstoneJudge(bool f64, const std::string& sName, const BYTE* pEnd, Tally& tally)
        : m_f64(f64), m_sName(sName), m_pEnd(pEnd), m_tally(tally)
    {
        m_fOpen = cs_open(CS_ARCH_X86, f64 ? CS_MODE_64 : CS_MODE_32, &m_handle) == CS_ERR_OK;
        if (m_fOpen)
        {
            cs_option(m_handle, CS_OPT_DETAIL, CS_OPT_ON);
            m_pInsn = cs_malloc(m_handle);
        }
    }
    ~CCapstoneJudge()
    {
        if (m_pInsn != nullptr)
            cs_free(m_pInsn, 1);
        if (m_fOpen)
            cs_close(&m_handle);
    }
    bool Opened() const { return m_fOpen && m_pInsn != nullptr; }

    void OnInstruction(DWORD dwRva, const BYTE* p, const X86Instruction& insn) override
    {
        ++m_tally.cInstructions;
        size_t cb = std::min<size_t>(kX86MaxLength, m_pEnd - p);
        if (!Decode(dwRva, p, cb) || m_pInsn->size != insn.cb)
        {
            Disagree(dwRva, p, cb, "length " + std::to_string(insn.cb));
            return;
        }
        const cs_x86& x86 = m_pInsn->detail->x86;
        if (m_f64)
        {
            bool fRip = false;
            DWORD dwTheirs = 0;
            for (uint8_t i = 0; i < x86.op_count; ++i)
                if (x86.operands[i].type == X86_OP_MEM && x86.operands[i].mem.base == X86_REG_RIP)
                {
                    fRip = true;
                    dwTheirs = dwRva + insn.cb + static_cast<DWORD>(x86.operands[i].mem.disp);
                }
            DWORD dwOurs = dwRva + insn.cb + static_cast<DWORD>(X86FieldValue(p + insn.dispAt, 4));
            m_tally.cRip += insn.ripRelative;
            if (fRip != insn.ripRelative || (fRip && dwTheirs != dwOurs))
                Disagree(dwRva, p, cb, insn.ripRelative ? "RIP target " + Hex(dwOurs) : "no RIP operand");
            return;
        }
        // The 4-byte fields the 32-bit search reads.
        if (insn.cbDisp == 4 && !insn.moffs)
        {
            ++m_tally.cFields;
            if (x86.encoding.disp_size != 4 || x86.encoding.disp_offset != insn.dispAt)
                Disagree(dwRva, p, cb, "disp32 at " + std::to_string(insn.dispAt));
        }
        if (insn.cbImm == 4 && !insn.relBranch)
        {
            ++m_tally.cFields;
            if (x86.encoding.imm_size != 4 || x86.encoding.imm_offset != insn.immAt)
                Disagree(dwRva, p, cb, "imm32 at " + std::to_string(insn.immAt));
        }
    }

    void OnUndecodable(DWORD dwRva, const BYTE* p, size_t cbAvail) override
    {
        ++m_tally.cUndecodable;
        size_t cb = std::min(kX86MaxLength, cbAvail);
        if (Decode(dwRva, p, cb))
            Disagree(dwRva, p, cb, "no instruction");
    }

  private:
    static std::string Hex(DWORD dw)
    {
        char sz[16];
        std::snprintf(sz, sizeof(sz), "%x", dw);
        return sz;
    }

    bool Decode(DWORD dwRva, const BYTE* p, size_t cb)
    {
        const uint8_t* pCode = p;
        uint64_t address = dwRva;
        return cs_disasm_iter(m_handle, &pCode, &cb, &address, m_pInsn);
    }

    void Disagree(DWORD dwRva, const BYTE* p, size_t cb, const std::string& sOurs)
    {
        if (m_tally.disagreements.size() >= kShown)
        {
            m_tally.disagreements.push_back("");
            return;
        }
        std::string sTheirs = Decode(dwRva, p, cb) ? "length " + std::to_string(m_pInsn->size) + ": " +
                                                         m_pInsn->mnemonic + " " + m_pInsn->op_str
                                                   : "invalid";
        m_tally.disagreements.push_back(m_sName + " " + Hex(dwRva) + " [" + FormatInstructionBytes(p, cb) +
                                        "]: decoder " + sOurs + "; capstone " + sTheirs);
    }

    bool m_f64;
    std::string m_sName;
    const BYTE* m_pEnd;
    Tally& m_tally;
    csh m_handle = 0;
    bool m_fOpen = false;
    cs_insn* m_pInsn = nullptr;
};

void JudgeSample(const char* pszFolder, bool f64)
{
    std::vector<std::string> paths = Sample(pszFolder);
    if (paths.empty())
        GTEST_SKIP() << pszFolder << " holds no images (Wine is not installed)";
    Tally tally;
    for (const std::string& sPath : paths)
    {
        std::ifstream file(sPath, std::ios::binary);
        std::vector<BYTE> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        PeHeaders headers;
        std::string sReason;
        if (bytes.size() > 0xFFFFFFFFu ||
            !headers.Read(bytes.data(), static_cast<DWORD>(bytes.size()), sReason) || headers.f64 != f64)
            continue;
        ++tally.cImages;
        CCapstoneJudge judge(f64, std::filesystem::path(sPath).filename().string(),
                             bytes.data() + bytes.size(), tally);
        ASSERT_TRUE(judge.Opened());
        CodeScan scan;
        WalkCode(headers, judge, scan);
    }
    std::printf("%zu images, %zu instructions, %zu undecodable bytes, %zu RIP-relative, %zu 4-byte fields; "
                "%zu disagreements\n",
                tally.cImages, tally.cInstructions, tally.cUndecodable, tally.cRip, tally.cFields,
                tally.disagreements.size());
    EXPECT_GT(tally.cImages, 0u);
    EXPECT_GT(tally.cInstructions, 100000u);
    for (const std::string& s : tally.disagreements)
        if (!s.empty())
            ADD_FAILURE() << s;
}
#endif

TEST(CodeOracle, Wine64FunctionsAsCapstoneDecodesThem)
{
#ifdef PIVRA_HAVE_CAPSTONE
    JudgeSample(kWine64, true);
#else
    GTEST_SKIP() << "libcapstone-dev is not installed";
#endif
}

TEST(CodeOracle, Wine32SweepAsCapstoneDecodesIt)
{
#ifdef PIVRA_HAVE_CAPSTONE
    JudgeSample(kWine32, false);
#else
    GTEST_SKIP() << "libcapstone-dev is not installed";
#endif
}

// The base relocations of a 32-bit image: the loader's own list of the
// absolute addresses in it. In code, each should be a field the sweep finds;
// a relocation the sweep misses must be data it did not decode as one
// instruction (the pointer lists some linkers put in .text), never the inside
// of an instruction it decoded.
class CExtents : public ICodeVisitor
{
  public:
    void OnInstruction(DWORD dwRva, const BYTE*, const X86Instruction& insn) override
    {
        starts.push_back(dwRva);
        ends.push_back(dwRva + insn.cb);
    }
    std::vector<DWORD> starts, ends;
};

std::vector<DWORD> CodeRelocations(const PeHeaders& headers)
{
    const DWORD kScnMemExecute = 0x20000000, kScnCntCode = 0x20;
    const WORD kRelocHighLow = 3;
    std::vector<DWORD> relocations;
    DWORD dwOffset = 0, cb = 0;
    if (!headers.DirectoryInFile(kPeRelocationDirectory, dwOffset, cb))
        return relocations;
    CImageBytes bytes = headers.Bytes().Sub(dwOffset, dwOffset + cb);
    PeRelocationBlock block = {};
    for (DWORD dw = dwOffset; bytes.ReadStruct(dw, block) && block.cbBlock >= sizeof(block);
         dw += block.cbBlock)
    {
        WORD wEntry = 0;
        for (DWORD dwEntry = dw + sizeof(block);
             dwEntry < dw + block.cbBlock && bytes.Read16(dwEntry, wEntry); dwEntry += 2)
        {
            DWORD dwRva = block.dwPage + (wEntry & 0xFFF);
            int i = headers.SectionOfRva(dwRva);
            if ((wEntry >> 12) == kRelocHighLow && i >= 0 &&
                (headers.sections[i].dwCharacteristics & (kScnMemExecute | kScnCntCode)))
                relocations.push_back(dwRva);
        }
    }
    std::sort(relocations.begin(), relocations.end());
    return relocations;
}

TEST(CodeOracle, Wine32FieldsAreItsRelocations)
{
    std::vector<std::string> paths = Sample(kWine32);
    if (paths.empty())
        GTEST_SKIP() << kWine32 << " holds no images (Wine is not installed)";
    size_t cImages = 0, cRelocations = 0, cMatched = 0, cData = 0, cUnrelocated = 0;
    std::vector<std::string> failures;
    for (const std::string& sPath : paths)
    {
        std::vector<BYTE> bytes;
        PeHeaders headers;
        if (!ReadImage(sPath, bytes, headers) || headers.f64)
            continue;
        std::vector<DWORD> relocations = CodeRelocations(headers);
        if (relocations.empty())
            continue;
        ++cImages;
        cRelocations += relocations.size();
        CodeScan scan;
        ScanCodeReferences(headers, scan);
        std::vector<DWORD> fields;
        for (const CodeField& f : scan.fields)
            fields.push_back(f.dwInsnRva + f.fieldAt);
        std::sort(fields.begin(), fields.end());
        std::string sName = std::filesystem::path(sPath).filename().string();
        // A constant that happens to lie in the image's range (0x66666667 in an
        // image based at 0x66640000) is a field too: counted, not a fault.
        for (DWORD dw : fields)
            cUnrelocated += !std::binary_search(relocations.begin(), relocations.end(), dw);
        CExtents extents;
        WalkCode(headers, extents, scan);
        for (DWORD dw : relocations)
        {
            if (std::binary_search(fields.begin(), fields.end(), dw))
            {
                ++cMatched;
                continue;
            }
            auto it = std::upper_bound(extents.starts.begin(), extents.starts.end(), dw);
            size_t i = it - extents.starts.begin();
            if (i > 0 && dw + 4 <= extents.ends[i - 1])
            {
                if (failures.size() < kShown)
                    failures.push_back(sName + ": the relocation at " + std::to_string(dw) +
                                       " lies inside the instruction at " +
                                       std::to_string(extents.starts[i - 1]) + " but is no field of it");
            }
            else
                ++cData;
        }
    }
    std::printf("%zu images, %zu relocations in code, %zu of them fields, %zu in bytes decoded as no one "
                "instruction; %zu fields name no relocation\n",
                cImages, cRelocations, cMatched, cData, cUnrelocated);
    EXPECT_GT(cMatched, 10000u);
    for (const std::string& s : failures)
        ADD_FAILURE() << s;
}
} // namespace
