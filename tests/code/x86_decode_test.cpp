// Hand-picked encodings at the decoder's edges, each length checked against
// binutils' objdump and libcapstone when the table was written: prefix stacks,
// 67 with moffs and ModRM, REX.W B8, VEX and EVEX in both modes, F6/F7 by
// ModRM.reg, 3DNow, ENTER, the opcodes 64-bit mode takes away, and the x87,
// LOCK and SSE prefix and operand forms that are none. Length 0: no
// instruction. Where the two differ, the processor decides: the fifteen-byte
// limit (objdump stops at another count of prefixes), LOCK before what cannot
// be locked (objdump accepts it), x87 aliases such as fstp1 (objdump rejects
// them).
#include "code/x86_decode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{
struct DecodeCase
{
    bool f64;
    const char* pszHex;
    int cb;                // 0: invalid
    const char* pszFields; // "d<at>:<cb> i<at>:<cb> r m b", or nullptr to check the length only
    const char* pszWhat;
};

const DecodeCase kCases[] = {
    {true, "48 8d 0d 12 34 00 00", 7, "d3:4 r", "lea rcx,[rip+disp32]"},
    {true, "c7 05 10 00 00 00 78 56 34 12", 10, "d2:4 i6:4 r", "mov dword [rip+disp32], imm32"},
    {true, "80 3d 10 00 00 00 01", 7, "d2:4 i6:1 r", "cmp byte [rip+disp32], imm8"},
    {true, "48 b8 88 77 66 55 44 33 22 11", 10, "i2:8", "REX.W B8: imm64"},
    {true, "41 b8 78 56 34 12", 6, "i2:4", "REX.B B8: imm32"},
    {true, "66 b8 34 12", 4, "i2:2", "66 B8: imm16"},
    {true, "48 a1 88 77 66 55 44 33 22 11", 10, "d2:8 m", "moffs64"},
    {true, "67 a1 78 56 34 12", 6, "d2:4 m", "67 moffs32 in 64-bit mode"},
    {true, "67 8b 05 78 56 34 12", 7, "d3:4 r", "67: 32-bit addressing, still RIP-relative"},
    {true, "8b 04 25 78 56 34 12", 7, "d3:4", "SIB without base: absolute, not RIP"},
    {true, "f6 05 10 00 00 00 01", 7, "d2:4 i6:1 r", "F6 /0 test with imm8"},
    {true, "f6 15 10 00 00 00", 6, "d2:4 r", "F6 /2 not: no immediate"},
    {true, "f7 c0 78 56 34 12", 6, nullptr, "F7 /0 imm32"},
    {true, "66 f7 c0 34 12", 5, "i3:2", "66 F7 /0 imm16"},
    {true, "48 f7 c8 78 56 34 12", 7, "i3:4", "F7 /1 test alias"},
    {true, "f7 d8", 2, "", "F7 /3 neg"},
    {true, "c8 10 00 01", 4, "i1:3", "ENTER iw ib"},
    {true, "e8 00 00 00 00", 5, "i1:4 b", "call rel32"},
    {true, "0f 84 00 00 00 00", 6, "i2:4 b", "jcc rel32"},
    {true, "e3 fe", 2, "i1:1 b", "jrcxz rel8"},
    {true, "66 e9 00 00", 4, "i2:2 b", "66 jmp rel16"},
    {true, "c5 f8 77", 3, nullptr, "VEX vzeroupper"},
    {true, "c5 f9 6f 05 10 00 00 00", 8, "d4:4 r", "VEX vmovdqa rip"},
    {true, "c4 e3 79 17 c0 01", 6, "i5:1", "VEX 0F3A imm8"},
    {true, "c4 e2 79 18 05 10 00 00 00", 9, nullptr, "VEX 0F38 rip"},
    {true, "62 f1 7c 48 28 05 10 00 00 00", 10, "d6:4 r", "EVEX rip"},
    {true, "62 f1 7c 48 28 40 01", 7, "d6:1", "EVEX disp8*N is one byte"},
    {true, "62 f3 7d 48 19 c1 01", 7, nullptr, "EVEX 0F3A imm8"},
    {true, "0f 0f c1 b4", 4, nullptr, "3DNow pfmul: imm8 suffix"},
    {true, "0f 0f 05 10 00 00 00 b4", 8, "d3:4 i7:1 r", "3DNow rip"},
    {true, "f3 0f 1e fa", 4, nullptr, "endbr64"},
    {true, "66 2e 0f 1f 84 00 00 00 00 00", 10, nullptr, "nopw cs:"},
    {true, "66 66 66 66 66 2e 0f 1f 84 00 00 00 00 00", 14, nullptr, "padding stack"},
    {true, "f0 48 0f b1 0d 10 00 00 00", 9, "d5:4 r", "lock REX cmpxchg rip"},
    {true, "8f e9 78 c1 c0", 5, nullptr, "XOP map 9"},
    {true, "8f e8 78 c0 c1 05", 6, "i5:1", "XOP map 8 imm8"},
    {true, "8f c0", 2, nullptr, "pop rax"},
    {true, "0f 20 c0", 3, nullptr, "mov rax,cr0"},
    {true, "0f 20 05", 3, "", "mov cr: mod ignored"},
    {true, "66 0f 3a 0f c1 08", 6, nullptr, "palignr"},
    {true, "66 0f 73 d8 08", 5, nullptr, "psrldq imm8"},
    {true, "0f ba e0 05", 4, nullptr, "bt imm8"},
    {true, "0f 0b", 2, nullptr, "ud2"},
    {true, "c2 08 00", 3, nullptr, "ret imm16"},
    {true, "06", 0, nullptr, "push es"},
    {true, "07", 0, nullptr, "pop es"},
    {true, "0e", 0, nullptr, "push cs"},
    {true, "16", 0, nullptr, "push ss"},
    {true, "17", 0, nullptr, "pop ss"},
    {true, "1e", 0, nullptr, "push ds"},
    {true, "1f", 0, nullptr, "pop ds"},
    {true, "27", 0, nullptr, "daa"},
    {true, "2f", 0, nullptr, "das"},
    {true, "37", 0, nullptr, "aaa"},
    {true, "3f", 0, nullptr, "aas"},
    {true, "60", 0, nullptr, "pusha"},
    {true, "61", 0, nullptr, "popa"},
    {true, "82 c0 01", 0, nullptr, "82"},
    {true, "9a 78 56 34 12 34 12", 0, "i1:6", "call far"},
    {true, "d4 0a", 0, nullptr, "aam"},
    {true, "d5 0a", 0, nullptr, "aad"},
    {true, "d6", 0, nullptr, "salc"},
    {true, "ea 78 56 34 12 34 12", 0, nullptr, "jmp far"},
    {true, "ce", 0, nullptr, "into"},
    {true, "ff 3f", 0, nullptr, "FF /7"},
    {true, "ff d8", 0, nullptr, "far call needs memory"},
    {true, "8d c0", 0, nullptr, "lea register"},
    {true, "0f 04", 0, nullptr, "0F 04"},
    {true, "fe 10", 0, nullptr, "FE /2"},
    {true, "66 66 66 66 66 66 66 66 66 66 66 66 66 66 90", 15, nullptr, "fifteen bytes"},
    {true, "66 66 66 66 66 66 66 66 66 66 66 66 66 66 66 90", 0, nullptr, "sixteen bytes"},
    {false, "40", 1, nullptr, "inc eax"},
    {false, "48 8d 0d 12 34 56 78", 1, nullptr, "dec eax"},
    {false, "a1 78 56 34 12", 5, "d1:4 m", "moffs32"},
    {false, "67 a1 34 12", 4, "d2:2 m", "67 moffs16"},
    {false, "66 a3 78 56 34 12", 6, nullptr, "66 moffs32"},
    {false, "67 8b 06 34 12", 5, "d3:2", "16-bit [disp16]"},
    {false, "67 8b 47 10", 4, "d3:1", "16-bit [bx+disp8]"},
    {false, "67 8b 87 34 12", 5, nullptr, "16-bit [bx+disp16]"},
    {false, "67 8b 04", 3, nullptr, "16-bit [si]: no SIB"},
    {false, "8b 05 78 56 34 12", 6, "d2:4", "[disp32]"},
    {false, "8b 04 25 78 56 34 12", 7, "d3:4", "SIB no base"},
    {false, "8b 44 24 08", 4, nullptr, "SIB disp8"},
    {false, "c7 05 78 56 34 12 01 00 00 00", 10, "d2:4 i6:4", "disp32 and imm32"},
    {false, "68 00 10 40 00", 5, "i1:4", "push imm32"},
    {false, "66 68 34 12", 4, nullptr, "push imm16"},
    {false, "c5 f8 77", 3, nullptr, "VEX in 32-bit"},
    {false, "c4 06", 2, nullptr, "les"},
    {false, "c5 06", 2, nullptr, "lds"},
    {false, "62 06", 2, nullptr, "bound"},
    {false, "62 f1 7c 48 28 c1", 6, nullptr, "EVEX in 32-bit"},
    {false, "9a 78 56 34 12 34 12", 7, "i1:6", "call far"},
    {false, "66 9a 34 12 34 12", 6, nullptr, "66 call far"},
    {false, "ea 78 56 34 12 34 12", 7, nullptr, "jmp far"},
    {false, "d4 0a", 2, nullptr, "aam"},
    {false, "06", 1, nullptr, "push es"},
    {false, "66 e8 34 12", 4, "i2:2 b", "call rel16"},
    {false, "e8 00 00 00 00", 5, "i1:4 b", "call rel32"},
    {false, "0f 0f 05 78 56 34 12 b4", 8, "d3:4 i7:1", "3DNow absolute"},
    {false, "f6 05 78 56 34 12 01", 7, nullptr, "F6 /0 imm8"},
    {false, "c8 10 00 01", 4, "i1:3", "ENTER"},
    {false, "d9 08", 0, nullptr, "D9 /1 memory"},
    {false, "db 30", 0, nullptr, "DB /6 memory"},
    {false, "dd 28", 0, nullptr, "DD /5 memory"},
    {false, "d9 d1", 0, nullptr, "D9 D1"},
    {false, "df e1", 0, nullptr, "DF E1"},
    {false, "d9 d8", 2, nullptr, "fstp1, an alias processors run"},
    {false, "db e2", 2, nullptr, "fnclex"},
    {false, "8c f0", 0, nullptr, "no segment register 6"},
    {false, "8e e8", 2, nullptr, "mov gs, eax"},
    {false, "f0 01 c0", 0, nullptr, "LOCK on a register operand"},
    {false, "f0 90", 0, nullptr, "LOCK nop"},
    {false, "f0 83 38 01", 0, nullptr, "LOCK cmp"},
    {false, "f0 83 00 01", 4, nullptr, "LOCK add to memory"},
    {false, "f0 0f c7 0e", 4, nullptr, "LOCK cmpxchg8b"},
    {false, "0f 6c c1", 0, nullptr, "punpcklqdq needs 66"},
    {false, "66 0f 6c c1", 4, nullptr, "punpcklqdq"},
    {false, "0f b8 c1", 0, nullptr, "popcnt needs F3"},
    {false, "66 f3 0f b8 c1", 5, nullptr, "F3 wins over 66"},
    {false, "0f c5 00 01", 0, nullptr, "pextrw from memory"},
    {false, "0f 2b c0", 0, nullptr, "movntps to a register"},
    {false, "f3 0f d6 00", 0, nullptr, "movq2dq from memory"},
    {false, "66 0f d6 00", 4, nullptr, "movq to memory"},
    {false, "0f 0f c1 86", 0, nullptr, "no 3DNow opcode 86"},
};

std::vector<BYTE> Bytes(const char* pszHex)
{
    std::vector<BYTE> bytes;
    for (const char* p = pszHex; *p != '\0';)
    {
        if (*p == ' ')
        {
            ++p;
            continue;
        }
        bytes.push_back(static_cast<BYTE>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return bytes;
}

// The fields a case lists, in the decoder's terms; what it leaves out is zero.
X86Instruction Expected(const char* pszFields, int cb)
{
    X86Instruction insn = {};
    insn.cb = static_cast<BYTE>(cb);
    for (const char* p = pszFields; *p != '\0'; ++p)
    {
        int at = 0, n = 0;
        if ((*p == 'd' || *p == 'i') && std::sscanf(p + 1, "%d:%d", &at, &n) == 2)
        {
            (*p == 'd' ? insn.dispAt : insn.immAt) = static_cast<BYTE>(at);
            (*p == 'd' ? insn.cbDisp : insn.cbImm) = static_cast<BYTE>(n);
            while (p[1] != ' ' && p[1] != '\0')
                ++p;
        }
        else if (*p == 'r')
            insn.ripRelative = true;
        else if (*p == 'm')
            insn.moffs = true;
        else if (*p == 'b')
            insn.relBranch = true;
    }
    return insn;
}

// A buffer of exactly cb bytes on the heap, so a read past it is caught by the sanitizers.
bool DecodeExactly(const std::vector<BYTE>& bytes, size_t cb, bool f64, X86Instruction& insn)
{
    std::unique_ptr<BYTE[]> p(new BYTE[cb == 0 ? 1 : cb]);
    std::memcpy(p.get(), bytes.data(), cb);
    return DecodeX86(p.get(), cb, f64, insn);
}

TEST(X86Decode, EdgeEncodings)
{
    for (const DecodeCase& c : kCases)
    {
        SCOPED_TRACE(std::string(c.f64 ? "64-bit " : "32-bit ") + c.pszHex + " (" + c.pszWhat + ")");
        std::vector<BYTE> bytes = Bytes(c.pszHex);
        // Bytes behind the instruction change nothing.
        std::vector<BYTE> padded = bytes;
        padded.resize(bytes.size() + 16, 0xCC);
        X86Instruction insn;
        bool ok = DecodeExactly(padded, padded.size(), c.f64, insn);
        if (c.cb == 0)
        {
            EXPECT_FALSE(ok);
            continue;
        }
        ASSERT_TRUE(ok);
        EXPECT_EQ(insn.cb, c.cb);
        if (c.pszFields != nullptr)
        {
            X86Instruction expected = Expected(c.pszFields, c.cb);
            EXPECT_EQ(insn.dispAt, expected.dispAt);
            EXPECT_EQ(insn.cbDisp, expected.cbDisp);
            EXPECT_EQ(insn.immAt, expected.immAt);
            EXPECT_EQ(insn.cbImm, expected.cbImm);
            EXPECT_EQ(insn.ripRelative, expected.ripRelative);
            EXPECT_EQ(insn.moffs, expected.moffs);
            EXPECT_EQ(insn.relBranch, expected.relBranch);
        }
        // Exactly its bytes decode; one fewer, or any cut, does not.
        EXPECT_TRUE(DecodeExactly(padded, c.cb, c.f64, insn));
        for (int cb = 0; cb < c.cb; ++cb)
            EXPECT_FALSE(DecodeExactly(padded, cb, c.f64, insn)) << "cut to " << cb;
    }
}

TEST(X86Decode, FieldValueAndBytes)
{
    const BYTE ab[] = {0x48, 0x8d, 0x0d, 0xf0, 0xff, 0xff, 0xff};
    EXPECT_EQ(X86FieldValue(ab + 3, 4), -16);
    EXPECT_EQ(X86FieldValue(ab + 1, 1), -115);
    EXPECT_EQ(X86FieldValue(ab, 1), 0x48);
    EXPECT_EQ(FormatInstructionBytes(ab, sizeof(ab)), "48 8d 0d f0 ff ff ff");
    EXPECT_EQ(FormatInstructionBytes(ab, 0), "");
}
} // namespace
