// The tool's texts as std strings: UTF-16 for the core, UTF-8 for arguments,
// output and PO files, and the forms in which messages show them.
#pragma once

#include "port/utf8.h"
#include "port/win32.h"

#include <string>

typedef std::basic_string<WCHAR> WString;

std::string ToUtf8(const WCHAR* ws, size_t cch);
std::string ToUtf8(const WString& ws);
WString FromUtf8(const std::string& s);

// s for a message: well-formed sequences as they are, every other byte as \xNN.
std::string ShownBytes(const std::string& s);

// A path as the system shows it ('/' on Linux, where the tool writes '\').
std::string ShownPath(const WString& wsPath);

// A stored EN or CN for one line of text output: a raw tab, which the main
// window stores as typed, is shown as its escape, so columns stay columns.
std::string ShownText(const WString& wsStored);

// The escape notation of a raw text, exact both ways: every backslash doubled,
// line breaks, tabs and zero units as their escapes, other control units as
// \x, and a blank or quote at either end as \x so the profile read, which trims
// them, gives the text back whole.
WString EscapeExact(const WString& wsRaw);
// One unit of such a text; atEnd for the first and the last unit.
void AppendEscaped(WString& ws, WCHAR c, bool atEnd);
// What the profile read trims at either end of a value.
bool IsTrimmedByRead(WCHAR c);
void AppendHexEscape(WString& ws, BYTE b);

// "0x0001A2B0".
inline std::string HexOffset(DWORD dwOffset)
{
    return HexNumber(dwOffset, 8);
}

// ASCII-only case folding, as rule-set names and file endings are compared.
bool EqualsNoCase(const WString& a, const WString& b);
bool EndsWithNoCase(const WString& ws, const WString& wsEnd);
