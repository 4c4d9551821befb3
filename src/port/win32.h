// The one header through which the portable core reaches Win32: the real one on
// Windows, the stand-ins of this folder elsewhere.
#pragma once

#ifdef _WIN32
#include <windows.h>
#define W(s) L##s
#else
#include "port/win32_types.h"
#include "port/win32_functions.h"
#endif
