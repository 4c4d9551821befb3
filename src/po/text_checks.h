// Checks of a translated text against its source text, for po check: what a
// translation may not change without breaking the program that shows it.
#pragma once

#include "port/win32.h"

#include <string>
#include <vector>

// The character after the first lone '&' ("&&" is a literal &), ASCII letters
// upper-cased, as UTF-8; "" when the text has none.
std::string AcceleratorKey(const std::string& sUtf8);

// The printf conversions ("%s", "%-10s", "%*d", "%I64d", "%1$s") and the
// FormatMessage inserts and codes ("%1", "%1!s!", "%0", "%n", "%t", "%r") of
// a text, in order, each as written. "%%" is text, and so is a '%' followed by
// a space ("100% sure"), which UI texts hold far more often than the space
// flag. "%n" is FormatMessage's line break, never printf's count, which no UI
// text passes. Digits after '%' are a printf width when a conversion follows
// ("%5d"), else a FormatMessage insert ("%1 files").
std::vector<std::string> FormatSpecifiers(const std::string& sUtf8);

// Whether the translation keeps what the source needs; else false with a
// short English reason. printf conversions take their arguments in order, so the translation
// needs the same conversions in the same order (or numbered "%2$d %1$s" to
// the same arguments); flags, width and precision may differ, '*' may not.
// FormatMessage inserts are numbered: any order, repeats allowed, but the same
// numbers with the same formats. "%0" must be kept or left out as in the
// source; line breaks and tabs (%n %t %r) are the translator's. In a source
// with a tab ("&Open...\tCtrl+O") the shortcut after the tab is kept as is.
bool FormatsAgree(const std::string& sSource, const std::string& sTranslation, std::string& sReason);

// Whether the translation has the source's line breaks; else false with the reason. A
// translator who types the two characters \n (or \t, \r) means the control
// character, which a resource text never decodes, so those are named first.
bool LineBreaksAgree(const std::string& sSource, const std::string& sTranslation, std::string& sReason);

// Whether a text holds words a translator turns into another language: not
// when its only letters are all-caps tokens ("ANSI", "(UTF-8)"), words with
// digits ("Win32"), file names, patterns and paths ("*.txt"), format
// specifiers, a menu shortcut after the tab, or the names below ("Unicode").
bool NeedsTranslation(const std::string& sUtf8);

// Whether text can be checked against code page uCodePage on this build.
bool KnowsCodePage(UINT uCodePage);
// The characters of a text that code page uCodePage cannot hold exactly (a
// best-fit look-alike counts as lacking), each once, in order, as UTF-8.
std::string CodePageLacks(const std::string& sUtf8, UINT uCodePage);
