// The places in an image's code that name an address inside the image: the
// RIP-relative operands of 64-bit code, the absolute addresses 32-bit code
// holds as immediates, displacements and moffs. A text moved elsewhere is
// found again through these.
#pragma once

#include "code/x86_decode.h"
#include "pe/pe_headers.h"

#include <vector>

struct CodeField
{
    DWORD dwInsnRva; // where the instruction starts
    BYTE cbInsn;
    BYTE fieldAt;      // the 4-byte field's offset inside the instruction
    DWORD dwTargetRva; // inside SizeOfImage: 64-bit the RIP-relative target, 32-bit the value minus ImageBase
    bool immediate;    // an immediate (push imm32, mov r32, imm32, ...), else a displacement or moffs
};

struct CodeScan
{
    std::vector<CodeField> fields; // by target, then by instruction
    UINT uFunctions = 0;           // function starts decoded; 0 for a sweep
    UINT uInstructions = 0;
    UINT uUndecodable = 0; // bytes where no instruction decoded, stepped over one by one
    bool fromFunctionTable = false;
};

// Sees the instructions as the walk decodes them, each once.
class ICodeVisitor
{
  public:
    virtual void OnFunction(DWORD /*dwRva*/) {}
    virtual void OnInstruction(DWORD dwRva, const BYTE* p, const X86Instruction& insn) = 0;
    // A byte where no instruction decodes; cbAvail bytes of code follow it.
    virtual void OnUndecodable(DWORD /*dwRva*/, const BYTE* /*p*/, size_t /*cbAvail*/) {}

  protected:
    ~ICodeVisitor() = default;
};

// 64-bit: the functions .pdata lists, the entry point and the exports in
// executable sections, and the targets of direct calls and jumps from them,
// each decoded once. A listed range is decoded to its end; another start runs
// until a return or jump that no earlier branch reaches past, or the next
// known start. 32-bit: a linear sweep of every executable section.
// Fills the counts of scan; its fields stay as they are.
void WalkCode(const PeHeaders& headers, ICodeVisitor& visitor, CodeScan& scan);

// The walk, with every field that names an address inside the image.
void ScanCodeReferences(const PeHeaders& headers, CodeScan& scan);

// The image base from the optional header; 0 when it cannot be read.
unsigned long long ImageBaseOf(const PeHeaders& headers);
