#include "relocate/text_relocation.h"
#include "support/test_image.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
const DWORD kBase = 0x400000;
const DWORD kText = 0x1000, kRdata = 0x2000, kData = 0x3000, kReloc = 0x4000;

std::vector<BYTE> Bytes(const std::string& s)
{
    return std::vector<BYTE>(s.begin(), s.end());
}

void Put(std::string& s, size_t at, const std::string& what)
{
    if (s.size() < at + what.size())
        s.resize(at + what.size(), '\0');
    s.replace(at, what.size(), what);
}

std::string Le32(DWORD dw)
{
    return std::string{static_cast<char>(dw), static_cast<char>(dw >> 8), static_cast<char>(dw >> 16),
                       static_cast<char>(dw >> 24)};
}

// .rdata: the texts; .data: a writable buffer; .text: a push of each address
// named (every one a HIGHLOW relocation unless the image is stripped); part
// of .rdata stands in for the resources.
struct Image
{
    std::vector<BYTE> bytes;
    TestImageLayout layout;
    PeHeaders headers;

    explicit Image(bool fRelocations)
    {
        std::string rdata;
        Put(rdata, 0x00, std::string("Hello") + '\0');
        Put(rdata, 0x10, std::string("Middle text") + '\0');
        Put(rdata, 0x30, "\xFF\xFF\xFF\xFF" + Le32(5) + "Exact" + '\0');
        Put(rdata, 0x50, "\xFF\xFF\xFF\xFF" + Le32(12) + "Begin of it!" + '\0');
        Put(rdata, 0x70, std::string("Nobody") + '\0');
        Put(rdata, 0x80, std::string("InResource") + '\0');
        Put(rdata, 0x90, std::string("Hello") + '\0'); // a copy in the resources
        Put(rdata, 0xB0, std::string("Counted text!") + '\0');
        Put(rdata, 0xC0, std::string("Ends here") + '\0');
        Put(rdata, 0xA1, Le32(kBase + kRdata + 0x70)); // an unaligned copy of an address
        std::string data = std::string("Buffer") + std::string(20, '\0');
        const DWORD targets[] = {kRdata + 0x00, kRdata + 0x10, kRdata + 0x14, kRdata + 0x38,
                                 kRdata + 0x58, kRdata + 0x80, kData,         kRdata + 0xB0,
                                 kRdata + 0xC0, kRdata + 0xC9, kRdata + 0x70};
        std::string text, relocs;
        for (DWORD dwTarget : targets)
        {
            relocs += std::string{static_cast<char>(text.size() + 1),
                                  static_cast<char>(0x30 | ((text.size() + 1) >> 8))};
            text += "\x68" + Le32(kBase + dwTarget);
        }
        text +=
            std::string("\xB9\x0E\x00\x00\x00", 5); // mov ecx, 14: the length of "Counted text!" and its zero
        text += "\xC3";
        // The last push stands for code that holds an address by chance; its
        // relocation is left out so the stripped and relocated images differ
        // only in the table.
        relocs.resize(relocs.size() - 2);
        relocs = Le32(kText) + Le32(static_cast<DWORD>(8 + relocs.size())) + relocs;
        TestImage image;
        image.AddSection(".text", kTestCodeSection, text, 0, kText);
        const UINT iRdata = image.AddSection(".rdata", kTestDataSection, rdata, 0, kRdata);
        image.AddSection(".data", kTestWriteSection, data, 0, kData);
        if (fRelocations)
        {
            const UINT iReloc = image.AddSection(".reloc", kTestDiscardableSection, relocs, 0, kReloc);
            image.SetDirectoryInSection(kTestRelocationDirectory, iReloc, 0,
                                        static_cast<DWORD>(relocs.size()));
        }
        image.SetDirectoryInSection(kTestResourceDirectory, iRdata, 0x80, 0x20);
        bytes = image.Build(layout);
        PutLe(bytes, layout.dwOptional + 28, kBase);
        std::string sReason;
        EXPECT_TRUE(headers.Read(bytes.data(), static_cast<DWORD>(bytes.size()), sReason)) << sReason;
    }

    DWORD Offset(DWORD dwRva) const
    {
        DWORD dwOffset = 0, cb = 0;
        EXPECT_TRUE(headers.RvaToOffset(dwRva, dwOffset, cb));
        return dwOffset;
    }
    RelocationRequest Request(UINT uRule, const std::string& en, const std::string& cn, DWORD dwRva) const
    {
        return {uRule, false, Bytes(en), Bytes(cn), {Offset(dwRva)}, false};
    }
};

struct Case
{
    const char* szEn;
    DWORD dwRva;
    const char* szReason; // empty: relocated
};

// Each refusal the plan makes, and the texts it moves, in one image with
// base relocations.
TEST(TextRelocation, RefusesWhatCannotBeMovedSafely)
{
    const Case cases[] = {
        {"Hello", kRdata + 0x00, ""},
        {"Middle text", kRdata + 0x10, "into the middle of EN at .rdata+0x10: +4 from .text+0xB"},
        {"Exact", kRdata + 0x38, ""},
        {"Begin", kRdata + 0x58, "begins a length-prefixed string of 12 bytes"},
        {"Nobody", kRdata + 0x70, "no reference to EN at .rdata+0x70 was found"},
        {"InResource", kRdata + 0x80, "lies in the resources"},
        {"Buffer", kData, ""},
        {"Hello", kRdata + 0x00, "no reference to EN at .rdata+0x0 was found"}, // the first rule took it
        {"Hell", kRdata + 0x00, "is only the beginning of a longer text"},
        {"Counted text!", kRdata + 0xB0, ""},
        {"Ends here", kRdata + 0xC0, "into the middle of EN at .rdata+0xC0: +9"}, // a pointer to its end
    };
    Image image(true);
    CReferenceIndex index;
    index.Build(image.headers);
    EXPECT_FALSE(index.Scanned());
    std::vector<RelocationRequest> requests;
    for (const Case& c : cases)
        requests.push_back(image.Request(static_cast<UINT>(requests.size() + 1), c.szEn,
                                         std::string(c.szEn) + " longer", c.dwRva));
    RelocationPlan plan;
    PlanRelocations(image.headers, index, requests, plan);
    ASSERT_EQ(plan.rules.size(), requests.size());
    for (size_t i = 0; i < requests.size(); ++i)
    {
        const RuleRelocation& rule = plan.rules[i];
        if (*cases[i].szReason == 0)
            EXPECT_TRUE(rule.relocated) << cases[i].szEn << ": " << rule.sReason;
        else
            EXPECT_NE(rule.sReason.find(cases[i].szReason), std::string::npos)
                << cases[i].szEn << ": " << rule.sReason;
    }
    EXPECT_TRUE(plan.rules[2].header.present);
    // Code beside the push holds the text's length: said, not refused.
    EXPECT_TRUE(plan.rules[0].warnings.empty());
    ASSERT_EQ(plan.rules[9].warnings.size(), 1u);
    EXPECT_NE(plan.rules[9].warnings[0].find("(b9 0e 00 00 00)"), std::string::npos)
        << plan.rules[9].warnings[0];
    EXPECT_EQ(plan.section.dwRva, 0x5000u);

    std::vector<BYTE> out = image.bytes;
    WriteRelocations(image.headers, plan, out);
    PeHeaders after;
    std::string sReason;
    ASSERT_TRUE(after.Read(out.data(), static_cast<DWORD>(out.size()), sReason)) << sReason;
    ASSERT_EQ(after.sections.size(), image.headers.sections.size() + 1);
    EXPECT_EQ(after.sectionNames.back(), kRelocationSection);
    EXPECT_EQ(after.dwSizeOfImage, 0x6000u);
    const DWORD dwNew = after.sections.back().dwRawOffset;
    // Each relocated rule: its push now names the new text, which holds CN and a zero.
    const UINT rgPush[][2] = {{0, 0}, {2, 3}, {6, 6}};
    for (const auto& push : rgPush)
    {
        const RuleRelocation& rule = plan.rules[push[0]];
        EXPECT_EQ(GetLe(out, image.Offset(kText) + 5 * push[1] + 1), kBase + rule.dwNewRva);
        const std::string cn = std::string(cases[push[0]].szEn) + " longer";
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[dwNew + rule.dwNewAt])), cn);
    }
    // The literal's new header: reference count -1, the new length.
    const DWORD dwLiteral = dwNew + plan.rules[2].dwNewAt;
    EXPECT_EQ(GetLe(out, dwLiteral - 8), 0xFFFFFFFFu);
    EXPECT_EQ(GetLe(out, dwLiteral - 4), 12u);
    // The writable buffer keeps its old room behind the new text.
    EXPECT_GE(plan.rules[6].dwNewAt + 6 + 20, plan.rules[6].dwNewAt + plan.rules[6].cbNew);
    EXPECT_EQ(plan.dwCharacteristics & kScnWrite, kScnWrite);
    // The refused rules' pushes and every other byte of the old sections stay.
    for (UINT push : {1u, 2u, 4u, 5u, 8u, 9u, 10u})
        EXPECT_EQ(GetLe(out, image.Offset(kText) + 5 * push + 1),
                  GetLe(image.bytes, image.Offset(kText) + 5 * push + 1));
}

// Without base relocations the pushes are found by decoding the code, and an
// address that also lies where nothing explains it refuses the rule.
TEST(TextRelocation, ScannedReferencesRefuseAnAmbiguousAddress)
{
    Image image(false);
    CReferenceIndex index;
    index.Build(image.headers);
    EXPECT_TRUE(index.Scanned());
    const std::vector<RelocationRequest> requests = {
        image.Request(1, "Hello", "Hello longer", kRdata),
        image.Request(2, "Nobody", "Nobody longer", kRdata + 0x70)};
    RelocationPlan plan;
    PlanRelocations(image.headers, index, requests, plan);
    ASSERT_EQ(plan.rules.size(), 2u);
    EXPECT_TRUE(plan.rules[0].relocated) << plan.rules[0].sReason;
    ASSERT_EQ(plan.rules[0].texts.size(), 1u);
    ASSERT_EQ(plan.rules[0].texts[0].references.size(), 1u);
    EXPECT_EQ(plan.rules[0].texts[0].references[0].kind, kRefCodeScan);
    EXPECT_NE(
        plan.rules[1].sReason.find("found by scanning, and the address of EN at .rdata+0x70 also lies at "
                                   ".rdata+0xA1"),
        std::string::npos)
        << plan.rules[1].sReason;
}
} // namespace

namespace
{
// With REPEAT an occurrence nothing points to (here a copy in the resources)
// is left as it is; the referenced one is relocated.
TEST(TextRelocation, RepeatPassesOverAnUnreferencedCopy)
{
    Image image(true);
    CReferenceIndex index;
    index.Build(image.headers);
    RelocationRequest request = image.Request(1, "Hello", "Hello longer", kRdata);
    request.occurrences.push_back(image.Offset(kRdata + 0x90));
    request.repeat = true;
    RelocationPlan plan;
    PlanRelocations(image.headers, index, {request}, plan);
    ASSERT_EQ(plan.rules.size(), 1u);
    EXPECT_TRUE(plan.rules[0].relocated) << plan.rules[0].sReason;
    EXPECT_EQ(plan.rules[0].unreferenced, std::vector<DWORD>{image.Offset(kRdata + 0x90)});
    request.repeat = false;
    request.occurrences = {image.Offset(kRdata + 0x90)};
    PlanRelocations(image.headers, index, {request}, plan);
    EXPECT_NE(plan.rules[0].sReason.find("lies in the resources"), std::string::npos)
        << plan.rules[0].sReason;
}
} // namespace
