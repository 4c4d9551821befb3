#include "code/x86_decode.h"

#include <algorithm>
#include <iterator>

namespace
{
// What an opcode takes after it. The immediate sizes add up: ENTER is
// kImm16 | kImm8, a far pointer kImmZ | kImm16.
enum : WORD
{
    kModRm = 1 << 0,
    kImm8 = 1 << 1,
    kImm16 = 1 << 2,
    kImmZ = 1 << 3,    // 2 or 4 bytes by operand size
    kImmV = 1 << 4,    // 2, 4, or 8 with REX.W (mov r64, imm64)
    kRel = 1 << 5,     // the immediate is a branch displacement
    kMoffs = 1 << 6,   // an address-sized absolute offset, no ModRM
    kTestImm = 1 << 7, // F6/F7: only /0 and /1 (test) take the immediate
    kRegOnly = 1 << 8, // mov to and from control and debug registers: mod is ignored
    kPrefix = 1 << 9,
    kInvalid = 1 << 10,
    kEscape = 1 << 11,
};

constexpr WORD FlagsOf(char c)
{
    switch (c)
    {
    case 'm':
        return kModRm;
    case 'b':
        return kImm8;
    case 'w':
        return kImm16;
    case 'z':
        return kImmZ;
    case 'B':
        return kModRm | kImm8;
    case 'Z':
        return kModRm | kImmZ;
    case 'j':
        return kImm8 | kRel;
    case 'J':
        return kImmZ | kRel;
    case 'v':
        return kImmV;
    case 'a':
        return kMoffs;
    case 'e':
        return kImm16 | kImm8;
    case 'f':
        return kImmZ | kImm16;
    case 'g':
        return kModRm | kTestImm | kImm8;
    case 'G':
        return kModRm | kTestImm | kImmZ;
    case 'c':
        return kModRm | kRegOnly;
    case 'p':
        return kPrefix;
    case 'x':
        return kInvalid;
    case 'E':
        return kEscape;
    default:
        return 0;
    }
}

struct OpcodeMap
{
    WORD flags[256];
};

// One character per opcode, a row of sixteen per line. '.' nothing follows,
// m ModRM, b/w/z imm8/imm16/imm16-32, B/Z ModRM with imm8/imm16-32, j/J rel8/rel16-32,
// v imm16-32-64, a moffs, e ENTER, f far pointer, g/G F6/F7, c ModRM as a register,
// p prefix, E escape, x invalid.
constexpr OpcodeMap MakeMap(const char* psz)
{
    OpcodeMap map = {};
    for (int i = 0; i < 256; ++i)
        map.flags[i] = FlagsOf(psz[i]);
    return map;
}

constexpr OpcodeMap kOneByte = MakeMap("mmmmbz..mmmmbz.E" // 00
                                       "mmmmbz..mmmmbz.." // 10
                                       "mmmmbzp.mmmmbzp." // 20
                                       "mmmmbzp.mmmmbzp." // 30
                                       "................" // 40 (REX in 64-bit mode)
                                       "................" // 50
                                       "..mmppppzZbB...." // 60
                                       "jjjjjjjjjjjjjjjj" // 70
                                       "BZBBmmmmmmmmmmmm" // 80
                                       "..........f....." // 90
                                       "aaaa....bz......" // A0
                                       "bbbbbbbbvvvvvvvv" // B0
                                       "BBw.mmBZe.w..b.." // C0
                                       "mmmmbb..mmmmmmmm" // D0
                                       "jjjjbbbbJJfj...." // E0
                                       "p.pp..gG......mm" // F0
);

constexpr OpcodeMap kTwoByte = MakeMap("mmmmx.....x.xm.B" // 00 (0F 0F: 3DNow, its opcode an imm8 suffix)
                                       "mmmmmmmmmmmmmmmm" // 10
                                       "ccccxxxxmmmmmmmm" // 20
                                       "......x.ExExxxxx" // 30
                                       "mmmmmmmmmmmmmmmm" // 40
                                       "mmmmmmmmmmmmmmmm" // 50
                                       "mmmmmmmmmmmmmmmm" // 60
                                       "BBBBmmm.mmxxmmmm" // 70
                                       "JJJJJJJJJJJJJJJJ" // 80
                                       "mmmmmmmmmmmmmmmm" // 90
                                       "...mBmxx...mBmmm" // A0
                                       "mmmmmmmmmmBmmmmm" // B0
                                       "mmBmBBBm........" // C0
                                       "mmmmmmmmmmmmmmmm" // D0
                                       "mmmmmmmmmmmmmmmm" // E0
                                       "mmmmmmmmmmmmmmmm" // F0
);

// One-byte opcodes that fault in 64-bit mode (C4, C5 and 62 become VEX and EVEX there).
constexpr BYTE kInvalidIn64[] = {0x06, 0x07, 0x0E, 0x16, 0x17, 0x1E, 0x1F, 0x27, 0x2F, 0x37,
                                 0x3F, 0x60, 0x61, 0x82, 0x9A, 0xCE, 0xD4, 0xD5, 0xD6, 0xEA};

constexpr OpcodeMap MakeMap64()
{
    OpcodeMap map = kOneByte;
    for (BYTE b : kInvalidIn64)
        map.flags[b] = kInvalid;
    return map;
}
constexpr OpcodeMap kOneByte64 = MakeMap64();

// Groups where only some ModRM.reg values are instructions: a bit per reg
// value, for a memory operand and for a register operand.
struct GroupRegs
{
    BYTE map, op, memRegs, regRegs;
};
constexpr GroupRegs kGroups[] = {
    {0, 0x62, 0xFF, 0x00},                        // BOUND
    {0, 0x8C, 0x3F, 0x3F},                        // MOV to and from a segment register: six of them
    {0, 0x8D, 0xFF, 0x00},                        // LEA
    {0, 0x8E, 0x3F, 0x3F}, {0, 0x8F, 0x01, 0x01}, // POP r/m (XOP is told apart first)
    {0, 0xC4, 0xFF, 0x00},                        // LES
    {0, 0xC5, 0xFF, 0x00},                        // LDS
    {0, 0xC6, 0x01, 0x01},                        // MOV r/m8, imm8 (C6 F8 XABORT apart)
    {0, 0xC7, 0x01, 0x01},                        // MOV r/m, imm (C7 F8 XBEGIN apart)
    {0, 0xFE, 0x03, 0x03},                        // INC, DEC
    {0, 0xFF, 0x7F, 0x57},                        // far CALL and JMP take memory only
    {1, 0x71, 0x00, 0x54},                        // shifts by imm8
    {1, 0x72, 0x00, 0x54}, {1, 0x73, 0x00, 0xCC}, {1, 0xB2, 0xFF, 0x00}, // LSS, LFS, LGS
    {1, 0xB4, 0xFF, 0x00}, {1, 0xB5, 0xFF, 0x00}, {1, 0xBA, 0xF0, 0xF0}, // BT, BTS, BTR, BTC
    {1, 0xC7, 0xFA, 0xC0}, // CMPXCHG8B, XRSTORS, ..., RDRAND, RDSEED
    {1, 0x0D, 0xFF, 0x00}, // PREFETCH, PREFETCHW
    {1, 0x13, 0xFF, 0x00}, // MOVLPS/MOVLPD and MOVHPS/MOVHPD stores, the non-temporal stores
    {1, 0x17, 0xFF, 0x00}, {1, 0x2B, 0xFF, 0x00}, {1, 0xC3, 0xFF, 0x00},
    {1, 0xE7, 0xFF, 0x00}, {1, 0x50, 0x00, 0xFF}, // MOVMSKPS, PEXTRW, PMOVMSKB, MASKMOVQ: registers only
    {1, 0xC5, 0x00, 0xFF}, {1, 0xD7, 0x00, 0xFF}, {1, 0xF7, 0x00, 0xFF},
};

// 0F opcodes that are instructions only behind certain of 66, F3, F2 (a bit
// each: none 1, 66 2, F3 4, F2 8; F3 and F2 win over 66).
struct PrefixedOpcode
{
    BYTE op, prefixes;
};
constexpr PrefixedOpcode kPrefixed[] = {
    {0x6C, 0x2}, {0x6D, 0x2}, {0x7C, 0xA}, {0x7D, 0xA}, {0xD0, 0xA}, {0xD6, 0xE}, {0xE6, 0xE}, {0xB8, 0x4},
};

// The 3DNow opcodes, which follow the operands as an imm8.
constexpr BYTE k3DNow[] = {0x0C, 0x0D, 0x1C, 0x1D, 0x8A, 0x8E, 0x90, 0x94, 0x96, 0x97, 0x9A, 0x9E,
                           0xA0, 0xA4, 0xA6, 0xA7, 0xAA, 0xAE, 0xB0, 0xB4, 0xB6, 0xB7, 0xBB, 0xBF};

// x87 register forms (mod=11) that are instructions, a bit per ModRM & 0x3F,
// D8 to DF; the reserved aliases real processors run (fstp1, fxch4, ...) count.
constexpr unsigned long long X87Bits(int lo, int hi)
{
    unsigned long long u = 0;
    for (int i = lo; i <= hi; ++i)
        u |= 1ULL << (i - 0xC0);
    return u;
}
constexpr unsigned long long kX87Registers[8] = {
    ~0ULL, // D8
    X87Bits(0xC0, 0xD0) | X87Bits(0xD8, 0xE1) | X87Bits(0xE4, 0xE5) | X87Bits(0xE8, 0xEE) |
        X87Bits(0xF0, 0xFF),                                         // D9
    X87Bits(0xC0, 0xDF) | X87Bits(0xE9, 0xE9),                       // DA
    X87Bits(0xC0, 0xE4) | X87Bits(0xE8, 0xF7),                       // DB
    ~0ULL,                                                           // DC
    X87Bits(0xC0, 0xEF),                                             // DD
    X87Bits(0xC0, 0xD7) | X87Bits(0xD9, 0xD9) | X87Bits(0xE0, 0xFF), // DE
    X87Bits(0xC0, 0xE0) | X87Bits(0xE8, 0xF7),                       // DF
};
// The x87 memory forms by ModRM.reg: D9 /1, DB /4, DB /6 and DD /5 are none.
constexpr BYTE kX87Memory[8] = {0xFF, 0xFD, 0xFF, 0xAF, 0xFF, 0xDF, 0xFF, 0xFF};

// What LOCK may precede: these, with a memory operand, by ModRM.reg.
constexpr GroupRegs kLockable[] = {
    {0, 0x00, 0xFF, 0}, {0, 0x01, 0xFF, 0}, {0, 0x08, 0xFF, 0}, {0, 0x09, 0xFF, 0}, {0, 0x10, 0xFF, 0},
    {0, 0x11, 0xFF, 0}, {0, 0x18, 0xFF, 0}, {0, 0x19, 0xFF, 0}, {0, 0x20, 0xFF, 0}, {0, 0x21, 0xFF, 0},
    {0, 0x28, 0xFF, 0}, {0, 0x29, 0xFF, 0}, {0, 0x30, 0xFF, 0}, {0, 0x31, 0xFF, 0}, {0, 0x80, 0x7F, 0},
    {0, 0x81, 0x7F, 0}, {0, 0x82, 0x7F, 0}, {0, 0x83, 0x7F, 0}, {0, 0x86, 0xFF, 0}, {0, 0x87, 0xFF, 0},
    {0, 0xF6, 0x0C, 0}, {0, 0xF7, 0x0C, 0}, {0, 0xFE, 0x03, 0}, {0, 0xFF, 0x03, 0}, {1, 0xAB, 0xFF, 0},
    {1, 0xB0, 0xFF, 0}, {1, 0xB1, 0xFF, 0}, {1, 0xB3, 0xFF, 0}, {1, 0xBA, 0xE0, 0}, {1, 0xBB, 0xFF, 0},
    {1, 0xC0, 0xFF, 0}, {1, 0xC1, 0xFF, 0}, {1, 0xC7, 0x02, 0},
};

// kGroups spread over the one-byte and 0F maps, for a lookup per instruction.
struct RegMasks
{
    BYTE mem[2][256], reg[2][256];
};
constexpr RegMasks MakeRegMasks()
{
    RegMasks masks = {};
    for (int map = 0; map < 2; ++map)
        for (int op = 0; op < 256; ++op)
            masks.mem[map][op] = masks.reg[map][op] = 0xFF;
    for (const GroupRegs& g : kGroups)
    {
        masks.mem[g.map][g.op] = g.memRegs;
        masks.reg[g.map][g.op] = g.regRegs;
    }
    return masks;
}
constexpr RegMasks kRegMasks = MakeRegMasks();

bool RegAllowed(int map, BYTE op, BYTE modrm)
{
    if (map > 1)
        return true;
    BYTE reg = (modrm >> 3) & 7;
    bool fRegister = (modrm >> 6) == 3;
    if (map == 0 && op >= 0xD8 && op <= 0xDF)
        return fRegister ? (kX87Registers[op - 0xD8] >> (modrm & 0x3F)) & 1
                         : (kX87Memory[op - 0xD8] >> reg) & 1;
    return ((fRegister ? kRegMasks.reg[map][op] : kRegMasks.mem[map][op]) >> reg) & 1;
}

bool PrefixAllowed(BYTE op, BYTE bMandatory, BYTE mod)
{
    BYTE bit = bMandatory == 0x66 ? 0x2 : bMandatory == 0xF3 ? 0x4 : bMandatory == 0xF2 ? 0x8 : 0x1;
    for (const PrefixedOpcode& o : kPrefixed)
        if (o.op == op)
            // MOVQ2DQ and MOVDQ2Q take registers only.
            return (o.prefixes & bit) && !(op == 0xD6 && bit >= 0x4 && mod != 3);
    return true;
}

bool Lockable(int map, BYTE op, BYTE modrm)
{
    if ((modrm >> 6) == 3)
        return false;
    for (const GroupRegs& g : kLockable)
        if (g.map == map && g.op == op)
            return (g.memRegs >> ((modrm >> 3) & 7)) & 1;
    return false;
}

// Maps an instruction reaches: the legacy ones by escape bytes, the rest
// only through VEX, EVEX or XOP.
enum
{
    kMapOneByte = 0,
    kMap0F = 1,
    kMap0F38 = 2,
    kMap0F3A = 3,
    kMapEvex5 = 5,
    kMapEvex6 = 6,
    kMapXop8 = 8,
    kMapXop9 = 9,
    kMapXopA = 10,
};

enum Encoding
{
    kLegacy,
    kVex,
    kEvex,
    kXop
};

WORD FlagsIn(int map, BYTE op, Encoding enc)
{
    switch (map)
    {
    case kMap0F: {
        WORD flags = kTwoByte.flags[op];
        if (enc == kLegacy)
            return flags;
        if (enc == kVex && op == 0x77) // VZEROUPPER, VZEROALL
            return 0;
        // Under VEX and EVEX every instruction of this map has a ModRM.
        return (flags & kModRm) && !(flags & (kRel | kInvalid)) && op != 0x0F ? flags : WORD(kInvalid);
    }
    case kMap0F38:
        return kModRm;
    case kMap0F3A:
        return kModRm | kImm8;
    case kMapEvex5:
    case kMapEvex6:
        return enc == kEvex ? WORD(kModRm) : WORD(kInvalid);
    case kMapXop8:
        return enc == kXop ? WORD(kModRm | kImm8) : WORD(kInvalid);
    case kMapXop9:
        return enc == kXop ? WORD(kModRm) : WORD(kInvalid);
    case kMapXopA:
        return enc == kXop ? WORD(kModRm | kImmZ) : WORD(kInvalid); // imm32 always
    default:
        return kInvalid;
    }
}
} // namespace

bool DecodeX86(const BYTE* p, size_t cbAvail, bool f64, X86Instruction& insn)
{
    insn = X86Instruction{};
    const size_t cbMax = cbAvail < kX86MaxLength ? cbAvail : kX86MaxLength;
    size_t i = 0;
    bool fOpSize = false, fAddrSize = false;
    BYTE bRex = 0;
    BYTE bLastMandatory = 0; // the 66, F2 or F3 an SSE opcode reads as its own
    bool fVexFaults = false; // 66, F2, F3, F0 or REX: VEX, EVEX and XOP fault behind them
    bool fLock = false;
    const OpcodeMap& oneByte = f64 ? kOneByte64 : kOneByte;
    for (;; ++i)
    {
        if (i >= cbMax)
            return false;
        BYTE b = p[i];
        if (f64 && (b & 0xF0) == 0x40)
        {
            bRex = b;
            fVexFaults = true;
            continue;
        }
        if (!(oneByte.flags[b] & kPrefix))
            break;
        bRex = 0; // a REX counts only right before the opcode
        if (b == 0x66)
            fOpSize = true;
        else if (b == 0x67)
            fAddrSize = true;
        if (b == 0x66 || b == 0xF2 || b == 0xF3)
        {
            if (b != 0x66 || bLastMandatory == 0)
                bLastMandatory = b;
            fVexFaults = true;
        }
        else if (b == 0xF0)
            fVexFaults = fLock = true;
    }

    BYTE op = p[i++];
    int map = kMapOneByte;
    Encoding enc = kLegacy;
    // C4, C5 and 62 are LES, LDS and BOUND in 32-bit mode unless the next byte
    // would be a register ModRM; 8F is POP r/m unless the map field is 8 or more.
    bool fVexLike = (op == 0xC4 || op == 0xC5 || op == 0x62) && i < cbMax && (f64 || p[i] >= 0xC0);
    bool fXop = op == 0x8F && i < cbMax && (p[i] & 0x1F) >= 8;
    if (fVexLike || fXop)
    {
        size_t cbPayload = op == 0xC5 ? 1 : op == 0x62 ? 3 : 2;
        if (fVexFaults || i + cbPayload >= cbMax)
            return false;
        if (op == 0xC5)
            map = kMap0F;
        else if (op == 0x62)
        {
            if ((p[i] & 0x08) || !(p[i + 1] & 0x04))
                return false;
            map = p[i] & 0x07;
        }
        else
            map = p[i] & 0x1F;
        enc = op == 0xC5 || op == 0xC4 ? kVex : op == 0x62 ? kEvex : kXop;
        if (enc == kVex && (map < kMap0F || map > kMap0F3A))
            return false;
        i += cbPayload;
        op = p[i++];
    }
    else if (op == 0x0F)
    {
        if (i >= cbMax)
            return false;
        op = p[i++];
        map = kMap0F;
        if (op == 0x38 || op == 0x3A)
        {
            if (i >= cbMax)
                return false;
            map = op == 0x38 ? kMap0F38 : kMap0F3A;
            op = p[i++];
        }
    }
    WORD flags = map == kMapOneByte ? oneByte.flags[op] : FlagsIn(map, op, enc);
    if (flags & kInvalid)
        return false;

    if (flags & kModRm)
    {
        if (i >= cbMax)
            return false;
        BYTE modrm = p[i++];
        BYTE mod = modrm >> 6, reg = (modrm >> 3) & 7, rm = modrm & 7;
        bool fTsx = map == kMapOneByte && (op == 0xC6 || op == 0xC7) && modrm == 0xF8;
        if (fTsx)
            flags |= op == 0xC7 ? kRel : 0;
        else if (enc == kLegacy && !RegAllowed(map, op, modrm))
            return false;
        if (fLock && !Lockable(map, op, modrm))
            return false;
        if (map == kMap0F && enc == kLegacy && !PrefixAllowed(op, bLastMandatory, mod))
            return false;
        size_t cbDisp = 0;
        if (mod != 3 && !(flags & kRegOnly))
        {
            if (!f64 && fAddrSize)
                cbDisp = mod == 1 ? 1 : mod == 2 || (mod == 0 && rm == 6) ? 2 : 0;
            else
            {
                if (rm == 4)
                {
                    if (i >= cbMax)
                        return false;
                    BYTE sib = p[i++];
                    if (mod == 0 && (sib & 7) == 5)
                        cbDisp = 4;
                }
                else if (mod == 0 && rm == 5)
                {
                    cbDisp = 4;
                    insn.ripRelative = f64;
                }
                if (mod == 1)
                    cbDisp = 1;
                else if (mod == 2)
                    cbDisp = 4;
            }
        }
        if (cbDisp != 0)
        {
            insn.dispAt = static_cast<BYTE>(i);
            insn.cbDisp = static_cast<BYTE>(cbDisp);
            i += cbDisp;
        }
        if ((flags & kTestImm) && reg >= 2)
            flags &= ~(kImm8 | kImmZ);
    }

    else if (fLock)
        return false;

    if (flags & kMoffs)
    {
        size_t cbOffset = f64 ? (fAddrSize ? 4 : 8) : (fAddrSize ? 2 : 4);
        insn.moffs = true;
        insn.dispAt = static_cast<BYTE>(i);
        insn.cbDisp = static_cast<BYTE>(cbOffset);
        i += cbOffset;
    }

    size_t cbImm = 0;
    if (flags & kImm8)
        cbImm += 1;
    if (flags & kImm16)
        cbImm += 2;
    if (flags & kImmZ)
        cbImm += fOpSize && enc == kLegacy ? 2 : 4;
    if (flags & kImmV)
        cbImm += (bRex & 0x08) ? 8 : fOpSize ? 2 : 4;
    // SSE4a EXTRQ and INSERTQ with their two imm8 (66 0F 78 /0 ib ib, F2 0F 78 /r ib ib).
    if (map == kMap0F && op == 0x78 && enc == kLegacy && (bLastMandatory == 0x66 || bLastMandatory == 0xF2))
        cbImm = 2;
    if (cbImm != 0)
    {
        insn.immAt = static_cast<BYTE>(i);
        insn.cbImm = static_cast<BYTE>(cbImm);
        i += cbImm;
    }
    if (i > cbMax)
        return false;
    if (map == kMap0F && op == 0x0F &&
        std::find(std::begin(k3DNow), std::end(k3DNow), p[i - 1]) == std::end(k3DNow))
        return false;
    insn.relBranch = (flags & kRel) != 0;
    insn.cb = static_cast<BYTE>(i);
    return true;
}

long long X86FieldValue(const BYTE* p, BYTE cb)
{
    unsigned long long u = 0;
    for (BYTE i = cb; i-- > 0;)
        u = (u << 8) | p[i];
    if (cb > 0 && cb < 8 && (p[cb - 1] & 0x80))
        u |= ~0ULL << (8 * cb);
    return static_cast<long long>(u);
}

std::string FormatInstructionBytes(const BYTE* p, size_t cb)
{
    static const char kHex[] = "0123456789abcdef";
    std::string s;
    s.reserve(cb * 3);
    for (size_t i = 0; i < cb; ++i)
    {
        if (i != 0)
            s += ' ';
        s += kHex[p[i] >> 4];
        s += kHex[p[i] & 15];
    }
    return s;
}
