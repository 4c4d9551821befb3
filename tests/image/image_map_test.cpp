// The image map on a small image from the test builder (one .rsrc section
// holding one menu), and on malformed variants of it: each must give a
// partial map that stays inside the buffer and ends.
#include "image/image_map.h"
#include "test_image.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace
{
void AddWide(std::vector<BYTE>& bytes, const char* sz)
{
    for (; *sz != 0; ++sz)
        bytes.insert(bytes.end(), {static_cast<BYTE>(*sz), 0});
    bytes.insert(bytes.end(), {0, 0});
}

// The menu: POPUP "&File" { MENUITEM "E&xit", 0x0108 }, behind a header of 4
// zero bytes.
std::vector<BYTE> Menu()
{
    std::vector<BYTE> menu(4, 0);
    menu.insert(menu.end(), {0x10 | 0x80, 0}); // popup, last at its level
    AddWide(menu, "&File");
    menu.insert(menu.end(), {0x80, 0, 0x08, 0x01});
    AddWide(menu, "E&xit");
    return menu;
}

struct MenuImage
{
    std::vector<BYTE> bytes;
    TestImageLayout at;
};

MenuImage MakeImage()
{
    TestImage image;
    image.AddResources({{4, 1, 0x0409, Menu()}});
    MenuImage m;
    m.bytes = image.Build(m.at);
    return m;
}

// File offsets of the parts of the image, as the builder laid it out.
const MenuImage kImage = MakeImage();
const DWORD kImageBytes = static_cast<DWORD>(kImage.bytes.size());
const DWORD kFileHeader = kImage.at.dwFileHeader, kOptional = kImage.at.dwOptional;
const DWORD kDirectories = kImage.at.dwDirectories, kSectionTable = kImage.at.dwSectionTable;
const DWORD kRsrc = kImage.at.sections[0].dwRaw;
// Type 4 (MENU) -> name 1 -> language 0x0409 -> data.
const DWORD kRoot = kImage.at.resourceTables[0], kNameDir = kImage.at.resourceTables[1],
            kLangDir = kImage.at.resourceTables[2], kDataEntry = kImage.at.resourceDataEntries[0];
const DWORD kMenu = kImage.at.resourceData[0];
const DWORD kPopupText = kMenu + 6;
const DWORD kItemFlags = kPopupText + 12;
const DWORD kItemText = kItemFlags + 4;

std::string LabelAt(const CImageMap& map, DWORD dwOffset)
{
    return *map.Lookup(dwOffset).psLabel;
}

std::vector<BYTE> WithAppendedData()
{
    std::vector<BYTE> image = kImage.bytes;
    image.resize(kImageBytes + 16);
    return image;
}

TEST(ImageMap, SaysWhatEachByteOfAWellFormedImageIs)
{
    const std::vector<BYTE> image = WithAppendedData();
    CImageMap map;
    ASSERT_EQ(map.Load(image.data(), static_cast<DWORD>(image.size())), 1);
    struct Case
    {
        DWORD dwOffset;
        ImageByteKind kind;
        const char* szLabel;
    };
    const Case cases[] = {
        {0x10, kByteHeader, "DOS header"},
        {kFileHeader, kByteHeader, "PE signature and file header"},
        {kDirectories + 20, kByteHeader, "data directories"},
        {kSectionTable + 39, kByteSectionTable, "section table, .rsrc"},
        {kRsrc - 0x10, kByteHeader, "headers"},
        {kRoot + 4, kByteDirectory, "resource directory (root)"},
        {kLangDir + 17, kByteDirectory, "resource directory entries MENU 1"},
        {kDataEntry + 15, kByteDirectory, "resource data entry MENU 1 en-US"},
        {kMenu, kByteResourceField, "MENU 1 en-US, header"},
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
}

TEST(ImageMap, FindsTheTextsResourcesAndSectionsOfAWellFormedImage)
{
    const std::vector<BYTE> image = WithAppendedData();
    CImageMap map;
    ASSERT_EQ(map.Load(image.data(), static_cast<DWORD>(image.size())), 1);
    ASSERT_EQ(map.Resources().size(), 1u);
    EXPECT_EQ(map.Resources()[0].dwOffset, kMenu);
    EXPECT_EQ(map.SectionIndexOf(kRsrc), 0);
    EXPECT_EQ(map.SectionIndexOf(0x10), kImageInHeaders);
    EXPECT_EQ(map.SectionIndexOf(kImageBytes), kImageOutsideSections);
    const ImageText* pText = map.Lookup(kItemText + 4).pText;
    ASSERT_NE(pText, nullptr);
    EXPECT_EQ(pText->dwStart, kItemText);
    EXPECT_EQ(pText->cbText, 10u);
    EXPECT_TRUE(pText->fTerminated);
}

// A prefix of the image: the map never reaches past the cut, and is a PE map
// exactly when the optional header is whole.
void CheckPrefix(DWORD cb)
{
    SCOPED_TRACE(cb);
    std::vector<BYTE> image(kImage.bytes.begin(), kImage.bytes.begin() + cb);
    CImageMap map;
    EXPECT_EQ(map.Load(image.data(), cb), cb >= kSectionTable ? 1 : 0);
    for (const ImageSpan& span : map.Spans())
        ASSERT_LE(span.dwEnd, cb) << span.sLabel;
    for (const ImageResource& r : map.Resources())
        EXPECT_TRUE(r.dwOffset == kNoImageOffset || r.dwOffset < cb);
    if (cb >= kItemText + 2 && cb < kItemText + 12)
    {
        const ImageText* pText = map.Lookup(kItemText).pText;
        ASSERT_NE(pText, nullptr);
        EXPECT_FALSE(pText->fTerminated);
    }
}

TEST(ImageMap, EveryTruncationGivesAMapInsideTheBytes)
{
    for (DWORD cb = 0; cb <= kImageBytes; ++cb)
        CheckPrefix(cb);
}

TEST(ImageMap, MalformedImagesGiveAPartialMap)
{
    typedef std::vector<BYTE> Bytes;
    struct Case
    {
        const char* szName;
        std::function<void(Bytes&)> mutate;
        size_t cResources;
        DWORD dwLookup;
        const char* szLabel;
    };
    const Case cases[] = {
        {"name directory points back at the root", [](Bytes& i) { PutLe(i, kNameDir + 20, 0x80000000); }, 0,
         kItemText, "data (.rsrc)"},
        {"language directory points at its parent",
         [](Bytes& i) { PutLe(i, kLangDir + 20, 0x80000000 | (kNameDir - kRsrc)); }, 0, kItemText,
         "data (.rsrc)"},
        {"root claims 65535 entries", [](Bytes& i) { PutLe(i, kRoot + 14, 0xFFFF, 2); }, 1, kItemText,
         "MENU 1 en-US, item 0x0108, text"},
        {"data entry points past the file", [](Bytes& i) { PutLe(i, kDataEntry, 0x7FFFFFF0); }, 1, kItemText,
         "data (.rsrc)"},
        {"data entry claims 4 GB", [](Bytes& i) { PutLe(i, kDataEntry + 4, 0xFFFFFFFF); }, 1, kItemText,
         "MENU 1 en-US, item 0x0108, text"},
        {"menu never ends", [](Bytes& i) { PutLe(i, kItemFlags, 0, 2); }, 1, kItemText,
         "MENU 1 en-US, item 0x0108, text"},
        {"string table with a length past its data",
         [](Bytes& i) {
             PutLe(i, kRoot + 16, 6);
             PutLe(i, kMenu, 0xFFFF, 2);
         },
         1, kMenu + 1, "STRINGTABLE block 1 en-US, string 0x0000, length"},
        {"65535 sections", [](Bytes& i) { PutLe(i, kFileHeader + 2, 0xFFFF, 2); }, 1, kItemText,
         "MENU 1 en-US, item 0x0108, text"},
        {"section table past the file",
         [](Bytes& i) { PutLe(i, kFileHeader + 16, kImageBytes - 0x10 - kOptional, 2); }, 0, kItemText,
         "optional header"},
        {"resource directory at an RVA of no section",
         [](Bytes& i) { PutLe(i, kDirectories + 2 * 8, 0x80000000); }, 0, kItemText, "data (.rsrc)"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.szName);
        Bytes image = kImage.bytes;
        c.mutate(image);
        CImageMap map;
        EXPECT_EQ(map.Load(image.data(), static_cast<DWORD>(image.size())), 1);
        EXPECT_EQ(map.Resources().size(), c.cResources);
        EXPECT_EQ(LabelAt(map, c.dwLookup), c.szLabel);
        for (const ImageSpan& span : map.Spans())
            EXPECT_LE(span.dwEnd, image.size());
    }
}

// A long section name is read from the string table, which lies behind as
// many symbol records as the file header counts, long names of their own in it.
TEST(ImageMap, ReadsLongSectionNamesBehindTheSymbols)
{
    for (UINT cSymbols : {0u, 1u, 3u})
    {
        SCOPED_TRACE(cSymbols);
        TestImage builder;
        builder.AddSection(".text", kTestCodeSection, std::string(0x10, '\xCC'));
        for (UINT i = 0; i < cSymbols; ++i)
            builder.AddSymbol(i == 1 ? "a_symbol_with_a_long_name" : "short");
        builder.AddSection(".debug_info", kTestDiscardableSection, std::string("dbg"));
        const std::vector<BYTE> image = builder.Build();
        CImageMap map;
        ASSERT_EQ(1, map.Load(image.data(), static_cast<DWORD>(image.size())));
        ASSERT_EQ(2u, map.Sections().size());
        EXPECT_EQ(".text", map.Sections()[0].sName);
        EXPECT_EQ(".debug_info", map.Sections()[1].sName);
    }
}

// Import descriptors that all share one long table of thunks: the map reads
// it within its budget of a few passes over the file, not once a descriptor.
TEST(ImageMap, ImportsSharingOneTableCostAFewPassesOverTheFile)
{
    const DWORD cbSection = 0x10000, dwHalf = cbSection / 2, dwRva = 0x1000;
    std::vector<BYTE> idata(cbSection, 0);
    for (DWORD dw = 0; dw + 40 <= dwHalf; dw += 20)
    {
        PutLe(idata, dw, dwRva + dwHalf); // lookup table
        PutLe(idata, dw + 12, dwRva);     // DLL name
    }
    for (DWORD dw = dwHalf; dw < cbSection; dw += 4)
        PutLe(idata, dw, 0x80000001); // import by ordinal 1
    TestImage builder;
    builder.SetCharacteristics(0x102);
    builder.AddSection(".idata", kTestWriteSection, idata, 0, dwRva);
    builder.SetDirectory(kTestImportDirectory, dwRva, cbSection);
    const std::vector<BYTE> image = builder.Build();
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
