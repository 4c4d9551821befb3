// The Windows file primitives under the store: how a write replaces the file,
// what it refuses, and how a changed file is noticed.
#include "kernel32_profile.h"
#include "port/profile_file.h"
#include "port/profile_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
const std::string kRules = "[001]\r\nEN=Open\r\nCN=abcd\r\n";

std::vector<std::wstring> ListDir(const TempDir& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW stFind;
    HANDLE hFind = FindFirstFileW(dir.Path(L"*").c_str(), &stFind);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do
        if (std::wstring(stFind.cFileName) != L"." && std::wstring(stFind.cFileName) != L"..")
            names.push_back(stFind.cFileName);
    while (FindNextFileW(hFind, &stFind));
    FindClose(hFind);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring ReadEn(const std::wstring& file)
{
    WCHAR wsEn[64];
    profile_store::GetString(L"001", L"EN", L"", wsEn, 64, file.c_str());
    return wsEn;
}

void SetWriteTime(const std::wstring& file, const FILETIME& ft)
{
    HANDLE hFile = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    SetFileTime(hFile, nullptr, nullptr, &ft);
    CloseHandle(hFile);
}

FILETIME WriteTime(const std::wstring& file)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}
} // namespace

TEST(ProfileFileWinTest, WriteReplacesTheFileKeepingItsAttributesAndLeavesNothingBehind)
{
    TempDir dir;
    std::wstring file = dir.Path(L"rules.ini");
    WriteBytes(file, kRules);
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(profile_store::WriteString(L"001", L"EN", L"Save", file.c_str()));
    EXPECT_EQ("[001]\r\nEN=Save\r\nCN=abcd\r\n", ReadBytes(file));
    EXPECT_TRUE(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    // A new file too is made by a rename, never left half-written.
    std::wstring fresh = dir.Path(L"new.ini");
    EXPECT_TRUE(profile_store::WriteString(L"001", L"EN", L"x", fresh.c_str()));
    EXPECT_EQ("[001]\r\nEN=x\r\n", ReadBytes(fresh));
    EXPECT_EQ((std::vector<std::wstring>{L"new.ini", L"rules.ini"}), ListDir(dir));
}

TEST(ProfileFileWinTest, ReadOnlyOrLockedFileIsRefusedAndLeftUnchanged)
{
    TempDir dir;
    std::wstring file = dir.Path(L"rules.ini");
    profile_store::FileStamp stamp;
    WriteBytes(file, kRules);
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(profile_store::WriteString(L"001", L"EN", L"Save", file.c_str()));
    EXPECT_FALSE(profile_store::ReplaceWholeFile(file, "replaced", stamp));
    EXPECT_EQ(kRules, ReadBytes(file));
    EXPECT_EQ(L"Open", ReadEn(file));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL));

    // Held without sharing, as a program that patches or edits it might.
    HANDLE hLock =
        CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
    EXPECT_FALSE(profile_store::WriteString(L"001", L"EN", L"Save", file.c_str()));
    EXPECT_FALSE(profile_store::ReplaceWholeFile(file, "replaced", stamp));
    CloseHandle(hLock);
    EXPECT_EQ(kRules, ReadBytes(file));
    EXPECT_EQ((std::vector<std::wstring>{L"rules.ini"}), ListDir(dir));
}

// Another program replaces a file written just now with one of the same size
// and the same write time: its index tells them apart.
TEST(ProfileFileWinTest, ReplacementWithSameSizeAndTimeIsNoticed)
{
    TempDir dir;
    std::wstring file = dir.Path(L"rules.ini"), other = dir.Path(L"other.ini");
    WriteBytes(file, kRules);
    EXPECT_EQ(L"Open", ReadEn(file));
    std::string changed = kRules;
    changed.replace(changed.find("Open"), 4, "Shut");
    WriteBytes(other, changed);
    SetWriteTime(other, WriteTime(file));
    ASSERT_TRUE(MoveFileExW(other.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(L"Shut", ReadEn(file));
}

TEST(ProfileFileWinTest, SymbolicLinkIsWrittenThroughToItsTarget)
{
    TempDir dir;
    std::wstring target = dir.Path(L"target.ini"), link = dir.Path(L"link.ini");
    WriteBytes(target, kRules);
    const DWORD kAllowUnprivileged = 0x2; // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    // Wine 8 makes a link that names nothing, which reads as a missing file.
    BOOL made = CreateSymbolicLinkW(link.c_str(), target.c_str(), kAllowUnprivileged);
    DWORD dwAttributes = GetFileAttributesW(link.c_str());
    if (!made || dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "no working symbolic links here";
    // Written through where the link resolves (Windows), else refused (Wine):
    // never replaced by a file of its own.
    BOOL written = profile_store::WriteString(L"001", L"EN", L"Save", link.c_str());
    EXPECT_TRUE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(written ? "[001]\r\nEN=Save\r\nCN=abcd\r\n" : kRules, ReadBytes(target));
    EXPECT_EQ(written ? L"Save" : L"Open", ReadEn(link));
    EXPECT_EQ((std::vector<std::wstring>{L"link.ini", L"target.ini"}), ListDir(dir));
}

// Where kernel32 writes, the store writes too, with the same bytes: a file
// another program holds open sharing everything (as editors and scanners do),
// and a file with two names, which both keep.
TEST(ProfileFileWinTest, WritesWhereKernel32Writes)
{
    if (!Kernel32Loaded())
        GTEST_SKIP() << "kernel32 lacks the profile functions";
    TempDir dir;
    const ProfileApi* apis[] = {&kKernel32, &kStore};
    std::string results[2];
    for (int side = 0; side < 2; ++side)
    {
        std::wstring held = dir.Path(side == 0 ? L"k32.ini" : L"store.ini");
        std::wstring linked = dir.Path(side == 0 ? L"k32-a.ini" : L"store-a.ini");
        std::wstring other = dir.Path(side == 0 ? L"k32-b.ini" : L"store-b.ini");
        WriteBytes(held, kRules);
        WriteBytes(linked, kRules);
        ASSERT_TRUE(CreateHardLinkW(other.c_str(), linked.c_str(), nullptr));
        HANDLE hHeld = CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
        EXPECT_TRUE(apis[side]->WriteString(L"001", L"CN", L"\u4FDD\u5B58", held.c_str())) << side;
        EXPECT_TRUE(apis[side]->WriteString(L"002", L"EN", L"Close", held.c_str())) << side;
        CloseHandle(hHeld);
        EXPECT_TRUE(apis[side]->WriteString(L"002", L"EN", L"Close", other.c_str())) << side;
        results[side] = ReadBytes(held) + "|" + ReadBytes(linked);
        EXPECT_EQ(ReadBytes(linked), ReadBytes(other)) << side;
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_NE(std::string::npos, results[1].find("EN=Close\r\n|"));
    EXPECT_EQ(6u, ListDir(dir).size());
}
