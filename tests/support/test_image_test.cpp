// The builder's images as pefile reads them: every section, resource and the
// signature where the builder's rules put them.
#include "port/native_path.h"
#include "temp_dir.h"
#include "test_image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace
{
std::string Hex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes)
        s += std::string(1, kDigits[c >> 4]) + kDigits[c & 15];
    return s;
}

std::vector<BYTE> Bytes(const std::string& s)
{
    return std::vector<BYTE>(s.begin(), s.end());
}

std::string PefileSees(const TempDir& dir, const std::vector<BYTE>& image)
{
    const WString path = dir.Path(W("image.exe")), out = dir.Path(W("pefile.txt"));
    WriteBytes(path, std::string(image.begin(), image.end()));
    std::string command = "/usr/bin/python3 " PIVRA_IMAGE_ORACLE " " + NativePath(path.c_str()) + " > " +
                          NativePath(out.c_str());
    EXPECT_EQ(0, std::system(command.c_str())) << command;
    return ReadBytes(out);
}

TEST(TestImage, PefileReadsWhatTheBuilderLaysOut)
{
    TestImage image(true);
    image.AddSection(".text", kTestCodeSection, std::string(0x234, '\x90'));
    image.AddSection(".debug_info", kTestDiscardableSection, std::string("dbg"));
    image.AddResources({{u"abc", u"b", 0, Bytes("named"), 1252},
                        {u"abc", 7, 0x409, Bytes("")},
                        {4, 1, 0x409, Bytes(std::string(17, 'm'))},
                        {4, 1, 0x804, Bytes("zh"), 936},
                        {10, 1, 0x409, Bytes("rcdata")}});
    image.AddSymbol("a_long_symbol_name");
    image.Append("tail");
    image.SetSignature(std::string(0x30, '\xAB'));
    TempDir dir;
    // Headers of 0x1C0 bytes take 0x200; each section begins on the next page
    // and the next 0x200 bytes of the file; the long name is "/4". Behind the
    // sections at 0xA00: one symbol, the string table with both long names,
    // the appended bytes, then the signature on the next multiple of 8. The
    // tree: tables of 0xE0 bytes, 5 data entries, the names "abc" and "b",
    // then each resource's data on a multiple of 4, the last ending at 0x162.
    const std::string expected = "machine 0x8664 magic 0x20b\n"
                                 "section .text 0x1000 0x234 0x200 0x400\n"
                                 "section /4 0x2000 0x3 0x600 0x200\n"
                                 "section .rsrc 0x3000 0x162 0x800 0x200\n"
                                 "resource abc b 0x0 0x4e4 " +
                                 Hex("named") +
                                 "\n"
                                 "resource abc #7 0x409 0x0 \n"
                                 "resource #4 #1 0x409 0x0 " +
                                 Hex(std::string(17, 'm')) +
                                 "\n"
                                 "resource #4 #1 0x804 0x3a8 " +
                                 Hex("zh") +
                                 "\n"
                                 "resource #10 #1 0x409 0x0 " +
                                 Hex("rcdata") +
                                 "\n"
                                 "signature 0xa40 0x30\n";
    EXPECT_EQ(expected, PefileSees(dir, image.Build()));
}
} // namespace
