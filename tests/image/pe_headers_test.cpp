#include "pe/pe_headers.h"

#include "test_image.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
std::vector<BYTE> TwoSectionImage(bool f64, TestImageLayout& layout)
{
    TestImage image(f64);
    image.AddSection(".text", kTestCodeSection, std::string(0x300, 'c'));
    image.AddSection(".data", kTestDataSection, std::string(0x80, 'd'), 0x2000);
    return image.Build(layout);
}
} // namespace

// What the reader makes of each header fault: no PE image with its reason,
// or an image that can be mapped but not rebuilt.
TEST(PeHeaders, NamesWhatEachHeaderFaultMakesOfTheFile)
{
    using Break = std::function<void(std::vector<BYTE>&, const TestImageLayout&)>;
    struct Case
    {
        const char* szName;
        bool f64;
        Break fnBreak;
        int iRead;
        const char* szReason; // of a refusal, or of the headers' being incomplete
    };
    const Case kCases[] = {
        {"well formed", false, [](std::vector<BYTE>&, const TestImageLayout&) {}, 1, ""},
        {"well formed 64-bit", true, [](std::vector<BYTE>&, const TestImageLayout&) {}, 1, ""},
        {"no MZ", false, [](std::vector<BYTE>& b, const TestImageLayout&) { b[0] = 'X'; }, 0, "no MZ header"},
        {"e_lfanew outside", false,
         [](std::vector<BYTE>& b, const TestImageLayout&) { PutLe(b, 0x3C, 0x7FFFFFF0); }, 0,
         "no PE signature"},
        {"cut in the file header", false,
         [](std::vector<BYTE>& b, const TestImageLayout& l) { b.resize(l.dwFileHeader + 10); }, 0,
         "cut short in its file header"},
        {"cut in the optional header", false,
         [](std::vector<BYTE>& b, const TestImageLayout& l) { b.resize(l.dwOptional + 100); }, 0,
         "cut short in its optional header (224 bytes"},
        {"unknown magic", false,
         [](std::vector<BYTE>& b, const TestImageLayout& l) { PutLe(b, l.dwOptional, 0x107, 2); }, 0,
         "neither PE32 nor PE32+"},
        {"PE32+ for i386", false,
         [](std::vector<BYTE>& b, const TestImageLayout& l) { PutLe(b, l.dwOptional, 0x20B, 2); }, 0,
         "PE32+ while its machine is i386"},
        {"PE32 for AMD64", true,
         [](std::vector<BYTE>& b, const TestImageLayout& l) { PutLe(b, l.dwOptional, 0x10B, 2); }, 0,
         "PE32 while its machine is AMD64"},
        {"PE32+ for an unknown machine", true,
         [](std::vector<BYTE>& b, const TestImageLayout& l) { PutLe(b, l.dwFileHeader, 0x5032, 2); }, 1, ""},
        {"optional header too short for directories", false,
         [](std::vector<BYTE>& b, const TestImageLayout& l) { PutLe(b, l.dwFileHeader + 16, 0x58, 2); }, 1,
         "the optional header is too short"},
        {"section table past the file", false,
         [](std::vector<BYTE>& b, const TestImageLayout& l) { PutLe(b, l.dwFileHeader + 2, 0xFFFF, 2); }, 1,
         "the section table lies outside the file"},
    };
    for (const Case& c : kCases)
    {
        SCOPED_TRACE(c.szName);
        TestImageLayout layout;
        std::vector<BYTE> bytes = TwoSectionImage(c.f64, layout);
        c.fnBreak(bytes, layout);
        PeHeaders headers;
        std::string sReason;
        EXPECT_EQ(headers.Read(bytes.data(), static_cast<DWORD>(bytes.size()), sReason), c.iRead);
        const std::string& sSaid = c.iRead ? headers.sIncomplete : sReason;
        EXPECT_NE(sSaid.find(c.szReason), std::string::npos) << sSaid;
        EXPECT_EQ(sSaid.empty(), *c.szReason == 0) << sSaid;
        if (c.iRead)
        {
            EXPECT_EQ(headers.f64, c.f64);
        }
    }
}

// RVAs inside the headers, a section's raw data (read from the sector its
// pointer lies in), its virtual tail that no file byte holds, and past it.
TEST(PeHeaders, MapsRvasToTheFileBytesTheLoaderReads)
{
    TestImageLayout layout;
    std::vector<BYTE> bytes = TwoSectionImage(false, layout);
    const TestSectionLayout& data = layout.sections[1];
    // A raw pointer off its sector: the loader still reads from the sector's start.
    PutLe(bytes, data.dwHeader + 20, data.dwRaw + 0x10);
    PeHeaders headers;
    std::string sReason;
    ASSERT_EQ(headers.Read(bytes.data(), static_cast<DWORD>(bytes.size()), sReason), 1) << sReason;
    struct Case
    {
        DWORD dwRva;
        bool fInFile;
        DWORD dwOffset;
    };
    const Case kCases[] = {
        {0x10, true, 0x10},
        {layout.cbHeaders, false, 0},
        {layout.sections[0].dwRva + 0x123, true, layout.sections[0].dwRaw + 0x123},
        {data.dwRva, true, data.dwRaw},
        {data.dwRva + 0x1FF, true, data.dwRaw + 0x1FF},
        {data.dwRva + 0x210, false, 0},
        {data.dwRva + 0x1FFF, false, 0},
        {data.dwRva + 0x2000, false, 0},
    };
    for (const Case& c : kCases)
    {
        DWORD dwOffset = 0, cb = 0;
        EXPECT_EQ(headers.RvaToOffset(c.dwRva, dwOffset, cb), c.fInFile) << std::hex << c.dwRva;
        if (c.fInFile)
        {
            EXPECT_EQ(dwOffset, c.dwOffset) << std::hex << c.dwRva;
            EXPECT_LE(dwOffset + cb, bytes.size());
        }
    }
    EXPECT_EQ(headers.SectionOfRva(data.dwRva + 0x1FFF), 1);
    EXPECT_EQ(headers.SectionOfRva(data.dwRva + 0x2000), -1);
}
