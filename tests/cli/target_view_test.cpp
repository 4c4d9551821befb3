// A copy-on-write view of a target: the rules of a dry run write to it, and
// neither the file nor another view of it may see those writes.
#include "cli/cli_files.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace
{
TEST(TargetViewTest, CopyOnWriteWritesNeverReachTheFile)
{
    TempDir dir;
    const WString wsFile = dir.Path(W("target.exe"));
    // Three pages and a bit, so writes land on a page boundary and in a last,
    // partial page.
    std::string bytes(3 * 4096 + 100, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    WriteBytes(wsFile, bytes);

    std::string sReason;
    CTargetView original, copy;
    ASSERT_TRUE(original.Open(wsFile, sReason)) << sReason;
    ASSERT_TRUE(copy.Open(wsFile, sReason, kViewCopyOnWrite)) << sReason;
    EXPECT_EQ(nullptr, original.WritableData());
    BYTE* pCopy = copy.WritableData();
    ASSERT_NE(nullptr, pCopy);
    ASSERT_EQ(bytes.size(), copy.Size());
    const size_t written[] = {0, 4095, 4096, bytes.size() - 1};
    for (size_t at : written)
        pCopy[at] = static_cast<BYTE>(~pCopy[at]);

    std::string seen(reinterpret_cast<const char*>(pCopy), copy.Size());
    std::string expected = bytes;
    for (size_t at : written)
        expected[at] = static_cast<char>(~expected[at]);
    EXPECT_EQ(expected, seen);
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(original.Data()), original.Size()));
    copy.Close();
    EXPECT_EQ(bytes, ReadBytes(wsFile));
    // The view of a shared open leaves the file to an exclusive one once it goes.
    original.Close();
    EXPECT_TRUE(CheckTarget(wsFile, kPatchTarget, sReason)) << sReason;
}

// Windows maps copy-on-write views of read-only mappings too; a shared
// writable view needs a mapping, and a file, opened for writing.
TEST(TargetViewTest, CopyOnWriteViewsNeedNoWriteAccess)
{
    TempDir dir;
    const WString wsFile = dir.Path(W("target.exe"));
    WriteBytes(wsFile, std::string(100, 'x'));
    HANDLE hFile = CreateFileW(wsFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    EXPECT_EQ(nullptr, CreateFileMappingW(hFile, nullptr, PAGE_READWRITE, 0, 0, nullptr));
    const DWORD protections[] = {PAGE_READONLY, PAGE_WRITECOPY};
    for (DWORD dwProtect : protections)
    {
        HANDLE hMapping = CreateFileMappingW(hFile, nullptr, dwProtect, 0, 0, nullptr);
        ASSERT_NE(nullptr, hMapping) << dwProtect;
        EXPECT_EQ(nullptr, MapViewOfFile(hMapping, FILE_MAP_WRITE, 0, 0, 0)) << dwProtect;
        EXPECT_EQ(nullptr, MapViewOfFile(hMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)) << dwProtect;
        void* pView = MapViewOfFile(hMapping, FILE_MAP_COPY, 0, 0, 0);
        ASSERT_NE(nullptr, pView) << dwProtect;
        static_cast<BYTE*>(pView)[99] = 'y';
        EXPECT_EQ('y', static_cast<BYTE*>(pView)[99]);
        EXPECT_TRUE(UnmapViewOfFile(pView));
        CloseHandle(hMapping);
    }
    CloseHandle(hFile);
    EXPECT_EQ(std::string(100, 'x'), ReadBytes(wsFile));
}
} // namespace
