// The remarks window from the real template over a remarks file: what it
// shows on opening and what it leaves on disk after closing.
#include "app_driver.h"

#include "app/remark_wnd.h"
#include "resource.h"

namespace
{
class RemarksWindowTest : public AppTest
{
  protected:
    void SetUp() override
    {
        AppTest::SetUp();
        m_file = ToolFile(L"demo.txt");
        wcscpy(m_wsPath, m_file.c_str());
    }

    void TearDown() override
    {
        if (m_hWnd != nullptr && IsWindow(m_hWnd))
            DestroyWindow(m_hWnd);
    }

    // Opens the window modeless; the dialog owns the object from then on.
    void Open()
    {
        CRemarkWnd* pWnd = new CRemarkWnd;
        m_hWnd = reinterpret_cast<HWND>(pWnd->CreateDlg(nullptr, GetModuleHandleW(nullptr), IDD_REMARKS, 0,
                                                        reinterpret_cast<LONG_PTR>(m_wsPath)));
        ASSERT_NE(nullptr, m_hWnd);
        m_hEdit = GetDlgItem(m_hWnd, IDC_REMARKS_EDIT);
        Pump();
    }

    // Esc in the box, as the user presses it.
    void CloseWithEsc()
    {
        SetFocus(m_hEdit);
        PostMessageW(m_hEdit, WM_KEYDOWN, VK_ESCAPE, 1);
        Finish();
    }

    void CloseWithCloseBox()
    {
        PostMessageW(m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        Finish();
    }

    void Finish()
    {
        EXPECT_TRUE(PumpUntilEnded(m_hWnd));
        m_hWnd = nullptr;
    }

    std::string Ansi(const WString& text)
    {
        int cb = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string bytes(static_cast<size_t>(cb), '\0');
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &bytes[0], cb, nullptr, nullptr);
        bytes.resize(static_cast<size_t>(cb - 1));
        return bytes;
    }

    WString m_file;
    WCHAR m_wsPath[360] = {};
    HWND m_hWnd = nullptr;
    HWND m_hEdit = nullptr;
};

TEST_F(RemarksWindowTest, UnicodeFileShowsItsTextAndIsSavedWithItsMarkAndNoTerminator)
{
    const WString text = L"第一行\r\n\tsecond line ✓";
    WriteUnicodeFile(m_file, text);
    Open();
    EXPECT_EQ(text, WindowText(m_hEdit));
    EXPECT_EQ(std::make_pair(0ul, 0ul), Selection(m_hEdit));
    CaretToEnd(m_hEdit);
    TypeChars(m_hEdit, L"尾");
    CloseWithEsc();
    EXPECT_EQ("\xFF\xFE" + Utf16Bytes(text + L"尾"), ReadBytes(m_file));
}

TEST_F(RemarksWindowTest, AnsiFileIsSavedAsAnsiWithItsBytesWhole)
{
    const WString text = L"备注 one\r\ntwo";
    WriteBytes(m_file, Ansi(text));
    Open();
    EXPECT_EQ(text, WindowText(m_hEdit));
    EXPECT_EQ(std::make_pair(0ul, 0ul), Selection(m_hEdit));
    // Typed at the start, where the caret stands on opening.
    TypeChars(m_hEdit, L"新");
    CloseWithCloseBox();
    EXPECT_EQ(Ansi(L"新" + text), ReadBytes(m_file));
}

TEST_F(RemarksWindowTest, UntouchedFilesComeBackByteForByte)
{
    const std::string files[] = {
        "\xFF\xFE" + Utf16Bytes(L"中文\r\nline"),
        "\xEF\xBB\xBF"
        "utf-8 mark is ANSI here",
        "x",
        // Shown as an empty text, which must not delete it.
        std::string("\0abc", 4),
        // Bytes code page 936 cannot map, and a zero inside the text.
        std::string("ab\xFF\x80 cd\0ef\xFE", 10),
        "\xFF\xFE" + Utf16Bytes(L"lone surrogate \xD800 x") + std::string("\0\0z", 3),
    };
    for (const std::string& bytes : files)
    {
        WriteBytes(m_file, bytes);
        Open();
        CloseWithEsc();
        EXPECT_EQ(bytes, ReadBytes(m_file));
    }
}

TEST_F(RemarksWindowTest, EmptyFileIsDeletedByAnEmptyText)
{
    WriteBytes(m_file, "");
    Open();
    CloseWithEsc();
    EXPECT_FALSE(FileExists(m_file));
}

TEST_F(RemarksWindowTest, EmptyTextDeletesAFileOfTheMarkAlone)
{
    WriteBytes(m_file, "\xFF\xFE");
    Open();
    CloseWithEsc();
    EXPECT_FALSE(FileExists(m_file));
}

// A file the window could not read opens as an empty text; closing must not
// take that for a text the user emptied.
TEST_F(RemarksWindowTest, FileThatCouldNotBeReadSurvivesTheWindow)
{
    const std::string bytes = "\xFF\xFE" + Utf16Bytes(L"kept");
    WriteBytes(m_file, bytes);
    HANDLE hLock = CreateFileW(m_file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
    Open();
    CloseHandle(hLock);
    EXPECT_EQ(L"", WindowText(m_hEdit));
    CloseWithEsc();
    EXPECT_EQ(bytes, ReadBytes(m_file));
}

TEST_F(RemarksWindowTest, OneByteAndUtf8MarkFilesAreShownAsAnsi)
{
    WriteBytes(m_file, "\xEF\xBB\xBF"
                       "abc");
    Open();
    WString shown = WindowText(m_hEdit);
    // EF BB BF is not a mark in code page 936: all three bytes become text.
    EXPECT_EQ(Ansi(shown), "\xEF\xBB\xBF"
                           "abc");
    CaretToEnd(m_hEdit);
    TypeChars(m_hEdit, L"d");
    CloseWithEsc();
    EXPECT_EQ("\xEF\xBB\xBF"
              "abcd",
              ReadBytes(m_file));

    WriteBytes(m_file, "q");
    Open();
    EXPECT_EQ(L"q", WindowText(m_hEdit));
    CloseWithEsc();
    EXPECT_EQ("q", ReadBytes(m_file));
}

TEST_F(RemarksWindowTest, NoFileStaysAbsentUntilSomethingIsTyped)
{
    Open();
    EXPECT_EQ(L"", WindowText(m_hEdit));
    CloseWithEsc();
    EXPECT_FALSE(FileExists(m_file));

    Open();
    // The file the window creates is UTF-16LE: a character the ANSI code
    // page lacks is kept.
    TypeChars(m_hEdit, L"新a\x0E01");
    CloseWithCloseBox();
    EXPECT_EQ("\xFF\xFE" + Utf16Bytes(L"新a\x0E01"), ReadBytes(m_file));
}

TEST_F(RemarksWindowTest, ClearingTheTextDeletesTheFile)
{
    WriteUnicodeFile(m_file, L"to be removed");
    Open();
    SelectAll(m_hEdit);
    TypeChars(m_hEdit, L"\b");
    EXPECT_EQ(L"", WindowText(m_hEdit));
    CloseWithCloseBox();
    EXPECT_FALSE(FileExists(m_file));
}

TEST_F(RemarksWindowTest, TypingStopsAtTheLimitButLongerFilesPassWhole)
{
    Open();
    // Pasted up to near the limit: typing thousands of characters one by one is slow under Wine.
    Paste(m_hEdit, WString(2044, L'a'));
    TypeChars(m_hEdit, WString(6, L'a'));
    EXPECT_EQ(2048, GetWindowTextLengthW(m_hEdit));
    CloseWithEsc();
    EXPECT_EQ("\xFF\xFE" + Utf16Bytes(WString(2048, L'a')), ReadBytes(m_file));

    WriteBytes(m_file, std::string(3000, 'b'));
    Open();
    EXPECT_EQ(3000, GetWindowTextLengthW(m_hEdit));
    // The caret stands at the start: Delete removes the first character.
    PressKey(m_hEdit, VK_DELETE);
    CloseWithEsc();
    EXPECT_EQ(std::string(2999, 'b'), ReadBytes(m_file));
}

TEST_F(RemarksWindowTest, EnterStartsANewLine)
{
    Open();
    SetFocus(m_hEdit);
    TypeChars(m_hEdit, L"a");
    PressKey(m_hEdit, VK_RETURN);
    TypeChars(m_hEdit, L"b");
    EXPECT_TRUE(IsWindowVisible(m_hWnd));
    CloseWithEsc();
    EXPECT_EQ("\xFF\xFE" + Utf16Bytes(L"a\r\nb"), ReadBytes(m_file));
}
} // namespace
