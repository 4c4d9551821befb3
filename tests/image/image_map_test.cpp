// The image map on a small image built here byte by byte (one .rsrc section
// holding one menu), and on malformed variants of it: each must give a
// partial map that stays inside the buffer and ends.
#include "image/image_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace
{
const DWORD kOptional = 0x58;      // optional header, behind "PE\0\0" at 0x40 and the file header
const DWORD kSectionTable = 0x138; // behind an optional header of 0xE0 bytes
const DWORD kRsrc = 0x200;         // file offset of .rsrc, at RVA 0x1000
const DWORD kRsrcRva = 0x1000;
const DWORD kNameDir = 0x18, kLangDir = 0x30, kDataEntry = 0x48, kMenu = 0x58; // within .rsrc
const DWORD kImageBytes = 0x400;

void Put16(std::vector<BYTE>& image, DWORD dwAt, DWORD v)
{
    image[dwAt] = static_cast<BYTE>(v);
    image[dwAt + 1] = static_cast<BYTE>(v >> 8);
}
void Put32(std::vector<BYTE>& image, DWORD dwAt, DWORD v)
{
    Put16(image, dwAt, v & 0xFFFF);
    Put16(image, dwAt + 2, v >> 16);
}
DWORD PutWide(std::vector<BYTE>& image, DWORD dwAt, const char* sz)
{
    for (; *sz != 0; ++sz, dwAt += 2)
        Put16(image, dwAt, static_cast<BYTE>(*sz));
    Put16(image, dwAt, 0);
    return dwAt + 2;
}

// The menu: POPUP "&File" { MENUITEM "E&xit", 0x0108 }.
const DWORD kPopupText = kRsrc + kMenu + 6;
const DWORD kItemFlags = kPopupText + 12;
const DWORD kItemText = kItemFlags + 4;
const DWORD kMenuBytes = kItemText + 12 - (kRsrc + kMenu);

std::vector<BYTE> MakeImage()
{
    std::vector<BYTE> image(kImageBytes, 0);
    Put16(image, 0, 0x5A4D);
    Put32(image, 0x3C, 0x40);
    Put32(image, 0x40, 0x4550);
    Put16(image, 0x44, 0x014C); // i386
    Put16(image, 0x46, 1);      // sections
    Put16(image, 0x54, 0xE0);   // optional header bytes
    Put16(image, kOptional, 0x10B);
    Put32(image, kOptional + 36, 0x200); // file alignment
    Put32(image, kOptional + 60, 0x200); // size of headers
    Put32(image, kOptional + 92, 16);    // data directories
    Put32(image, kOptional + 96 + 2 * 8, kRsrcRva);
    Put32(image, kOptional + 96 + 2 * 8 + 4, 0x200);
    std::memcpy(&image[kSectionTable], ".rsrc", 5);
    Put32(image, kSectionTable + 8, 0x200);
    Put32(image, kSectionTable + 12, kRsrcRva);
    Put32(image, kSectionTable + 16, 0x200);
    Put32(image, kSectionTable + 20, kRsrc);
    Put32(image, kSectionTable + 36, 0x40000040);
    // Type 4 (MENU) -> name 1 -> language 0x0409 -> data.
    Put16(image, kRsrc + 14, 1);
    Put32(image, kRsrc + 16, 4);
    Put32(image, kRsrc + 20, 0x80000000 | kNameDir);
    Put16(image, kRsrc + kNameDir + 14, 1);
    Put32(image, kRsrc + kNameDir + 16, 1);
    Put32(image, kRsrc + kNameDir + 20, 0x80000000 | kLangDir);
    Put16(image, kRsrc + kLangDir + 14, 1);
    Put32(image, kRsrc + kLangDir + 16, 0x0409);
    Put32(image, kRsrc + kLangDir + 20, kDataEntry);
    Put32(image, kRsrc + kDataEntry, kRsrcRva + kMenu);
    Put32(image, kRsrc + kDataEntry + 4, kMenuBytes);
    Put16(image, kRsrc + kMenu + 4, 0x10 | 0x80); // popup, last at its level
    DWORD dwAt = PutWide(image, kPopupText, "&File");
    Put16(image, dwAt, 0x80);
    Put16(image, dwAt + 2, 0x0108);
    PutWide(image, kItemText, "E&xit");
    return image;
}

std::string LabelAt(const CImageMap& map, DWORD dwOffset)
{
    return *map.Lookup(dwOffset).psLabel;
}

TEST(ImageMap, SaysWhatEachByteOfAWellFormedImageIs)
{
    std::vector<BYTE> image = MakeImage();
    image.resize(kImageBytes + 16); // appended data
    CImageMap map;
    ASSERT_EQ(map.Load(image.data(), static_cast<DWORD>(image.size())), 1);
    ASSERT_EQ(map.Resources().size(), 1u);
    EXPECT_EQ(map.Resources()[0].dwOffset, kRsrc + kMenu);

    struct Case
    {
        DWORD dwOffset;
        ImageByteKind kind;
        const char* szLabel;
    };
    const Case cases[] = {
        {0x10, kByteHeader, "DOS header"},
        {kOptional + 96 + 20, kByteHeader, "data directories"},
        {kSectionTable + 39, kByteSectionTable, "section table, .rsrc"},
        {0x1F0, kByteHeader, "headers"},
        {kRsrc + 4, kByteDirectory, "resource directory (root)"},
        {kRsrc + kLangDir + 17, kByteDirectory, "resource directory entries MENU 1"},
        {kRsrc + kDataEntry + 15, kByteDirectory, "resource data entry MENU 1 en-US"},
        {kRsrc + kMenu, kByteResourceField, "MENU 1 en-US, header"},
        {kPopupText - 1, kByteResourceField, "MENU 1 en-US, popup 0, flags"},
        {kPopupText, kByteResourceText, "MENU 1 en-US, popup 0, text"},
        {kItemFlags + 2, kByteResourceField, "MENU 1 en-US, item 0x0108, id"},
        {kItemText + 11, kByteResourceText, "MENU 1 en-US, item 0x0108, text"}, // its terminator
        {kItemText + 12, kByteData, "data (.rsrc)"},
        {kImageBytes, kByteOutside, "outside any section"},
        {0xFFFFFFFF, kByteOutside, "outside any section"},
    };
    for (const Case& c : cases)
    {
        ImageByteInfo info = map.Lookup(c.dwOffset);
        EXPECT_EQ(info.kind, c.kind) << std::hex << c.dwOffset;
        EXPECT_EQ(*info.psLabel, c.szLabel) << std::hex << c.dwOffset;
    }
    const ImageText* pText = map.Lookup(kItemText + 4).pText;
    ASSERT_NE(pText, nullptr);
    EXPECT_EQ(pText->dwStart, kItemText);
    EXPECT_EQ(pText->cbText, 10u);
    EXPECT_TRUE(pText->fTerminated);
    EXPECT_EQ(map.SectionIndexOf(kRsrc), 0);
    EXPECT_EQ(map.SectionIndexOf(0x10), kImageInHeaders);
    EXPECT_EQ(map.SectionIndexOf(kImageBytes), kImageOutsideSections);
}

// Every prefix of the image: the map never reaches past the cut, and is a PE
// map exactly when the optional header is whole.
TEST(ImageMap, EveryTruncationGivesAMapInsideTheBytes)
{
    const std::vector<BYTE> full = MakeImage();
    for (DWORD cb = 0; cb <= full.size(); ++cb)
    {
        std::vector<BYTE> image(full.begin(), full.begin() + cb);
        CImageMap map;
        EXPECT_EQ(map.Load(image.data(), cb), cb >= kSectionTable ? 1 : 0) << cb;
        for (const ImageSpan& span : map.Spans())
            ASSERT_LE(span.dwEnd, cb) << span.sLabel;
        for (const ImageResource& r : map.Resources())
            EXPECT_TRUE(r.dwOffset == kNoImageOffset || r.dwOffset < cb);
        if (cb >= kItemText + 2 && cb < kItemText + 12)
        {
            const ImageText* pText = map.Lookup(kItemText).pText;
            ASSERT_NE(pText, nullptr) << cb;
            EXPECT_FALSE(pText->fTerminated) << cb;
        }
    }
}

TEST(ImageMap, MalformedImagesGiveAPartialMap)
{
    struct Case
    {
        const char* szName;
        std::function<void(std::vector<BYTE>&)> mutate;
        size_t cResources;
        DWORD dwLookup;
        const char* szLabel;
    };
    const Case cases[] = {
        {"name directory points back at the root",
         [](std::vector<BYTE>& i) { Put32(i, kRsrc + kNameDir + 20, 0x80000000); }, 0, kItemText,
         "data (.rsrc)"},
        {"language directory points at its parent",
         [](std::vector<BYTE>& i) { Put32(i, kRsrc + kLangDir + 20, 0x80000000 | kNameDir); }, 0, kItemText,
         "data (.rsrc)"},
        {"root claims 65535 entries", [](std::vector<BYTE>& i) { Put16(i, kRsrc + 14, 0xFFFF); }, 1,
         kItemText, "MENU 1 en-US, item 0x0108, text"},
        {"data entry points past the file",
         [](std::vector<BYTE>& i) { Put32(i, kRsrc + kDataEntry, 0x7FFFFFF0); }, 1, kItemText,
         "data (.rsrc)"},
        {"data entry claims 4 GB", [](std::vector<BYTE>& i) { Put32(i, kRsrc + kDataEntry + 4, 0xFFFFFFFF); },
         1, kItemText, "MENU 1 en-US, item 0x0108, text"},
        {"menu never ends", [](std::vector<BYTE>& i) { Put16(i, kItemFlags, 0); }, 1, kItemText,
         "MENU 1 en-US, item 0x0108, text"},
        {"string table with a length past its data",
         [](std::vector<BYTE>& i) {
             Put32(i, kRsrc + 16, 6);
             Put16(i, kRsrc + kMenu, 0xFFFF);
         },
         1, kRsrc + kMenu + 1, "STRINGTABLE block 1 en-US, string 0x0000, length"},
        {"65535 sections", [](std::vector<BYTE>& i) { Put16(i, 0x46, 0xFFFF); }, 1, kItemText,
         "MENU 1 en-US, item 0x0108, text"},
        {"section table past the file",
         [](std::vector<BYTE>& i) { Put16(i, 0x54, kImageBytes - 0x10 - kOptional); }, 0, kItemText,
         "optional header"},
        {"resource directory at an RVA of no section",
         [](std::vector<BYTE>& i) { Put32(i, kOptional + 96 + 2 * 8, 0x80000000); }, 0, kItemText,
         "data (.rsrc)"},
    };
    for (const Case& c : cases)
    {
        std::vector<BYTE> image = MakeImage();
        c.mutate(image);
        CImageMap map;
        EXPECT_EQ(map.Load(image.data(), static_cast<DWORD>(image.size())), 1) << c.szName;
        EXPECT_EQ(map.Resources().size(), c.cResources) << c.szName;
        EXPECT_EQ(LabelAt(map, c.dwLookup), c.szLabel) << c.szName;
        for (const ImageSpan& span : map.Spans())
            EXPECT_LE(span.dwEnd, image.size()) << c.szName;
    }
}
// Import descriptors that all share one long table of thunks: the map reads
// it within its budget of a few passes over the file, not once a descriptor.
TEST(ImageMap, ImportsSharingOneTableCostAFewPassesOverTheFile)
{
    const DWORD cbSection = 0x10000, dwHalf = cbSection / 2;
    std::vector<BYTE> image(0x200 + cbSection, 0);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, 0x40);
    Put32(image, 0x40, 0x4550);
    Put16(image, 0x44, 0x14C); // i386
    Put16(image, 0x46, 1);
    Put16(image, 0x54, 0xE0);
    Put16(image, 0x56, 0x102);
    Put16(image, kOptional, 0x10B);
    Put32(image, kOptional + 32, 0x1000);             // section alignment
    Put32(image, kOptional + 36, 0x200);              // file alignment
    Put32(image, kOptional + 56, 0x1000 + cbSection); // size of image
    Put32(image, kOptional + 60, 0x200);              // size of headers
    Put32(image, kOptional + 92, 16);
    Put32(image, kOptional + 96 + 8, 0x1000); // the import directory
    Put32(image, kOptional + 96 + 12, cbSection);
    std::memcpy(&image[kSectionTable], ".idata", 6);
    Put32(image, kSectionTable + 8, cbSection);
    Put32(image, kSectionTable + 12, 0x1000);
    Put32(image, kSectionTable + 16, cbSection);
    Put32(image, kSectionTable + 20, 0x200);
    Put32(image, kSectionTable + 36, 0xC0000040);
    for (DWORD dw = 0; dw + 40 <= dwHalf; dw += 20)
    {
        Put32(image, 0x200 + dw, 0x1000 + dwHalf); // lookup table
        Put32(image, 0x200 + dw + 12, 0x1000);     // DLL name
    }
    for (DWORD dw = dwHalf; dw < cbSection; dw += 4)
        Put32(image, 0x200 + dw, 0x80000001); // import by ordinal 1
    CImageMap map;
    ASSERT_EQ(1, map.Load(image.data(), static_cast<DWORD>(image.size())));
    size_t cFunctions = 0;
    for (const ImageImport& import : map.Imports())
        cFunctions += import.functions.size();
    // One full table is dwHalf / 4 thunks; a few passes over the file allow
    // some tens of tables, the thousand descriptors would ask for a thousand.
    EXPECT_GT(cFunctions, dwHalf / 4);
    EXPECT_LT(cFunctions, 100u * dwHalf / 4);
}
} // namespace
