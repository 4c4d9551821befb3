// One translator's session from an empty tool directory to a patched target,
// and the window reopened afterwards showing everything as it was left.
#include "app_driver.h"

#include "resource.h"

#include <commctrl.h>
#include <dlgs.h>

#include <string>

namespace
{
using SessionTest = AppTest;

// Every occurrence (or only the lowest) of en replaced by cn and zero units up
// to en's length, as the patch run is to leave the file.
void ReplaceUtf16(std::string& bytes, const WString& en, const WString& cn, bool every)
{
    std::string from = Utf16Bytes(en);
    std::string to = Utf16Bytes(cn);
    to.resize(from.size(), '\0');
    for (size_t pos = bytes.find(from); pos != std::string::npos; pos = bytes.find(from))
    {
        bytes.replace(pos, from.size(), to);
        if (!every)
            break;
    }
}

WString Utf16Text(const std::string& bytes)
{
    WString text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
    return text;
}

// Picks the file in the open-file dialog as a user types its name; gives up
// with Cancel if the dialog does not take it.
bool ChooseInFileDialog(HWND hDlg, const WString& file, int& looks)
{
    if (looks++ == 0)
    {
        // The file-name field: a combo box in the explorer-style dialog, an
        // edit box in others.
        SetDlgItemTextW(hDlg, cmb13, file.c_str());
        SetDlgItemTextW(hDlg, edt1, file.c_str());
        PostMessageW(hDlg, WM_COMMAND, IDOK, 0);
        return false;
    }
    if (looks < 250)
        return false;
    PostMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
    return true;
}

void AddRule(MainWindow& main, const WString& en, const WString& cn, bool pasteEn)
{
    int rows = main.RowCount();
    main.DoubleClickBelowRows();
    ASSERT_EQ(rows + 1, main.RowCount());
    ASSERT_EQ(main.hEn, GetFocus());
    if (pasteEn)
        Paste(main.hEn, en);
    else
        TypeChars(main.hEn, en);
    SetFocus(main.hCn);
    TypeChars(main.hCn, cn);
}

TEST_F(SessionTest, FromANewRuleSetToAPatchedTargetAndBack)
{
    TempDir work;
    const WString target = work.Path(L"demo_target.exe");
    ASSERT_TRUE(CopyFileW(WinePath(DEMO_TARGET_EXE).c_str(), target.c_str(), FALSE)) << DEMO_TARGET_EXE;
    const std::string original = ReadBytes(target);
    ASSERT_EQ(1u, CountUtf16(original, L"Welcome to the demo program"));
    ASSERT_EQ(2u, CountUtf16(original, L"Ready"));
    ASSERT_EQ(1u, CountUtf16(original, L"Quit"));

    {
        MainWindow main;
        main.TypeSetName(L"demo");
        main.ClickButton(IDC_ADD_RULE_SET);
        ASSERT_EQ(1, main.SetCount());
        main.SelectSet(0);

        AddRule(main, L"Welcome to the demo program", L"欢迎使用演示程序", false);
        AddRule(main, L"Quit", L"退出", false);
        AddRule(main, L"Ready", L"就绪", false);
        main.DoubleClickCell(2, 4); // REPEAT of the selected row
        AddRule(main, L"Not in\r\nthe program", L"没有", true);
        ASSERT_EQ(4, main.RowCount());
        EXPECT_EQ(L"Not in\\r\\nthe program", main.Cell(3, 1));
        EXPECT_EQ(L"1", main.Cell(2, 4));

        main.ClickCell(1, 1);
        ASSERT_EQ(L"Quit", main.En());
        SetFocus(main.hList);
        main.PressDelete();
        ASSERT_EQ(3, main.RowCount());

        int looks = 0;
        {
            OwnedDialogAnswerer fileDialog(
                main.hWnd, [&](HWND hDlg) { return ChooseInFileDialog(hDlg, target, looks); });
            main.ClickButton(IDC_BROWSE);
        }
        EXPECT_EQ(1, looks) << "the open-file dialog did not take the name";
        if (main.Path() != target)
        {
            SelectAll(main.hPath);
            TypeChars(main.hPath, target);
        }
        EXPECT_EQ(target, main.Path());
        EXPECT_EQ(target, ReadIni(ToolFile(L"demo.ini"), L"Config", L"FILE"));

        // While the report is up, the bar stands full over the listed rules;
        // once it is closed, the bar is back at 0.
        HWND hBar = GetDlgItem(main.hWnd, IDC_PROGRESS);
        std::vector<WString> reports;
        PBRANGE stRange = {};
        LRESULT barPos = -1;
        {
            OwnedDialogAnswerer report(main.hWnd, [&](HWND hBox) {
                WCHAR wsText[512] = {};
                GetDlgItemTextW(hBox, 0xFFFF, wsText, 512);
                reports.push_back(wsText);
                SendMessageW(hBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&stRange));
                barPos = SendMessageW(hBar, PBM_GETPOS, 0, 0);
                PostMessageW(hBox, WM_COMMAND, IDOK, 0);
                return true;
            });
            main.ClickButton(IDC_START);
        }
        ASSERT_EQ(1u, reports.size());
        EXPECT_EQ(L"汉化完成，搜索 3 处文本，修改 2 处文本！", reports[0]);
        EXPECT_EQ(0, stRange.iLow);
        EXPECT_EQ(main.RowCount(), stRange.iHigh);
        EXPECT_EQ(main.RowCount(), barPos);
        EXPECT_EQ(0, SendMessageW(hBar, PBM_GETPOS, 0, 0));
        main.Close();
    }

    std::string expected = original;
    ReplaceUtf16(expected, L"Welcome to the demo program", L"欢迎使用演示程序", false);
    ReplaceUtf16(expected, L"Ready", L"就绪", true);
    EXPECT_TRUE(expected == ReadBytes(target)) << "the target is not patched as the rules say";
    EXPECT_EQ(2u, CountUtf16(ReadBytes(target), L"就绪"));

    std::string log = ReadBytes(FailureLogFile());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ("\xFF\xFE", log.substr(0, 2));
    WString logText = Utf16Text(log.substr(2));
    EXPECT_NE(WString::npos, logText.find(L"] ERROR_EN:Not in\\r\\nthe program\r\n")) << logText.size();
    EXPECT_NE(WString::npos, logText.find(L"] ERROR_CN:没有\r\n"));
    EXPECT_EQ(WString::npos, logText.find(L"Ready"));
    EXPECT_EQ(WString::npos, logText.find(L"Quit"));

    MainWindow main;
    EXPECT_EQ((std::vector<WString>{L"demo"}), main.SetNames());
    main.SelectSet(0);
    EXPECT_EQ(target, main.Path());
    ASSERT_EQ(3, main.RowCount());
    EXPECT_EQ((std::vector<WString>{L"001", L"Welcome to the demo program", L"欢迎使用演示程序", L"1", L"0",
                                    L"1", L"1"}),
              main.Row(0));
    EXPECT_EQ((std::vector<WString>{L"002", L"Ready", L"就绪", L"1", L"1", L"1", L"1"}), main.Row(1));
    EXPECT_EQ((std::vector<WString>{L"003", L"Not in\\r\\nthe program", L"没有", L"1", L"0", L"1", L"1"}),
              main.Row(2));
    main.ClickCell(2, 2);
    EXPECT_EQ(L"Not in\\r\\nthe program", main.En());
    EXPECT_EQ(L"没有", main.Cn());
    EXPECT_FALSE(SectionExists(ToolFile(L"demo.ini"), L"004"));
}
} // namespace
