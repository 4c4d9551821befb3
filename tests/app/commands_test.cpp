// The main window's commands as the user gives them: typed names and texts,
// clicks and double-clicks on list cells, the Delete key, the buttons.
#include "app_driver.h"

#include "resource.h"

#include <commctrl.h>

namespace
{
class CommandsTest : public AppTest
{
  protected:
    // A catalogue naming the sets, and demo.ini with rules of the given ENs.
    void MakeDemo(const std::vector<WString>& ens, const WString& extraOfLast = L"")
    {
        WriteUnicodeFile(ToolFile(L"Pivra.ini"), L"[Config]\r\n1=demo\r\n2=other\r\n3=third\r\n");
        WString ini = L"[Config]\r\nFILE=C:\\t.exe\r\n";
        for (size_t i = 0; i < ens.size(); ++i)
        {
            WCHAR wsSection[16];
            swprintf(wsSection, 16, L"[%03u]\r\n", static_cast<unsigned>(i + 1));
            ini += WString(wsSection) + L"EN=" + ens[i] + L"\r\nCN=中" + ens[i] + L"\r\n";
            if (i + 1 == ens.size())
                ini += extraOfLast;
        }
        WriteUnicodeFile(Demo(), ini);
    }

    WString Demo() { return ToolFile(L"demo.ini"); }
    WString Catalogue() { return ToolFile(L"Pivra.ini"); }
};

TEST_F(CommandsTest, AddRuleSetTakesATypedNewNameOnly)
{
    MakeDemo({L"a"});
    std::string before = ReadBytes(Catalogue());
    MainWindow main;

    // With an item selected the button does nothing.
    main.SelectSet(0);
    main.ClickButton(IDC_ADD_RULE_SET);
    EXPECT_EQ(3, main.SetCount());

    // A name equal to an item but for case is refused.
    main.TypeSetName(L"DEMO");
    EXPECT_EQ(-1, main.CurrentSet());
    main.ClickButton(IDC_ADD_RULE_SET);
    EXPECT_EQ(3, main.SetCount());
    EXPECT_EQ(before, ReadBytes(Catalogue()));

    main.SelectSet(0);
    main.ClickCell(0, 1);
    ASSERT_EQ(L"a", main.En());
    main.TypeSetName(L"game");
    main.ClickButton(IDC_ADD_RULE_SET);
    EXPECT_EQ((std::vector<WString>{L"demo", L"other", L"third", L"game"}), main.SetNames());
    EXPECT_EQ(-1, main.CurrentSet());
    EXPECT_EQ(L"game", WindowText(main.hSetsEdit));
    EXPECT_EQ(0, main.RowCount());
    EXPECT_EQ(L"", main.En());
    EXPECT_EQ(L"", main.Cn());
    EXPECT_EQ(L"", main.Path());
    EXPECT_EQ(L"game", ReadIni(Catalogue(), L"Config", L"4"));
    // The emptied path box saved nothing: no set was selected.
    EXPECT_EQ(L"C:\\t.exe", ReadIni(Demo(), L"Config", L"FILE"));
    EXPECT_FALSE(FileExists(ToolFile(L"game.ini")));

    // The new set loads empty and is not created by loading.
    main.SelectSet(3);
    EXPECT_EQ(0, main.RowCount());
    EXPECT_FALSE(FileExists(ToolFile(L"game.ini")));
}

TEST_F(CommandsTest, AddRuleSetWritesTheKeyOfItsPlaceInTheBox)
{
    WriteUnicodeFile(Catalogue(), L"[Config]\r\n1=a\r\n2=b\r\n4=d\r\n");
    {
        MainWindow main;
        ASSERT_EQ(2, main.SetCount());
        main.TypeSetName(L"c");
        main.ClickButton(IDC_ADD_RULE_SET);
        EXPECT_EQ(3, main.SetCount());
    }
    EXPECT_EQ(L"c", ReadIni(Catalogue(), L"Config", L"3"));
    EXPECT_EQ(L"d", ReadIni(Catalogue(), L"Config", L"4"));
    MainWindow main;
    EXPECT_EQ((std::vector<WString>{L"a", L"b", L"c", L"d"}), main.SetNames());
}

TEST_F(CommandsTest, TextsTypedWithoutASelectedRowAreNotSaved)
{
    MakeDemo({L"one", L"two"});
    std::string before = ReadBytes(Demo());
    MainWindow main;
    main.SelectSet(0);
    SetFocus(main.hEn);
    TypeChars(main.hEn, L"typed");
    TypeChars(main.hCn, L"打字");
    EXPECT_EQ(L"typed", main.En());
    EXPECT_EQ(before, ReadBytes(Demo()));
    main.ClickCell(1, 0);
    EXPECT_EQ(L"two", main.En());
    EXPECT_EQ(L"中two", main.Cn());
}

TEST_F(CommandsTest, TypedTextsAreSavedAtOnceIntoTheSelectedRule)
{
    MakeDemo({L"one", L"two"});
    MainWindow main;
    main.SelectSet(0);
    main.ClickCell(1, 2);
    SetFocus(main.hCn);
    CaretToEnd(main.hCn);
    TypeChars(main.hCn, L"好");
    EXPECT_EQ(L"中two好", ReadIni(Demo(), L"002", L"CN"));
    EXPECT_EQ(L"中two好", main.Cell(1, 2));
    SelectAll(main.hEn);
    TypeChars(main.hEn, L"\b");
    EXPECT_EQ(L"", ReadIni(Demo(), L"002", L"EN"));
    EXPECT_EQ(L"", main.Cell(1, 1));
    EXPECT_EQ(L"one", ReadIni(Demo(), L"001", L"EN"));
}

TEST_F(CommandsTest, PastedLineBreakIsStoredAndShownEscaped)
{
    MakeDemo({L"one", L"two", L"three"});
    MainWindow main;
    main.SelectSet(0);
    main.ClickCell(1, 1);
    ASSERT_EQ(1, main.SelectedRow());
    SetFocus(main.hEn);
    SelectAll(main.hEn);
    Paste(main.hEn, L"Hello\r\nWorld");
    const WString escaped = L"Hello\\r\\nWorld";
    EXPECT_EQ(escaped, main.En());
    EXPECT_EQ(escaped, main.Cell(1, 1));
    EXPECT_EQ(escaped, ReadIni(Demo(), L"002", L"EN"));
    DWORD end = static_cast<DWORD>(escaped.size());
    EXPECT_EQ(std::make_pair(end, end), Selection(main.hEn));
    // The rule shows the escapes again when selected anew.
    main.ClickCell(0, 1);
    main.ClickCell(1, 1);
    EXPECT_EQ(escaped, main.En());
}

TEST_F(CommandsTest, DoubleClickOnASwitchCellOfTheSelectedRowToggles)
{
    MakeDemo({L"one", L"two"});
    MainWindow main;
    main.SelectSet(0);
    main.ClickCell(1, 0);
    const WCHAR* keys[] = {L"UNICODE", L"REPEAT", L"X86", L"X64"};
    const WCHAR* initial[] = {L"1", L"0", L"1", L"1"};
    for (int c = 3; c <= 6; ++c)
    {
        const WCHAR* key = keys[c - 3];
        WString flipped = WString(initial[c - 3]) == L"1" ? L"0" : L"1";
        main.DoubleClickCell(1, c);
        EXPECT_EQ(flipped, main.Cell(1, c)) << key;
        EXPECT_EQ(flipped, ReadIni(Demo(), L"002", key)) << key;
        main.DoubleClickCell(1, c);
        EXPECT_EQ(initial[c - 3], main.Cell(1, c)) << key;
        EXPECT_EQ(initial[c - 3], ReadIni(Demo(), L"002", key)) << key;
        EXPECT_EQ(2, main.RowCount());
    }
    EXPECT_EQ(kAbsent, ReadIni(Demo(), L"001", L"UNICODE"));
}

TEST_F(CommandsTest, DoubleClickElsewhereAppendsARule)
{
    // The last rule's UNICODE=0 passes to the new one.
    MakeDemo({L"one", L"two"}, L"UNICODE=0\r\n");
    MainWindow main;
    main.SelectSet(0);
    main.ClickCell(0, 0);
    // The number cell of another row: its first click selects that row.
    main.DoubleClickCell(1, 0);
    ASSERT_EQ(3, main.RowCount());
    EXPECT_EQ((std::vector<WString>{L"003", L"", L"", L"0", L"0", L"1", L"1"}), main.Row(2));
    EXPECT_EQ(2, main.SelectedRow());
    EXPECT_EQ(1, main.SelectedCount());
    EXPECT_EQ(main.hEn, GetFocus());
    EXPECT_EQ(L"", main.En());
    EXPECT_EQ(L"0", ReadIni(Demo(), L"003", L"UNICODE"));
    EXPECT_EQ(kAbsent, ReadIni(Demo(), L"003", L"EN"));
    // The text cell of the selected row appends too, and typing fills the new rule.
    main.DoubleClickCell(2, 1);
    ASSERT_EQ(4, main.RowCount());
    EXPECT_EQ(L"004", main.Cell(3, 0));
    TypeChars(main.hEn, L"four");
    EXPECT_EQ(L"four", ReadIni(Demo(), L"004", L"EN"));
    EXPECT_EQ(L"four", main.Cell(3, 1));
    EXPECT_EQ(L"0", ReadIni(Demo(), L"004", L"UNICODE"));
}

TEST_F(CommandsTest, DoubleClickOnAnEmptyListStartsWithRuleOne)
{
    WriteUnicodeFile(ToolFile(L"Pivra.ini"), L"[Config]\r\n1=fresh\r\n");
    MainWindow main;
    // No set selected: nothing at all.
    main.DoubleClickBelowRows();
    EXPECT_EQ(0, main.RowCount());

    main.SelectSet(0);
    main.DoubleClickBelowRows();
    ASSERT_EQ(1, main.RowCount());
    EXPECT_EQ((std::vector<WString>{L"001", L"", L"", L"1", L"0", L"1", L"1"}), main.Row(0));
    EXPECT_EQ(0, main.SelectedRow());
    EXPECT_EQ(main.hEn, GetFocus());
    EXPECT_FALSE(FileExists(ToolFile(L"fresh.ini")));
}

TEST_F(CommandsTest, DeleteKeyRemovesTheSelectedRuleAndRenumbersTheRest)
{
    MakeDemo({L"e1", L"e2", L"e3", L"e4"}, L"REPEAT=1\r\n");
    MainWindow main;
    main.SelectSet(0);
    main.ClickCell(1, 1);
    ASSERT_EQ(L"e2", main.En());
    SetFocus(main.hList);
    main.PressDelete();
    ASSERT_EQ(3, main.RowCount());
    EXPECT_EQ((std::vector<WString>{L"001", L"e1", L"中e1", L"1", L"0", L"1", L"1"}), main.Row(0));
    EXPECT_EQ((std::vector<WString>{L"002", L"e3", L"中e3", L"1", L"0", L"1", L"1"}), main.Row(1));
    EXPECT_EQ((std::vector<WString>{L"003", L"e4", L"中e4", L"1", L"1", L"1", L"1"}), main.Row(2));
    EXPECT_EQ(-1, main.SelectedRow());
    EXPECT_EQ(L"", main.En());
    EXPECT_EQ(L"", main.Cn());
    EXPECT_EQ(L"e1", ReadIni(Demo(), L"001", L"EN"));
    EXPECT_EQ(L"e3", ReadIni(Demo(), L"002", L"EN"));
    EXPECT_EQ(L"中e3", ReadIni(Demo(), L"002", L"CN"));
    EXPECT_EQ(L"e4", ReadIni(Demo(), L"003", L"EN"));
    EXPECT_EQ(L"1", ReadIni(Demo(), L"003", L"REPEAT"));
    EXPECT_FALSE(SectionExists(Demo(), L"004"));
    EXPECT_EQ(L"C:\\t.exe", ReadIni(Demo(), L"Config", L"FILE"));

    // With no row selected the key does nothing.
    std::string before = ReadBytes(Demo());
    main.PressDelete();
    EXPECT_EQ(3, main.RowCount());
    EXPECT_EQ(before, ReadBytes(Demo()));
}

// While another program holds the file, neither the delete nor a text typed
// afterwards reaches it; the list keeps showing what the file holds, so once
// the file is free a text typed into row 002 lands in that row's own rule.
TEST_F(CommandsTest, DeleteThatCannotBeWrittenLeavesTheListAsTheFileIs)
{
    MakeDemo({L"e1", L"e2", L"e3"});
    MainWindow main;
    main.SelectSet(0);
    main.ClickCell(1, 1);
    // Changed by another program since it was read, so the delete must read
    // it again, which the hold then prevents.
    WriteBytes(Demo(), ReadBytes(Demo()) + Utf16Bytes(L"; edited\r\n"));
    HANDLE hHeld = CreateFileW(Demo().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    SetFocus(main.hList);
    main.PressDelete();
    CloseHandle(hHeld);
    ASSERT_EQ(3, main.RowCount());
    EXPECT_EQ((std::vector<WString>{L"002", L"e2", L"中e2", L"1", L"0", L"1", L"1"}), main.Row(1));
    main.ClickCell(1, 2);
    SetFocus(main.hCn);
    CaretToEnd(main.hCn);
    TypeChars(main.hCn, L"!");
    EXPECT_EQ(L"中e2!", ReadIni(Demo(), L"002", L"CN"));
    EXPECT_EQ(L"中e3", ReadIni(Demo(), L"003", L"CN"));
}

// A set added in the window gets a UTF-16LE file, so characters outside the
// ANSI code page and blanks at either end are read back as typed.
TEST_F(CommandsTest, NewSetKeepsEveryTypedCharacter)
{
    MainWindow main;
    main.TypeSetName(L"fresh");
    main.ClickButton(IDC_ADD_RULE_SET);
    main.SelectSet(0);
    main.DoubleClickBelowRows();
    TypeChars(main.hEn, L"Save ");
    SetFocus(main.hCn);
    TypeChars(main.hCn, L"保存✓©€");
    EXPECT_EQ("\xFF\xFE", ReadBytes(ToolFile(L"fresh.ini")).substr(0, 2));
    EXPECT_EQ("\xFF\xFE", ReadBytes(Catalogue()).substr(0, 2));
    EXPECT_EQ(L"Save\\x20", ReadIni(ToolFile(L"fresh.ini"), L"001", L"EN"));
    EXPECT_EQ(L"保存✓©€", ReadIni(ToolFile(L"fresh.ini"), L"001", L"CN"));
    EXPECT_EQ(L"fresh", ReadIni(Catalogue(), L"Config", L"1"));
}

TEST_F(CommandsTest, NewRowAfterADeleteTakesTheNumberRightAfterTheLastRule)
{
    MakeDemo({L"one", L"two"});
    MainWindow main;
    main.SelectSet(0);
    main.DoubleClickBelowRows();
    ASSERT_EQ(3, main.RowCount());
    main.ClickCell(1, 1);
    SetFocus(main.hList);
    main.PressDelete();
    ASSERT_EQ(2, main.RowCount());
    EXPECT_EQ(L"002", main.Cell(1, 0));
    main.ClickCell(1, 1);
    TypeChars(main.hEn, L"three");
    EXPECT_EQ(L"three", ReadIni(Demo(), L"002", L"EN"));
    EXPECT_FALSE(SectionExists(Demo(), L"003"));
}

TEST_F(CommandsTest, PathBoxIsSavedForTheSelectedSetOnly)
{
    MakeDemo({L"one"});
    MainWindow main;
    TypeChars(main.hPath, L"C:\\x.exe");
    EXPECT_EQ(L"C:\\t.exe", ReadIni(Demo(), L"Config", L"FILE"));
    main.SelectSet(0);
    EXPECT_EQ(L"C:\\t.exe", main.Path());
    SelectAll(main.hPath);
    TypeChars(main.hPath, L"D:\\y.dll");
    EXPECT_EQ(L"D:\\y.dll", ReadIni(Demo(), L"Config", L"FILE"));
    SelectAll(main.hPath);
    TypeChars(main.hPath, L"\b");
    EXPECT_EQ(L"", ReadIni(Demo(), L"Config", L"FILE"));
}

TEST_F(CommandsTest, StartWithoutPathOrSetDoesNothing)
{
    MakeDemo({L"one"});
    WriteBytes(ToolFile(L"target.bin"), "\x6F\x00\x6E\x00\x65\x00");
    MainWindow main;
    MessageBoxAnswerer boxes(main.hWnd);

    // A path typed with no set selected.
    TypeChars(main.hPath, ToolFile(L"target.bin"));
    main.ClickButton(IDC_START);
    // A set selected whose path box is then emptied.
    main.SelectSet(0);
    SelectAll(main.hPath);
    TypeChars(main.hPath, L"\b");
    main.ClickButton(IDC_START);
    EXPECT_EQ(0u, boxes.Texts().size());
    EXPECT_EQ("\x6F\x00\x6E\x00\x65\x00", ReadBytes(ToolFile(L"target.bin")).substr(0, 6));
    EXPECT_FALSE(FileExists(FailureLogFile()));
}

TEST_F(CommandsTest, RemarksButtonOpensTheSetsRemarksFile)
{
    MakeDemo({L"one"});
    MainWindow main;
    // No set selected: no window.
    {
        OwnedDialogAnswerer dialogs(main.hWnd, [](HWND) { return true; });
        main.ClickButton(IDC_REMARKS);
        EXPECT_EQ(0, dialogs.Answered());
    }
    main.SelectSet(0);
    WString caption;
    OwnedDialogAnswerer dialogs(main.hWnd, [&](HWND hDlg) {
        caption = WindowText(hDlg);
        HWND hEdit = GetDlgItem(hDlg, IDC_REMARKS_EDIT);
        SendMessageW(hEdit, WM_CHAR, L'r', 1);
        SendMessageW(hEdit, WM_CHAR, L'1', 1);
        PostMessageW(hEdit, WM_KEYDOWN, VK_ESCAPE, 1);
        return true;
    });
    main.ClickButton(IDC_REMARKS);
    EXPECT_EQ(1, dialogs.Answered());
    EXPECT_EQ(L"备注", caption);
    // A remarks file the tool creates is UTF-16LE.
    EXPECT_EQ(std::string("\xFF\xFE", 2) + Utf16Bytes(L"r1"), ReadBytes(ToolFile(L"demo.txt")));
    EXPECT_TRUE(IsWindowEnabled(main.hWnd));
}
} // namespace
