#include "patch/failure_log.h"
#include "rules/rule_files.h"
#include "temp_dir.h"
#include "util/path.h"
#include "util/wide_text.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace
{
// The log's text without its byte-order mark, as UTF-8 for matching.
std::string LogLines(const WString& path)
{
    std::string bytes = ReadBytes(path);
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(std::string("\xFF\xFE"), bytes.substr(0, 2));
    EXPECT_EQ(0u, bytes.size() % 2);
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    {
        unsigned unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}
} // namespace

TEST(FailureLogTest, StampFormat)
{
    SYSTEMTIME stTime = {2024, 3, 0, 7, 9, 5, 4, 12};
    WCHAR wsStamp[40];
    FormatLogStamp(wsStamp, 40, stTime);
    EXPECT_EQ(WString(W("[2024-03-07 09:05:04.012] ")), WString(wsStamp));
    FormatLogStamp(wsStamp, 8, stTime);
    EXPECT_EQ(WString(W("[2024-0")), WString(wsStamp));
}

TEST(FailureLogTest, LogFileIsTheExecutablesPathWithExtensionLog)
{
    WCHAR wsExe[kPathChars];
    DWORD dwLen = GetModuleFileNameW(nullptr, wsExe, kPathChars);
    ASSERT_GT(dwLen, 0u);
    WCHAR wsLog[kPathChars];
    GetLogFile(wsLog);
    WString exe(wsExe), log(wsLog);
    LPWSTR wsExt = FindExtension(wsExe);
    WString stem(wsExe, static_cast<size_t>(wsExt - wsExe));
    EXPECT_EQ(stem + W("log"), log);
#ifdef _WIN32
    EXPECT_EQ(WString(W("test_patch.log")), WString(FindNamePart(wsLog)));
#else
    EXPECT_EQ(WString(W("test_patchlog")), WString(FindNamePart(wsLog)));
#endif
}

TEST(FailureLogTest, AppendsStampedLinesAfterOneMark)
{
    TempDir dir;
    WString log = dir.Path(W("tool.log"));
    WriteLogTo(log.c_str(), W("ERROR_EN:a\\nb"));
    WriteLogTo(log.c_str(), W("ERROR_CN:"));
    std::string lines = LogLines(log);
    std::regex expected("\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ERROR_EN:a\\\\nb\r\n"
                        "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ERROR_CN:\r\n");
    EXPECT_TRUE(std::regex_match(lines, expected)) << lines;

    // An existing file, even one without a mark, is only appended to.
    WString old = dir.Path(W("old.log"));
    WriteBytes(old, std::string("x\0", 2));
    WriteLogTo(old.c_str(), W("t"));
    std::string bytes = ReadBytes(old);
    EXPECT_EQ(std::string("x\0[", 3), bytes.substr(0, 3));
    EXPECT_EQ(std::string("t\0\r\0\n\0", 6), bytes.substr(bytes.size() - 6));
}

TEST(FailureLogTest, LineIsDroppedWhenTheFileCannotBeOpened)
{
    TempDir dir;
    WString log = dir.Path(W("missing-folder\\tool.log"));
    WriteLogTo(log.c_str(), W("lost"));
    EXPECT_FALSE(FileExists(log));
    // Held by another: the line is lost, the holder's content stays.
    WString held = dir.Path(W("held.log"));
    WriteBytes(held, "\xFF\xFE");
    HANDLE hHolder =
        CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHolder);
    WriteLogTo(held.c_str(), W("lost"));
    CloseHandle(hHolder);
    EXPECT_EQ(std::string("\xFF\xFE"), ReadBytes(held));
}
