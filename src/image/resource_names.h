// The names the map and the lists give resource types and languages.
#pragma once

#include "port/win32.h"

#include <string>

// "en-US", "zh-CN", "neutral", ... or "lang 0x0409".
std::string LanguageName(WORD wLang);
// "MENU", "DIALOG", ... for the standard resource types, else "type 240".
std::string ResourceTypeName(WORD wType);
