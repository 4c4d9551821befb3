// Each resource format read by both of its sinks from one image: the map
// labels what lies before a fault and keeps the image, the texts refuse the
// resource with a reason that names it.
#include "image/image_map.h"
#include "image/resource_texts.h"
#include "image/resource_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace
{
const DWORD kRsrcRva = 0x1000;
const DWORD kRsrcRaw = 0x200;

void Put(std::vector<BYTE>& b, DWORD dwAt, DWORD v, UINT cb)
{
    for (UINT i = 0; i < cb; ++i)
        b[dwAt + i] = static_cast<BYTE>(v >> (8 * i));
}

// A 32-bit image whose only section holds the resources.
std::vector<BYTE> ImageOf(const std::vector<ResourceEntry>& entries)
{
    std::vector<BYTE> section;
    WriteResourceSection(entries, kRsrcRva, section);
    DWORD cbRaw = (static_cast<DWORD>(section.size()) + 0x1FF) & ~0x1FFu;
    std::vector<BYTE> b(kRsrcRaw + cbRaw, 0);
    const DWORD dwPe = 0x40, dwOpt = dwPe + 24, dwTable = dwOpt + 0xE0;
    Put(b, 0, 0x5A4D, 2);
    Put(b, 0x3C, dwPe, 4);
    Put(b, dwPe, 0x4550, 4);
    Put(b, dwPe + 4, 0x14C, 2); // i386
    Put(b, dwPe + 6, 1, 2);     // one section
    Put(b, dwPe + 20, 0xE0, 2); // optional header size
    Put(b, dwOpt, 0x10B, 2);    // PE32
    Put(b, dwOpt + 32, 0x1000, 4);
    Put(b, dwOpt + 36, 0x200, 4);
    Put(b, dwOpt + 56, kRsrcRva + ((cbRaw + 0xFFF) & ~0xFFFu), 4);
    Put(b, dwOpt + 60, kRsrcRaw, 4);
    Put(b, dwOpt + 92, 16, 4);
    Put(b, dwOpt + 96 + 2 * 8, kRsrcRva, 4);
    Put(b, dwOpt + 96 + 2 * 8 + 4, static_cast<DWORD>(section.size()), 4);
    std::memcpy(&b[dwTable], ".rsrc", 5);
    Put(b, dwTable + 8, static_cast<DWORD>(section.size()), 4);
    Put(b, dwTable + 12, kRsrcRva, 4);
    Put(b, dwTable + 16, cbRaw, 4);
    Put(b, dwTable + 20, kRsrcRaw, 4);
    Put(b, dwTable + 36, 0x40000040, 4);
    std::copy(section.begin(), section.end(), b.begin() + kRsrcRaw);
    return b;
}

std::vector<BYTE> Units(std::initializer_list<DWORD> units)
{
    std::vector<BYTE> b;
    for (DWORD w : units)
    {
        b.push_back(static_cast<BYTE>(w));
        b.push_back(static_cast<BYTE>(w >> 8));
    }
    return b;
}

std::vector<BYTE> operator+(std::vector<BYTE> a, const std::vector<BYTE>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A version node: length, value length, type, key, padding, value, children.
std::vector<BYTE> VersionNode(const char* szKey, const std::vector<BYTE>& value, WORD cbValue, WORD wType,
                              const std::vector<BYTE>& children, int iLengthDelta = 0)
{
    std::vector<BYTE> b(6, 0);
    for (const char* p = szKey; *p != 0; ++p)
        b = b + Units({static_cast<BYTE>(*p)});
    b = b + Units({0});
    b.resize((b.size() + 3) & ~size_t(3), 0);
    b = b + value;
    b.resize((b.size() + 3) & ~size_t(3), 0);
    b = b + children;
    Put(b, 0, static_cast<DWORD>(static_cast<int>(b.size()) + iLengthDelta), 2);
    Put(b, 2, cbValue, 2);
    Put(b, 4, wType, 2);
    return b;
}

std::vector<BYTE> StringNode(const char* szKey, const char* szValue)
{
    std::vector<BYTE> value;
    for (const char* p = szValue; *p != 0; ++p)
        value = value + Units({static_cast<BYTE>(*p)});
    value = value + Units({0});
    return VersionNode(szKey, value, static_cast<WORD>(value.size() / 2), 1, {});
}

std::vector<BYTE> StringFileInfo(const std::vector<BYTE>& strings, int iLengthDelta = 0)
{
    return VersionNode("StringFileInfo", {}, 0, 1, VersionNode("040904B0", {}, 0, 1, strings), iLengthDelta);
}

// A DIALOG (not EX) header with no menu, class or font, then its controls.
std::vector<BYTE> Dialog(WORD cControls, const char* szCaption, const std::vector<BYTE>& controls)
{
    std::vector<BYTE> b = Units({0, 0x8000, 0, 0, cControls, 0, 0, 100, 50, 0, 0});
    for (const char* p = szCaption; *p != 0; ++p)
        b = b + Units({static_cast<BYTE>(*p)});
    b = b + Units({0});
    b.resize((b.size() + 3) & ~size_t(3), 0);
    return b + controls;
}

// A DIALOG control: style, extended style, position, id, class ordinal, a
// named title, no creation data.
std::vector<BYTE> Control(DWORD dwStyle, WORD wId, WORD wClass, const char* szTitle)
{
    std::vector<BYTE> b = Units({dwStyle & 0xFFFF, dwStyle >> 16, 0, 0, 5, 5, 40, 10, wId, 0xFFFF, wClass});
    for (const char* p = szTitle; *p != 0; ++p)
        b = b + Units({static_cast<BYTE>(*p)});
    b = b + Units({0, 0});
    b.resize((b.size() + 3) & ~size_t(3), 0);
    return b;
}

bool HasLabel(const CImageMap& map, const std::string& sLabel, bool fText)
{
    for (const ImageSpan& span : map.Spans())
        if (span.sLabel == sLabel && span.fText == fText)
            return true;
    return false;
}

TEST(ResourceFormats, MalformedResourcesByBothSinks)
{
    const std::vector<BYTE> kVersionRoot =
        Units({0xFEEF04BD, 0xFEEF, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const struct
    {
        WORD wType;
        std::vector<BYTE> data;
        const char* szLastLabel; // of the map, before the fault
        bool fLastIsText;
        const char* szReason; // of the texts; nullptr: read whole
    } kCases[] = {
        // An item text without its terminator: the map labels what there is.
        {4, Units({0, 0, 0, 0x64, 'O', 'p'}), "MENU 1 en-US, item 0x0064, text", true,
         "MENU 1: a text at 0x0008 has no terminator"},
        // A version the texts do not know; the map reads it as a plain menu.
        {4, Units({2, 0, 0x80, 7, 'a', 0}), "MENU 1 en-US, item 0x0007, text", true,
         "MENU 1: the menu has an unknown version 2"},
        {4, Units({0, 0, 0x10, 'F', 0, 0, 0x65, 'x', 0}), "MENU 1 en-US, item 0x0065, text", true,
         "MENU 1: the menu ends before its last item"},
        // MENUEX: header, help id, then an item cut inside its fixed fields.
        {4, Units({1, 4, 0, 0, 0, 0, 0, 0, 0x66}), "MENU 1 en-US, help id", false,
         "MENU 1: the menu ends inside an item"},
        // Two controls announced, one there.
        {5, Dialog(2, "Hi", Control(0x50000000, 1, 0x80, "OK")),
         "DIALOG 1 en-US, control 0, creation data size", false,
         "DIALOG 1: the dialog ends inside control 1"},
        {5, Units({0, 0x8000, 0, 0, 0, 0}), nullptr, false, "DIALOG 1: the dialog header is cut short"},
        {6, Units({1, 'a', 5, 'b', 'c'}), "STRINGTABLE block 1 en-US, string 0x0001, length", false,
         "STRINGTABLE 1: string 0x0001 runs past the end of its block"},
        // StringFileInfo longer than the root: the map labels it cut to the root.
        {16, VersionNode("VS_VERSION_INFO", kVersionRoot, 52, 0, StringFileInfo(StringNode("A", "b"), 8)),
         "VERSIONINFO 1 en-US, StringFileInfo 040904B0, A, value", true,
         "VERSIONINFO 1: a version node at 0x005C lies outside its parent"},
        // A fault inside VarFileInfo, which the texts copy whole, is the map's alone.
        {16,
         VersionNode("VS_VERSION_INFO", kVersionRoot, 52, 0,
                     StringFileInfo(StringNode("A", "b")) +
                         VersionNode("VarFileInfo", {}, 0, 1, Units({2, 0, 0, 'T'}))),
         "VERSIONINFO 1 en-US, VarFileInfo, key", false, nullptr},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.szReason != nullptr ? c.szReason : c.szLastLabel);
        ResourceEntry entry = {{false, c.wType, {}}, {false, 1, {}}, 0x0409, 0, c.data};
        std::vector<BYTE> image = ImageOf({entry});
        CImageMap map;
        ASSERT_EQ(1, map.Load(image.data(), static_cast<DWORD>(image.size())));
        ASSERT_EQ(1u, map.Resources().size());
        if (c.szLastLabel != nullptr)
        {
            EXPECT_TRUE(HasLabel(map, c.szLastLabel, c.fLastIsText));
        }
        // Nothing of the resource is labelled beyond its data.
        DWORD dwDataEnd = map.Resources()[0].dwOffset + static_cast<DWORD>((c.data.size() + 3) & ~size_t(3));
        for (const ImageSpan& span : map.Spans())
        {
            bool fInside = span.kind != kByteResourceField && span.kind != kByteResourceText;
            EXPECT_TRUE(fInside || span.dwEnd <= dwDataEnd) << span.sLabel;
        }

        std::vector<ResourceText> texts = {{"kept", "", "", "", ""}};
        std::vector<BYTE> data = {1};
        std::string sList, sTranslate;
        EXPECT_EQ(c.szReason == nullptr ? 1 : 0, ListResourceTexts(entry, texts, sList));
        EXPECT_EQ(c.szReason == nullptr ? 1 : 0, TranslateResource(entry, {}, data, sTranslate));
        if (c.szReason == nullptr)
        {
            EXPECT_EQ(c.data, data);
            continue;
        }
        EXPECT_EQ(c.szReason, sList);
        EXPECT_EQ(c.szReason, sTranslate);
        EXPECT_EQ(1u, texts.size());
        EXPECT_TRUE(data.empty());
    }
}

// The title of a static that shows an icon, bitmap or metafile names that
// resource: a field to the map, no text to the list.
TEST(ResourceFormats, ImageStaticTitleNamesAResource)
{
    const DWORD kVisibleChild = 0x50000000, kStaticIcon = 0x03, kStaticBitmap = 0x0E;
    ResourceEntry entry = {{false, 5, {}},
                           {false, 7, {}},
                           0x0409,
                           0,
                           Dialog(3, "About",
                                  Control(kVisibleChild | kStaticIcon, 1, 0x82, "IDI_APP") +
                                      Control(kVisibleChild, 2, 0x82, "Hello") +
                                      Control(kVisibleChild | kStaticBitmap, 3, 0x82, "LOGO"))};
    std::vector<BYTE> image = ImageOf({entry});
    CImageMap map;
    ASSERT_EQ(1, map.Load(image.data(), static_cast<DWORD>(image.size())));
    EXPECT_TRUE(HasLabel(map, "DIALOG 7 en-US, control 0, image name", false));
    EXPECT_TRUE(HasLabel(map, "DIALOG 7 en-US, control 1, text", true));
    EXPECT_TRUE(HasLabel(map, "DIALOG 7 en-US, control 2, image name", false));
    EXPECT_FALSE(HasLabel(map, "DIALOG 7 en-US, control 0, text", true));

    std::vector<ResourceText> texts;
    std::string sReason;
    ASSERT_EQ(1, ListResourceTexts(entry, texts, sReason)) << sReason;
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ("DIALOG 7 / caption", texts[0].sContext);
    EXPECT_EQ("DIALOG 7 / control 1", texts[1].sContext);
    EXPECT_EQ("DIALOG 7 en-US, control 1 (STATIC, id 0x0002)", texts[1].sPlace);
    std::vector<BYTE> data;
    ASSERT_EQ(1, TranslateResource(entry, {{"DIALOG 7 / control 0", "x"}}, data, sReason)) << sReason;
    EXPECT_EQ(entry.data, data);
}
} // namespace
