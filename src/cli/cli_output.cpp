#include "cli/cli_output.h"

#include "util/wstring.h"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace
{
const auto kQuietTime = std::chrono::milliseconds(500);
const auto kRedrawTime = std::chrono::milliseconds(200);

#ifdef _WIN32
// A console takes wide text whatever its code page; anything else (a pipe, a
// file) gets the UTF-8 bytes.
void Write(DWORD dwWhich, FILE* pStream, const std::string& s)
{
    // The same bytes as on Linux: no CR added before each LF.
    static bool s_binary = false;
    if (!s_binary)
    {
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stderr), _O_BINARY);
        s_binary = true;
    }
    HANDLE h = GetStdHandle(dwWhich);
    DWORD dwMode;
    if (h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &dwMode))
    {
        std::fflush(pStream);
        WString ws = FromUtf8(s);
        DWORD dwWritten;
        WriteConsoleW(h, ws.data(), static_cast<DWORD>(ws.size()), &dwWritten, nullptr);
        return;
    }
    std::fwrite(s.data(), 1, s.size(), pStream);
    std::fflush(pStream);
}
#endif
} // namespace

void WriteOut(const std::string& sUtf8)
{
#ifdef _WIN32
    Write(STD_OUTPUT_HANDLE, stdout, sUtf8);
#else
    std::fwrite(sUtf8.data(), 1, sUtf8.size(), stdout);
    std::fflush(stdout);
#endif
}

void WriteErr(const std::string& sUtf8)
{
#ifdef _WIN32
    Write(STD_ERROR_HANDLE, stderr, sUtf8);
#else
    std::fwrite(sUtf8.data(), 1, sUtf8.size(), stderr);
    std::fflush(stderr);
#endif
}

bool StderrIsTerminal()
{
#ifdef _WIN32
    DWORD dwMode;
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &dwMode);
#else
    return isatty(2) != 0;
#endif
}

CProgress::CProgress(const std::string& sLabel)
    : m_label(sLabel), m_start(std::chrono::steady_clock::now()), m_lastDraw(m_start),
      m_enabled(StderrIsTerminal()), m_shownWidth(0)
{
}

CProgress::~CProgress()
{
    Finish();
}

void CProgress::Update(unsigned long long uDone, unsigned long long uTotal, const std::string& sWhat)
{
    if (!m_enabled)
        return;
    auto now = std::chrono::steady_clock::now();
    if (now - m_start < kQuietTime || (m_shownWidth > 0 && now - m_lastDraw < kRedrawTime))
        return;
    m_lastDraw = now;
    std::string sLine = m_label + ":";
    if (uTotal > 0)
        sLine += " " + std::to_string(uDone * 100 / uTotal) + "%";
    if (!sWhat.empty())
        sLine += " " + sWhat;
    size_t width = sLine.size();
    if (width < m_shownWidth)
        sLine += std::string(m_shownWidth - width, ' ');
    m_shownWidth = width > m_shownWidth ? width : m_shownWidth;
    WriteErr("\r" + sLine);
}

void CProgress::Finish()
{
    if (m_shownWidth == 0)
        return;
    WriteErr("\r" + std::string(m_shownWidth, ' ') + "\r");
    m_shownWidth = 0;
}
