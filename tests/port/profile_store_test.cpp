// The profile store against the catalogued Windows behaviour (facts F001-F158).
// On Linux the Win32 names are the store; on Windows they are kernel32, so the
// store is called by its own names there.
#include "port/profile_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <filesystem>

#ifndef _WIN32
#include "port/native_path.h"
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Runs between a write's rename and the flush of its folder, where another
// program's write may land.
void (*g_fnOnFolderFlush)() = nullptr;

extern "C" int fsync(int fd)
{
    struct stat st;
    if (g_fnOnFolderFlush != nullptr && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
    {
        void (*fnRun)() = g_fnOnFolderFlush;
        g_fnOnFolderFlush = nullptr;
        fnRun();
    }
    return static_cast<int>(syscall(SYS_fsync, fd));
}
#endif

namespace
{
#ifdef PIVRA_TEST_STORE_DIRECTLY
using profile_store::GetInt;
using profile_store::GetSection;
using profile_store::GetString;
using profile_store::GetStringA;
using profile_store::WriteSection;
using profile_store::WriteString;
#else
DWORD GetString(LPCWSTR s, LPCWSTR k, LPCWSTR d, LPWSTR b, DWORD n, LPCWSTR f)
{
    return GetPrivateProfileStringW(s, k, d, b, n, f);
}
DWORD GetStringA(LPCSTR s, LPCSTR k, LPCSTR d, LPSTR b, DWORD n, LPCSTR f)
{
    return GetPrivateProfileStringA(s, k, d, b, n, f);
}
UINT GetInt(LPCWSTR s, LPCWSTR k, INT d, LPCWSTR f)
{
    return GetPrivateProfileIntW(s, k, d, f);
}
DWORD GetSection(LPCWSTR s, LPWSTR b, DWORD n, LPCWSTR f)
{
    return GetPrivateProfileSectionW(s, b, n, f);
}
BOOL WriteString(LPCWSTR s, LPCWSTR k, LPCWSTR v, LPCWSTR f)
{
    return WritePrivateProfileStringW(s, k, v, f);
}
BOOL WriteSection(LPCWSTR s, LPCWSTR l, LPCWSTR f)
{
    return WritePrivateProfileSectionW(s, l, f);
}
#endif

const WCHAR kFill = '#';

// A string literal with its embedded zeros.
template <size_t N> std::string Bytes(const char (&sz)[N])
{
    return std::string(sz, N - 1);
}
template <size_t N> WString Units(const WCHAR (&ws)[N])
{
    return WString(ws, N - 1);
}

std::string Utf16File(const WString& text)
{
    return "\xFF\xFE" + Utf16Bytes(text);
}

// Reads into a buffer of dwSize units with a guard behind it; returns the whole
// buffer, guard included, so that writes past the size show.
WString ReadInto(LPCWSTR wsSection, LPCWSTR wsKey, LPCWSTR wsDefault, DWORD dwSize, const WString& file,
                 DWORD* pRet)
{
    std::vector<WCHAR> buffer(dwSize + 2, kFill);
    *pRet = GetString(wsSection, wsKey, wsDefault, buffer.data(), dwSize, file.c_str());
    return WString(buffer.begin(), buffer.end());
}

class ProfileStoreTest : public ::testing::Test
{
  protected:
    WString File(const std::string& bytes)
    {
        WString path = m_dir.Path(W("t") + WString(1, WCHAR('a' + m_count++ % 26)) + W(".ini"));
        WriteBytes(path, bytes);
        return path;
    }
    TempDir m_dir;
    int m_count = 0;
};

struct ReadCase
{
    const char* szWhat;
    std::string bytes;
    LPCWSTR wsSection, wsKey, wsDefault;
    DWORD dwSize;
    DWORD dwRet;
    WString expected; // buffer content up to and including the terminating zero
};

TEST_F(ProfileStoreTest, ReadsOneValueAsWindowsDoes)
{
    const std::string basic = "[section1]\r\nname1=val1\r\nname2=\"val2\"\r\nname3\r\nname4=val4\r\n";
    const ReadCase cases[] = {
        {"F060 found", basic, W("section1"), W("name1"), W("d"), 20, 4, Units(W("val1\0"))},
        {"F062 cut", basic, W("section1"), W("name1"), W("d"), 4, 3, Units(W("val\0"))},
        {"F063 exact", basic, W("section1"), W("name1"), W("d"), 5, 4, Units(W("val1\0"))},
        {"F064 one unit", basic, W("section1"), W("name1"), W("d"), 1, 0, Units(W("\0"))},
        {"F033 quotes", basic, W("section1"), W("name2"), W("d"), 20, 4, Units(W("val2\0"))},
        {"F041 bare line", basic, W("section1"), W("name3"), W("dflt"), 20, 4, Units(W("dflt\0"))},
        {"F043 case", basic, W("SECTION1"), W("NaMe4"), W("d"), 20, 4, Units(W("val4\0"))},
        {"F065 missing key", basic, W("section1"), W("nope"), W("default"), 20, 7, Units(W("default\0"))},
        {"F065 missing section", basic, W("s9"), W("name1"), W("default"), 20, 7, Units(W("default\0"))},
        {"F067 null default", basic, W("s9"), W("name1"), nullptr, 20, 0, Units(W("\0"))},
        {"F068 default trailing spaces", basic, W("s9"), W("k"), W("   default   "), 20, 10,
         Units(W("   default\0"))},
        {"F068 default tabs kept", basic, W("s9"), W("k"), W("\tdefault\t"), 20, 9,
         Units(W("\tdefault\t\0"))},
        {"F069 default cut", basic, W("s9"), W("k"), W("default"), 4, 3, Units(W("def\0"))},
        {"F081 argument spaces", basic, W("  section1  "), W(" name1 "), W("d"), 20, 4, Units(W("val1\0"))},
        {"F081 argument tab", basic, W("\tsection1"), W("name1"), W("d"), 20, 1, Units(W("d\0"))},
        {"F001 UTF-16LE", Utf16File(W("[S]\r\nk=\u4e2d\u6587\r\n")), W("S"), W("k"), W("d"), 20, 2,
         Units(W("\u4e2d\u6587\0"))},
        {"F003 UTF-8 BOM breaks line 1", "\xEF\xBB\xBF[S]\r\nk=v\r\n[T]\r\nk=w\r\n", W("S"), W("k"), W("d"),
         20, 1, Units(W("d\0"))},
        {"F003 later sections read", "\xEF\xBB\xBF[S]\r\nk=v\r\n[T]\r\nk=w\r\n", W("T"), W("k"), W("d"), 20,
         1, Units(W("w\0"))},
        {"F005 UTF-16BE", "\xFE\xFF\0[\0S\0]\0\r\0\nk=v\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("d\0"))},
        {"F007 ANSI code page 936", "[S]\r\nk=\xD6\xD0\xCE\xC4\r\n", W("S"), W("k"), W("d"), 20, 2,
         Units(W("\u4e2d\u6587\0"))},
        {"F013 CR only", "[S]\rk=v\r", W("S"), W("k"), W("d"), 20, 1, Units(W("v\0"))},
        {"F013 LF only", "[Test]\nProfileInt=123\n", W("Test"), W("ProfileInt"), W("d"), 20, 3,
         Units(W("123\0"))},
        {"F014 trailing NUL", Bytes("[S]\r\nk=v\r\n\0"), W("S"), W("k"), W("d"), 20, 1, Units(W("v\0"))},
        {"F019 blanks before [", " \t[S]\r\nk=v\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("v\0"))},
        {"F020 blanks in brackets", "[ \tS\v ]\r\nk=v\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("v\0"))},
        {"F021 first ]", "[sec]whoops]\r\nk=v\r\n", W("sec"), W("k"), W("d"), 20, 1, Units(W("v\0"))},
        {"F021 key behind ]", "[S]k=v\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("d\0"))},
        {"F022 missing ]", "[S   \r\nk=v\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("v\0"))},
        {"F023 missing [", "S]\r\nk=v\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("d\0"))},
        {"F024 [ in name", "[[sec]\r\nk=v\r\n", W("[sec"), W("k"), W("d"), 20, 1, Units(W("v\0"))},
        {"F025 quotes in name", "[\"S\"]\r\nk=v\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("d\0"))},
        {"F026 ; in header", "[;S]\r\nk=v\r\n", W(";S"), W("k"), W("d"), 20, 1, Units(W("v\0"))},
        {"F027 empty section name", "k=a\r\n[]\r\nk=b\r\n", W(""), W("k"), W("d"), 20, 1, Units(W("b\0"))},
        {"F028 keys before sections", "k=a\r\n[S]\r\n", W(""), W("k"), W("d"), 20, 1, Units(W("d\0"))},
        {"F029 blanks", "[S]\r\n\tk \v= \tv v\v \r\n", W("S"), W("k"), W("d"), 20, 3, Units(W("v v\0"))},
        {"F030 first =", "[S]\r\nk=a=b\r\n", W("S"), W("k"), W("d"), 20, 3, Units(W("a=b\0"))},
        {"F032 empty key", "[S]\r\n=val_no_key\r\n", W("S"), W(""), W("d"), 20, 10, Units(W("val_no_key\0"))},
        {"F033 inner blanks kept", "[S]\r\nk=  \"   v   \"  \r\n", W("S"), W("k"), W("d"), 20, 7,
         Units(W("   v   \0"))},
        {"F034 outer pair only", "[S]\r\nk=\"'v'\"\r\n", W("S"), W("k"), W("d"), 20, 3, Units(W("'v'\0"))},
        {"F034 mismatched", "[S]\r\nk=\"v'\r\n", W("S"), W("k"), W("d"), 20, 3, Units(W("\"v'\0"))},
        {"F035 quoted key", "[S]\r\n\"k\"=v\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("d\0"))},
        {"F036 #", "[S]\r\n#c=x\r\n", W("S"), W("#c"), W("d"), 20, 1, Units(W("x\0"))},
        {"F037 ; in value", "[S]\r\nk=;no\r\n", W("S"), W("k"), W("d"), 20, 3, Units(W(";no\0"))},
        {"F039 comment", "[S]\r\n;k=v\r\n", W("S"), W(";k"), W("d"), 20, 1, Units(W("d\0"))},
        {"F039 indented comment", "[S]\r\n \t;k=v\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("d\0"))},
        {"F046 first section", "[S]\r\n[S]\r\nk=v\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("d\0"))},
        {"F048 first key", "[S]\r\nk=1\r\nK=2\r\n", W("S"), W("k"), W("d"), 20, 1, Units(W("1\0"))},
        {"F070 quoted default", basic, W("s9"), W("k"), W("\"qd\"  "), 20, 2, Units(W("qd\0"))},
        {"F084 quoted text filling the buffer", "[S]\r\nk=\"abcdef\"\r\n", W("S"), W("k"), W("d"), 7, 6,
         Units(W("abcdef\0"))},
        {"F084 quoted text cut", "[S]\r\nk=\"abcdef\"\r\n", W("S"), W("k"), W("d"), 4, 3, Units(W("abc\0"))},
        {"F084 quoted one character in two", "[S]\r\nk=\"x\"\r\n", W("S"), W("k"), W("d"), 2, 1,
         Units(W("x\0"))},
    };
    for (const ReadCase& c : cases)
    {
        WString file = File(c.bytes);
        DWORD dwRet = 0;
        WString buffer = ReadInto(c.wsSection, c.wsKey, c.wsDefault, c.dwSize, file, &dwRet);
        EXPECT_EQ(c.dwRet, dwRet) << c.szWhat;
        EXPECT_EQ(c.expected, buffer.substr(0, c.expected.size())) << c.szWhat;
        EXPECT_EQ(WString(2, kFill), buffer.substr(c.dwSize)) << c.szWhat << ": wrote past the buffer";
    }
}

TEST_F(ProfileStoreTest, ListsNamesAndSectionsAsWindowsDoes)
{
    const std::string names =
        "[section1]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n;c=1\r\n[section2]\r\n";
    const std::string sections =
        "[section1]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n[section2]\r\n[sectio"
        "n3]\r\n=val5\r\n";
    const ReadCase cases[] = {
        {"F073 sections", names, nullptr, nullptr, W("d"), 40, 18, Units(W("section1\0section2\0\0"))},
        {"F075 sections cut", names, nullptr, nullptr, W("d"), 16, 14, Units(W("section1\0secti\0\0"))},
        {"F076 sections in 2", names, nullptr, nullptr, W("d"), 2, 0, Units(W("\0\0"))},
        {"F074 keys", names, W("section1"), nullptr, W("d"), 40, 18, Units(W("name1\0name2\0name4\0\0"))},
        {"F075 keys cut", names, W("section1"), nullptr, W("d"), 16, 14, Units(W("name1\0name2\0na\0\0"))},
        {"F075 keys in 10", names, W("section1"), nullptr, W("d"), 10, 8, Units(W("name1\0na\0\0"))},
        {"F076 keys in 2", names, W("section1"), nullptr, W("d"), 2, 0, Units(W("\0"))},
        {"F047 duplicates listed", "[S]\r\n[S2]\r\n[s]\r\n", nullptr, nullptr, W("d"), 20, 7,
         Units(W("S\0S2\0s\0\0"))},
        {"F078 missing file", "", nullptr, nullptr, W("d"), 20, 0, Units(W("\0"))},
        {"F079 keys of empty section", names, W("section2"), nullptr, W("'dflt'"), 20, 4, Units(W("dflt\0"))},
    };
    for (const ReadCase& c : cases)
    {
        WString file = c.bytes.empty() ? m_dir.Path(W("missing.ini")) : File(c.bytes);
        DWORD dwRet = 0;
        WString buffer = ReadInto(c.wsSection, c.wsKey, c.wsDefault, c.dwSize, file, &dwRet);
        EXPECT_EQ(c.dwRet, dwRet) << c.szWhat;
        EXPECT_EQ(c.expected, buffer.substr(0, c.expected.size())) << c.szWhat;
        EXPECT_EQ(WString(2, kFill), buffer.substr(c.dwSize)) << c.szWhat;
    }

    WString file = File(sections);
    struct SectionCase
    {
        LPCWSTR wsSection;
        DWORD dwSize, dwRet;
        WString expected;
    } sectionCases[] = {
        {W("section1"), 40, 35, Units(W("name1=val1\0name2=\0name3\0name4=val4\0\0"))}, // F094, F040
        {W("section3"), 40, 6, Units(W("=val5\0\0"))},                                  // F095
        {W("section1"), 24, 22, Units(W("name1=val1\0name2=\0name\0\0"))},              // F097
        {W("section2"), 40, 0, Units(W("\0"))},                                         // F096
        {W("missing"), 40, 0, Units(W("\0\0"))},                                        // F099
    };
    for (const SectionCase& c : sectionCases)
    {
        std::vector<WCHAR> buffer(c.dwSize + 2, kFill);
        EXPECT_EQ(c.dwRet, GetSection(c.wsSection, buffer.data(), c.dwSize, file.c_str())) << c.dwSize;
        EXPECT_EQ(c.expected, WString(buffer.data(), c.expected.size())) << c.dwSize;
        EXPECT_EQ(WString(2, kFill), WString(buffer.data() + c.dwSize, 2));
    }
    std::vector<WCHAR> buffer(8, kFill);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(0u, GetSection(nullptr, buffer.data(), 8, file.c_str())); // F098
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(ProfileStoreTest, ReadsNumbersAsWindowsDoes)
{
    WString file = File("[S]\r\nm=-1\r\np=+1\r\nbig=4294967296\r\nbig1=4294967297\r\nneg=-4294967297\r\n"
                        "mixed=42A94967297\r\nletter=B4294967297\r\nhex=0x1A\r\nempty=\r\nquoted=\"12\"\r\n"
                        "blank=  7  \r\n");
    struct
    {
        LPCWSTR wsKey;
        INT nDefault;
        UINT uExpected;
    } cases[] = {
        {W("m"), 5, 4294967295u},
        {W("p"), 5, 1},
        {W("big"), 5, 0}, // F087, F088
        {W("big1"), 5, 1},
        {W("neg"), 5, 4294967295u}, // F088
        {W("mixed"), 5, 42},
        {W("letter"), 5, 0}, // F089, F090
        {W("hex"), 5, 26},
        {W("empty"), 5, 5},
        {W("missing"), -1, 4294967295u}, // F092, F093, F085
        {W("quoted"), 5, 12},
        {W("blank"), 5, 7}, // F091
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.uExpected, GetInt(W("S"), c.wsKey, c.nDefault, file.c_str()));
    EXPECT_EQ(3u, GetInt(W("S"), W("k"), 3, m_dir.Path(W("missing.ini")).c_str()));
}

// One write call; a null marker in the table stands for a NULL argument.
struct Write
{
    LPCWSTR wsSection, wsKey, wsValue;
};

struct WriteCase
{
    const char* szWhat;
    std::string before; // "<none>" for a missing file
    std::vector<Write> writes;
    std::string after;
};

TEST_F(ProfileStoreTest, EditsFilesInPlaceAsWindowsDoes)
{
    const std::string threeApps =
        "[App1]\r\nkey1=string1\r\n[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n";
    const WriteCase cases[] = {
        {"F103 new file", "<none>", {{W("S"), W("K"), W("V")}}, "[S]\r\nK=V\r\n"},
        {"F103 empty file", "", {{W("S"), W("K"), W("V")}}, "[S]\r\nK=V\r\n"},
        {"F017 no blank line between sections",
         "",
         {{W("App1"), W("key1"), W("a")}, {W("App2"), W("key4"), W("b")}},
         "[App1]\r\nkey1=a\r\n[App2]\r\nkey4=b\r\n"},
        {"F002 BOM only", "\xFF\xFE", {{W("S"), W("k"), W("v")}}, Utf16File(W("\r\n[S]\r\nk=v\r\n"))},
        {"F009 UTF-16LE stays",
         Utf16File(W("[S]\r\nk=v\r\n")),
         {{W("S"), W("j"), W("\u4e2d")}},
         Utf16File(W("[S]\r\nk=v\r\nj=\u4e2d\r\n"))},
        {"F004 UTF-8 BOM only",
         "\xEF\xBB\xBF",
         {{W("S"), W("k"), W("\u4e2d")}},
         "\xEF\xBB\xBF\r\n[S]\r\nk=\xD6\xD0\r\n"},
        {"F006 UTF-16BE",
         Bytes("\xFE\xFF\0\r\0\n"),
         {{W("Sec"), W("key"), W("val")}},
         Bytes("\xFE\xFF\0\r\0\n[Sec]\r\nkey=val\r\n")},
        {"F008 F128 ANSI with ?", "<none>", {{W("S"), W("k"), W("Unicode\u2764")}}, "[S]\r\nk=Unicode?\r\n"},
        {"F015 last line without end",
         "[S]\r\nTestKey=TestValue",
         {{W("S"), W("TESTKEY"), W("TestValue2")}},
         "[S]\r\nTestKey=TestValue2\r\n"},
        {"F016 F121 NULs before section",
         Bytes("Data \0 before \0 first \0 section"),
         {{W("section1"), W("key1"), W("string1")}},
         Bytes("Data \0 before \0 first \0 section\r\n[section1]\r\nkey1=string1\r\n")},
        {"F044 case kept",
         "[SectionName]\r\nTestKey=TestValue\r\n",
         {{W("SECTIONNAME"), W("TESTKEY"), W("x")}},
         "[SectionName]\r\nTestKey=x\r\n"},
        {"F110 delete section",
         threeApps,
         {{W("App1"), nullptr, W("string1")}},
         "[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n"},
        {"F111 comments survive",
         ";comment0\r\n[S]\r\n;comment1\r\n[S2]\r\n;comment2\r\n",
         {{W("S"), nullptr, nullptr}, {W("S2"), nullptr, nullptr}},
         ";comment0\r\n;comment1\r\n;comment2\r\n"},
        {"F112 F114 empty file stays empty", "", {{W("S"), nullptr, nullptr}, {W("S"), W("k"), nullptr}}, ""},
        {"F113 delete key keeps section",
         threeApps,
         {{W("App3"), W("key5"), nullptr}, {W("App3"), W("key5"), nullptr}},
         "[App1]\r\nkey1=string1\r\n[App2]\r\nkey4=string4\r\n[App3]\r\n"},
        {"F115 comment not deleted", "[S]\r\n;k=v\r\n", {{W("S"), W(";k"), nullptr}}, "[S]\r\n;k=v\r\n"},
        {"F116 empty value", "", {{W("App"), W("key"), W("")}}, "[App]\r\nkey=\r\n"},
        {"F117 order",
         "[S]\r\nb=value\r\na=value\r\n",
         {{W("S"), W("z"), W("")}, {W("S"), W("b"), W("")}, {W("S"), W("y"), W("")}, {W("S"), W("a"), W("")}},
         "[S]\r\nb=\r\na=\r\nz=\r\ny=\r\n"},
        {"F118 comments stay put",
         ";comment0\r\n[S]\r\n;comment1\r\nb=value\r\n;comment2\r\na=value\r\n",
         {{W("S"), W("z"), W("")},
          {W("S"), W(";x"), W("")},
          {W("S"), W("y"), W("")},
          {W("S"), W("a"), W("")},
          {W("S"), W("b"), W("")}},
         ";comment0\r\n[S]\r\n;comment1\r\nb=\r\n;comment2\r\na=\r\nz=\r\ny=\r\n;x=\r\n"},
        {"F119 comment keys",
         "",
         {{W("S"), W("z"), W("")},
          {W("S"), W(";y"), W("")},
          {W("S"), W("a"), W("")},
          {W("S"), W(";b"), W("")},
          {W("S"), W(";c"), W("")}},
         "[S]\r\nz=\r\na=\r\n;c=\r\n;b=\r\n;y=\r\n"},
        {"F121 rest untouched",
         "; top\r\n\r\n[S]\r\n  k = old  \r\n\r\n[T]\r\n x = 1\r\n",
         {{W("T"), W("y"), W("2")}},
         "; top\r\n\r\n[S]\r\n  k = old  \r\n\r\n[T]\r\n x = 1\r\ny=2\r\n"},
        {"F122 spaces stripped, tabs kept",
         "",
         {{W("  sec  "), W(" key "), W("v")}, {W("\tt\t"), W("\tk\t"), W("v")}},
         "[sec]\r\nkey=v\r\n[\tt\t]\r\n\tk\t=v\r\n"},
        {"F123 value verbatim", "", {{W("S"), W("key"), W(" value \t")}}, "[S]\r\nkey= value \t\r\n"},
        {"F124 nothing escaped",
         "",
         {{W("sec]\r\nkey=value"), W("TestKey"), W("v")}},
         "[sec]\r\nkey=value]\r\nTestKey=v\r\n"},
        {"F125 F126 empty names", "", {{W(""), W(""), W(";c")}}, "[]\r\n=;c\r\n"},
    };
    for (const WriteCase& c : cases)
    {
        TempDir fresh;
        WString file = fresh.Path(W("w.ini"));
        if (c.before != "<none>")
            WriteBytes(file, c.before);
        for (const Write& w : c.writes)
            EXPECT_TRUE(WriteString(w.wsSection, w.wsKey, w.wsValue, file.c_str())) << c.szWhat;
        EXPECT_EQ(c.after, ReadBytes(file)) << c.szWhat;
    }
}

TEST_F(ProfileStoreTest, ReplacesSectionsAsWindowsDoes)
{
    struct
    {
        const char* szWhat;
        std::string before;
        LPCWSTR wsSection;
        WString list; // with its zeros; empty for NULL
        std::string after;
    } cases[] = {
        {"F132 entries replaced, comments stay", "[S]\r\na=1\r\n;c\r\nb=2\r\n[T]\r\nc=3\r\n", W("s"),
         Units(W("x=9\0y=8\0\0")), "[S]\r\nx=9\r\ny=8\r\n;c\r\n[T]\r\nc=3\r\n"},
        {"F133 new section at the end", "[S]\r\na=1", W("T"), Units(W("x=9\0\0")),
         "[S]\r\na=1\r\n[T]\r\nx=9\r\n"},
        {"F137 NULL deletes", "[S]\r\na=1\r\n[T]\r\nc=3\r\n", W("S"), WString(), "[T]\r\nc=3\r\n"},
        {"F139 strings without = dropped", "", W("S"), Units(W("noeq\0k=v\0\0")), "[S]\r\nk=v\r\n"},
        {"F134 Unicode stays Unicode", Utf16File(W("[A]\r\n")), W("S"), Units(W("k=\u4e2d\0\0")),
         Utf16File(W("[A]\r\n[S]\r\nk=\u4e2d\r\n"))},
    };
    for (const auto& c : cases)
    {
        WString file = File(c.before);
        EXPECT_TRUE(WriteSection(c.wsSection, c.list.empty() ? nullptr : c.list.c_str(), file.c_str()))
            << c.szWhat;
        EXPECT_EQ(c.after, ReadBytes(file)) << c.szWhat;
    }
}

TEST_F(ProfileStoreTest, LongValuesAreWrittenWholeAndReadCutToTheBuffer)
{
    WString file = File("");
    for (size_t cch : {65535u, 65536u, 65537u, 1u << 20})
    {
        WString value = W("Hello") + WString(cch, WCHAR('x'));
        ASSERT_TRUE(WriteString(W("S"), W("k"), value.c_str(), file.c_str()));
        EXPECT_EQ("[S]\r\nk=Hello" + std::string(cch, 'x') + "\r\n", ReadBytes(file)); // F127
        std::vector<WCHAR> whole(value.size() + 2, kFill);
        EXPECT_EQ(value.size(), GetString(W("S"), W("k"), W("d"), whole.data(), whole.size(), file.c_str()))
            << cch;
        WCHAR wsCut[2048];
        ASSERT_EQ(2047u, GetString(W("S"), W("k"), W("d"), wsCut, 2048, file.c_str())) << cch;
        EXPECT_EQ(value.substr(0, 2047), WString(wsCut)) << cch;
    }
}

TEST_F(ProfileStoreTest, ReportsFileErrors)
{
    WString file = m_dir.Path(W("new.ini"));
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(WriteString(nullptr, W("k"), W("v"), file.c_str())); // F109
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(WriteString(W("S"), W("k"), W("v"), W(""))); // F108
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    WString noDir = m_dir.Path(W("no\\such.ini")); // F105
    EXPECT_FALSE(WriteString(W("S"), W("k"), W("v"), noDir.c_str()));
    EXPECT_FALSE(FileExists(noDir));
    WCHAR wsBuffer[8] = {'k', 'u', 'm', 'q', 'u', 'a', 't', 0};
    EXPECT_EQ(0u, GetString(W("S"), W("k"), W("d"), wsBuffer, 0, file.c_str())); // F061
    EXPECT_EQ(WString(W("kumquat")), WString(wsBuffer));
    EXPECT_EQ(1u, GetString(W("S"), W("k"), W("d"), wsBuffer, 8, file.c_str())); // F065
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    char szBuffer[8];
    EXPECT_EQ(2u, GetStringA("S", "k", "\xD6\xD0", szBuffer, 8, "")); // an A call into a missing file
    EXPECT_EQ(std::string("\xD6\xD0"), szBuffer);
}

// Files no profile writer would make still read without a crash or a read past
// a buffer, and a write into them keeps what it does not change.
TEST_F(ProfileStoreTest, SurvivesMalformedFiles)
{
    std::string garbage;
    for (unsigned i = 0; i < 70000; ++i)
        garbage += static_cast<char>((i * 2654435761u) >> 24);
    std::string hugeLine = "[S]\r\nk=" + std::string((10 << 20) + 7, 'v') + "\r\nj=1\r\n";
    std::string manySections;
    for (int i = 0; i < 100000; ++i)
        manySections += "[s" + std::to_string(i) + "]\r\nk=" + std::to_string(i) + "\r\n";
    const std::string inputs[] = {garbage,
                                  std::string(4096, '\0'),
                                  Bytes("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0v\0\r"),
                                  "\xFF\xFE[",
                                  "\xFF",
                                  "[S]\r\nk=\xD6",
                                  hugeLine,
                                  manySections};
    for (const std::string& bytes : inputs)
    {
        WString file = File(bytes);
        std::vector<WCHAR> buffer(1 << 16, kFill);
        GetString(nullptr, nullptr, W(""), buffer.data(), 1 << 16, file.c_str());
        GetString(W("S"), nullptr, W(""), buffer.data(), 5, file.c_str());
        GetSection(W("S"), buffer.data(), 7, file.c_str());
        GetInt(W("S"), W("k"), 0, file.c_str());
        char szBuffer[16];
        GetStringA("S", "k", "", szBuffer, 3, "");
        ASSERT_TRUE(WriteString(W("new"), W("k"), W("v"), file.c_str()));
        std::string after = ReadBytes(file);
        // The odd last byte of a UTF-16LE file stays the file's last byte.
        size_t cbKept = bytes.size() > 2 && bytes.compare(0, 2, "\xFF\xFE") == 0 && bytes.size() % 2 != 0
                            ? bytes.size() - 1
                            : bytes.size();
        EXPECT_EQ(0, after.compare(0, cbKept, bytes, 0, cbKept))
            << "a write changed bytes it had no business with";
        if (cbKept < bytes.size())
        {
            EXPECT_EQ(bytes.back(), after.back());
        }
        EXPECT_EQ(1u, GetString(W("new"), W("k"), W(""), buffer.data(), 4, file.c_str()));
    }
    WString file = File(hugeLine);
    std::vector<WCHAR> buffer(8, kFill);
    EXPECT_EQ(1u, GetString(W("S"), W("j"), W(""), buffer.data(), 8, file.c_str()));
    EXPECT_EQ(7u, GetString(W("S"), W("k"), W(""), buffer.data(), 8, file.c_str()));
    file = File(manySections);
    EXPECT_EQ(5u, GetString(W("s99999"), W("k"), W(""), buffer.data(), 8, file.c_str()));
    file = File(Bytes("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0"
                      "7\0\r"));
    EXPECT_EQ(7u, GetInt(W("S"), W("k"), 1, file.c_str())); // the odd last byte is not part of the text
}

// Held-back writes are read back at once and reach the disk once, at the end.
TEST_F(ProfileStoreTest, DeferredWritesReachTheDiskTogether)
{
    const std::string bytes = "[001]\r\nEN=a\r\n";
    WString file = File(bytes);
    std::vector<WCHAR> buffer(8, kFill);
    profile_store::BeginDeferredWrites();
    profile_store::BeginDeferredWrites();
    EXPECT_TRUE(WriteString(W("001"), W("CN"), W("b"), file.c_str()));
    EXPECT_TRUE(WriteSection(W("002"), W("EN=c\0"), file.c_str()));
    EXPECT_TRUE(profile_store::EndDeferredWrites());
    EXPECT_EQ(bytes, ReadBytes(file)); // the inner end writes nothing yet
    EXPECT_EQ(1u, GetString(W("002"), W("EN"), W(""), buffer.data(), 8, file.c_str()));
    EXPECT_TRUE(profile_store::EndDeferredWrites());
    EXPECT_EQ("[001]\r\nEN=a\r\nCN=b\r\n[002]\r\nEN=c\r\n", ReadBytes(file));
}

void SetReadOnly(const WString& file, bool readOnly)
{
#ifdef _WIN32
    SetFileAttributesW(file.c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
#else
    chmod(NativePath(file.c_str()).c_str(), readOnly ? 0444 : 0644);
#endif
}

// Every held-back file is written or reported failed: one written early, to
// make room in the cache, counts too; and one another program changed in the
// meantime is left with that program's change.
TEST_F(ProfileStoreTest, DeferredWritesThatFailAreReported)
{
    const std::string bytes = "[001]\r\nEN=a\r\n";
    WString changed = File(bytes), readOnly = File(bytes);
    profile_store::BeginDeferredWrites();
    EXPECT_TRUE(WriteString(W("001"), W("CN"), W("b"), changed.c_str()));
    WriteBytes(changed, "[001]\r\nEN=by another program\r\n");
    EXPECT_FALSE(profile_store::EndDeferredWrites());
    EXPECT_EQ("[001]\r\nEN=by another program\r\n", ReadBytes(changed));

    profile_store::BeginDeferredWrites();
    EXPECT_TRUE(WriteString(W("001"), W("CN"), W("b"), readOnly.c_str()));
    SetReadOnly(readOnly, true);
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE(WriteString(W("001"), W("CN"), W("c"), File(bytes).c_str()));
    EXPECT_FALSE(profile_store::EndDeferredWrites());
    SetReadOnly(readOnly, false);
    EXPECT_EQ(bytes, ReadBytes(readOnly));

    // The next block starts afresh.
    profile_store::BeginDeferredWrites();
    EXPECT_TRUE(WriteString(W("001"), W("CN"), W("d"), readOnly.c_str()));
    EXPECT_TRUE(profile_store::EndDeferredWrites());
    EXPECT_EQ("[001]\r\nEN=a\r\nCN=d\r\n", ReadBytes(readOnly));
}

// Inside a snapshot a file is checked once, at its first use; a change made by
// another program shows from the first use after the outermost end.
TEST_F(ProfileStoreTest, SnapshotReadsOneVersionOfTheFile)
{
    WString file = File("[001]\r\nEN=a\r\n");
    auto en = [&](LPCWSTR wsSection) {
        std::vector<WCHAR> buffer(8, kFill);
        GetString(wsSection, W("EN"), W("-"), buffer.data(), 8, file.c_str());
        return WString(buffer.data());
    };
    EXPECT_EQ(W("a"), en(W("001")));
    profile_store::BeginSnapshot();
    profile_store::BeginSnapshot();
    EXPECT_EQ(W("a"), en(W("001")));
    WriteBytes(file, "[001]\r\nEN=changed\r\n");
    EXPECT_EQ(W("a"), en(W("001")));
    // A write starts from the file as it stands, and shows at once.
    EXPECT_TRUE(WriteString(W("002"), W("EN"), W("b"), file.c_str()));
    EXPECT_EQ("[001]\r\nEN=changed\r\n[002]\r\nEN=b\r\n", ReadBytes(file));
    EXPECT_EQ(W("changed"), en(W("001")));
    WriteBytes(file, "[001]\r\nEN=again\r\n");
    EXPECT_EQ(W("changed"), en(W("001")));
    profile_store::EndSnapshot();
    EXPECT_EQ(W("changed"), en(W("001")));
    profile_store::EndSnapshot();
    WriteBytes(file, "[001]\r\nEN=other\r\n");
    EXPECT_EQ(W("other"), en(W("001")));
    profile_store::SnapshotScope next; // a new snapshot checks the file again
    WriteBytes(file, "[001]\r\nEN=last one\r\n");
    EXPECT_EQ(W("last on"), en(W("001")));
}

// The parsed copy is edited section by section; whatever the writes put in the
// file, every read from it must match a fresh parse of the bytes written.
TEST_F(ProfileStoreTest, EditedCopyReadsAsTheFileWritten)
{
    const std::string before = ";top\r\n[A]\r\nk=1\r\n;c\r\n[B]\r\nk=2\r\n[a]\r\nk=3\r\n[C]\r\nk=4";
    const Write writes[][3] = {
        {{W("A"), W("k"), W("x\r\n[B]\r\nk=5")}, {W("B"), W("j"), W("6")}, {W("a"), nullptr, nullptr}},
        {{W("A"), W("n"), W("y\n[D]\nk=7")}, {W("D"), W("k"), W("8")}, {W("C"), W("m\r[A]"), W("9")}},
        {{W("A"), nullptr, nullptr}, {W("B"), W("k"), W("\r")}, {W("a"), W("k"), W("z")}},
        {{W("E"), W("k"), W("v\r\n[A]\r\nk=0")}, {W("A"), W("k"), W("w")}, {W("B"), nullptr, nullptr}},
    };
    auto readAll = [](const WString& file) {
        WString seen;
        std::vector<WCHAR> buffer(512, kFill);
        DWORD dwRet = GetString(nullptr, nullptr, W(""), buffer.data(), 512, file.c_str());
        seen.append(buffer.data(), dwRet);
        for (LPCWSTR ws : {W("A"), W("B"), W("C"), W("D"), W("E")})
        {
            dwRet = GetSection(ws, buffer.data(), 512, file.c_str());
            seen += W("|") + WString(buffer.data(), dwRet);
            dwRet = GetString(ws, W("k"), W("-"), buffer.data(), 512, file.c_str());
            seen += W("|") + WString(buffer.data(), dwRet);
        }
        return seen;
    };
    for (bool snapshot : {false, true})
        for (const auto& sequence : writes)
        {
            WString file = File(before);
            if (snapshot)
                profile_store::BeginSnapshot(); // reads then take the copy unchecked
            for (const Write& w : sequence)
            {
                EXPECT_TRUE(WriteString(w.wsSection, w.wsKey, w.wsValue, file.c_str()));
                WString cached = readAll(file);
                profile_store::DropCache();
                EXPECT_EQ(readAll(file), cached) << snapshot << " file written: " << ReadBytes(file);
            }
            if (snapshot)
                profile_store::EndSnapshot();
        }
}

// The odd last byte of a UTF-16LE file reads as nothing; a write after it must
// not shift every later unit to an odd offset, for this process or the next.
TEST_F(ProfileStoreTest, WriteIntoAnOddLengthUnicodeFileKeepsTheRestReadable)
{
    const std::string bytes = Utf16File(W("[001]\r\nEN=a")) + "x";
    WString file = File(bytes);
    ASSERT_TRUE(WriteString(W("Config"), W("FILE"), W("C:\\t.exe"), file.c_str()));
    profile_store::DropCache();
    std::vector<WCHAR> buffer(64, kFill);
    EXPECT_EQ(8u, GetString(W("Config"), W("FILE"), W(""), buffer.data(), 64, file.c_str()));
    EXPECT_EQ(1u, GetString(W("001"), W("EN"), W(""), buffer.data(), 64, file.c_str()));
    EXPECT_EQ(WCHAR('a'), buffer[0]);
    EXPECT_EQ(0, ReadBytes(file).compare(0, bytes.size() - 1, bytes, 0, bytes.size() - 1));
}

#ifndef _WIN32
TEST_F(ProfileStoreTest, WritesAreAtomic)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    WString file = File("[S]\r\nk=old\r\n");
    std::string native = NativePath(file.c_str()), dir = NativePath(m_dir.Dir().c_str());
    ASSERT_EQ(0, chmod(native.c_str(), 0640));
    ASSERT_TRUE(WriteString(W("S"), W("k"), W("new"), file.c_str()));
    struct stat st;
    ASSERT_EQ(0, stat(native.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 0777u); // permissions kept across the replacement

    // No temporary file can be made: the file is written in place, as the
    // profile functions write it.
    ASSERT_EQ(0, chmod(dir.c_str(), 0500));
    EXPECT_TRUE(WriteString(W("S"), W("k"), W("newer"), file.c_str()));
    EXPECT_TRUE(WriteSection(W("S"), W("k=new\0"), file.c_str()));
    ASSERT_EQ(0, chmod(dir.c_str(), 0700));
    EXPECT_EQ("[S]\r\nk=new\r\n", ReadBytes(file));
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        entries += entry.is_regular_file();
    EXPECT_EQ(1u, entries) << "a temporary file was left behind";

    // A file that exists but cannot be read is never replaced by a new one.
    ASSERT_EQ(0, chmod(native.c_str(), 0200));
    EXPECT_FALSE(WriteString(W("T"), W("k"), W("v"), file.c_str()));
    ASSERT_EQ(0, chmod(native.c_str(), 0600));
    EXPECT_EQ("[S]\r\nk=new\r\n", ReadBytes(file));
}
// Where no second copy can be made (a file system with no room and no free
// inode), the file is written in place: a write that fits its room completes,
// one that needs more fails and leaves every byte as it was. A file with two
// names keeps both.
TEST_F(ProfileStoreTest, WritesInPlaceWhereNoCopyFitsAndKeepsLinks)
{
    WString file = File("[S]\r\nk=v\r\n"), other = m_dir.Path(W("other.ini"));
    ASSERT_EQ(0, link(NativePath(file.c_str()).c_str(), NativePath(other.c_str()).c_str()));
    ASSERT_TRUE(WriteString(W("S"), W("k"), W("linked"), other.c_str()));
    EXPECT_EQ("[S]\r\nk=linked\r\n", ReadBytes(file));

    std::string mount = NativePath(m_dir.Dir().c_str()) + "/full";
    ASSERT_EQ(0, mkdir(mount.c_str(), 0700));
    if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=16k,nr_inodes=3") != 0)
        GTEST_SKIP() << "no small file system can be mounted here";
    WString full = m_dir.Path(W("full/rules.ini"));
    const std::string bytes = "[S]\r\nk=" + std::string(4040, 'x') + "\r\n"; // 4,051 bytes
    WriteBytes(full, bytes);
    std::string filler = mount + "/filler";
    int fd = open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
    std::string block(4096, 'f');
    while (fd >= 0 && write(fd, block.data(), block.size()) > 0)
    {
    }
    close(fd);
    EXPECT_FALSE(WriteString(W("S"), W("more"), WString(100, WCHAR('y')).c_str(), full.c_str()));
    EXPECT_EQ(bytes, ReadBytes(full));
    EXPECT_TRUE(WriteString(W("S"), W("k"), W("short"), full.c_str()));
    EXPECT_EQ("[S]\r\nk=short\r\n", ReadBytes(full));
    umount(mount.c_str());
}

// Another program's write right after the store's own, before the store is
// done, is not taken for the store's: the next read sees it and the next
// write keeps it.
TEST_F(ProfileStoreTest, ChangeRightAfterAWriteIsSeen)
{
    static WString s_file;
    s_file = File("[S]\r\nk=v\r\n");
    g_fnOnFolderFlush = [] {
        std::string bytes = ReadBytes(s_file);
        bytes.replace(bytes.find("k=new"), 5, "k=NEWER");
        WriteBytes(s_file, bytes);
    };
    ASSERT_TRUE(WriteString(W("S"), W("k"), W("new"), s_file.c_str()));
    EXPECT_EQ(nullptr, g_fnOnFolderFlush);
    WCHAR wsValue[8];
    GetString(W("S"), W("k"), W(""), wsValue, 8, s_file.c_str());
    EXPECT_EQ(WString(W("NEWER")), wsValue);
    ASSERT_TRUE(WriteString(W("S"), W("j"), W("w"), s_file.c_str()));
    EXPECT_EQ("[S]\r\nk=NEWER\r\nj=w\r\n", ReadBytes(s_file));
}

// A file the user may not write is refused whole, even by the superuser, and
// a link is written through to its target.
TEST_F(ProfileStoreTest, ReadOnlyFilesAreRefusedAndLinksWrittenThrough)
{
    const std::string bytes = "[001]\r\nEN=a\r\n";
    WString file = File(bytes);
    std::string native = NativePath(file.c_str());
    ASSERT_EQ(0, chmod(native.c_str(), 0444));
    EXPECT_FALSE(WriteString(W("001"), W("CN"), W("b"), file.c_str()));
    EXPECT_FALSE(WriteSection(W("001"), nullptr, file.c_str()));
    EXPECT_EQ(bytes, ReadBytes(file));

    WString target = File(bytes);
    WString link = m_dir.Path(W("link.ini"));
    std::string nativeLink = NativePath(link.c_str());
    ASSERT_EQ(0, symlink(NativePath(target.c_str()).c_str(), nativeLink.c_str()));
    ASSERT_TRUE(WriteString(W("001"), W("CN"), W("b"), link.c_str()));
    struct stat st;
    ASSERT_EQ(0, lstat(nativeLink.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ("[001]\r\nEN=a\r\nCN=b\r\n", ReadBytes(target));
}
#endif
} // namespace
