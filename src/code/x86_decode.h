// An x86 / x86-64 instruction length decoder: where an instruction ends and
// where its displacement and immediate lie, which is all the code reference
// search needs. It tells nothing of what the instruction does.
#pragma once

#include "port/win32.h"

#include <cstddef>
#include <string>

// The longest instruction the processor accepts; more prefixes fault.
const size_t kX86MaxLength = 15;

struct X86Instruction
{
    BYTE cb;             // length in bytes
    BYTE dispAt, cbDisp; // the displacement field (ModRM disp, or the moffs of A0-A3)
    BYTE immAt, cbImm;   // the immediate field (both of ENTER's together)
    bool ripRelative;    // 64-bit mode, mod=00 rm=101 without SIB: target = end of instruction + disp32
    bool moffs;          // A0-A3
    bool relBranch;      // the immediate is a relative branch target (call, jmp, jcc, loop, jrcxz)
};

// False when the bytes are not a valid instruction in that mode or run past
// cbAvail; it never reads past cbAvail.
bool DecodeX86(const BYTE* p, size_t cbAvail, bool f64, X86Instruction& insn);

// The little-endian value of a field of up to 8 bytes, sign-extended when it
// is shorter.
long long X86FieldValue(const BYTE* p, BYTE cb);

// "48 8d 0d 12 34 00 00"
std::string FormatInstructionBytes(const BYTE* p, size_t cb);
