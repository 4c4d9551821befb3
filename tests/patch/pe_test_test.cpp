#include "patch/pe_test.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "port/native_path.h"
#endif

#include <string>
#include <vector>

namespace
{
#ifdef _WIN32
#define FIXTURE_PATH(name) WString(W("Z:" PIVRA_FIXTURE_DIR "/" name))
#else
#define FIXTURE_PATH(name) Utf8ToUtf16(PIVRA_FIXTURE_DIR "/" name)
#endif

// Exactly sized, so a read past the end is a heap overrun.
int IsPe64Of(const std::string& bytes)
{
    BYTE* pView = new BYTE[bytes.size() + 1];
    std::copy(bytes.begin(), bytes.end(), pView);
    int result = IsPe64(pView, static_cast<DWORD>(bytes.size()));
    delete[] pView;
    return result;
}

std::string Header(DWORD dwLfanew, WORD wMachine, size_t cbFile)
{
    std::string bytes(cbFile, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int i = 0; i < 4; ++i)
        bytes[0x3C + i] = static_cast<char>(dwLfanew >> (8 * i));
    if (uint64_t(dwLfanew) + 6 <= cbFile)
    {
        bytes.replace(dwLfanew, 4, std::string("PE\0\0", 4));
        bytes[dwLfanew + 4] = static_cast<char>(wMachine & 0xFF);
        bytes[dwLfanew + 5] = static_cast<char>(wMachine >> 8);
    }
    return bytes;
}
} // namespace

TEST(IsPe64Test, RealImagesFromBothToolchains)
{
    std::string pe32 = ReadBytes(FIXTURE_PATH("hello32.exe"));
    std::string pe64 = ReadBytes(FIXTURE_PATH("hello64.exe"));
    ASSERT_GT(pe32.size(), 512u);
    ASSERT_GT(pe64.size(), 512u);
    EXPECT_EQ(0, IsPe64Of(pe32));
    EXPECT_EQ(1, IsPe64Of(pe64));
}

TEST(IsPe64Test, OnlyTheMachineFieldInsideTheFileDecides)
{
    struct Case
    {
        const char* name;
        std::string bytes;
        int result;
    } cases[] = {
        {"AMD64", Header(0x80, 0x8664, 0x100), 1},
        {"AMD64, Machine on the last two bytes", Header(0x80, 0x8664, 0x86), 1},
        {"ARM64", Header(0x80, 0xAA64, 0x100), 0},
        {"IA-64", Header(0x80, 0x0200, 0x100), 0},
        {"i386", Header(0x80, 0x014C, 0x100), 0},
        {"Machine cut off by the end", Header(0x80, 0x8664, 0x86).substr(0, 0x85), 0},
        {"e_lfanew outside the file", Header(0x1000, 0x8664, 0x100), 0},
        {"e_lfanew near 4 GiB", Header(0xFFFFFFFEu, 0x8664, 0x100), 0},
        {"no MZ", std::string(0x100, 'x'), 0},
        {"only MZ", std::string("MZ"), 0},
        {"header cut before e_lfanew", Header(0x80, 0x8664, 0x100).substr(0, 0x3E), 0},
        {"empty", std::string(), 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.result, IsPe64Of(c.bytes));
    }
    std::string notMz = Header(0x80, 0x8664, 0x100);
    notMz[1] = 'Y';
    EXPECT_EQ(0, IsPe64Of(notMz));
    std::string notPe = Header(0x80, 0x8664, 0x100);
    notPe[0x82] = 'X';
    EXPECT_EQ(0, IsPe64Of(notPe));
}
