#include "rules/catalogue.h"
#include "rules/rule_files.h"
#include "temp_dir.h"
#include "util/path.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
std::vector<WString> ReadNames(const WString& file)
{
    std::vector<WString> names;
    ReadCatalogue(
        file.c_str(),
        [](void* p, LPCWSTR wsName) { static_cast<std::vector<WString>*>(p)->push_back(wsName); }, &names);
    return names;
}
} // namespace

TEST(CatalogueTest, ListEndsAtFirstEmptyOrMissingKey)
{
    TempDir dir;
    WString file = dir.Path(W("Pivra.ini"));
    EXPECT_TRUE(ReadNames(file).empty()); // no catalogue at all
    WriteBytes(file, "[Config]\r\n1=Alpha\r\n2=Beta\r\n3=\r\n4=Delta\r\n");
    EXPECT_EQ((std::vector<WString>{W("Alpha"), W("Beta")}), ReadNames(file));
    WriteBytes(file, "[Config]\r\n2=Beta\r\n1=Alpha\r\n1=Dup\r\n");
    EXPECT_EQ((std::vector<WString>{W("Alpha"), W("Beta")}), ReadNames(file)); // key order, first duplicate
}

TEST(CatalogueTest, NamesAreCutTo99Characters)
{
    TempDir dir;
    WString file = dir.Path(W("Pivra.ini"));
    WString longName(150, WCHAR('n'));
    AddCatalogueEntry(file.c_str(), 1, longName.c_str());
    std::vector<WString> names = ReadNames(file);
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(WString(99, WCHAR('n')), names[0]);
}

TEST(CatalogueTest, AdditionsFillTheGapAndNeverOverwriteAStoredName)
{
    TempDir dir;
    WString file = dir.Path(W("Pivra.ini"));
    // A quoted one-character name is a stored name too.
    for (const char* szFourth : {"D", "\"D\""})
    {
        WriteBytes(file, std::string("[Config]\r\n1=A\r\n2=B\r\n4=") + szFourth + "\r\n");
        ASSERT_EQ(2u, ReadNames(file).size());
        // The box holds 2 names; the first addition makes it 3 and fills the gap.
        EXPECT_EQ(3u, AddCatalogueEntry(file.c_str(), 3, W("C")));
        // The next one would name key 4, which holds D: the next empty key is used.
        EXPECT_EQ(5u, AddCatalogueEntry(file.c_str(), 4, W("E")));
        EXPECT_EQ((std::vector<WString>{W("A"), W("B"), W("C"), W("D"), W("E")}), ReadNames(file))
            << szFourth;
    }
}

TEST(CatalogueTest, AddingKeepsEverythingElseInTheFile)
{
    TempDir dir;
    WString file = dir.Path(W("Pivra.ini"));
    // A rule set named Pivra keeps its FILE and rules in the catalogue itself.
    WriteBytes(file, "; tool catalogue\r\n[Config]\r\n1=Pivra\r\nFILE=C:\\t.exe\r\n[001]\r\nEN=a\r\n");
    AddCatalogueEntry(file.c_str(), 2, W("Other"));
    EXPECT_EQ("; tool catalogue\r\n[Config]\r\n1=Pivra\r\nFILE=C:\\t.exe\r\n2=Other\r\n[001]\r\nEN=a\r\n",
              ReadBytes(file));
}

TEST(RuleFilesTest, ToolFilesLieBesideTheExecutableAndAreCutToTheirBuffer)
{
    WCHAR wsDir[kPathChars];
    GetModuleDir(nullptr, wsDir, kPathChars);
    WCHAR wsFile[kPathChars];
    GetToolFile(W("demo"), W(".ini"), wsFile, kPathChars);
    EXPECT_EQ(WString(wsDir) + W("\\demo.ini"), WString(wsFile));
    GetCatalogueFile(wsFile);
    EXPECT_EQ(WString(wsDir) + W("\\Pivra.ini"), WString(wsFile));
    // The name is used as it stands, and the whole path is cut at the capacity.
    WString longName(400, WCHAR('n'));
    GetToolFile(longName.c_str(), W(".txt"), wsFile, kPathChars);
    EXPECT_EQ(kPathChars - 1, WString(wsFile).size());
    EXPECT_EQ(WString(wsDir) + W("\\") + longName.substr(0, kPathChars - 2 - WString(wsDir).size()),
              WString(wsFile));
}
