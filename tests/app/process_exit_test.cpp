// The real executable, started in a tool directory of its own and closed the
// two ways a user closes it: its exit code is the dialog's result.
#include "app_driver.h"

#include <string>

namespace
{
struct TopWindowSearch
{
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindMainOf(HWND hWnd, LPARAM lParam)
{
    TopWindowSearch* pSearch = reinterpret_cast<TopWindowSearch*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (pid != pSearch->pid || !IsWindowVisible(hWnd) || WindowText(hWnd) != L"Pivra")
        return TRUE;
    pSearch->found = hWnd;
    return FALSE;
}

class ProcessExitTest : public AppTest
{
  protected:
    void SetUp() override
    {
        AppTest::SetUp();
        m_exe = m_dir.Path(L"pivra.exe");
        ASSERT_TRUE(CopyFileW(WinePath(PIVRA_EXE).c_str(), m_exe.c_str(), FALSE)) << PIVRA_EXE;
        WriteUnicodeFile(m_dir.Path(L"Pivra.ini"), L"[Config]\r\n1=demo\r\n");
    }

    void TearDown() override
    {
        if (m_pi.hProcess != nullptr)
        {
            if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_pi.hProcess, 99);
            CloseHandle(m_pi.hThread);
            CloseHandle(m_pi.hProcess);
        }
    }

    // Starts the tool and waits for its main window.
    HWND Start()
    {
        STARTUPINFOW stSi = {};
        stSi.cb = sizeof(stSi);
        std::wstring cmd = L"\"" + m_exe + L"\"";
        if (!CreateProcessW(m_exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, m_dir.Dir().c_str(),
                            &stSi, &m_pi))
            return nullptr;
        WaitForInputIdle(m_pi.hProcess, 20000);
        TopWindowSearch stSearch = {m_pi.dwProcessId, nullptr};
        DWORD start = GetTickCount();
        while (stSearch.found == nullptr && GetTickCount() - start < 20000 &&
               WaitForSingleObject(m_pi.hProcess, 50) == WAIT_TIMEOUT)
            EnumWindows(FindMainOf, reinterpret_cast<LPARAM>(&stSearch));
        return stSearch.found;
    }

    // The exit code, or 259 (still active) when it does not end in time.
    DWORD ExitCode()
    {
        WaitForSingleObject(m_pi.hProcess, 20000);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_pi.hProcess, &code);
        return code;
    }

    TempDir m_dir;
    WString m_exe;
    PROCESS_INFORMATION m_pi = {};
};

TEST_F(ProcessExitTest, EscEndsTheProgramWithZero)
{
    HWND hMain = Start();
    ASSERT_NE(nullptr, hMain);
    // The key goes to the focused control, where the dialog manager sees it.
    GUITHREADINFO stInfo = {};
    stInfo.cbSize = sizeof(stInfo);
    GetGUIThreadInfo(GetWindowThreadProcessId(hMain, nullptr), &stInfo);
    HWND hTarget = stInfo.hwndFocus != nullptr ? stInfo.hwndFocus : GetDlgItem(hMain, 1000);
    PostMessageW(hTarget, WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageW(hTarget, WM_KEYUP, VK_ESCAPE, 1 | (1L << 30) | (1L << 31));
    EXPECT_EQ(0u, ExitCode());
    EXPECT_FALSE(FileExists(m_dir.Path(L"demo.ini")));
}

TEST_F(ProcessExitTest, CloseBoxEndsTheProgramWithZero)
{
    HWND hMain = Start();
    ASSERT_NE(nullptr, hMain);
    PostMessageW(hMain, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, ExitCode());
}

TEST_F(ProcessExitTest, EnterOnTheListDoesNotEndTheProgram)
{
    HWND hMain = Start();
    ASSERT_NE(nullptr, hMain);
    HWND hList = GetDlgItem(hMain, 1000);
    PostMessageW(hList, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(hList, WM_KEYUP, VK_RETURN, 1 | (1L << 30) | (1L << 31));
    // Queued behind the Enter key: the dialog ends with this result only if
    // Enter did not end it first.
    PostMessageW(hMain, WM_CLOSE, 5, 0);
    EXPECT_EQ(5u, ExitCode());
}
} // namespace
