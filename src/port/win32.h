// The one header through which the portable core reaches Win32: the real one on
// Windows, the stand-ins of this folder elsewhere. The private-profile
// functions are the project's store on both (port/profile_api.h).
#pragma once

#ifdef _WIN32
#include <windows.h>
#define W(s) L##s
#include "port/profile_api.h"
#else
#include "port/win32_functions.h"
#include "port/win32_types.h"
#endif
