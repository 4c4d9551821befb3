// The reference search on images built here, where every field is known: the
// 32-bit sweep's immediates, displacements and moffs inside and outside the
// image, and the 64-bit walk's starts (.pdata, entry point, exports, call
// targets), where an open start ends, and the .pdata and export entries a
// hostile image points anywhere.
#include "code/code_references.h"
#include "test_image.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace
{
const DWORD kImageBase32 = 0x400000;
const DWORD kOptImageBase32 = 28;

std::vector<BYTE> Code(std::initializer_list<int> bytes)
{
    std::vector<BYTE> v;
    for (int b : bytes)
        v.push_back(static_cast<BYTE>(b));
    return v;
}

void Append(std::vector<BYTE>& to, const std::vector<BYTE>& bytes)
{
    to.insert(to.end(), bytes.begin(), bytes.end());
}

void AppendLe(std::vector<BYTE>& to, DWORD dw)
{
    for (int i = 0; i < 4; ++i)
        to.push_back(static_cast<BYTE>(dw >> (8 * i)));
}

// (instruction, field offset, target, immediate), the way a case lists them.
typedef std::tuple<DWORD, int, DWORD, bool> Field;

std::vector<Field> FieldsOf(const CodeScan& scan)
{
    std::vector<Field> fields;
    for (const CodeField& f : scan.fields)
        fields.emplace_back(f.dwInsnRva, f.fieldAt, f.dwTargetRva, f.immediate);
    return fields;
}

TEST(CodeReferences, Sweep32FindsAddressFieldsInsideTheImage)
{
    std::vector<BYTE> text;
    Append(text, Code({0x68})); // 1000 push 402010
    AppendLe(text, kImageBase32 + 0x2010);
    Append(text, Code({0xA1})); // 1005 mov eax, [402020]
    AppendLe(text, kImageBase32 + 0x2020);
    Append(text, Code({0xC7, 0x05})); // 100a mov [402030], 402040
    AppendLe(text, kImageBase32 + 0x2030);
    AppendLe(text, kImageBase32 + 0x2040);
    Append(text, Code({0xB8, 0x78, 0x56, 0x34, 0x12})); // 1014 mov eax, 12345678: outside
    Append(text, Code({0xE8})); // 1019 call: a branch displacement, however address-like
    AppendLe(text, kImageBase32 + 0x2070);
    Append(text, Code({0x0F, 0x04, 0x04, 0x90})); // 101e no instruction; 101f add al, 90
    Append(text, Code({0x8B, 0x80}));             // 1022 mov eax, [eax+402050]
    AppendLe(text, kImageBase32 + 0x2050);
    Append(text, Code({0x81, 0x3D})); // 1028 cmp [402060], 402010
    AppendLe(text, kImageBase32 + 0x2060);
    AppendLe(text, kImageBase32 + 0x2010);
    Append(text, Code({0x68})); // 1032 push: the last byte of the image
    AppendLe(text, kImageBase32 + 0x2FFF);
    Append(text, Code({0x68})); // 1037 push: one past it
    AppendLe(text, kImageBase32 + 0x3000);
    Append(text, Code({0x68})); // 103c push 0: below the base
    AppendLe(text, 0);
    Append(text, Code({0xC3}));

    TestImage image(false);
    image.AddSection(".text", kTestCodeSection, text, 0, 0x1000);
    std::vector<BYTE> data(0x100, 0);
    data[0] = 0x68; // code-like bytes in a data section are not swept
    PutLe(data, 1, kImageBase32 + 0x2010);
    image.AddSection(".data", kTestWriteSection, data, 0, 0x2000);
    TestImageLayout layout;
    std::vector<BYTE> bytes = image.Build(layout);
    PutLe(bytes, layout.dwOptional + kOptImageBase32, kImageBase32);

    PeHeaders headers;
    std::string sReason;
    ASSERT_TRUE(headers.Read(bytes.data(), static_cast<DWORD>(bytes.size()), sReason)) << sReason;
    ASSERT_EQ(headers.dwSizeOfImage, 0x3000u);
    CodeScan scan;
    ScanCodeReferences(headers, scan);
    std::vector<Field> expected = {
        {0x1000, 1, 0x2010, true},  {0x1028, 6, 0x2010, true}, {0x1005, 1, 0x2020, false},
        {0x100A, 2, 0x2030, false}, {0x100A, 6, 0x2040, true}, {0x1022, 2, 0x2050, false},
        {0x1028, 2, 0x2060, false}, {0x1032, 1, 0x2FFF, true},
    };
    EXPECT_EQ(FieldsOf(scan), expected);
    EXPECT_EQ(scan.uUndecodable, 1u);
    EXPECT_EQ(scan.uInstructions, 13u);
    EXPECT_FALSE(scan.fromFunctionTable);
    for (const CodeField& f : scan.fields)
        EXPECT_EQ(f.cbInsn, f.dwInsnRva == 0x100A || f.dwInsnRva == 0x1028 ? 10
                            : f.dwInsnRva == 0x1022                        ? 6
                                                                           : 5);
}

// lea/mov with a RIP-relative disp32 so that the target is dwTarget.
void AppendRip(std::vector<BYTE>& text, DWORD dwText, std::initializer_list<int> head, DWORD dwTarget)
{
    DWORD dwEnd = dwText + static_cast<DWORD>(text.size() + head.size()) + 4;
    Append(text, Code(head));
    AppendLe(text, dwTarget - dwEnd);
}

void PadTo(std::vector<BYTE>& text, size_t cb)
{
    text.resize(cb, 0xCC);
}

TEST(CodeReferences, Walk64DecodesListedAndReachedFunctionsOnly)
{
    const DWORD dwText = 0x1000;
    std::vector<BYTE> text;
    // A at 1000, listed in .pdata up to 1010: its padding is decoded as well.
    AppendRip(text, dwText, {0x48, 0x8D, 0x0D}, 0x2000); // lea rcx, [rip]
    Append(text, Code({0xE8, 0x34, 0x00, 0x00, 0x00}));  // call 1040
    Append(text, Code({0xC3}));
    PadTo(text, 0x40);
    // B at 1040, only called: it ends at its return.
    AppendRip(text, dwText, {0x48, 0x8B, 0x05}, 0x2008); // mov rax, [rip]
    Append(text, Code({0xC3}));
    AppendRip(text, dwText, {0x48, 0x8D, 0x05}, 0x2100); // behind the return: not code
    PadTo(text, 0x60);
    // C at 1060, exported: a branch past its first return keeps it going.
    Append(text, Code({0x74, 0x01, 0xC3}));
    AppendRip(text, dwText, {0x48, 0x8D, 0x15}, 0x2008); // lea rdx, [rip]
    Append(text, Code({0xC3}));
    PadTo(text, 0x80);
    // D at 1080: nothing reaches it.
    AppendRip(text, dwText, {0x48, 0x8D, 0x05}, 0x2110);
    Append(text, Code({0xC3}));
    PadTo(text, 0xA0);
    // E at 10a0, the entry point.
    AppendRip(text, dwText, {0x8B, 0x05}, 0x2000); // mov eax, [rip]
    Append(text, Code({0xC3}));
    PadTo(text, 0xB0);

    std::vector<BYTE> pdata;
    const DWORD aEntries[][2] = {
        {0x1000, 0x1010}, {0x5000, 0x5010}, // outside the image
        {0x1020, 0x1010},                   // ends before it begins
        {0x2000, 0x2010},                   // in a data section
        {0x10A0, 0x2000},                   // ends behind the code
        {0x1000, 0x1010},                   // twice
    };
    for (const auto& e : aEntries)
    {
        AppendLe(pdata, e[0]);
        AppendLe(pdata, e[1]);
        AppendLe(pdata, 0x3100);
    }
    std::vector<BYTE> edata(40, 0);
    PutLe(edata, 20, 0xFFFFFFFF); // NumberOfFunctions: far more than the table holds
    PutLe(edata, 28, 0x4000 + 40);
    AppendLe(edata, 0x1060);
    AppendLe(edata, 0x1068); // inside C's lea: decoded with it
    AppendLe(edata, 0x90000000);

    TestImage image(true);
    image.AddSection(".text", kTestCodeSection, text, 0, dwText);
    image.AddSection(".data", kTestWriteSection, std::vector<BYTE>(0x200, 0), 0, 0x2000);
    UINT iPdata = image.AddSection(".pdata", kTestDataSection, pdata, 0, 0x3000);
    UINT iEdata = image.AddSection(".edata", kTestDataSection, edata, 0, 0x4000);
    image.SetDirectoryInSection(3, iPdata, 0, 0xFFFFFFF0); // cut to the section
    image.SetDirectoryInSection(0, iEdata, 0, 40);
    image.SetEntryPoint(0x10A0);
    std::vector<BYTE> bytes = image.Build();

    PeHeaders headers;
    std::string sReason;
    ASSERT_TRUE(headers.Read(bytes.data(), static_cast<DWORD>(bytes.size()), sReason)) << sReason;
    CodeScan scan;
    ScanCodeReferences(headers, scan);
    std::vector<Field> expected = {
        {0x1000, 3, 0x2000, false},
        {0x10A0, 2, 0x2000, false},
        {0x1040, 3, 0x2008, false},
        {0x1063, 3, 0x2008, false},
    };
    EXPECT_EQ(FieldsOf(scan), expected);
    EXPECT_TRUE(scan.fromFunctionTable);
    EXPECT_EQ(scan.uFunctions, 4u);
    // A: lea, call, ret, three int3; B: mov, ret; C: je, ret, lea, where the
    // export at 1068 ends it; E: mov, ret.
    EXPECT_EQ(scan.uInstructions, 13u);
    EXPECT_EQ(scan.uUndecodable, 0u);
}

// Bytes cut anywhere: the walk and sweep end without reading past the file.
TEST(CodeReferences, TruncatedImagesStayInsideTheFile)
{
    for (bool f64 : {false, true})
    {
        // lea rax, [rip] to the start of the code; dec eax and lea eax in 32-bit code.
        std::vector<BYTE> text;
        while (text.size() + 7 <= 0x400)
            AppendRip(text, 0x1000, {0x48, 0x8D, 0x05}, 0x1000);
        PadTo(text, 0x400);
        std::vector<BYTE> pdata;
        AppendLe(pdata, 0x1000);
        AppendLe(pdata, 0x1400);
        AppendLe(pdata, 0);
        // .pdata first in the file, so that cutting the code leaves it whole.
        TestImage image(f64);
        UINT iPdata = image.AddSection(".pdata", kTestDataSection, pdata, 0, 0x3000);
        UINT iText = image.AddSection(".text", kTestCodeSection, text, 0x2000, 0x1000);
        image.SetDirectoryInSection(3, iPdata, 0, 12);
        image.SetEntryPoint(0x1000);
        TestImageLayout layout;
        std::vector<BYTE> bytes = image.Build(layout);
        const DWORD dwTextRaw = layout.sections[iText].dwRaw;
        ASSERT_GT(dwTextRaw, layout.sections[iPdata].dwRaw);
        for (DWORD cb = dwTextRaw; cb <= dwTextRaw + 0x400; cb += 61)
        {
            SCOPED_TRACE(std::to_string(cb) + (f64 ? " bytes, 64-bit" : " bytes, 32-bit"));
            // The headers stay whole, the code is cut: a copy of exactly that many bytes.
            std::vector<BYTE> cut(bytes.begin(), bytes.begin() + cb);
            cut.shrink_to_fit();
            PeHeaders headers;
            std::string sReason;
            ASSERT_TRUE(headers.Read(cut.data(), cb, sReason)) << sReason;
            CodeScan scan;
            ScanCodeReferences(headers, scan);
            DWORD cbCode = cb - dwTextRaw;
            for (const CodeField& f : scan.fields)
                EXPECT_LE(f.dwInsnRva + f.cbInsn, 0x1000 + cbCode);
            if (f64)
            {
                EXPECT_EQ(scan.fields.size(), cbCode / 7);
                EXPECT_EQ(scan.fromFunctionTable, true);
            }
        }
    }
}
} // namespace
