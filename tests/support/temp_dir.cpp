#include "temp_dir.h"

#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <cstdio>
#include <filesystem>
namespace
{
std::filesystem::path Native(const WString& path)
{
    return std::filesystem::path(path);
}
} // namespace
#else
#include "port/native_path.h"
#include <filesystem>
namespace
{
std::filesystem::path Native(const WString& path)
{
    return std::filesystem::path(NativePath(path.c_str()));
}
} // namespace
#endif

TempDir::TempDir()
{
    static unsigned s_counter = 0;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;)
    {
        std::ostringstream name;
        name << "pivra-test-" << std::hex << reinterpret_cast<uintptr_t>(this) << "-" << ++s_counter << "-"
             << std::filesystem::file_time_type::clock::now().time_since_epoch().count();
        std::filesystem::path dir = base / name.str();
        if (std::filesystem::create_directory(dir))
        {
#ifdef _WIN32
            m_dir = dir.wstring();
#else
            m_dir = Utf8ToUtf16(dir.string());
#endif
            return;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(Native(m_dir), ec);
}

WString TempDir::Path(const WString& name) const
{
    return m_dir + W("\\") + name;
}

std::string ReadBytes(const WString& path)
{
    std::ifstream in(Native(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const WString& path, const std::string& bytes)
{
    std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const WString& path)
{
    std::error_code ec;
    return std::filesystem::exists(Native(path), ec);
}

std::string Utf16Bytes(const WString& text)
{
    std::string bytes;
    for (WCHAR c : text)
    {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}
