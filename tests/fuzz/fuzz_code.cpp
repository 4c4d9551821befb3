// The instruction decoder and the code reference search on arbitrary bytes.
//
// Input: a selector byte, then the bytes. Selector bit 0 clear: one
// instruction, bit 1 the mode; the decoder must stay inside the bytes, place
// its fields inside the instruction, and decode the same from a copy cut to
// the instruction's length. Bit 0 set: a PE image, scanned for code fields,
// which must lie inside the code read, name targets inside the image and come
// sorted by target.
#include "code/code_references.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{
const size_t kMaxImage = 1 << 20;

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

void CheckInstruction(const BYTE* p, size_t cb, bool f64)
{
    X86Instruction insn;
    if (!DecodeX86(p, cb, f64, insn))
        return;
    Check(insn.cb >= 1 && insn.cb <= cb && insn.cb <= kX86MaxLength);
    Check(insn.cbDisp == 0 || (insn.dispAt >= 1 && insn.dispAt + insn.cbDisp <= insn.cb));
    Check(insn.cbImm == 0 || (insn.immAt >= 1 && insn.immAt + insn.cbImm == insn.cb));
    Check(!insn.ripRelative || (f64 && insn.cbDisp == 4));
    Check(!insn.moffs || insn.cbDisp >= 2);
    Check(!insn.relBranch || insn.cbImm != 0);
    // Exactly its bytes, in a block of that size: the same instruction.
    BYTE* pCopy = new BYTE[insn.cb];
    std::memcpy(pCopy, p, insn.cb);
    X86Instruction again;
    Check(DecodeX86(pCopy, insn.cb, f64, again));
    Check(std::memcmp(&again, &insn, sizeof(insn)) == 0);
    delete[] pCopy;
}

void CheckImage(const BYTE* p, size_t cb)
{
    PeHeaders headers;
    std::string sReason;
    if (!headers.Read(p, static_cast<DWORD>(cb), sReason))
        return;
    CodeScan scan;
    ScanCodeReferences(headers, scan);
    for (size_t i = 0; i < scan.fields.size(); ++i)
    {
        const CodeField& f = scan.fields[i];
        Check(f.dwTargetRva < headers.dwSizeOfImage);
        Check(f.fieldAt + 4u <= f.cbInsn && f.cbInsn <= kX86MaxLength);
        DWORD dwOffset = 0, cbAvail = 0;
        Check(headers.RvaToOffset(f.dwInsnRva, dwOffset, cbAvail) && cbAvail >= f.cbInsn);
        // The bytes at the field's file offset are the instruction it came from.
        X86Instruction insn;
        Check(DecodeX86(p + dwOffset, cbAvail, headers.f64, insn) && insn.cb == f.cbInsn);
        Check(f.fieldAt == insn.dispAt || f.fieldAt == insn.immAt);
        if (i > 0)
            Check(scan.fields[i - 1].dwTargetRva <= f.dwTargetRva);
    }
    Check(scan.uFunctions == 0 || headers.f64);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > kMaxImage)
        return 0;
    // A copy of exactly the input's size, so a read past its end is caught.
    size_t cb = size - 1;
    BYTE* p = new BYTE[cb == 0 ? 1 : cb];
    std::memcpy(p, data + 1, cb);
    if (data[0] & 1)
        CheckImage(p, cb);
    else
        CheckInstruction(p, cb, (data[0] & 2) != 0);
    delete[] p;
    return 0;
}
