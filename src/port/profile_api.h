// The seam through which every caller reaches the private-profile functions.
// On Windows the six names the tool uses are routed to the project's store
// instead of kernel32, whose calls each do work proportional to the file; on
// other systems the store defines those names itself (profile_api_posix.cpp).
// Included by port/win32.h after <windows.h>, so callers keep the Win32 names.
// Code that must reach kernel32 itself takes it through GetProcAddress.
#pragma once

#ifdef _WIN32
#include "port/profile_store.h"

#undef GetPrivateProfileStringW
#undef GetPrivateProfileStringA
#undef GetPrivateProfileIntW
#undef GetPrivateProfileSectionW
#undef WritePrivateProfileStringW
#undef WritePrivateProfileSectionW
#define GetPrivateProfileStringW profile_store::GetString
#define GetPrivateProfileStringA profile_store::GetStringA
#define GetPrivateProfileIntW profile_store::GetInt
#define GetPrivateProfileSectionW profile_store::GetSection
#define WritePrivateProfileStringW profile_store::WriteString
#define WritePrivateProfileSectionW profile_store::WriteSection
#endif
