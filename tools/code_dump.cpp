// Prints what the code walk decodes in a PE image, for the comparison with
// objdump (tools/decoder-vs-objdump):
//
//   pivra-code-dump IMAGE           "B imagebase 32|64" first, "F rva" at each function start, then one
//                                   "rva length target" line per instruction
//                                   (hex; target "-" unless RIP-relative)
//   pivra-code-dump --fields IMAGE  the code fields that name an address in
//                                   the image: "insn length at target imm|disp bytes"
#include "code/code_references.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace
{
class CPrinter : public ICodeVisitor
{
  public:
    void OnFunction(DWORD dwRva) override { std::printf("F %x\n", dwRva); }
    void OnInstruction(DWORD dwRva, const BYTE* p, const X86Instruction& insn) override
    {
        if (insn.ripRelative)
            std::printf("%x %u %x\n", dwRva, insn.cb,
                        dwRva + insn.cb + static_cast<DWORD>(X86FieldValue(p + insn.dispAt, 4)));
        else
            std::printf("%x %u -\n", dwRva, insn.cb);
    }
};
} // namespace

int main(int argc, char** argv)
{
    bool fFields = argc == 3 && std::strcmp(argv[1], "--fields") == 0;
    if (argc != 2 && !fFields)
    {
        std::fprintf(stderr, "usage: pivra-code-dump [--fields] IMAGE\n");
        return 2;
    }
    const char* pszPath = argv[argc - 1];
    std::ifstream file(pszPath, std::ios::binary);
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof())
    {
        std::fprintf(stderr, "%s: cannot be read\n", pszPath);
        return 1;
    }
    if (bytes.size() > 0xFFFFFFFFu)
    {
        std::fprintf(stderr, "%s: too large\n", pszPath);
        return 1;
    }
    PeHeaders headers;
    std::string sReason;
    if (!headers.Read(bytes.data(), static_cast<DWORD>(bytes.size()), sReason))
    {
        std::fprintf(stderr, "%s: %s\n", pszPath, sReason.c_str());
        return 1;
    }
    CodeScan scan;
    if (fFields)
    {
        ScanCodeReferences(headers, scan);
        for (const CodeField& f : scan.fields)
        {
            DWORD dwOffset = 0, cb = 0;
            std::string sBytes;
            if (headers.RvaToOffset(f.dwInsnRva, dwOffset, cb) && cb >= f.cbInsn)
                sBytes = FormatInstructionBytes(headers.pView + dwOffset, f.cbInsn);
            std::printf("%x %u %u %x %s %s\n", f.dwInsnRva, f.cbInsn, f.fieldAt, f.dwTargetRva,
                        f.immediate ? "imm" : "disp", sBytes.c_str());
        }
    }
    else
    {
        std::printf("B %llx %d\n", ImageBaseOf(headers), headers.f64 ? 64 : 32);
        CPrinter printer;
        WalkCode(headers, printer, scan);
    }
    std::fprintf(stderr, "functions %u instructions %u undecodable %u fields %zu%s\n", scan.uFunctions,
                 scan.uInstructions, scan.uUndecodable, scan.fields.size(),
                 scan.fromFunctionTable ? " (from .pdata)" : "");
    return 0;
}
