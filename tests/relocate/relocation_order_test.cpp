// The planner over a small image with base relocations: a text, and two
// pointers in data, one to its start and one to its tail.
#include "relocate/text_relocation.h"
#include "support/test_image.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
const DWORD kImageBase = 0x400000;
const char kWhole[] = "Leading Trailing words";
const DWORD kTailAt = 8;

struct Image
{
    std::vector<BYTE> bytes;
    TestImageLayout layout;
    DWORD dwTextRva, dwTextAt, dwSlotsAt;
};

Image PointersToStartAndTail()
{
    TestImage builder;
    builder.AddSection(".rdata", kTestDataSection, std::string(kWhole, sizeof(kWhole)));
    Image image;
    image.dwTextRva = 0x1000;
    std::vector<BYTE> slots(8);
    PutLe(slots, 0, kImageBase + image.dwTextRva);
    PutLe(slots, 4, kImageBase + image.dwTextRva + kTailAt);
    builder.AddSection(".data", kTestWriteSection, slots);
    std::vector<BYTE> block(12);
    PutLe(block, 0, 0x2000);
    PutLe(block, 4, 12);
    PutLe(block, 8, 3u << 12 | 0, 2);
    PutLe(block, 10, 3u << 12 | 4, 2);
    const UINT iReloc = builder.AddSection(".reloc", kTestDiscardableSection, block);
    builder.SetDirectoryInSection(kTestRelocationDirectory, iReloc, 0, 12);
    image.bytes = builder.Build(image.layout);
    EXPECT_EQ(image.dwTextRva, image.layout.sections[0].dwRva);
    EXPECT_EQ(0x2000u, image.layout.sections[1].dwRva);
    PutLe(image.bytes, image.layout.dwOptional + 28, kImageBase);
    image.dwTextAt = image.layout.sections[0].dwRaw;
    image.dwSlotsAt = image.layout.sections[1].dwRaw;
    return image;
}

std::vector<BYTE> Bytes(const std::string& s)
{
    return std::vector<BYTE>(s.begin(), s.end());
}
} // namespace

// A pointer into the middle of EN refuses the rule unless another rule
// moves it, whichever of the two comes first; then both texts move, and a
// second plan over the result finds nothing left to move.
TEST(PlanRelocations, PointerIntoTheMiddleRefusesUnlessAnotherRuleMovesIt)
{
    const Image image = PointersToStartAndTail();
    const RelocationRequest whole = {
        1, false, Bytes(kWhole), Bytes("A translation of the whole text"), {image.dwTextAt}, false};
    const RelocationRequest tail = {
        2,    false, Bytes(kWhole + kTailAt), Bytes("A translation of its tail"), {image.dwTextAt + kTailAt},
        false};
    struct Case
    {
        const char* szName;
        std::vector<RelocationRequest> requests;
        std::vector<bool> relocated;
    };
    const Case cases[] = {
        {"the whole text alone", {whole}, {false}},
        {"the whole text, then its tail", {whole, tail}, {true, true}},
        {"the tail, then the whole text", {tail, whole}, {true, true}},
        {"the tail alone", {tail}, {true}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.szName);
        PeHeaders headers;
        std::string sReason;
        ASSERT_EQ(1, headers.Read(image.bytes.data(), static_cast<DWORD>(image.bytes.size()), sReason))
            << sReason;
        CReferenceIndex index;
        index.Build(headers);
        ASSERT_FALSE(index.Scanned());
        RelocationPlan plan;
        PlanRelocations(headers, index, c.requests, plan);
        ASSERT_EQ(c.relocated.size(), plan.rules.size());
        std::vector<BYTE> patched = image.bytes;
        WriteRelocations(headers, plan, patched);
        for (size_t i = 0; i < c.relocated.size(); ++i)
        {
            const RuleRelocation& rule = plan.rules[i];
            EXPECT_EQ(c.relocated[i], rule.relocated) << "rule " << rule.uRule << ": " << rule.sReason;
            const DWORD dwSlot = image.dwSlotsAt + (rule.uRule == 1 ? 0 : 4);
            const DWORD dwOld = image.dwTextRva + (rule.uRule == 1 ? 0 : kTailAt);
            EXPECT_EQ(kImageBase + (rule.relocated ? rule.dwNewRva : dwOld), GetLe(patched, dwSlot))
                << "rule " << rule.uRule;
            if (!rule.relocated)
            {
                EXPECT_NE(std::string::npos, rule.sReason.find("points into the middle of EN"))
                    << rule.sReason;
            }
        }
        if (plan.Relocated() == 0)
            continue;
        PeHeaders again;
        ASSERT_EQ(1, again.Read(patched.data(), static_cast<DWORD>(patched.size()), sReason)) << sReason;
        CReferenceIndex indexAgain;
        indexAgain.Build(again);
        RelocationPlan planAgain;
        PlanRelocations(again, indexAgain, c.requests, planAgain);
        EXPECT_EQ(0u, planAgain.Relocated());
        for (size_t i = 0; i < c.relocated.size(); ++i)
        {
            if (c.relocated[i])
            {
                EXPECT_NE(std::string::npos, planAgain.rules[i].sReason.find("no reference to EN"))
                    << planAgain.rules[i].sReason;
            }
        }
    }
}

namespace
{
// A writable text at the start of .data, followed by cbZeros zero bytes and
// sBehind in the raw data, in an extent of cbVirtual; .rdata behind it in the
// file, nonzero, holds the one pointer to the text.
std::vector<BYTE> WritableText(const std::string& sText, DWORD cbZeros, const std::string& sBehind,
                               DWORD cbVirtual)
{
    const DWORD dwData = 0x1000, dwRdata = 0x40000, dwReloc = 0x41000;
    TestImage builder;
    builder.AddSection(".data", kTestWriteSection, sText + std::string(cbZeros, '\0') + sBehind, cbVirtual,
                       dwData);
    std::vector<BYTE> rdata(0x200, 'n');
    PutLe(rdata, 0, kImageBase + dwData);
    builder.AddSection(".rdata", kTestDataSection, rdata, 0, dwRdata);
    std::vector<BYTE> block(12);
    PutLe(block, 0, dwRdata);
    PutLe(block, 4, 12);
    PutLe(block, 8, 3u << 12, 2);
    const UINT iReloc = builder.AddSection(".reloc", kTestDiscardableSection, block, 0, dwReloc);
    builder.SetDirectoryInSection(kTestRelocationDirectory, iReloc, 0, 12);
    TestImageLayout layout;
    std::vector<BYTE> image = builder.Build(layout);
    PutLe(image, layout.dwOptional + 28, kImageBase);
    return image;
}
} // namespace

// A relocated writable text keeps the room its buffer may have: every zero
// behind it to the end of its section's extent, the zero-filled extent the
// loader adds included, and never the bytes of the file that follow the
// section's raw data; a run of zeros too long to copy refuses the rule.
TEST(PlanRelocations, WritableTextKeepsTheRoomOfItsBuffer)
{
    const std::string sText = "Buffer text";
    const DWORD cbText = static_cast<DWORD>(sText.size());
    struct Case
    {
        const char* szName;
        DWORD cbZeros;
        const char* szBehind;
        DWORD cbVirtual;
        DWORD cbRoom; // 0: refused
    };
    const Case cases[] = {
        {"zeros, then data", 600, "X", 0, cbText + 600},
        {"zeros to the end of the raw data, then the zero-filled extent", 600, "", 0x3000, 0x3000},
        {"more zeros than a buffer is copied", 600, "", 0x20000, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.szName);
        const std::vector<BYTE> image = WritableText(sText, c.cbZeros, c.szBehind, c.cbVirtual);
        PeHeaders headers;
        std::string sReason;
        ASSERT_EQ(1, headers.Read(image.data(), static_cast<DWORD>(image.size()), sReason)) << sReason;
        CReferenceIndex index;
        index.Build(headers);
        const RelocationRequest request = {1,
                                           false,
                                           Bytes(sText),
                                           Bytes("A longer translation of the text"),
                                           {headers.sections[0].dwRawOffset},
                                           false};
        RelocationPlan plan;
        PlanRelocations(headers, index, {request}, plan);
        ASSERT_EQ(1u, plan.rules.size());
        const RuleRelocation& rule = plan.rules[0];
        if (c.cbRoom == 0)
        {
            EXPECT_FALSE(rule.relocated);
            EXPECT_NE(std::string::npos, rule.sReason.find("too large to copy")) << rule.sReason;
            continue;
        }
        ASSERT_TRUE(rule.relocated) << rule.sReason;
        EXPECT_EQ(c.cbRoom, plan.data.size() - rule.dwNewAt);
        EXPECT_NE(0u, plan.dwCharacteristics & kScnWrite);
    }
}
