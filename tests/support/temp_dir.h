// A fresh temporary directory per test, removed with everything in it.
#pragma once

#include "port/win32.h"

#include <string>

typedef std::basic_string<WCHAR> WString;

class TempDir
{
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory joined with a name, in the tool's own path form.
    WString Path(const WString& name) const;
    const WString& Dir() const { return m_dir; }

  private:
    WString m_dir;
};

// Whole-file helpers on tool-form paths.
std::string ReadBytes(const WString& path);
void WriteBytes(const WString& path, const std::string& bytes);
bool FileExists(const WString& path);
// UTF-16LE bytes of a text, for building and checking Unicode files.
std::string Utf16Bytes(const WString& text);
