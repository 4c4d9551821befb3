#include "cli_runner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include "port/native_path.h"
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

WString BuildPath(const char* szUnix)
{
#ifdef _WIN32
    WString ws = W("Z:");
    for (const char* p = szUnix; *p != 0; ++p)
        ws += static_cast<WCHAR>(*p == '/' ? '\\' : *p);
    return ws;
#else
    return Utf8ToUtf16(szUnix);
#endif
}

CliRunner::CliRunner(const TempDir& dir) : m_dir(dir)
{
#ifdef _WIN32
    m_exe = dir.Path(W("pivra-cli.exe"));
    EXPECT_TRUE(CopyFileW(BuildPath(PIVRA_CLI_EXE).c_str(), m_exe.c_str(), FALSE));
#else
    m_exe = dir.Path(W("pivra-cli"));
    std::error_code ec;
    std::filesystem::copy_file(PIVRA_CLI_EXE, NativePath(m_exe.c_str()), ec);
    EXPECT_FALSE(ec) << ec.message();
#endif
}

namespace
{
// Files of their own for each run: under Wine the handles a finished child
// inherited can outlive it for a moment.
void OutputFiles(const TempDir& dir, WString& wsOut, WString& wsErr)
{
    static unsigned s_run = 0;
    std::string sRun = std::to_string(++s_run);
    WString wsRun(sRun.begin(), sRun.end());
    wsOut = dir.Path(W("stdout-") + wsRun + W(".txt"));
    wsErr = dir.Path(W("stderr-") + wsRun + W(".txt"));
}
} // namespace

CliResult CliRunner::Run(const std::vector<WString>& args) const
{
#ifdef _WIN32
    WString wsOut, wsErr;
    OutputFiles(m_dir, wsOut, wsErr);
    CliResult result = {-1, "", ""};
    std::wstring cmd = L"\"" + m_exe + L"\"";
    for (const WString& arg : args)
        cmd += L" \"" + arg + L"\"";
    SECURITY_ATTRIBUTES stSa = {sizeof(stSa), nullptr, TRUE};
    HANDLE hOut =
        CreateFileW(wsOut.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &stSa, CREATE_ALWAYS, 0, nullptr);
    HANDLE hErr =
        CreateFileW(wsErr.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &stSa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW stSi = {};
    stSi.cb = sizeof(stSi);
    stSi.dwFlags = STARTF_USESTDHANDLES;
    stSi.hStdOutput = hOut;
    stSi.hStdError = hErr;
    PROCESS_INFORMATION stPi = {};
    if (CreateProcessW(m_exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                       &stSi, &stPi))
    {
        WaitForSingleObject(stPi.hProcess, INFINITE);
        DWORD dwCode = 0;
        GetExitCodeProcess(stPi.hProcess, &dwCode);
        result.exitCode = static_cast<int>(dwCode);
        CloseHandle(stPi.hThread);
        CloseHandle(stPi.hProcess);
    }
    CloseHandle(hOut);
    CloseHandle(hErr);
    result.out = ReadBytes(wsOut);
    result.err = ReadBytes(wsErr);
    return result;
#else
    std::vector<std::string> args8;
    for (const WString& arg : args)
        args8.push_back(Utf16ToUtf8(arg.data(), arg.size()));
    return RunBytes(args8);
#endif
}

#ifndef _WIN32
CliResult CliRunner::RunBytes(const std::vector<std::string>& args) const
{
    WString wsOut, wsErr;
    OutputFiles(m_dir, wsOut, wsErr);
    CliResult result = {-1, "", ""};
    std::vector<std::string> argv8 = {NativePath(m_exe.c_str())};
    argv8.insert(argv8.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argv8)
        argv.push_back(&s[0]);
    argv.push_back(nullptr);
    std::string out = NativePath(wsOut.c_str()), err = NativePath(wsErr.c_str());
    pid_t pid = fork();
    if (pid == 0)
    {
        int fdOut = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int fdErr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fdOut, 1);
        dup2(fdErr, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    result.out = ReadBytes(wsOut);
    result.err = ReadBytes(wsErr);
    return result;
}
#endif

std::string Wide(const std::string& ascii)
{
    std::string bytes;
    for (char c : ascii)
        bytes += std::string(1, c) + '\0';
    return bytes;
}

namespace
{
void Put16(std::string& s, size_t at, unsigned v)
{
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}
void Put32(std::string& s, size_t at, unsigned v)
{
    Put16(s, at, v & 0xFFFF);
    Put16(s, at + 2, v >> 16);
}
} // namespace

std::string MakePe(unsigned short wMachine, const std::string& headerText,
                   const std::vector<PeSectionSpec>& sections)
{
    const size_t kPe = 0x80, kOptional = 0xE0, kAlign = 0x200;
    const size_t dwTable = kPe + 24 + kOptional;
    size_t cbHeaders = (dwTable + sections.size() * 40 + headerText.size() + kAlign - 1) / kAlign * kAlign;
    std::string image(cbHeaders, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, kPe);
    image.replace(kPe, 4, std::string("PE\0\0", 4));
    Put16(image, kPe + 4, wMachine);
    Put16(image, kPe + 6, static_cast<unsigned>(sections.size()));
    Put16(image, kPe + 20, kOptional);
    Put16(image, kPe + 24, wMachine == 0x8664 || wMachine == 0xAA64 ? 0x20B : 0x10B);
    Put32(image, kPe + 24 + 60, static_cast<unsigned>(cbHeaders));
    image.replace(dwTable + sections.size() * 40, headerText.size(), headerText);
    for (size_t i = 0; i < sections.size(); ++i)
    {
        size_t entry = dwTable + i * 40;
        std::memcpy(&image[entry], sections[i].szName, std::strlen(sections[i].szName));
        size_t cbRaw = (sections[i].bytes.size() + kAlign - 1) / kAlign * kAlign;
        Put32(image, entry + 16, static_cast<unsigned>(cbRaw));
        Put32(image, entry + 20, static_cast<unsigned>(image.size()));
        std::string raw = sections[i].bytes;
        raw.resize(cbRaw, '\0');
        image += raw;
    }
    return image;
}
