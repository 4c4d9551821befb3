// The tool's paths as the standard library's: '\' or '/' separated UTF-16 to
// the host's form and back.
#pragma once

#include "util/wstring.h"

#include <filesystem>

std::filesystem::path FsPath(const WString& wsPath);
WString ToolPath(const std::filesystem::path& path);
