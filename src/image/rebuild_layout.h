// Where the raw data of each section goes when the resource section is
// written again: the file is cut at the old resource data, the new data takes
// its place, and everything behind the cut moves by one shift that keeps every
// offset's alignment. RVAs never change; only file offsets move.
#pragma once

#include "pe/pe_headers.h"

#include <vector>

// The old file in three parts: [0, dwCutFrom) stays, [dwCutFrom, dwCutTo) is
// replaced, [dwCutTo, dwTailEnd) moves to dwNewTail.
struct RawPlan
{
    DWORD dwCutFrom;
    DWORD dwCutTo;
    DWORD dwTailEnd;
    DWORD dwNewTail;

    DWORD MapOffset(DWORD dwOld) const { return dwOld >= dwCutTo ? dwOld - dwCutTo + dwNewTail : dwOld; }
    DWORD NewEnd() const { return dwNewTail + (dwTailEnd - dwCutTo); }
};

// A header field that holds a file offset: where it lies and what it says.
struct FileOffsetField
{
    DWORD dwAt;
    DWORD dwValue;
};

// A debug directory entry and the file offset it was read from.
struct DebugEntryAt
{
    DWORD dwAt;
    PeDebugDirectory entry;
};

// The entries of the debug directory, as many as its size and its section's
// raw data hold.
void ReadDebugEntries(const PeHeaders& layout, const CImageBytes& bytes, std::vector<DebugEntryAt>& entries);

// Every file offset the image records outside its raw data: PointerToRawData
// of each section with raw data, PointerToRelocations and
// PointerToLinenumbers when set, PointerToSymbolTable, and the
// PointerToRawData of each debug directory entry.
void FileOffsetFields(const PeHeaders& layout, const CImageBytes& bytes,
                      std::vector<FileOffsetField>& fields);

// Nothing cut: every byte up to dwFileEnd stays where it is.
RawPlan KeepAllRawData(DWORD dwFileEnd);

// 1 with the plan that gives section iSection cbNew bytes of raw data at its
// offset (0: none) and moves what lies behind it; 0 when another section's
// raw data, the headers or a recorded file offset lie inside the bytes it
// would replace, or the file would pass 4 GB.
int PlanRawData(const PeHeaders& layout, const std::vector<FileOffsetField>& fields, int iSection,
                DWORD cbNew, DWORD dwFileEnd, RawPlan& plan);

// The old file's bytes where the plan puts them, the replaced part zero, and
// each recorded offset behind the cut moved with the bytes it points to.
void CopyByPlan(const BYTE* pView, const RawPlan& plan, const std::vector<FileOffsetField>& fields,
                std::vector<BYTE>& out);
