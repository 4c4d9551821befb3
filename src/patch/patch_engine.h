// Applying many replacements to one buffer in rule order, with the result of
// applying them one after the other, but with one scan of the buffer for all
// of them.
#pragma once

#include "port/win32.h"

// One replacement: the lowest occurrence of EN (every occurrence with repeat,
// as ReplaceEvery finds them) is overwritten with CN and zero bytes up to
// EN's length. A job whose CN is longer than its EN, or whose EN is empty,
// finds nothing.
struct PatchJob
{
    const BYTE* pEn;
    DWORD cbEn;
    const BYTE* pCn;
    DWORD cbCn;
    bool repeat;
};

// Called for every overwrite, in the order the overwrites are made.
typedef void (*FnPatchWrite)(void* pContext, UINT uJob, DWORD dwAt);

// Knobs of the one-pass search; the defaults suit real targets, the tests
// shrink them to reach every path on small buffers.
struct PatchEngineLimits
{
    UINT uMaxListed;    // occurrences of one EN listed by the scan; more and the job searches alone
    UINT uMinShortTier; // ENs of one tier under 15 bytes worth a scan of their own; fewer search alone
    DWORD cbMinSplit;   // buffers this long or longer are scanned in two halves at once
    DWORD cbPerListed;  // at most one listed occurrence in all per this many bytes of buffer (0: any)
    bool classScan;     // positions tested many at a time where the processor can
};
extern const PatchEngineLimits kDefaultEngineLimits;

// Applies the jobs in order and stores in puCounts[i] how many occurrences job
// i overwrote (0: EN not found). The buffer ends exactly as ApplyJobsSequential
// leaves it. Memory it cannot have makes it search job by job, never changes
// the result.
void ApplyJobs(BYTE* pView, DWORD dwSize, const PatchJob* pJobs, UINT uJobs, UINT* puCounts,
               FnPatchWrite fnWrite = nullptr, void* pContext = nullptr,
               const PatchEngineLimits& limits = kDefaultEngineLimits);

// The reference: each job searched through the whole buffer by
// ReplaceBytesFrom and ReplaceEveryBytes, one after the other.
void ApplyJobsSequential(BYTE* pView, DWORD dwSize, const PatchJob* pJobs, UINT uJobs, UINT* puCounts);
