// Overwriting one occurrence of EN with CN and zero bytes up to EN's length.
#pragma once

#include "rules/rule_files.h"

const DWORD kNoOccurrence = 0xFFFFFFFFu;
const DWORD kTextBytes = 2 * kTextChars; // the longest EN the byte forms take: a UTF-16 text's bytes

// Lengths are in units (ReplaceTextW) or bytes (ReplaceTextA). Returns 1 when
// the lowest occurrence of EN was overwritten; 0 when EN does not occur, when
// CN is longer than EN or EN longer than a stored text can decode to, or when
// the scratch block cannot be had. Nothing is written when it returns 0.
int ReplaceTextW(BYTE* pView, DWORD dwSize, const WCHAR* wsEn, UINT lenEn, const WCHAR* wsCn, UINT lenCn);
int ReplaceTextA(BYTE* pView, DWORD dwSize, const char* szEn, UINT lenEn, const char* szCn, UINT lenCn);

// The same, for the lowest occurrence that starts at dwFrom or later; returns
// its offset, or kNoOccurrence.
DWORD ReplaceTextFromW(BYTE* pView, DWORD dwSize, DWORD dwFrom, const WCHAR* wsEn, UINT lenEn,
                       const WCHAR* wsCn, UINT lenCn);
DWORD ReplaceTextFromA(BYTE* pView, DWORD dwSize, DWORD dwFrom, const char* szEn, UINT lenEn,
                       const char* szCn, UINT lenCn);

// Leaves the view as calling ReplaceText again and again until it returns 0
// would, and returns how many occurrences were overwritten. Where those calls
// would never end (CN with its zero bytes equal to EN, so each overwrite
// leaves EN in place) it stops after the first.
UINT ReplaceEveryW(BYTE* pView, DWORD dwSize, const WCHAR* wsEn, UINT lenEn, const WCHAR* wsCn, UINT lenCn);
UINT ReplaceEveryA(BYTE* pView, DWORD dwSize, const char* szEn, UINT lenEn, const char* szCn, UINT lenCn);

// The byte forms of ReplaceTextFrom and ReplaceEvery, for EN of up to
// kTextBytes bytes (a UTF-16 text's bytes, or an ANSI text's).
DWORD ReplaceBytesFrom(BYTE* pView, DWORD dwSize, DWORD dwFrom, const BYTE* pEn, DWORD cbEn, const BYTE* pCn,
                       DWORD cbCn);
UINT ReplaceEveryBytes(BYTE* pView, DWORD dwSize, const BYTE* pEn, DWORD cbEn, const BYTE* pCn, DWORD cbCn);
