// UTF-16 Win32-style paths to the host's UTF-8 paths and back.
#pragma once

#include <string>

// '\' becomes '/', the rest is converted to UTF-8 (a lone surrogate becomes U+FFFD).
std::string NativePath(const char16_t* wsPath);
// A host path (UTF-8) as a UTF-16 path; what the ANSI functions take on Linux.
// The port's own conversions, since the port lies below util/utf8.h.
std::u16string WidePathOf(const std::string& sNative);
