// The main window opened from the real template in the tool directory: what
// the catalogue and a selected rule set put into its controls.
#include "app_driver.h"

#include "app/rule_list.h"
#include "resource.h"

#include <commctrl.h>

namespace
{
using MainWindowTest = AppTest;

std::vector<WString> Cells(LPCWSTR a, LPCWSTR b, LPCWSTR c, LPCWSTR d, LPCWSTR e, LPCWSTR f, LPCWSTR g)
{
    return {a, b, c, d, e, f, g};
}

TEST_F(MainWindowTest, CatalogueNamesStandInKeyOrderUpToTheFirstGap)
{
    WriteUnicodeFile(ToolFile(L"Pivra.ini"), L"[Config]\r\n2=alpha\r\n1=beta\r\n4=delta\r\n");
    {
        MainWindow main;
        // The box sorts, yet the names keep the catalogue's key order.
        EXPECT_EQ((std::vector<WString>{L"beta", L"alpha"}), main.SetNames());
        EXPECT_EQ(-1, main.CurrentSet());
        EXPECT_EQ(0, main.RowCount());
        EXPECT_EQ(L"", main.En());
        EXPECT_EQ(L"", main.Path());
    }
    WriteUnicodeFile(ToolFile(L"Pivra.ini"), L"[Config]\r\n1=one\r\n2=\r\n3=three\r\n");
    {
        MainWindow main;
        EXPECT_EQ((std::vector<WString>{L"one"}), main.SetNames());
    }
    WriteUnicodeFile(ToolFile(L"Pivra.ini"), L"[Config]\r\n2=two\r\n");
    {
        MainWindow main;
        EXPECT_EQ(0, main.SetCount());
    }
}

TEST_F(MainWindowTest, NoCatalogueGivesAnEmptyBoxAndCreatesNothing)
{
    MainWindow main;
    EXPECT_EQ(0, main.SetCount());
    EXPECT_FALSE(FileExists(ToolFile(L"Pivra.ini")));
}

TEST_F(MainWindowTest, SelectingASetShowsItsRulesAndPathWithoutRewritingTheFile)
{
    WriteUnicodeFile(ToolFile(L"Pivra.ini"), L"[Config]\r\n1=other\r\n2=demo\r\n");
    // The quotes and spaces around FILE would be lost by any write of the value.
    const WString demo = L"[Config]\r\nFILE = \"C:\\Games\\demo.exe\"  \r\n"
                         L"[001]\r\nEN=Open\\r\\nfile\r\nCN=打开文件\r\n"
                         L"[002]\r\nEN=Save\r\nCN=保存\r\nUNICODE=0\r\nREPEAT=1\r\n"
                         L"[003]\r\nEN=Quit\r\nCN=退出\r\nX86=2\r\n"
                         L"[004]\r\nEN=Hidden\r\nCN=隐藏\r\nX86=0\r\nX64=0\r\n"
                         L"[005]\r\nEN=After the end\r\nCN=之后\r\n";
    WriteUnicodeFile(ToolFile(L"demo.ini"), demo);
    std::string before = ReadBytes(ToolFile(L"demo.ini"));
    // X86=2 reads as 0, so with X64=0 this rule already ends the list.
    WriteUnicodeFile(ToolFile(L"other.ini"), L"[001]\r\nEN=a\r\nX86=2\r\nX64=0\r\n[002]\r\nEN=b\r\n");
    std::string otherBefore = ReadBytes(ToolFile(L"other.ini"));

    MainWindow main;
    main.SelectSet(1);
    EXPECT_EQ(L"C:\\Games\\demo.exe", main.Path());
    ASSERT_EQ(3, main.RowCount());
    // Escapes are shown as stored; X86=2 counts by its lowest bit only.
    EXPECT_EQ(Cells(L"001", L"Open\\r\\nfile", L"打开文件", L"1", L"0", L"1", L"1"), main.Row(0));
    EXPECT_EQ(Cells(L"002", L"Save", L"保存", L"0", L"1", L"1", L"1"), main.Row(1));
    EXPECT_EQ(Cells(L"003", L"Quit", L"退出", L"1", L"0", L"0", L"1"), main.Row(2));
    EXPECT_EQ(-1, main.SelectedRow());
    EXPECT_EQ(L"", main.En());
    EXPECT_EQ(L"", main.Cn());
    EXPECT_EQ(before, ReadBytes(ToolFile(L"demo.ini")));

    // Another set replaces the rows and empties the boxes; nothing is written.
    main.ClickCell(1, 1);
    ASSERT_EQ(1, main.SelectedRow());
    EXPECT_EQ(L"Save", main.En());
    main.SelectSet(0);
    EXPECT_EQ(0, main.RowCount());
    EXPECT_EQ(L"", main.En());
    EXPECT_EQ(L"", main.Cn());
    EXPECT_EQ(L"", main.Path());
    EXPECT_EQ(otherBefore, ReadBytes(ToolFile(L"other.ini")));
    EXPECT_EQ(before, ReadBytes(ToolFile(L"demo.ini")));
}

TEST_F(MainWindowTest, MissingRuleSetFileShowsNothingAndLeavesNoFile)
{
    WriteUnicodeFile(ToolFile(L"Pivra.ini"), L"[Config]\r\n1=ghost\r\n");
    MainWindow main;
    TypeChars(main.hPath, L"C:\\typed.exe");
    main.SelectSet(0);
    EXPECT_EQ(0, main.RowCount());
    EXPECT_EQ(L"", main.Path());
    EXPECT_FALSE(FileExists(ToolFile(L"ghost.ini")));
    EXPECT_FALSE(FileExists(ToolFile(L"ghost.txt")));
}

TEST_F(MainWindowTest, RuleOneThousandIsNumberedWithFourDigits)
{
    WString rules = L"[Config]\r\n";
    for (int n = 1; n <= 1000; ++n)
    {
        WCHAR wsSection[64];
        swprintf(wsSection, 64, L"[%03d]\r\nEN=e%d\r\n", n, n);
        rules += wsSection;
    }
    WriteUnicodeFile(ToolFile(L"Pivra.ini"), L"[Config]\r\n1=big\r\n");
    WriteUnicodeFile(ToolFile(L"big.ini"), rules);
    MainWindow main;
    main.SelectSet(0);
    ASSERT_EQ(1000, main.RowCount());
    EXPECT_EQ(L"999", main.Cell(998, 0));
    EXPECT_EQ(L"1000", main.Cell(999, 0));
    EXPECT_EQ(L"e1000", main.Cell(999, 1));
}

TEST_F(MainWindowTest, ColumnsFollowTheDpiScaleOfTheList)
{
    // The figures for 96, 110 and 120 DPI.
    const int widths100[] = {40, 288, 288, 36, 36, 36, 36};
    const int widths114[] = {45, 328, 328, 41, 41, 41, 41};
    const int widths125[] = {50, 360, 360, 45, 45, 45, 45};
    for (int c = 0; c < kColumnCount; ++c)
    {
        EXPECT_EQ(widths100[c], ScaledColumnWidth(c, 100)) << c;
        EXPECT_EQ(widths114[c], ScaledColumnWidth(c, DpiScalePercent(110))) << c;
        EXPECT_EQ(widths125[c], ScaledColumnWidth(c, DpiScalePercent(120))) << c;
    }

    MainWindow main;
    int scale = main.pWnd->m_list->GetDpiScale();
    const WCHAR* headers[] = {L"序号", L"英文", L"中文", L"宽字", L"重复", L"32位", L"64位"};
    for (int c = 0; c < kColumnCount; ++c)
    {
        EXPECT_EQ(ScaledColumnWidth(c, scale), SendMessageW(main.hList, LVM_GETCOLUMNWIDTH, c, 0)) << c;
        WCHAR wsHeader[32] = {};
        LVCOLUMNW stCol = {};
        stCol.mask = LVCF_TEXT;
        stCol.pszText = wsHeader;
        stCol.cchTextMax = 32;
        SendMessageW(main.hList, LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&stCol));
        EXPECT_STREQ(headers[c], wsHeader);
    }
    EXPECT_FALSE(SendMessageW(main.hList, LVM_GETCOLUMNWIDTH, kColumnCount, 0));
    DWORD exStyle = static_cast<DWORD>(SendMessageW(main.hList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    const DWORD wanted = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
    EXPECT_EQ(wanted, exStyle & wanted);
}
} // namespace
