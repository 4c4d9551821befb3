// The profile store on arbitrary file bytes followed by a sequence of reads and
// writes decoded from the input. Besides staying inside its buffers, the store
// must keep properties that hold for the real functions too:
// - the parsed copy never disagrees with the disk: at a check (an operation of
//   the sequence, and the end of every input) the probe reads give the same
//   results from the cache as after DropCache;
// - a value read with a small buffer is a prefix of the value read whole;
// - a value of letters and digits written under a section and key of letters
//   and digits reads back exactly.
//
// Input: a flags byte (no file at the start, or its bytes as UTF-16 text, with
// an odd byte at the end), the file's length (two bytes, little-endian), its
// bytes, then the operations.
#include "port/native_path.h"
#include "port/profile_store.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
typedef std::basic_string<WCHAR> WString;

const size_t kBigBuffer = 8192;
const size_t kProbes = 3;
const uint8_t kFileAbsent = 1, kFileUtf16 = 2, kFileOddByte = 4;
const int kSentinelByte = 0xA5; // what a read left unwritten shows

const WCHAR* const kSections[16] = {W("Config"), W("001"),  W("002"),  W("sec"),    W("SEC"), W(" sec "),
                                    W(""),       W("a b"),  W("名字"), W("[x]"),    W("k=v"), W(";c"),
                                    W("Sec2"),   W("sect"), W("0x1"),  W("Config ")};
const WCHAR* const kKeys[16] = {W("EN"), W("CN"),   W("X86"), W("key"), W("KEY"), W(" key "),
                                W(""),   W("k"),    W("a=b"), W(";k"),  W("名"),  W("FILE"),
                                W("1"),  W("Key2"), W("[k]"), W("x y")};
const WCHAR* const kValues[16] = {
    W("1"),  W("0"),     W("plain"), W("\"quoted\""), W("'q'"), W("\""), W("  spaced  "),    W(""),
    W("值"), W("a\\nb"), W("0x1F"),  W("="),          W("[h]"), W(";c"), W("\"a\" b \"c\""), W("-12")};
// Names and values with line breaks in them: written, they put headers and keys
// of their own into the file, inside a section as well as at the end.
const WCHAR* const kBreaking[8] = {
    W("v\r\n[sec]\r\nkey=1"), W("\n[SEC]"),    W("a\rb"), W("x\n[Config]\nEN=2"),
    W("\r\n[002]\r\n"),       W("k\n;c\n[x]"), W("\n\n"), W("[sec]\rkey")};
const char kPlain[] = "abcXYZ019";

struct Input
{
    const uint8_t* p;
    size_t left;
    uint8_t Next() { return left > 0 ? (--left, *p++) : 0; }
};

void Fail(const char* what)
{
    std::fprintf(stderr, "profile store: %s\n", what);
    std::abort();
}

struct Files
{
    std::string dir;
    std::string native;
    WString file;
    std::string fileA;
};

const char kFolderPrefix[] = "pivra-fuzz-";

// Folders left by runs that ended in a crash, named by a process that is gone.
void SweepFolders(const std::filesystem::path& base)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec))
    {
        std::string name = entry.path().filename().string();
        if (name.rfind(kFolderPrefix, 0) != 0)
            continue;
        long pid = std::strtol(name.c_str() + sizeof(kFolderPrefix) - 1, nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove_all(entry.path(), ec);
    }
}

// One folder per process, on a memory file system where there is one: every
// write of the store flushes. Never destroyed, so that the exit handler that
// removes the folder can still name it.
const Files& TheFiles()
{
    static const Files* s_files = [] {
        Files* files = new Files;
        std::filesystem::path base =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path();
        SweepFolders(base);
        std::filesystem::path dir = base / (kFolderPrefix + std::to_string(getpid()));
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        if (!std::filesystem::create_directory(dir, ec))
            Fail("no temporary folder");
        files->dir = dir.string();
        files->native = files->dir + "/fuzz.ini";
        files->fileA = files->native;
        for (char& c : files->fileA)
            if (c == '/')
                c = '\\';
        files->file = Utf8ToUtf16(files->fileA);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(TheFiles().dir, ec);
        });
        return files;
    }();
    return *s_files;
}

// Bytes as the file holds them: as given, or as UTF-16LE text behind FF FE, each
// byte one unit (those of 0x80 and above CJK ideographs), with or without one
// odd byte at the end.
std::string FileBytes(const uint8_t* p, size_t cb, uint8_t flags)
{
    if ((flags & kFileUtf16) == 0)
        return std::string(reinterpret_cast<const char*>(p), cb);
    std::string bytes("\xFF\xFE");
    for (size_t i = 0; i < cb; ++i)
    {
        unsigned unit = p[i] < 0x80 ? p[i] : 0x4E00 + p[i];
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    if (flags & kFileOddByte)
        bytes += 'X';
    return bytes;
}

void PutFile(const std::string& native, const std::string& bytes, bool absent)
{
    std::error_code ec;
    std::filesystem::remove(native, ec);
    if (absent)
        return;
    int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        Fail("cannot lay out the file");
    close(fd);
}

WString Arg(Input& in, const WCHAR* const* vocabulary)
{
    uint8_t b = in.Next();
    if (b >= 0xE8 && b < 0xF0)
        return kBreaking[b - 0xE8];
    if (b < 0xF0)
        return vocabulary[b % 16];
    WString raw;
    for (size_t n = in.Next() % 12; n > 0; --n)
    {
        WCHAR c = static_cast<WCHAR>(in.Next() | in.Next() << 8);
        raw += c != 0 ? c : WCHAR('z');
    }
    return raw;
}

std::string Narrow(const WString& ws)
{
    std::string s;
    for (WCHAR c : ws)
        s += c < 0x80 ? static_cast<char>(c) : '?';
    return s;
}

WString PlainName(Input& in, size_t minLength)
{
    WString name;
    for (size_t n = minLength + in.Next() % 6; n > 0; --n)
        name += static_cast<WCHAR>(kPlain[in.Next() % (sizeof(kPlain) - 1)]);
    return name;
}

DWORD BufferSize(Input& in)
{
    static const DWORD kLarge[4] = {kBigBuffer, 2048, 100, 20};
    uint8_t b = in.Next();
    return b < 0x80 ? b % 40 + 1 : kLarge[b & 3];
}

// Everything a read left in a buffer of exactly its size, and its result.
struct Reading
{
    DWORD dwResult = 0;
    std::vector<WCHAR> buffer;
    bool operator==(const Reading& o) const { return dwResult == o.dwResult && buffer == o.buffer; }
};

template <typename Read> Reading Take(DWORD dwSize, Read read)
{
    Reading r;
    WCHAR* p = new WCHAR[dwSize];
    std::memset(p, kSentinelByte, dwSize * sizeof(WCHAR));
    r.dwResult = read(p, dwSize);
    r.buffer.assign(p, p + dwSize);
    delete[] p;
    return r;
}

struct Probe
{
    WString section, key;
};

std::vector<Reading> ReadProbes(const std::vector<Probe>& probes, const WString& file)
{
    std::vector<Reading> readings;
    const WCHAR* wsFile = file.c_str();
    readings.push_back(Take(kBigBuffer, [&](LPWSTR p, DWORD n) {
        return profile_store::GetString(nullptr, nullptr, W(""), p, n, wsFile);
    }));
    for (const Probe& probe : probes)
    {
        const WCHAR* wsSection = probe.section.c_str();
        readings.push_back(Take(kBigBuffer, [&](LPWSTR p, DWORD n) {
            return profile_store::GetString(wsSection, probe.key.c_str(), W("-"), p, n, wsFile);
        }));
        readings.push_back(Take(kBigBuffer, [&](LPWSTR p, DWORD n) {
            return profile_store::GetString(wsSection, nullptr, W(""), p, n, wsFile);
        }));
        readings.push_back(Take(kBigBuffer, [&](LPWSTR p, DWORD n) {
            return profile_store::GetSection(wsSection, p, n, wsFile);
        }));
        Reading number;
        number.dwResult = profile_store::GetInt(wsSection, probe.key.c_str(), 7, wsFile);
        readings.push_back(number);
    }
    return readings;
}

void CheckCacheAgainstDisk(const std::vector<Probe>& probes, const WString& file)
{
    std::vector<Reading> cached = ReadProbes(probes, file);
    profile_store::DropCache();
    std::vector<Reading> fresh = ReadProbes(probes, file);
    for (size_t i = 0; i < cached.size(); ++i)
        if (!(fresh[i] == cached[i]))
        {
            // Reading 0 lists the sections; then four per probe: value, key list, section, number.
            std::fprintf(stderr, "reading %zu: %u from the cache, %u from the disk\n", i,
                         static_cast<unsigned>(cached[i].dwResult), static_cast<unsigned>(fresh[i].dwResult));
            Fail("the parsed copy disagrees with the file on disk");
        }
}

void ReadValue(Input& in, const WString& section, const WString& key, const WString& def, const WString& file)
{
    DWORD dwSize = BufferSize(in);
    Reading small = Take(dwSize, [&](LPWSTR p, DWORD n) {
        return profile_store::GetString(section.c_str(), key.c_str(), def.c_str(), p, n, file.c_str());
    });
    Reading whole = Take(kBigBuffer, [&](LPWSTR p, DWORD n) {
        return profile_store::GetString(section.c_str(), key.c_str(), def.c_str(), p, n, file.c_str());
    });
    if (small.dwResult >= dwSize || small.buffer[small.dwResult] != 0 || whole.dwResult >= kBigBuffer)
        Fail("a value read is not terminated inside its buffer");
    if (small.dwResult > whole.dwResult ||
        !std::equal(small.buffer.begin(), small.buffer.begin() + small.dwResult, whole.buffer.begin()))
        Fail("a value read with a small buffer is no prefix of the whole value");
}

void WritePlain(Input& in, const WString& file)
{
    WString section = PlainName(in, 1), key = PlainName(in, 1), value = PlainName(in, 0);
    profile_store::WriteString(section.c_str(), key.c_str(), value.c_str(), file.c_str());
    Reading r = Take(64, [&](LPWSTR p, DWORD n) {
        return profile_store::GetString(section.c_str(), key.c_str(), W("default"), p, n, file.c_str());
    });
    if (r.dwResult != value.size() || WString(r.buffer.data()) != value)
        Fail("a plain value written does not read back");
}

// key=value entries and bare names, each zero-terminated, closed by one more zero.
WString SectionList(Input& in)
{
    WString list;
    for (size_t n = in.Next() % 4; n > 0; --n)
    {
        list += Arg(in, kKeys);
        if (in.Next() % 4 != 0)
            list += W("=") + Arg(in, kValues);
        list += WCHAR(0);
    }
    list += WCHAR(0);
    return list;
}

void RunOperation(Input& in, std::vector<Probe>& probes, const WString& file)
{
    const WCHAR* wsFile = file.c_str();
    uint8_t op = in.Next() % 14;
    WString section = Arg(in, kSections), key = Arg(in, kKeys);
    probes[op % kProbes] = Probe{section, key};
    switch (op)
    {
    case 0:
        ReadValue(in, section, key, Arg(in, kValues), file);
        break;
    case 1: {
        WString def = Arg(in, kValues);
        Take(BufferSize(in), [&](LPWSTR p, DWORD n) {
            return profile_store::GetString(section.c_str(), nullptr, def.c_str(), p, n, wsFile);
        });
        break;
    }
    case 2:
        Take(BufferSize(in), [&](LPWSTR p, DWORD n) {
            return profile_store::GetString(nullptr, nullptr, W(""), p, n, wsFile);
        });
        break;
    case 3: {
        std::string sectionA = Narrow(section), keyA = Narrow(key), defA = Narrow(Arg(in, kValues));
        DWORD dwSize = BufferSize(in);
        char* p = new char[dwSize];
        DWORD cb = profile_store::GetStringA(sectionA.c_str(), keyA.c_str(), defA.c_str(), p, dwSize,
                                             TheFiles().fileA.c_str());
        if (cb >= dwSize || p[cb] != 0)
            Fail("an ANSI value read is not terminated inside its buffer");
        delete[] p;
        break;
    }
    case 4:
        profile_store::GetInt(section.c_str(), key.c_str(), static_cast<int8_t>(in.Next()), wsFile);
        break;
    case 5:
        Take(BufferSize(in),
             [&](LPWSTR p, DWORD n) { return profile_store::GetSection(section.c_str(), p, n, wsFile); });
        break;
    case 6:
        profile_store::WriteString(section.c_str(), key.c_str(), Arg(in, kValues).c_str(), wsFile);
        break;
    case 7:
        profile_store::WriteString(section.c_str(), key.c_str(), nullptr, wsFile);
        break;
    case 8:
        profile_store::WriteString(section.c_str(), nullptr, nullptr, wsFile);
        break;
    case 9:
        profile_store::WriteSection(section.c_str(), SectionList(in).c_str(), wsFile);
        break;
    case 10:
        profile_store::WriteSection(section.c_str(), nullptr, wsFile);
        break;
    case 11:
        CheckCacheAgainstDisk(probes, file);
        break;
    case 12:
        profile_store::DropCache();
        break;
    default:
        WritePlain(in, file);
        break;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Files& files = TheFiles();
    Input in{data, size};
    uint8_t flags = in.Next();
    size_t cbFile = in.Next();
    cbFile |= static_cast<size_t>(in.Next()) << 8;
    if (cbFile > in.left)
        cbFile = in.left;
    // A file laid out again may keep size, time and identity: start cold.
    profile_store::DropCache();
    PutFile(files.native, FileBytes(in.p, cbFile, flags), (flags & kFileAbsent) != 0);
    in.p += cbFile;
    in.left -= cbFile;

    std::vector<Probe> probes(kProbes, Probe{W("sec"), W("key")});
    for (size_t n = 0; in.left > 0 && n < 64; ++n)
        RunOperation(in, probes, files.file);
    CheckCacheAgainstDisk(probes, files.file);
    return 0;
}
