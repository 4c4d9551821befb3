// The resource tree read into entries, written back in the loader's order, and
// rebuilt into images from the test builder: .text, .rsrc and, when asked, a
// .reloc behind it, COFF symbols, appended data and a signature.
#include "image/image_map.h"
#include "image/image_rebuild.h"
#include "support/image_reads.h"
#include "test_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace
{
const DWORD kRsrcRva = 0x2000;
const DWORD kDebugWithin = 0x200 - 28; // a debug directory entry in the last bytes of .text

void PutAll(std::vector<BYTE>& b, std::initializer_list<DWORD> fields);

// A 32-bit image: .text at 0x1000 (its bytes 0xCC, bar a debug directory entry
// at its end), the tree as .rsrc at 0x2000 (added by fnAddRsrc), and .reloc
// behind it when fRelocAfter.
TestImage Builder(const std::function<void(TestImage&)>& fnAddRsrc, bool fRelocAfter)
{
    TestImage image;
    image.SetEntryPoint(0x1000);
    image.SetChecksum(1);
    std::vector<BYTE> text(kDebugWithin, 0xCC);
    text.resize(0x200, 0);
    image.AddSection(".text", kTestCodeSection, text, 0, 0x1000);
    fnAddRsrc(image);
    if (fRelocAfter)
    {
        // One block for the page at 0x1000 with one entry: type 3, offset 0.
        std::vector<BYTE> reloc(12, 0);
        PutAll(reloc, {0, 0x1000, 4, 12, 8, 0x3000});
        UINT iReloc = image.AddSection(".reloc", kTestDiscardableSection, reloc);
        image.SetDirectoryInSection(kTestRelocationDirectory, iReloc, 0, 12);
    }
    return image;
}

// The tree's bytes as they are, written for kRsrcRva.
TestImage BuilderOfTree(const std::vector<BYTE>& tree, bool fRelocAfter)
{
    return Builder(
        [&tree](TestImage& image) {
            UINT i = image.AddSection(".rsrc", kTestDataSection, tree, 0, kRsrcRva);
            image.SetDirectoryInSection(kTestResourceDirectory, i, 0, static_cast<DWORD>(tree.size()));
        },
        fRelocAfter);
}

// Where the builder puts the parts of these images.
const TestImageLayout kAt = [] {
    TestImageLayout at;
    BuilderOfTree(std::vector<BYTE>(1, 0), true).Build(at);
    return at;
}();
const DWORD kFileHeader = kAt.dwFileHeader, kOptional = kAt.dwOptional, kSectionTable = kAt.dwSectionTable;
const DWORD kDirectory = kAt.dwDirectories, kRsrc = kAt.sections[1].dwRaw, kText = kAt.sections[0].dwRaw;
const DWORD kSections = kFileHeader + 2, kSymbolTable = kFileHeader + 8;
const DWORD kChecksumField = kOptional + 64, kSizeOfImageField = kOptional + 56;
const DWORD kDebugEntry = kText + kDebugWithin;

DWORD Align(DWORD dw, DWORD dwAlignment)
{
    return (dw + dwAlignment - 1) & ~(dwAlignment - 1);
}
// Four-byte fields given as offset, value, offset, value..., written in order.
void PutAll(std::vector<BYTE>& b, std::initializer_list<DWORD> fields)
{
    for (const DWORD* p = fields.begin(); p + 1 < fields.end(); p += 2)
        PutLe(b, p[0], p[1]);
}
ResourceId Id(WORD w)
{
    return {false, w, std::u16string()};
}
ResourceId Name(const char16_t* ws)
{
    return {true, 0, ws};
}
ResourceEntry Entry(ResourceId type, ResourceId name, WORD wLang, const std::string& sData)
{
    return {type, name, wLang, 1252, std::vector<BYTE>(sData.begin(), sData.end())};
}

bool SameId(const ResourceId& x, const ResourceId& y)
{
    return x.fNamed == y.fNamed && (x.fNamed ? x.name == y.name : x.wId == y.wId);
}
bool SameEntries(const std::vector<ResourceEntry>& a, const std::vector<ResourceEntry>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const ResourceEntry& x, const ResourceEntry& y) {
                          return SameId(x.type, y.type) && SameId(x.name, y.name) && x.wLang == y.wLang &&
                                 x.dwCodePage == y.dwCodePage && x.data == y.data;
                      });
}

std::vector<ResourceEntry> Read(const std::vector<BYTE>& image)
{
    std::vector<ResourceEntry> entries, borrowed;
    std::string sReason;
    EXPECT_EQ(1, ReadEntriesOf(image.data(), static_cast<DWORD>(image.size()), entries, sReason)) << sReason;
    // A read that borrows sees the same bytes, where they lie in the image.
    EXPECT_EQ(1, ReadEntriesOf(image.data(), static_cast<DWORD>(image.size()), borrowed, sReason,
                               kBorrowResourceData));
    EXPECT_EQ(entries.size(), borrowed.size());
    for (size_t i = 0; i < entries.size() && i < borrowed.size(); ++i)
    {
        EXPECT_TRUE(borrowed[i].data.empty());
        EXPECT_EQ(entries[i].data,
                  std::vector<BYTE>(borrowed[i].Bytes(), borrowed[i].Bytes() + borrowed[i].Size()));
        EXPECT_TRUE(borrowed[i].Size() == 0 ||
                    (borrowed[i].Bytes() >= image.data() &&
                     borrowed[i].Bytes() + borrowed[i].Size() <= image.data() + image.size()));
    }
    return entries;
}

// The entries in the loader's order, one per key: named types and names first
// by their upper-cased units ("abc" before "ZED", which an ordinal compare
// would put first), then ids ascending; the first of two equal keys.
const std::vector<ResourceEntry> kSorted = {
    Entry(Name(u"abc"), Name(u"b"), 0, "named type, named name"),
    Entry(Name(u"abc"), Id(7), 0x409, "named type, id name"),
    Entry(Name(u"ZED"), Id(1), 0, "z"),
    Entry(Id(4), Name(u"\u00e9t\u00e9"), 0, "accented name"),
    Entry(Id(4), Name(u"\u00c9T\u00c9X"), 0, "longer name after"),
    Entry(Id(4), Id(1), 0x409, std::string(17, 'm')),
    Entry(Id(4), Id(1), 0x804, "zh"),
    Entry(Id(16), Id(1), 0x409, ""),
};

TestResourceId TestIdOf(const ResourceId& id)
{
    return id.fNamed ? TestResourceId(id.name.c_str()) : TestResourceId(id.wId);
}

// The tree of these entries as the test builder lays it out, not as the
// writer under test does.
TestImage BuilderOf(const std::vector<ResourceEntry>& entries, bool fRelocAfter)
{
    std::vector<TestResource> resources;
    for (const ResourceEntry& e : entries)
        resources.push_back({TestIdOf(e.type), TestIdOf(e.name), e.wLang, e.data, e.dwCodePage});
    return Builder([&resources](TestImage& image) { image.AddResources(resources); }, fRelocAfter);
}

std::vector<BYTE> MakeImage(const std::vector<ResourceEntry>& entries, bool fRelocAfter)
{
    return BuilderOf(entries, fRelocAfter).Build();
}

// The offset within .rsrc of the first data entry, or of the language
// directory above it, by the first entry of each level.
DWORD FirstEntryBelow(const std::vector<BYTE>& b, UINT cLevels)
{
    DWORD dwAt = 0;
    for (UINT i = 0; i < cLevels; ++i)
        dwAt = GetLe(b, kRsrc + dwAt + 20) & 0x7FFFFFFF;
    return dwAt;
}

std::vector<BYTE> Section(const std::vector<ResourceEntry>& entries)
{
    std::vector<BYTE> section;
    WriteResourceSection(entries, kRsrcRva, section);
    return section;
}

std::vector<ResourceEntry> WithData(size_t cb)
{
    std::vector<ResourceEntry> entries = kSorted;
    if (cb != 0)
        entries[5].data.assign(cb, 'x');
    return entries;
}

} // namespace

// A tree laid out here by hand (MENU 1 in two languages, one data entry in
// .text) is read as such.
TEST(ResourceTree, ReadsAHandBuiltTree)
{
    std::vector<BYTE> tree(0x100, 0);
    auto PutDwords = [&tree](DWORD dwAt, std::initializer_list<DWORD> dwords) {
        for (DWORD dw : dwords)
        {
            PutLe(tree, dwAt, dw);
            dwAt += 4;
        }
    };
    PutDwords(0x00, {0, 0, 0, 1 << 16, 4, 0x80000018});               // root: type 4, its names at 0x18
    PutDwords(0x18, {0, 0, 0, 1 << 16, 1, 0x80000030});               // name 1, its languages at 0x30
    PutDwords(0x30, {0, 0, 0, 2 << 16, 0x409, 0x50, 0x804, 0x60});    // data entries at 0x50 and 0x60
    PutDwords(0x50, {kRsrcRva + 0x80, 3, 1252, 0, 0x1000 + 0x10, 2}); // "abc" in .rsrc; 2 bytes of .text
    std::memcpy(&tree[0x80], "abc", 3);
    EXPECT_TRUE(SameEntries(Read(BuilderOfTree(tree, false).Build()),
                            {Entry(Id(4), Id(1), 0x409, "abc"), {Id(4), Id(1), 0x804, 0, {0xCC, 0xCC}}}));
}

// The writer puts any order into the loader's, aligns data to 4, and what it
// writes reads back as the same entries.
TEST(ResourceTree, WritesTheLoadersOrderAndReadsItBack)
{
    std::vector<ResourceEntry> scrambled = {kSorted[6], kSorted[3], kSorted[2], kSorted[7],
                                            kSorted[0], kSorted[5], kSorted[4], kSorted[1]};
    scrambled.push_back(Entry(Id(4), Id(1), 0x804, "a duplicate: the first wins"));
    std::vector<BYTE> section = Section(scrambled);
    std::vector<BYTE> rebuilt = BuilderOfTree(section, false).Build();
    EXPECT_TRUE(SameEntries(Read(rebuilt), kSorted));
    EXPECT_EQ(section, Section(Read(rebuilt))) << "the output depends only on the entries";
    // An independent reader finds the data where the writer says, aligned to 4
    // and no more: 17 bytes of data take 20.
    CImageMap map;
    ASSERT_EQ(1, map.Load(rebuilt.data(), static_cast<DWORD>(rebuilt.size())));
    ASSERT_EQ(kSorted.size(), map.Resources().size());
    for (size_t i = 0; i < kSorted.size(); ++i)
    {
        const ImageResource& r = map.Resources()[i];
        EXPECT_EQ(0u, (r.dwRva - kRsrcRva) % 4) << r.sType << " " << r.sName;
        EXPECT_EQ(kSorted[i].data.size(), r.cb);
        EXPECT_EQ(kSorted[i].wLang, r.wLang);
    }
    EXPECT_EQ(20u, map.Resources()[6].dwRva - map.Resources()[5].dwRva);
    EXPECT_EQ("abc", map.Resources()[0].sType);
    EXPECT_EQ("ZED", map.Resources()[2].sType);
}

struct PlaceCase
{
    const char* szName;
    bool fRelocAfter;
    size_t cbOld, cbNew; // one entry's data before and after
    bool fNew;
};

void CheckPlace(const PlaceCase& c)
{
    SCOPED_TRACE(c.szName);
    // COFF symbols appended (one record, an empty string table) and, in the
    // last bytes of .text, a debug directory entry whose data lies behind
    // .rsrc: in .reloc, or in the string table.
    TestImage builder = BuilderOf(WithData(c.cbOld), c.fRelocAfter);
    builder.AddSymbol("symbol");
    builder.SetDirectoryInSection(kTestDebugDirectory, 0, kDebugWithin, 28);
    TestImageLayout at;
    std::vector<BYTE> image = builder.Build(at);
    const DWORD cbOldRaw = at.sections[1].cbRaw, dwTail = kRsrc + cbOldRaw, dwSymbols = at.dwSymbols;
    PutAll(image, {kDebugEntry + 16, 8, kDebugEntry + 24, c.fRelocAfter ? dwTail + 0x100 : at.dwStrings});

    std::vector<ResourceEntry> entries = WithData(c.cbNew);
    RebuildResult result;
    ASSERT_EQ(1, RebuildOf(image.data(), static_cast<DWORD>(image.size()), entries, result))
        << result.sReason;
    const std::vector<BYTE>& out = result.image;
    EXPECT_TRUE(SameEntries(Read(out), entries));
    const DWORD cSections = 2 + c.fRelocAfter + c.fNew,
                dwHeader = kSectionTable + (c.fNew ? cSections - 1 : 1) * 40;
    EXPECT_EQ(cSections, GetLe(out, kSections, 2));
    EXPECT_EQ(0, std::memcmp(&out[dwHeader], ".rsrc\0\0", 8));
    DWORD cbVirtual = GetLe(out, dwHeader + 8), dwRva = GetLe(out, dwHeader + 12);
    DWORD cbRaw = GetLe(out, dwHeader + 16), dwRaw = GetLe(out, dwHeader + 20);
    EXPECT_EQ(c.fNew ? 0x4000u : kRsrcRva, dwRva);
    EXPECT_EQ(GetLe(out, kDirectory + 16), dwRva);
    EXPECT_EQ(GetLe(out, kDirectory + 20), cbVirtual);
    EXPECT_EQ(Align(cbVirtual, 0x200), cbRaw);
    EXPECT_EQ(c.fRelocAfter && !c.fNew ? GetLe(image, kSizeOfImageField) : Align(dwRva + cbVirtual, 0x1000),
              GetLe(out, kSizeOfImageField));
    EXPECT_NE(1u, GetLe(out, kChecksumField));
    EXPECT_EQ(0x40000040u, GetLe(out, dwHeader + 36));
    if (c.fNew)
    {
        const BYTE abDropped[24] = {'.', 'r', 's', 'r', 'c', '0', 0, 0};
        std::vector<BYTE> expected(abDropped, abDropped + 24);
        PutAll(expected, {8, GetLe(image, kSectionTable + 48), 12, kRsrcRva});
        EXPECT_EQ(0, std::memcmp(&out[kSectionTable + 40], expected.data(), 24));
        EXPECT_EQ(Align(static_cast<DWORD>(image.size()) - cbOldRaw, 0x200), dwRaw);
        EXPECT_EQ(out.size(), dwRaw + cbRaw);
    }
    else
        EXPECT_EQ(kRsrc, dwRaw);
    // The tail moved by one shift, and every offset into it with it.
    const DWORD dwShift = (c.fNew ? kRsrc : kRsrc + cbRaw) - dwTail;
    const DWORD cbMoved = static_cast<DWORD>(image.size()) + dwShift;
    if (!c.fNew)
    {
        EXPECT_EQ(cbMoved, out.size());
    }
    ASSERT_LE(cbMoved, out.size());
    EXPECT_EQ(0, std::memcmp(&out[dwTail + dwShift], &image[dwTail], image.size() - dwTail));
    EXPECT_EQ(dwSymbols + dwShift, GetLe(out, kSymbolTable));
    EXPECT_EQ(GetLe(image, kDebugEntry + 24) + dwShift, GetLe(out, kDebugEntry + 24));
    if (c.fRelocAfter)
    {
        EXPECT_EQ(dwTail + dwShift, GetLe(out, kSectionTable + 80 + 20));
    }
    EXPECT_EQ(0, std::memcmp(&out[kText], &image[kText], kDebugEntry + 24 - kText));
    EXPECT_EQ(0, std::memcmp(&out[0], &image[0], kSections));
    EXPECT_EQ(0, std::memcmp(&out[kSymbolTable - 4], &image[kSymbolTable - 4], 4));
    EXPECT_EQ(0, std::memcmp(&out[kSectionTable], &image[kSectionTable], 40));
}

// The tree goes where the old one was when it fits the address space up to
// the next section (or .rsrc is last), else into a new last section named
// .rsrc, the old one renamed with its raw data dropped and its address range
// kept. What lies behind the old raw data (.reloc, the debug data there, the
// COFF symbols) moves as one with the offsets that point to it; the file is no
// larger than the new tree needs, and no other byte of the old image changes.
TEST(ResourceTree, RebuildsInPlaceOrIntoNewSection)
{
    const PlaceCase kCases[] = {
        {"last, grown", false, 0, 0x900, false},
        {".reloc behind, grown within the room", true, 0, 0x900, false},
        {".reloc behind, shrunk", true, 0x1800, 0, false},
        {".reloc behind, grown past it", true, 0, 0x1800, true},
    };
    for (const PlaceCase& c : kCases)
        CheckPlace(c);
}

// No image leaves with more than the 96 sections the loader takes: a new
// section past that is refused, as when no header slot is free.
TEST(ResourceTree, AddsNoSectionPastTheLoadersLimit)
{
    const struct
    {
        UINT cSections;
        size_t cbNew;
        int ok;
    } kCases[] = {{95, 0x1800, 1}, {96, 0x1800, 0}, {96, 0, 1}};
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(std::to_string(c.cSections) + " sections, data of " + std::to_string(c.cbNew));
        // The headers grow to hold the table; the sections keep their addresses.
        TestImage builder = BuilderOf(kSorted, true);
        for (UINT i = 3; i < c.cSections; ++i)
            builder.AddSection(".bss", kTestBssSection, std::vector<BYTE>(), 0x1000);
        RebuildResult result;
        std::vector<ResourceEntry> entries = WithData(c.cbNew);
        std::vector<BYTE> image = builder.Build();
        EXPECT_EQ(c.ok, RebuildOf(image.data(), static_cast<DWORD>(image.size()), entries, result));
        if (c.ok)
            EXPECT_EQ(96u, GetLe(result.image, kSections, 2));
        else
            EXPECT_NE(std::string::npos, result.sReason.find("96 sections")) << result.sReason;
    }
}

// Each image is refused with a reason and no output.
TEST(ResourceTree, RefusesWhatItCannotRebuildWhole)
{
    typedef std::vector<BYTE> Bytes;
    const struct
    {
        const char* szName;
        std::function<void(Bytes&)> fnBreak;
        const char* szReason;
    } kCases[] = {
        {"not a PE image", [](Bytes& b) { PutLe(b, kFileHeader - 4, 0x4551); }, "no PE image"},
        {"directory count past the section", [](Bytes& b) { PutLe(b, kRsrc + 14, 0x4000, 2); }, "outside"},
        {"name offset past the section", [](Bytes& b) { PutLe(b, kRsrc + 16, 0x8000F000); }, "outside"},
        {"data past the file", [](Bytes& b) { PutLe(b, kRsrc + FirstEntryBelow(b, 3), 0x100000); },
         "outside the file"},
        {"a loop back to the root", [](Bytes& b) { PutLe(b, kRsrc + 20, 0x80000000); }, "loop"},
        {"data entry at the type level", [](Bytes& b) { PutLe(b, kRsrc + 20, 0xC0); },
         "above the language level"},
        {"directory at the language level",
         [](Bytes& b) { PutLe(b, kRsrc + FirstEntryBelow(b, 2) + 20, 0x80000000); }, "language level"},
        {"no room for a section header", // .rsrc shared with the entry point: a new section is needed
         [](Bytes& b) {
             PutLe(b, kOptional + 16, kRsrcRva + 0x10);
             b[kSectionTable + 3 * 40 + 39] = 1;
         },
         "no free room"},
        {"packer's section name", [](Bytes& b) { std::memcpy(&b[kSectionTable], "UPX0", 4); }, "packed"},
        {"resources in a section without raw data", [](Bytes& b) { PutLe(b, kSectionTable + 40 + 16, 0); },
         "outside the file"},
        {"resource directory longer than the raw data", [](Bytes& b) { PutLe(b, kDirectory + 20, 0x10000); },
         "packed"},
        {"section past the end of the file", [](Bytes& b) { PutLe(b, kSectionTable + 80 + 16, 0x10000); },
         "truncated"},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.szName);
        Bytes image = MakeImage(kSorted, true);
        c.fnBreak(image);
        // As a command goes: the tree is read whole first, then rebuilt.
        RebuildResult result;
        std::vector<ResourceEntry> entries;
        std::string sReason;
        int ok = ReadEntriesOf(image.data(), static_cast<DWORD>(image.size()), entries, sReason);
        if (ok)
            ok = RebuildOf(image.data(), static_cast<DWORD>(image.size()), kSorted, result);
        EXPECT_EQ(0, ok);
        EXPECT_TRUE(result.image.empty());
        if (sReason.empty())
            sReason = result.sReason;
        EXPECT_NE(std::string::npos, sReason.find(c.szReason)) << sReason;
    }
}

// An image with something appended behind .rsrc, then a signature.
std::vector<BYTE> SignedImage(bool fSymbols, TestImageLayout& at)
{
    TestImage builder = BuilderOf(kSorted, false);
    if (fSymbols)
        builder.AddSymbol("one symbol record");
    else
        builder.Append(std::string("a setup program's payload"));
    builder.SetSignature(std::string(0x30, '\xAB'));
    return builder.Build(at);
}

// A signature at the end is cut off with a warning; COFF symbols appended
// behind the sections keep their bytes and move with the grown section.
TEST(ResourceTree, DropsTheSignatureAndKeepsTheSymbols)
{
    TestImageLayout at;
    const std::vector<BYTE> image = SignedImage(true, at);
    std::vector<ResourceEntry> entries = kSorted;
    entries[0].data.assign(0x1000, 'y');
    RebuildResult result;
    ASSERT_EQ(1, RebuildOf(image.data(), static_cast<DWORD>(image.size()), entries, result))
        << result.sReason;
    const std::vector<BYTE>& out = result.image;
    EXPECT_TRUE(SameEntries(Read(out), entries));
    ASSERT_FALSE(result.warnings.empty());
    EXPECT_NE(std::string::npos, result.warnings[0].find("signature"));
    EXPECT_EQ(0u, GetLe(out, kDirectory + 32) | GetLe(out, kDirectory + 36));
    DWORD dwSymbols = GetLe(out, kSymbolTable);
    EXPECT_EQ(Align(kRsrc + GetLe(out, kDirectory + 20), 0x200), dwSymbols);
    const DWORD cbSymbols = at.dwAppended - at.dwSymbols;
    ASSERT_GE(out.size(), dwSymbols + cbSymbols);
    EXPECT_EQ(0, std::memcmp(&out[dwSymbols], &image[at.dwSymbols], cbSymbols));
    std::vector<BYTE> signature(0x30, 0xAB);
    EXPECT_EQ(out.end(), std::search(out.begin(), out.end(), signature.begin(), signature.end()));
}

// Other appended data (a setup program's payload) makes the rebuild refuse.
TEST(ResourceTree, RefusesOtherAppendedData)
{
    TestImageLayout at;
    const std::vector<BYTE> image = SignedImage(false, at);
    std::vector<ResourceEntry> entries = kSorted;
    entries[0].data.assign(0x1000, 'y');
    RebuildResult result;
    EXPECT_EQ(0, RebuildOf(image.data(), static_cast<DWORD>(image.size()), entries, result));
    EXPECT_TRUE(result.image.empty());
    EXPECT_NE(std::string::npos, result.sReason.find("appended")) << result.sReason;
}

struct AloneCase
{
    const char* szName;
    std::function<void(std::vector<BYTE>&)> fnChange;
    bool fInPlace;
};

void CheckAlone(const AloneCase& c)
{
    SCOPED_TRACE(c.szName);
    std::vector<BYTE> image = MakeImage(kSorted, false);
    c.fnChange(image);
    RebuildResult result;
    ASSERT_EQ(1, RebuildOf(image.data(), static_cast<DWORD>(image.size()), kSorted, result))
        << result.sReason;
    EXPECT_EQ(c.fInPlace ? 2u : 3u, GetLe(result.image, kSections, 2));
    EXPECT_TRUE(SameEntries(Read(result.image), kSorted));
    if (!c.fInPlace)
    {
        EXPECT_EQ(0, std::memcmp(&result.image[kRsrc], &image[kRsrc], image.size() - kRsrc));
        EXPECT_EQ(0, std::memcmp(&result.image[kSectionTable + 40], ".rsrc0\0", 8));
        EXPECT_EQ(0, std::memcmp(&result.image[kSectionTable + 80], ".rsrc\0\0", 8));
    }
}

// .rsrc is last, but something else points into it: then the rebuild leaves
// it as it is and adds a section. Relocation blocks whose sizes lead back to
// an earlier block must not keep the check going round.
TEST(ResourceTree, RebuildsInPlaceOnlyWhatHoldsResourcesAlone)
{
    typedef std::vector<BYTE> Bytes;
    // Relocations and debug data in .text's raw data, at RVA 0x1000.
    const AloneCase kCases[] = {
        {"resources alone", [](Bytes&) {}, true},
        {"entry point in .rsrc", [](Bytes& b) { PutLe(b, kOptional + 16, kRsrcRva + 0x10); }, false},
        {"relocations for a page of .rsrc",
         [](Bytes& b) {
             PutAll(b, {kDirectory + 40, 0x1000, kDirectory + 44, 12, kText, kRsrcRva, kText + 4, 12});
         },
         false},
        {"relocation blocks that lead back",
         [](Bytes& b) {
             PutAll(b, {kDirectory + 40, 0x1000, kDirectory + 44, 16, kText, 0x1000, kText + 4, 8, kText + 8,
                        0x1000, kText + 12, 0xFFFFFFF8});
         },
         true},
        {"debug data in .rsrc", // a directory entry with its size and file offset
         [](Bytes& b) {
             PutAll(b, {kDirectory + 48, 0x1000, kDirectory + 52, 28, kText + 16, 0x20, kText + 24,
                        kRsrc + 0x100});
         },
         false},
        {"COFF symbols in .rsrc", [](Bytes& b) { PutLe(b, kSymbolTable, kRsrc + 0x180); }, false},
    };
    for (const AloneCase& c : kCases)
        CheckAlone(c);
}
