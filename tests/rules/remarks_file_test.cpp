#include "rules/remarks_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace
{
// Reads a remarks file the way the window shows it, in UTF-16.
WString Shown(const RemarksFile& remarks)
{
    if (remarks.unicode)
        return RemarksTextW(remarks);
    LPCSTR sz = RemarksTextA(remarks);
    int cch = MultiByteToWideChar(CP_ACP, 0, sz, -1, nullptr, 0);
    WString text(static_cast<size_t>(cch), WCHAR(0));
    MultiByteToWideChar(CP_ACP, 0, sz, -1, &text[0], cch);
    text.resize(static_cast<size_t>(cch) - 1);
    return text;
}
} // namespace

TEST(RemarksFileTest, EncodingIsDecidedByTheFirstTwoBytes)
{
    TempDir dir;
    WString file = dir.Path(W("set.txt"));
    struct Case
    {
        std::string bytes;
        int unicode;
        WString shown;
    } cases[] = {
        {"\xFF\xFE" + Utf16Bytes(W("\u5907\u6CE8\r\nx")), 1, W("\u5907\u6CE8\r\nx")},
        {"\xFF\xFE", 1, W("")},
        {"\xFF\xFE"
         "a",
         1, W("a")}, // an odd last byte is completed by the zeros after it
        {"\xEF\xBB\xBF"
         "ab",
         0,
         W("\u9518\u7E1C"
           "b")}, // a UTF-8 mark is ANSI bytes like any other
        {"\xFF", 0, W("\uF8F5")},
        {"\xB1\xB8\xD7\xA2", 0, W("\u5907\u6CE8")},
    };
    for (const Case& c : cases)
    {
        WriteBytes(file, c.bytes);
        RemarksFile remarks;
        ASSERT_EQ(1, ReadRemarksFile(file.c_str(), remarks));
        EXPECT_EQ(c.unicode, remarks.unicode);
        EXPECT_EQ(c.bytes.size(), remarks.cbFile);
        EXPECT_EQ(c.shown, Shown(remarks));
        FreeRemarksFile(remarks);
    }
    RemarksFile missing;
    ASSERT_EQ(1, ReadRemarksFile(dir.Path(W("none.txt")).c_str(), missing));
    EXPECT_EQ(1, missing.unicode); // so that a file the tool creates keeps every character
    EXPECT_EQ(WString(), Shown(missing));
}

TEST(RemarksFileTest, SavedTextsComeBackByteForByte)
{
    TempDir dir;
    WString file = dir.Path(W("set.txt"));
    LPCWSTR wsText = W("\u5907\u6CE8 one\r\n\ttwo \u20AC");
    ASSERT_EQ(1, WriteRemarksFile(file.c_str(), 1, wsText, nullptr));
    EXPECT_EQ("\xFF\xFE" + Utf16Bytes(wsText), ReadBytes(file)); // no terminator
    RemarksFile remarks;
    ReadRemarksFile(file.c_str(), remarks);
    EXPECT_EQ(WString(wsText), Shown(remarks));
    FreeRemarksFile(remarks);

    ASSERT_EQ(1, WriteRemarksFile(file.c_str(), 0, wsText, nullptr));
    EXPECT_EQ("\xB1\xB8\xD7\xA2 one\r\n\ttwo \x80", ReadBytes(file));
    ReadRemarksFile(file.c_str(), remarks);
    EXPECT_EQ(0, remarks.unicode);
    EXPECT_EQ(WString(wsText), Shown(remarks));
    FreeRemarksFile(remarks);

    WriteRemarksFile(file.c_str(), 0, W("caf\u0E01"), nullptr);
    EXPECT_EQ("caf?", ReadBytes(file)); // not in the code page
}

TEST(RemarksFileTest, EmptyTextDeletesTheFile)
{
    TempDir dir;
    WString file = dir.Path(W("set.txt"));
    WriteBytes(file, "old");
    EXPECT_EQ(1, WriteRemarksFile(file.c_str(), 0, W(""), nullptr));
    EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(1, WriteRemarksFile(file.c_str(), 0, W(""), nullptr)); // already absent
    EXPECT_FALSE(FileExists(file));
}

TEST(RemarksFileTest, ForeignFileIsUntouchedWhenTheTextWasNotChanged)
{
    TempDir dir;
    WString file = dir.Path(W("set.txt"));
    // A zero inside and a byte the code page cannot map: shown cut and altered.
    std::string foreign("ab\x00"
                        "cd\xFF\x81",
                        7);
    WriteBytes(file, foreign);
    RemarksFile remarks;
    ReadRemarksFile(file.c_str(), remarks);
    WString shown = Shown(remarks);
    FreeRemarksFile(remarks);
    EXPECT_EQ(1, WriteRemarksFile(file.c_str(), 0, shown.c_str(), shown.c_str()));
    EXPECT_EQ(foreign, ReadBytes(file));
    // A real change is saved.
    EXPECT_EQ(1, WriteRemarksFile(file.c_str(), 0, W("ab!"), shown.c_str()));
    EXPECT_EQ("ab!", ReadBytes(file));
}

TEST(RemarksFileTest, FileThatCannotBeCreatedKeepsItsContent)
{
    TempDir dir;
    WString missingDir = dir.Path(W("no\\such\\set.txt"));
    EXPECT_EQ(0, WriteRemarksFile(missingDir.c_str(), 0, W("x"), nullptr));
    WString file = dir.Path(W("set.txt"));
    WriteBytes(file, "keep");
    HANDLE hHolder =
        CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHolder);
    EXPECT_EQ(0, WriteRemarksFile(file.c_str(), 0, W("new"), nullptr));
    CloseHandle(hHolder);
    EXPECT_EQ("keep", ReadBytes(file));
}
