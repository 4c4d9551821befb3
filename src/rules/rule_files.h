// Names, keys and buffer sizes shared by the catalogue, rule-set and remarks files.
#pragma once

#include "port/win32.h"

const UINT kKeyChars = 20;       // section names, keys, switch texts
const UINT kNameChars = 100;     // rule-set names
const UINT kPathChars = 360;     // file paths
const UINT kTextChars = 2048;    // EN and CN texts
const UINT kSectionChars = 6144; // one whole rule section

#define CATALOGUE_FILE_NAME W("Pivra.ini")
#define SECTION_CONFIG W("Config")
#define KEY_FILE W("FILE")
#define KEY_EN W("EN")
#define KEY_CN W("CN")
#define KEY_X86 W("X86")
#define KEY_X64 W("X64")
#define KEY_UNICODE W("UNICODE")
#define KEY_REPEAT W("REPEAT")

// A file of the tool directory (the directory of the running executable): the
// directory, '\', the name and the ending, cut to cchFile-1 units. A rule set's
// name is used as it stands, with ".ini" for its rules and ".txt" for its remarks.
void GetToolFile(LPCWSTR wsName, LPCWSTR wsEnding, LPWSTR wsFile, UINT cchFile);
// The catalogue, in a buffer of kPathChars.
void GetCatalogueFile(LPWSTR wsFile);

// Profile writes create a missing file in the ANSI code page, where every
// character outside it is lost; the tool's own files start as UTF-16LE (FF FE)
// instead. An existing file is left as it is.
void CreateUnicodeFile(LPCWSTR wsFile);
