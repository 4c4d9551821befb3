// UTF-16 Win32-style paths to the host's UTF-8 paths and back.
#pragma once

#include "port/utf8.h"

#include <string>

// '\' becomes '/', the rest is converted to UTF-8 (a lone surrogate becomes U+FFFD).
std::string NativePath(const char16_t* wsPath);
