// Runs a copy of pivra-cli placed in a test's own directory, which is then its
// tool directory (catalogue, default log), and captures what it prints.
#pragma once

#include "temp_dir.h"

#include <string>
#include <vector>

struct CliResult
{
    int exitCode;
    std::string out, err;
};

// A build-tree path (Unix form) as the running test names files.
WString BuildPath(const char* szUnix);

class CliRunner
{
  public:
    explicit CliRunner(const TempDir& dir);
    CliResult Run(const std::vector<WString>& args) const;
#ifndef _WIN32
    // Arguments as bytes, for names that are no UTF-8.
    CliResult RunBytes(const std::vector<std::string>& args) const;
#endif
    const WString& Exe() const
    {
        return m_exe;
    }

  private:
    const TempDir& m_dir;
    WString m_exe;
};

std::string Wide(const std::string& ascii); // ASCII as UTF-16LE bytes
