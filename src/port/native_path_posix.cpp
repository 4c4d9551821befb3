#include "port/native_path.h"

std::string NativePath(const char16_t* wsPath)
{
    std::string s = Utf16ToUtf8(wsPath, std::char_traits<char16_t>::length(wsPath));
    for (char& c : s)
        if (c == '\\')
            c = '/';
    return s;
}
