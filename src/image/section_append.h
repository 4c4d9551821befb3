// Adding one section behind all others: what the resource rebuild does when
// the old section cannot take the new tree, and where relocated texts go.
// Every byte the image had stays at its offset and address.
#pragma once

#include "pe/pe_headers.h"

#include <string>
#include <vector>

const DWORD kScnCode = 0x00000020;
const DWORD kScnInitializedData = 0x00000040;
const DWORD kScnExecute = 0x20000000;
const DWORD kScnRead = 0x40000000;
const DWORD kScnWrite = 0x80000000;
const unsigned long long kMaxFile = 0xFFFFFFFFull;
const unsigned long long kMaxSectionBytes = 0x7FFFFFFFull;

unsigned long long AlignUp(unsigned long long u, DWORD dwAlignment);

// The image checksum as imagehlp computes it: the 16-bit words of the file
// (the checksum field counted as zero, an odd last byte as a word) summed with
// the carry folded back, plus the file's length.
DWORD PeCheckSum(const std::vector<BYTE>& image, DWORD dwCheckSumField);

// The end of the raw data of every section, the file offset where appended
// data (an overlay) begins.
DWORD RawEnd(const PeHeaders& layout);
// Whether the bytes from dwFrom to dwTo (behind the sections) are only the
// COFF symbols a linker leaves and zeros, which no program looks for.
bool OverlayIsSymbolsOnly(const BYTE* pView, const PeHeaders& layout, DWORD dwFrom, DWORD dwTo);
// The end of what a new file keeps: a signature at the very end is cut off.
DWORD FileEndWithoutSignature(const PeHeaders& layout);
bool HasSignature(const PeHeaders& layout);
// The end of the image's address space: the headers' pages and every section.
bool VirtualEnd(const PeHeaders& layout, DWORD& dwMaxEnd, std::string& sReason);
// Whether a header for one more section fits behind the table, in bytes the
// headers hold and nothing uses, and the loader takes one more.
bool HeaderSlotFree(const PeHeaders& layout, const CImageBytes& bytes, const char* szWhat,
                    std::string& sReason);
// The header checks every rewrite makes first: headers read whole, alignments
// the loader takes, no packer, no raw data past the end of the file.
bool CheckLayout(const PeHeaders& layout, std::string& sReason);

struct NewSection
{
    DWORD dwRva = 0;       // where the section starts in memory
    DWORD dwRawOffset = 0; // and in the file
    DWORD cbData = 0;
    DWORD dwHeader = 0;  // file offset of its section table entry
    DWORD dwFileEnd = 0; // what the new file keeps of the old, less a signature
};

// 1 with the place of a new last section of cbData bytes; 0 with the reason
// when the image cannot take one (szWhat names it in the reasons). Warnings
// tell what the new file loses (the signature) or where data appended behind
// the sections goes.
int PlanNewSection(const PeHeaders& layout, DWORD cbData, const char* szWhat, NewSection& plan,
                   std::vector<std::string>& warnings, std::string& sReason);

// The image's bytes (as many as layout.dwSize, changed or not at their
// offsets) with the section added: its data, its header, the section count,
// SizeOfImage, SizeOfInitializedData, no signature, the checksum when the
// image had one.
void WriteNewSection(const PeHeaders& layout, const NewSection& plan, const char* szName,
                     DWORD dwCharacteristics, const std::vector<BYTE>& data, std::vector<BYTE>& image);
