// Rule-set files: "Config"/"FILE" and one section per rule, "001", "002", ...
#pragma once

#include "rules/rule_files.h"

struct PatchRule
{
    UINT number;
    WCHAR wsEn[kTextChars]; // escape notation, as stored
    WCHAR wsCn[kTextChars];
    bool x86;
    bool x64;
    bool unicode;
    bool repeat;
};

// "%03u" of the rule number: the name of its section.
void FormatNode(LPWSTR wsNode, UINT uNumber);

// The four switches, each by the lowest bit of its stored integer, with
// defaults X86 1, X64 1, UNICODE 1, REPEAT 0.
void ReadRuleSwitches(LPCWSTR wsFile, LPCWSTR wsNode, PatchRule& rule);

// Reads rule uNumber with the wide reads. Returns false where the list ends:
// an empty EN, or X86 and X64 both 0.
bool ReadRule(LPCWSTR wsFile, UINT uNumber, PatchRule& rule);
bool IsListEnd(bool enEmpty, bool x86, bool x64);
// Reads rule uNumber as the patch run does: the switches first, then EN and CN
// with the wide reads for a UTF-16 rule, or for an ANSI rule with the ANSI-view
// reads from szFile (the rule-set path in the ANSI code page; null: the texts
// are empty), their bytes standing in the rule's two buffers. Returns false
// where the list ends.
bool ReadRuleAsRun(LPCWSTR wsFile, LPCSTR szFile, UINT uNumber, PatchRule& rule);

typedef void (*FnRuleRow)(void* pContext, const PatchRule& rule);
// Calls fnRow for rules 1, 2, ... up to the end of the list; returns the count.
UINT ReadRuleList(LPCWSTR wsFile, FnRuleRow fnRow, void* pContext);

// "Config"/"FILE": the target path last used, cut to kPathChars-1.
DWORD ReadTargetPath(LPCWSTR wsFile, LPWSTR wsPath, DWORD cchPath);
BOOL WriteTargetPath(LPCWSTR wsFile, LPCWSTR wsPath);
// One key of one rule: EN, CN or a switch ("0"/"1"). A missing rule-set file
// is created as UTF-16LE first. Returns whether the write reached the file.
BOOL WriteRuleKey(LPCWSTR wsFile, UINT uNumber, LPCWSTR wsKey, LPCWSTR wsValue);
BOOL WriteNodeKey(LPCWSTR wsFile, LPCWSTR wsNode, LPCWSTR wsKey, LPCWSTR wsValue);
// Flips a switch shown as wsCell ("1" when it read 0 by its decimal value,
// else "0"), stores the new text and returns it.
LPCWSTR ToggleRuleSwitch(LPCWSTR wsFile, UINT uNumber, LPCWSTR wsKey, LPCWSTR wsCell);

// Deletes rule uNumber and moves every later section down one number with all
// of its keys, up to the first number whose section reads as empty. What the
// moves need is allocated before anything is written: when it cannot be had,
// nothing changes and -1 is returned. Otherwise returns how many sections were
// moved down (the rows after the deleted one that need their numbers redone).
// When the moves cannot be written, the file is left as it was and -1 is
// returned too.
int DeleteRule(LPCWSTR wsFile, UINT uNumber);
