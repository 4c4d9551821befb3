// Applying one rule set to one target file in place.
#pragma once

#include "port/win32.h"

// The progress-bar operations of a run, in the order they come: the range
// 0..uValue (PBM_SETRANGE32), the step uValue (PBM_SETSTEP), one step
// (PBM_STEPIT), the position uValue (PBM_SETPOS).
enum PatchProgress
{
    kProgressSetRange,
    kProgressSetStep,
    kProgressStepIt,
    kProgressSetPos
};

// What a run needs of the window that starts it, so the run itself includes no
// window header: the rule list's item count, the progress bar, and a modal
// report box that returns when it has been closed.
struct PatchWindow
{
    void* pContext;
    UINT (*fnRuleCount)(void* pContext);
    void (*fnProgress)(void* pContext, PatchProgress progress, UINT uValue);
    void (*fnReport)(void* pContext, LPCWSTR wsText, LPCWSTR wsCaption, UINT uType);
};

// Applies the rules of wsRuleFile to the file wsTarget, which it holds
// exclusively while it works, logs the rules that fail beside the executable,
// reports the counts of tried and modified rules and returns the modified one.
// A target that cannot be opened or mapped, or of 4 GiB or more, is left
// untouched and reported as 0 and 0.
UINT RunPatch(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window);

// RunPatch with the log file named by the caller; fnRuleFailed, when given,
// is called with the window's context for each rule that fails, just before
// its two log lines are written (a run writes them after all its steps).
typedef void (*FnRuleFailed)(void* pContext, UINT uNumber);
UINT RunPatchLoggingTo(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window, LPCWSTR wsLogFile);
UINT RunPatchLoggingTo(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window, LPCWSTR wsLogFile,
                       FnRuleFailed fnRuleFailed);

// The same run with every rule searched for through the whole target as it is
// read: the reference the one-scan run is checked against.
UINT RunPatchSequentialLoggingTo(LPCWSTR wsRuleFile, LPCWSTR wsTarget, const PatchWindow& window,
                                 LPCWSTR wsLogFile);
