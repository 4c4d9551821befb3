#include "util/path.h"
#include "util/wide_text.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
typedef std::basic_string<WCHAR> WString;

WString Joined(WString dir, LPCWSTR wsName, UINT cch = 360)
{
    std::vector<WCHAR> buffer(cch + 8, WCHAR('#'));
    WideCopy(buffer.data(), cch, dir.c_str());
    JoinPath(buffer.data(), cch, wsName);
    return buffer.data();
}
} // namespace

TEST(PathTest, DirectoryOfModulePathCutsAtLastSeparator)
{
    struct Case
    {
        LPCWSTR wsPath, wsDir;
    } cases[] = {{W("C:\\Tools\\tool.exe"), W("C:\\Tools")},
                 {W("C:\\tool.exe"), W("C:")},
                 {W("tool.exe"), W("")},
                 {W("\\tool.exe"), W("")},
                 {W("/usr/bin/tool"), W("/usr/bin")},
                 {W("a/b\\c"), W("a/b")}};
    for (const Case& c : cases)
    {
        WCHAR wsPath[64];
        WideCopy(wsPath, 64, c.wsPath);
        CutAtLastSeparator(wsPath);
        EXPECT_EQ(WString(c.wsDir), WString(wsPath));
    }
}

TEST(PathTest, ModuleDirIsTheTestExecutablesFolder)
{
    WCHAR wsDir[360];
    GetModuleDir(nullptr, wsDir, 360);
    ASSERT_GT(WideLength(wsDir), 0u);
    WCHAR last = wsDir[WideLength(wsDir) - 1];
    EXPECT_NE(last, WCHAR('\\'));
    EXPECT_NE(last, WCHAR('/'));
    // A capacity too small for the path cuts it, and what is left is still a
    // zero-terminated text within the buffer.
    WCHAR wsSmall[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    GetModuleDir(nullptr, wsSmall, 5);
    EXPECT_LT(WideLength(wsSmall), 5u);
    EXPECT_EQ(wsSmall[5], WCHAR('x'));
}

TEST(PathTest, JoinWritesExactlyOneSeparator)
{
    EXPECT_EQ(WString(W("C:\\Pivra.ini")), Joined(W("C:"), W("Pivra.ini")));
    EXPECT_EQ(WString(W("C:\\a\\b")), Joined(W("C:\\a\\"), W("\\b")));
    EXPECT_EQ(WString(W("C:/a/b")), Joined(W("C:/a/"), W("b")));
    EXPECT_EQ(WString(W("C:\\a\\\\b")), Joined(W("C:\\a"), W("\\\\b")));
    EXPECT_EQ(WString(W("name")), Joined(W(""), W("name")));
}

TEST(PathTest, JoinCutsAtCapacity)
{
    WString dir(355, WCHAR('d'));
    WString joined = Joined(dir, W("Pivra.ini"));
    EXPECT_EQ(359u, joined.size());
    EXPECT_EQ(dir + W("\\Piv"), joined);
    // A directory that already fills the buffer gets nothing more.
    EXPECT_EQ(WString(359, WCHAR('d')), Joined(WString(359, WCHAR('d')), W("x")));
    EXPECT_EQ(WString(W("ab")), Joined(W("ab"), W("c"), 3));
}

TEST(PathTest, NamePartAndExtension)
{
    struct Case
    {
        LPCWSTR wsPath, wsName, wsExt;
    } cases[] = {{W("C:\\a\\b.txt"), W("b.txt"), W("txt")},
                 {W("b.txt"), W("b.txt"), W("txt")},
                 {W("C:\\a\\"), W(""), W("")},
                 {W("C:\\my.tools\\tool.exe"), W("tool.exe"), W("exe")},
                 {W("C:\\my.tools\\tool"), W("tool"), W("")},
                 {W("C:/x/.profile"), W(".profile"), W("profile")},
                 {W("tool.tar.gz"), W("tool.tar.gz"), W("gz")},
                 {W("name."), W("name."), W("")}};
    for (const Case& c : cases)
    {
        WCHAR wsPath[64];
        WideCopy(wsPath, 64, c.wsPath);
        EXPECT_EQ(WString(c.wsName), WString(FindNamePart(wsPath)));
        LPWSTR wsExt = FindExtension(wsPath);
        EXPECT_EQ(WString(c.wsExt), WString(wsExt));
        EXPECT_TRUE(wsExt >= wsPath && wsExt <= wsPath + WideLength(wsPath));
    }
}

TEST(WideTextTest, FormatAndParseNumbers)
{
    WCHAR ws[20];
    FormatUnsigned(ws, 20, 7, 3);
    EXPECT_EQ(WString(W("007")), WString(ws));
    FormatUnsigned(ws, 20, 1000, 3);
    EXPECT_EQ(WString(W("1000")), WString(ws));
    FormatUnsigned(ws, 20, 4294967295u, 1);
    EXPECT_EQ(WString(W("4294967295")), WString(ws));
    FormatUnsigned(ws, 3, 12345, 1);
    EXPECT_EQ(WString(W("12")), WString(ws));
    EXPECT_EQ(12u, ParseUnsigned(W("012x")));
    EXPECT_EQ(0u, ParseUnsigned(W("x1")));
}

// The ANSI form of a path counts only when it names the same file; decided on
// the code page the system has (936 here, 65001 in the UTF-8 run).
TEST(ExactAnsiPathTest, HoldsOnlyWhenTheAnsiFormConvertsBack)
{
    struct Case
    {
        WString wsPath;
        bool on936;
        bool onUtf8;
    };
    const Case cases[] = {
        {W("C:\\tools\\demo.ini"), true, true},
        {W("C:\\\u5de5\u5177\\\u6f14\u793a.ini"), true, true},
        {W("C:\\\u0e01\\demo.ini"), false, true},                // Thai: not in code page 936
        {W("C:\\") + WString(200, WCHAR(0x4e2d)), false, false}, // cut by the 360-byte buffer
    };
    UINT uCodePage = GetACP();
    ASSERT_TRUE(uCodePage == 936 || uCodePage == 65001) << uCodePage;
    for (const Case& c : cases)
    {
        char szPath[360];
        bool exact = GetExactAnsiPath(c.wsPath.c_str(), szPath, sizeof(szPath));
        EXPECT_EQ(uCodePage == 936 ? c.on936 : c.onUtf8, exact) << c.wsPath.size();
        if (!exact)
        {
            EXPECT_EQ('\0', szPath[0]);
        }
    }
}
