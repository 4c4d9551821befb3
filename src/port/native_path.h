// UTF-16 Win32-style paths to the host's UTF-8 paths and back.
#pragma once

#include <string>

// '\' becomes '/', the rest is converted to UTF-8 (a lone surrogate becomes U+FFFD).
std::string NativePath(const char16_t* wsPath);
std::string Utf16ToUtf8(const char16_t* ws, size_t cch);
std::u16string Utf8ToUtf16(const std::string& s);
