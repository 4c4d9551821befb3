// Standard output and error: UTF-8 bytes, or wide text on a Windows console,
// and a progress line on standard error for work that takes more than a moment.
#pragma once

#include <chrono>
#include <string>

void WriteOut(const std::string& sUtf8);
void WriteErr(const std::string& sUtf8);
bool StderrIsTerminal();

class CProgress
{
  public:
    explicit CProgress(const std::string& sLabel);
    ~CProgress();
    CProgress(const CProgress&) = delete;
    CProgress& operator=(const CProgress&) = delete;

    // Shown only when standard error is a terminal and the work has run for
    // more than a moment; redrawn a few times a second at most. A total of 0
    // is unknown: no percentage.
    void Update(unsigned long long uDone, unsigned long long uTotal,
                const std::string& sWhat = std::string());
    void Finish();

  private:
    std::string m_label;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
    bool m_enabled;
    size_t m_shownWidth;
};
