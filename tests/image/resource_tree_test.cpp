// The resource tree read into entries, written back in the loader's order, and
// rebuilt into images made here byte by byte: .text, .rsrc and, when asked, a
// .reloc behind it, appended data and a signature.
#include "image/image_map.h"
#include "image/image_rebuild.h"
#include "pe/pe_format.h"
#include "support/image_reads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace
{
const DWORD kOptional = 0x58;
const DWORD kSectionTable = 0x138;
const DWORD kRsrcRva = 0x2000;
const DWORD kRsrc = 0x400;
const DWORD kChecksumField = kOptional + 64;
const DWORD kSizeOfImageField = kOptional + 56;
const DWORD kDirectory = kOptional + 96;

void Put(std::vector<BYTE>& b, DWORD dwAt, DWORD v, UINT cb = 4)
{
    for (UINT i = 0; i < cb; ++i)
        b[dwAt + i] = static_cast<BYTE>(v >> 8 * i);
}
DWORD Get32(const std::vector<BYTE>& b, DWORD dwAt)
{
    return b[dwAt] | b[dwAt + 1] << 8 | b[dwAt + 2] << 16 | static_cast<DWORD>(b[dwAt + 3]) << 24;
}
DWORD Align(DWORD dw, DWORD dwAlignment)
{
    return (dw + dwAlignment - 1) & ~(dwAlignment - 1);
}
// Four-byte fields given as offset, value, offset, value..., written in order.
void PutAll(std::vector<BYTE>& b, std::initializer_list<DWORD> fields)
{
    for (const DWORD* p = fields.begin(); p + 1 < fields.end(); p += 2)
        Put(b, p[0], p[1]);
}
void PutSection(std::vector<BYTE>& b, UINT i, const char* szName, DWORD dwRva, DWORD cbVirtual, DWORD dwRaw,
                DWORD cbRaw, DWORD dwFlags)
{
    DWORD dwAt = kSectionTable + i * 40;
    std::memcpy(&b[dwAt], szName, std::strlen(szName));
    PutAll(b,
           {dwAt + 8, cbVirtual, dwAt + 12, dwRva, dwAt + 16, cbRaw, dwAt + 20, dwRaw, dwAt + 36, dwFlags});
}

// A 32-bit image: .text at 0x1000, the tree as .rsrc at 0x2000, and .reloc
// behind it when fRelocAfter.
std::vector<BYTE> MakeImage(const std::vector<BYTE>& tree, bool fRelocAfter)
{
    DWORD cbTree = static_cast<DWORD>(tree.size()), cbRsrcRaw = Align(cbTree, 0x200);
    DWORD dwRelocRva = kRsrcRva + Align(cbTree, 0x1000), dwReloc = kRsrc + cbRsrcRaw;
    std::vector<BYTE> b(dwReloc + (fRelocAfter ? 0x200 : 0), 0);
    DWORD dwMachineAndSections = 0x014C | (fRelocAfter ? 3 : 2) << 16;
    DWORD cbImage = dwRelocRva + (fRelocAfter ? 0x1000 : 0);
    // MZ, e_lfanew, PE, machine and section count, optional header size; magic,
    // entry point, section and file alignment, image and header size,
    // checksum, directory count; resource directory.
    PutAll(b, {0, 0x5A4D, 0x3C, 0x40, 0x40, 0x4550, 0x44, dwMachineAndSections, 0x54, 0xE0});
    PutAll(b, {kOptional, 0x10B, kOptional + 16, 0x1000, kOptional + 32, 0x1000, kOptional + 36, 0x200});
    PutAll(b, {kSizeOfImageField, cbImage, kOptional + 60, 0x200, kChecksumField, 1, kOptional + 92, 16});
    PutAll(b, {kDirectory + 16, kRsrcRva, kDirectory + 20, cbTree});
    PutSection(b, 0, ".text", 0x1000, 0x200, 0x200, 0x200, 0x60000020);
    std::memset(&b[0x200], 0xCC, 0x200);
    PutSection(b, 1, ".rsrc", kRsrcRva, cbTree, kRsrc, cbRsrcRaw, 0x40000040);
    std::memcpy(&b[kRsrc], tree.data(), tree.size());
    if (fRelocAfter)
    {
        PutSection(b, 2, ".reloc", dwRelocRva, 12, dwReloc, 0x200, 0x42000040);
        PutAll(b, {kDirectory + 40, dwRelocRva, kDirectory + 44, 12, dwReloc, 0x1000, dwReloc + 4, 12,
                   dwReloc + 8, 0x3000});
    }
    return b;
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

// The offset within .rsrc of the first data entry, or of the language
// directory above it, by the first entry of each level.
DWORD FirstEntryBelow(const std::vector<BYTE>& b, UINT cLevels)
{
    DWORD dwAt = 0;
    for (UINT i = 0; i < cLevels; ++i)
        dwAt = Get32(b, kRsrc + dwAt + 20) & 0x7FFFFFFF;
    return dwAt;
}

std::vector<BYTE> Section(const std::vector<ResourceEntry>& entries)
{
    std::vector<BYTE> section;
    WriteResourceSection(entries, kRsrcRva, section);
    return section;
}

// COFF symbols appended (one record, an empty string table) and, in the last
// bytes of .text, a debug directory entry whose data lies at file offset dwData.
const DWORD kDebugEntry = 0x400 - 28;
void AddSymbolsAndDebug(std::vector<BYTE>& b, DWORD dwData)
{
    DWORD dwSymbols = static_cast<DWORD>(b.size());
    b.resize(dwSymbols + 18 + 4, 0);
    std::memcpy(&b[dwSymbols], "symbol", 6);
    std::memset(&b[kDebugEntry], 0, 28);
    PutAll(b, {0x4C, dwSymbols, 0x50, 1, dwSymbols + 18, 4, kDirectory + 48, 0x1000 + kDebugEntry - 0x200,
               kDirectory + 52, 28, kDebugEntry + 16, 8, kDebugEntry + 24, dwData});
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
// .text) is read as such; the writer puts any order into the loader's, aligns
// data to 4, and what it writes reads back as the same entries.
TEST(ResourceTree, ReadsHandBuiltTreeAndWritesLoaderOrder)
{
    std::vector<BYTE> tree(0x100, 0);
    auto PutDwords = [&tree](DWORD dwAt, std::initializer_list<DWORD> dwords) {
        for (DWORD dw : dwords)
        {
            Put(tree, dwAt, dw);
            dwAt += 4;
        }
    };
    PutDwords(0x00, {0, 0, 0, 1 << 16, 4, 0x80000018});               // root: type 4, its names at 0x18
    PutDwords(0x18, {0, 0, 0, 1 << 16, 1, 0x80000030});               // name 1, its languages at 0x30
    PutDwords(0x30, {0, 0, 0, 2 << 16, 0x409, 0x50, 0x804, 0x60});    // data entries at 0x50 and 0x60
    PutDwords(0x50, {kRsrcRva + 0x80, 3, 1252, 0, 0x1000 + 0x10, 2}); // "abc" in .rsrc; 2 bytes of .text
    std::memcpy(&tree[0x80], "abc", 3);
    ASSERT_TRUE(SameEntries(Read(MakeImage(tree, false)),
                            {Entry(Id(4), Id(1), 0x409, "abc"), {Id(4), Id(1), 0x804, 0, {0xCC, 0xCC}}}));

    std::vector<ResourceEntry> scrambled = {kSorted[6], kSorted[3], kSorted[2], kSorted[7],
                                            kSorted[0], kSorted[5], kSorted[4], kSorted[1]};
    scrambled.push_back(Entry(Id(4), Id(1), 0x804, "a duplicate: the first wins"));
    std::vector<BYTE> section = Section(scrambled);
    std::vector<BYTE> rebuilt = MakeImage(section, false);
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

// The tree goes where the old one was when it fits the address space up to
// the next section (or .rsrc is last), else into a new last section named
// .rsrc, the old one renamed with its raw data dropped and its address range
// kept. What lies behind the old raw data (.reloc, the debug data there, the
// COFF symbols) moves as one with the offsets that point to it; the file is no
// larger than the new tree needs, and no other byte of the old image changes.
TEST(ResourceTree, RebuildsInPlaceOrIntoNewSection)
{
    const struct
    {
        const char* szName;
        bool fRelocAfter;
        size_t cbOld, cbNew; // one entry's data before and after
        bool fNew;
    } kCases[] = {
        {"last, grown", false, 0, 0x900, false},
        {".reloc behind, grown within the room", true, 0, 0x900, false},
        {".reloc behind, shrunk", true, 0x1800, 0, false},
        {".reloc behind, grown past it", true, 0, 0x1800, true},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.szName);
        std::vector<BYTE> image = MakeImage(Section(WithData(c.cbOld)), c.fRelocAfter);
        const DWORD cbOldRaw = Get32(image, kSectionTable + 40 + 16), dwTail = kRsrc + cbOldRaw;
        const DWORD dwSymbols = static_cast<DWORD>(image.size()), dwData = dwTail + 0x100;
        AddSymbolsAndDebug(image, c.fRelocAfter ? dwData : dwSymbols + 18);
        std::vector<ResourceEntry> entries = WithData(c.cbNew);
        RebuildResult result;
        ASSERT_EQ(1, RebuildOf(image.data(), static_cast<DWORD>(image.size()), entries, result))
            << result.sReason;
        const std::vector<BYTE>& out = result.image;
        EXPECT_TRUE(SameEntries(Read(out), entries));
        const DWORD cSections = 2 + c.fRelocAfter + c.fNew,
                    dwHeader = kSectionTable + (c.fNew ? cSections - 1 : 1) * 40;
        EXPECT_EQ(cSections, out[0x46] | out[0x47] << 8u);
        EXPECT_EQ(0, std::memcmp(&out[dwHeader], ".rsrc\0\0", 8));
        DWORD cbVirtual = Get32(out, dwHeader + 8), dwRva = Get32(out, dwHeader + 12);
        DWORD cbRaw = Get32(out, dwHeader + 16), dwRaw = Get32(out, dwHeader + 20);
        EXPECT_EQ(c.fNew ? 0x4000u : kRsrcRva, dwRva);
        EXPECT_EQ(Get32(out, kDirectory + 16), dwRva);
        EXPECT_EQ(Get32(out, kDirectory + 20), cbVirtual);
        EXPECT_EQ(Align(cbVirtual, 0x200), cbRaw);
        EXPECT_EQ(c.fRelocAfter && !c.fNew ? Get32(image, kSizeOfImageField)
                                           : Align(dwRva + cbVirtual, 0x1000),
                  Get32(out, kSizeOfImageField));
        EXPECT_NE(1u, Get32(out, kChecksumField));
        EXPECT_EQ(0x40000040u, Get32(out, dwHeader + 36));
        if (c.fNew)
        {
            const BYTE abDropped[24] = {'.', 'r', 's', 'r', 'c', '0', 0, 0};
            std::vector<BYTE> expected(abDropped, abDropped + 24);
            PutAll(expected, {8, Get32(image, kSectionTable + 48), 12, kRsrcRva});
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
        EXPECT_EQ(dwSymbols + dwShift, Get32(out, 0x4C));
        EXPECT_EQ(Get32(image, kDebugEntry + 24) + dwShift, Get32(out, kDebugEntry + 24));
        if (c.fRelocAfter)
        {
            EXPECT_EQ(dwTail + dwShift, Get32(out, kSectionTable + 80 + 20));
        }
        EXPECT_EQ(0, std::memcmp(&out[0x200], &image[0x200], kDebugEntry + 24 - 0x200));
        EXPECT_EQ(0, std::memcmp(&out[0], &image[0], 0x46));
        EXPECT_EQ(0, std::memcmp(&out[0x48], &image[0x48], 4));
        EXPECT_EQ(0, std::memcmp(&out[kSectionTable], &image[kSectionTable], 40));
    }
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
        // Room in the headers for the table: the raw data a page further on.
        std::vector<BYTE> image = MakeImage(Section(kSorted), true);
        image.insert(image.begin() + 0x200, 0x1000, 0);
        PutAll(image, {kOptional + 60, 0x1200});
        for (UINT i = 0; i < 3; ++i)
            Put(image, kSectionTable + i * 40 + 20, Get32(image, kSectionTable + i * 40 + 20) + 0x1000);
        for (UINT i = 3; i < c.cSections; ++i)
            PutSection(image, i, ".bss", 0x4000 + (i - 3) * 0x1000, 0x1000, 0, 0, 0xC0000080);
        Put(image, 0x46, c.cSections, 2);
        Put(image, kSizeOfImageField, 0x4000 + (c.cSections - 3) * 0x1000);
        RebuildResult result;
        std::vector<ResourceEntry> entries = WithData(c.cbNew);
        EXPECT_EQ(c.ok, RebuildOf(image.data(), static_cast<DWORD>(image.size()), entries, result));
        if (c.ok)
            EXPECT_EQ(96, result.image[0x46] | result.image[0x47] << 8);
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
        {"not a PE image", [](Bytes& b) { Put(b, 0x40, 0x4551); }, "no PE image"},
        {"directory count past the section", [](Bytes& b) { Put(b, kRsrc + 14, 0x4000, 2); }, "outside"},
        {"name offset past the section", [](Bytes& b) { Put(b, kRsrc + 16, 0x8000F000); }, "outside"},
        {"data past the file", [](Bytes& b) { Put(b, kRsrc + FirstEntryBelow(b, 3), 0x100000); },
         "outside the file"},
        {"a loop back to the root", [](Bytes& b) { Put(b, kRsrc + 20, 0x80000000); }, "loop"},
        {"data entry at the type level", [](Bytes& b) { Put(b, kRsrc + 20, 0xC0); },
         "above the language level"},
        {"directory at the language level",
         [](Bytes& b) { Put(b, kRsrc + FirstEntryBelow(b, 2) + 20, 0x80000000); }, "language level"},
        {"no room for a section header", // .rsrc shared with the entry point: a new section is needed
         [](Bytes& b) {
             Put(b, kOptional + 16, kRsrcRva + 0x10);
             b[kSectionTable + 3 * 40 + 39] = 1;
         },
         "no free room"},
        {"packer's section name", [](Bytes& b) { std::memcpy(&b[kSectionTable], "UPX0", 4); }, "packed"},
        {"resources in a section without raw data", [](Bytes& b) { Put(b, kSectionTable + 40 + 16, 0); },
         "outside the file"},
        {"resource directory longer than the raw data", [](Bytes& b) { Put(b, kDirectory + 20, 0x10000); },
         "packed"},
        {"section past the end of the file", [](Bytes& b) { Put(b, kSectionTable + 80 + 16, 0x10000); },
         "truncated"},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.szName);
        Bytes image = MakeImage(Section(kSorted), true);
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

// A signature at the end is cut off with a warning; COFF symbols appended
// behind the sections keep their offset and bytes; other appended data (a
// setup program's payload) makes the rebuild refuse.
TEST(ResourceTree, DropsSignatureKeepsSymbolsRefusesOtherAppendedData)
{
    for (bool fSymbols : {true, false})
    {
        SCOPED_TRACE(fSymbols ? "symbols" : "payload");
        std::vector<BYTE> image = MakeImage(Section(kSorted), false);
        DWORD dwOverlay = static_cast<DWORD>(image.size());
        const std::string sOverlay = std::string("one symbol record.") + '\4' + std::string(3, '\0');
        image.insert(image.end(), sOverlay.begin(), sOverlay.end());
        if (fSymbols)
            PutAll(image, {0x4C, dwOverlay, 0x50, 1});
        image.resize(Align(static_cast<DWORD>(image.size()), 8), 0);
        DWORD dwSignature = static_cast<DWORD>(image.size());
        image.resize(image.size() + 0x30, 0xAB);
        PutAll(image, {kDirectory + 32, dwSignature, kDirectory + 36, 0x30});

        std::vector<ResourceEntry> entries = kSorted;
        entries[0].data.assign(0x1000, 'y');
        RebuildResult result;
        int ok = RebuildOf(image.data(), static_cast<DWORD>(image.size()), entries, result);
        if (!fSymbols)
        {
            EXPECT_EQ(0, ok);
            EXPECT_NE(std::string::npos, result.sReason.find("appended")) << result.sReason;
            continue;
        }
        ASSERT_EQ(1, ok) << result.sReason;
        const std::vector<BYTE>& out = result.image;
        EXPECT_TRUE(SameEntries(Read(out), entries));
        ASSERT_FALSE(result.warnings.empty());
        EXPECT_NE(std::string::npos, result.warnings[0].find("signature"));
        EXPECT_EQ(0u, Get32(out, kDirectory + 32) | Get32(out, kDirectory + 36));
        // The symbols move with the grown section, and their pointer with them.
        DWORD dwSymbols = Get32(out, 0x4C);
        EXPECT_EQ(Align(kRsrc + Get32(out, kDirectory + 20), 0x200), dwSymbols);
        ASSERT_GE(out.size(), dwSymbols + sOverlay.size());
        EXPECT_EQ(0, std::memcmp(&out[dwSymbols], sOverlay.data(), sOverlay.size()));
        std::vector<BYTE> signature(0x30, 0xAB);
        EXPECT_EQ(out.end(), std::search(out.begin(), out.end(), signature.begin(), signature.end()));
    }
}

// .rsrc is last, but something else points into it: then the rebuild leaves
// it as it is and adds a section. Relocation blocks whose sizes lead back to
// an earlier block must not keep the check going round.
TEST(ResourceTree, RebuildsInPlaceOnlyWhatHoldsResourcesAlone)
{
    typedef std::vector<BYTE> Bytes;
    const DWORD kText = 0x200; // .text's raw data, at RVA 0x1000; relocations and debug data there
    const struct
    {
        const char* szName;
        std::function<void(Bytes&)> fnChange;
        bool fInPlace;
    } kCases[] = {
        {"resources alone", [](Bytes&) {}, true},
        {"entry point in .rsrc", [](Bytes& b) { Put(b, kOptional + 16, kRsrcRva + 0x10); }, false},
        {"relocations for a page of .rsrc",
         [&](Bytes& b) {
             PutAll(b, {kDirectory + 40, 0x1000, kDirectory + 44, 12, kText, kRsrcRva, kText + 4, 12});
         },
         false},
        {"relocation blocks that lead back",
         [&](Bytes& b) {
             PutAll(b, {kDirectory + 40, 0x1000, kDirectory + 44, 16, kText, 0x1000, kText + 4, 8, kText + 8,
                        0x1000, kText + 12, 0xFFFFFFF8});
         },
         true},
        {"debug data in .rsrc", // a directory entry with its size and file offset
         [&](Bytes& b) {
             PutAll(b, {kDirectory + 48, 0x1000, kDirectory + 52, 28, kText + 16, 0x20, kText + 24,
                        kRsrc + 0x100});
         },
         false},
        {"COFF symbols in .rsrc", [](Bytes& b) { Put(b, 0x44 + 8, kRsrc + 0x180); }, false},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.szName);
        Bytes image = MakeImage(Section(kSorted), false);
        c.fnChange(image);
        RebuildResult result;
        ASSERT_EQ(1, RebuildOf(image.data(), static_cast<DWORD>(image.size()), kSorted, result))
            << result.sReason;
        EXPECT_EQ(c.fInPlace ? 2 : 3, result.image[0x46]);
        EXPECT_TRUE(SameEntries(Read(result.image), kSorted));
        if (!c.fInPlace)
        {
            EXPECT_EQ(0, std::memcmp(&result.image[kRsrc], &image[kRsrc], image.size() - kRsrc));
            EXPECT_EQ(0, std::memcmp(&result.image[kSectionTable + 40], ".rsrc0\0", 8));
            EXPECT_EQ(0, std::memcmp(&result.image[kSectionTable + 80], ".rsrc\0\0", 8));
        }
    }
}
