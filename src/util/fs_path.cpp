#include "util/fs_path.h"

#ifndef _WIN32
#include "port/native_path.h"
#endif

std::filesystem::path FsPath(const WString& wsPath)
{
#ifdef _WIN32
    return std::filesystem::path(wsPath);
#else
    return std::filesystem::path(NativePath(wsPath.c_str()));
#endif
}

WString ToolPath(const std::filesystem::path& path)
{
#ifdef _WIN32
    return path.wstring();
#else
    return FromUtf8(path.string());
#endif
}
