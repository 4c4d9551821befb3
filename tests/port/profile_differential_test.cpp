// Applies the same generated operations to kernel32 and to the portable store,
// each on its own copy of the same file, and compares every result.
//
// Wine stands in for Windows here, so the generator stays away from the inputs
// where Wine is known to behave differently from Windows (catalogue section 6)
// or misbehaves on its own; unit tests in profile_store_test.cpp pin the
// Windows behaviour there instead:
// - no file holding only a byte-order mark: Windows writes a CRLF after it
//   before a new section, Wine does not (F002, F016);
// - no UTF-8 or UTF-16BE byte-order marks, no NUL bytes (F142, F121);
// - every header has exactly one ']' (Wine takes the last one and drops
//   headers without one: F143);
// - no key lines before the first header and no section named "" (F144, F027);
// - name arguments are padded only with spaces and only for reads; written
//   names and values carry no outer blanks (Wine trims tabs too, keeps the
//   trailing blanks of a key and strips the leading ones of a value: F146,
//   F147);
// - no argument key starting with ';' (Wine finds comments by name: F145);
// - at most one "=value" line per section and no key "" written: Wine keeps
//   only the first entry with the empty name;
// - values shorter than 65,536 characters (F148), no flush calls (F150);
// - written text stays inside code page 936: Wine keeps the written Unicode
//   text in its cache, so a read after a lossy write would not show the '?';
// - no key list read into a 2-unit buffer (Wine copies the default there,
//   Windows returns 0: F076) and no section read into a 1-unit buffer (Wine
//   returns 0xFFFFFFFF);
// - no quoted value or default read into a buffer it fills exactly (one unit
//   more than its unquoted text): Wine drops its last character there, where
//   the documented result is the text cut to the buffer;
// - an A read is not cut inside Chinese text: Wine leaves a byte of the
//   buffer unwritten there;
// - final file bytes are compared only for files that start in the form Wine
//   writes (no blanks, comments or blank lines, CRLF ends), since Wine
//   rewrites the whole file on every change (F141); other files are compared
//   by content at the end of each sequence.
#include "kernel32_profile.h"
#include "port/profile_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const int kSequences = 420;
const int kOperationsPerSequence = 12;
const DWORD kGuard = 4;

const wchar_t* const kSections[] = {L"General",    L"Rules", L"\u4e2d\u6587\u8282",
                                    L"Patch Data", L"s1",    L"x.y"};
const wchar_t* const kKeys[] = {L"Name", L"Title", L"k1", L"\u503c", L"a b", L"Count", L"bare"};
const wchar_t* const kValues[] = {L"",
                                  L"v",
                                  L"value with  spaces",
                                  L"\"quoted\"",
                                  L"'single'",
                                  L"\"  padded  \"",
                                  L"\"mismatched'",
                                  L"'\"crossed'\"",
                                  L"\"\"",
                                  L"\u4e2d\u6587\u7ffb\u8bd1",
                                  L"x=y",
                                  L"a;b",
                                  L"#hash",
                                  L"12",
                                  L"-7",
                                  L"+3",
                                  L"0x1F",
                                  L"4294967297",
                                  L"42A",
                                  L"B42"};
const wchar_t* const kDefaults[] = {nullptr, L"", L"dflt", L"dflt  ", L"\"qd\"", L"  lead", L"\u4e2d"};

class Generator
{
  public:
    explicit Generator(unsigned seed) : m_rng(seed) {}
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(m_rng); }
    bool Chance(int percent) { return static_cast<int>(Pick(100)) < percent; }
    template <size_t N> std::wstring From(const wchar_t* const (&pool)[N]) { return pool[Pick(N)]; }

    // The same name in a random mix of upper and lower case.
    std::wstring Vary(std::wstring name)
    {
        for (wchar_t& c : name)
            if (Chance(30) && c < 0x80 && iswalpha(c))
                c = iswupper(c) ? towlower(c) : towupper(c);
        return name;
    }
    std::wstring Section() { return Chance(8) ? L"New" + std::to_wstring(Pick(3)) : Vary(From(kSections)); }
    std::wstring Key() { return Vary(From(kKeys)); }
    std::wstring ReadKey() { return Chance(4) ? std::wstring() : Key(); }
    std::wstring LongValue()
    {
        std::wstring value = L"v";
        size_t n = 40 + Pick(3000);
        while (value.size() < n)
            value += Chance(50) ? L"\u7ffb\u8bd1" : L" text";
        return value + L".";
    }
    std::wstring Value() { return Chance(8) ? LongValue() : From(kValues); }
    DWORD Size()
    {
        static const DWORD sizes[] = {1, 2, 3, 5, 8, 16, 64, 4096, 70000};
        return Chance(40) ? static_cast<DWORD>(1 + Pick(40)) : sizes[Pick(sizeof(sizes) / sizeof(sizes[0]))];
    }

  private:
    std::mt19937 m_rng;
};

std::string ToAnsi(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int cb = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
    std::string bytes(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0], cb, nullptr,
                        nullptr);
    return bytes;
}

// Escaped text for the failure log; long texts keep their start and length.
std::string Show(const std::wstring& text)
{
    std::ostringstream out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (i == 160)
        {
            out << "...(" << text.size() << " units)";
            break;
        }
        wchar_t c = text[i];
        if (c == 0)
            out << "\\0";
        else if (c == '\r')
            out << "\\r";
        else if (c == '\n')
            out << "\\n";
        else if (c == '\t')
            out << "\\t";
        else if (c >= 0x20 && c < 0x7F)
            out << static_cast<char>(c);
        else
            out << "\\u" << std::hex << static_cast<unsigned>(c) << std::dec;
    }
    return out.str();
}
// The bytes around the first difference of two files.
std::string ShowFirstDifference(const std::string& a, const std::string& b)
{
    size_t at =
        std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first - a.begin();
    size_t from = at > 40 ? at - 40 : 0;
    auto around = [&](const std::string& bytes) {
        std::wstring text;
        for (size_t i = from; i < bytes.size() && i < at + 80; ++i)
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
        return Show(text);
    };
    std::ostringstream out;
    out << "sizes " << a.size() << " and " << b.size() << ", first difference at byte " << at << ": ["
        << around(a) << "] vs [" << around(b) << "]";
    return out.str();
}
std::string ShowArg(const wchar_t* ws)
{
    return ws == nullptr ? "NULL" : "\"" + Show(ws) + "\"";
}

// An initial file: its text, whether Wine would write it back byte for byte.
struct InitialFile
{
    std::wstring text;
    bool canonical = true;
    bool unicode = false;
};

InitialFile MakeFile(Generator& gen)
{
    InitialFile file;
    file.canonical = gen.Chance(40);
    file.unicode = gen.Chance(35);
    bool messy = !file.canonical;
    auto blanks = [&] {
        return messy && gen.Chance(30) ? std::wstring(gen.Chance(50) ? L" " : L"\t ") : L"";
    };
    auto lineEnd = [&] {
        if (!messy)
            return std::wstring(L"\r\n");
        size_t k = gen.Pick(10);
        return std::wstring(k < 6 ? L"\r\n" : k < 8 ? L"\n" : L"\r");
    };
    if (messy && gen.Chance(30))
        file.text += L";leading comment" + lineEnd();
    size_t sections = 1 + gen.Pick(5);
    for (size_t s = 0; s < sections; ++s)
    {
        if (messy && gen.Chance(20))
            file.text += blanks() + lineEnd();
        file.text += blanks() + L"[" + blanks() + gen.Vary(gen.From(kSections)) + blanks() + L"]" + lineEnd();
        size_t lines = gen.Pick(7);
        bool emptyKey = false;
        for (size_t i = 0; i < lines; ++i)
        {
            size_t kind = gen.Pick(20);
            if (kind == 3 && emptyKey)
                kind = 4;
            if (messy && kind == 0)
                file.text += blanks() + L";" + gen.From(kKeys) + L"=" + gen.From(kValues) + lineEnd();
            else if (messy && kind == 1)
                file.text += lineEnd();
            else if (kind == 2)
                file.text += gen.Vary(gen.From(kKeys)) + lineEnd(); // a line without '='
            else if (kind == 3)
            {
                file.text += L"=" + gen.From(kValues) + lineEnd();
                emptyKey = true;
            }
            else
                file.text += blanks() + gen.Vary(gen.From(kKeys)) + blanks() + L"=" + blanks() + gen.Value() +
                             blanks() + lineEnd();
        }
    }
    if (messy && gen.Chance(20))
    {
        while (!file.text.empty() && (file.text.back() == '\r' || file.text.back() == '\n'))
            file.text.pop_back();
    }
    return file;
}

std::string FileBytes(const InitialFile& file)
{
    if (file.unicode)
        return std::string("\xFF\xFE", 2) + Utf16Bytes(file.text);
    return ToAnsi(file.text);
}

typedef ProfileApi Api;

// What one call returned: the return value and the whole buffer with its guard.
struct Outcome
{
    unsigned long ret = 0;
    std::wstring buffer;
    bool operator==(const Outcome& o) const { return ret == o.ret && buffer == o.buffer; }
};

std::wstring Text(const wchar_t* ws)
{
    return ws != nullptr ? ws : L"";
}

class Sequence
{
  public:
    Sequence(Generator& gen, const TempDir& dir, int index) : m_gen(gen)
    {
        // Fresh names for every sequence: Wine keeps parsed files and trusts its
        // copy of a file it has seen unless the file's time says otherwise.
        m_kernelFile = dir.Path(L"k" + std::to_wstring(index) + L".ini");
        m_storeFile = dir.Path(L"s" + std::to_wstring(index) + L".ini");
        m_initial = MakeFile(gen);
        std::string bytes = FileBytes(m_initial);
        WriteBytes(m_kernelFile, bytes);
        WriteBytes(m_storeFile, bytes);
        m_log << "file (" << (m_initial.unicode ? "UTF-16LE" : "ANSI")
              << (m_initial.canonical ? ", canonical" : "") << "): " << Show(m_initial.text) << "\n";
    }

    // Runs one operation on both sides; false at the first disagreement.
    bool Step()
    {
        size_t op = m_gen.Pick(100);
        if (op < 28)
            return GetStringW();
        if (op < 38)
            return GetStringA();
        if (op < 48)
            return GetInt();
        if (op < 62)
            return GetSection();
        if (op < 90)
            return WriteString();
        return WriteSection();
    }

    // Both files must hold the same sections with the same entries.
    bool SameContent()
    {
        Outcome names[2], sections[2];
        for (int side = 0; side < 2; ++side)
        {
            const Api& api = side == 0 ? kKernel32 : kStore;
            std::vector<wchar_t> buffer(1 << 20);
            names[side].ret = api.GetStringW(nullptr, nullptr, L"", buffer.data(), 1 << 20, File(side));
            names[side].buffer.assign(buffer.data(), names[side].ret);
            for (const wchar_t* p = buffer.data(); *p != 0; p += wcslen(p) + 1)
            {
                std::vector<wchar_t> section(1 << 20);
                DWORD ret = api.GetSection(p, section.data(), 1 << 20, File(side));
                sections[side].buffer += std::wstring(p) + L": " + std::wstring(section.data(), ret) + L"|";
            }
        }
        m_log << "final content\n";
        return Compare("section names", names[0], names[1]) && Compare("sections", sections[0], sections[1]);
    }

    std::string Log() const { return m_log.str(); }
    bool Canonical() const { return m_initial.canonical; }

  private:
    const wchar_t* File(int side) const { return side == 0 ? m_kernelFile.c_str() : m_storeFile.c_str(); }

    bool Compare(const char* what, const Outcome& kernel, const Outcome& store)
    {
        if (kernel == store)
            return true;
        m_log << "MISMATCH in " << what << ": kernel32 " << kernel.ret << " [" << Show(kernel.buffer)
              << "], store " << store.ret << " [" << Show(store.buffer) << "]\n";
        return false;
    }

    // A read argument may carry spaces around it: both sides ignore them.
    std::wstring Padded(const std::wstring& name) { return m_gen.Chance(10) ? L"  " + name + L" " : name; }

    // Wine writes two zeros into a 1-unit buffer and returns the default for a
    // 2-unit one where Windows returns 0 (F076); it also takes a list whose
    // first name is empty (a "=value" line) for an empty list and returns the
    // default over it.
    void SteerKeyList(std::wstring& section, DWORD& size)
    {
        size = std::max<DWORD>(size, 3);
        std::vector<wchar_t> names(1 << 20);
        DWORD ret = profile_store::GetString(section.c_str(), nullptr, L"x", names.data(), 1 << 20,
                                             m_storeFile.c_str());
        if (ret > 0 && names[0] == 0)
            section = L"Absent";
    }

    // Keeps a single value read away from a buffer its text fills exactly.
    void SteerExactFill(const std::wstring& section, const wchar_t* key, const wchar_t* def, DWORD& size)
    {
        std::vector<wchar_t> probe(70000);
        DWORD cch =
            profile_store::GetString(section.c_str(), key, def, probe.data(), 70000, m_storeFile.c_str());
        if (size == cch + 1)
            ++size;
    }

    bool GetStringW()
    {
        bool allSections = m_gen.Chance(5), allKeys = !allSections && m_gen.Chance(10);
        std::wstring section = Padded(m_gen.Section()), key = Padded(m_gen.ReadKey());
        const wchar_t* def = kDefaults[m_gen.Pick(sizeof(kDefaults) / sizeof(kDefaults[0]))];
        DWORD size = m_gen.Size();
        if (allKeys)
            SteerKeyList(section, size);
        if (!allSections)
            SteerExactFill(section, allKeys ? nullptr : key.c_str(), def, size);
        m_log << "GetPrivateProfileStringW(" << (allSections ? "NULL" : ShowArg(section.c_str())) << ", "
              << (allKeys || allSections ? "NULL" : ShowArg(key.c_str())) << ", " << ShowArg(def) << ", "
              << size << ")\n";
        Outcome out[2];
        for (int side = 0; side < 2; ++side)
        {
            std::vector<wchar_t> buffer(size + kGuard, L'#');
            const Api& api = side == 0 ? kKernel32 : kStore;
            out[side].ret = api.GetStringW(allSections ? nullptr : section.c_str(),
                                           allKeys || allSections ? nullptr : key.c_str(), def, buffer.data(),
                                           size, File(side));
            out[side].buffer.assign(buffer.begin(), buffer.end());
        }
        return Compare("GetPrivateProfileStringW", out[0], out[1]);
    }

    bool GetStringA()
    {
        bool allKeys = m_gen.Chance(10);
        std::wstring section = Padded(m_gen.Section()), key = Padded(m_gen.ReadKey());
        const wchar_t* def = kDefaults[m_gen.Pick(sizeof(kDefaults) / sizeof(kDefaults[0]))];
        DWORD size = m_gen.Size();
        if (allKeys)
            SteerKeyList(section, size);
        SteerExactFill(section, allKeys ? nullptr : key.c_str(), def, size);
        // Where the text holds double-byte characters the buffer takes it whole.
        std::vector<wchar_t> probe(70000);
        DWORD cch = profile_store::GetString(section.c_str(), allKeys ? nullptr : key.c_str(), def,
                                             probe.data(), 70000, m_storeFile.c_str());
        for (DWORD i = 0; i < cch; ++i)
            if (probe[i] >= 0x80)
                size = std::max<DWORD>(size, 2 * cch + 2);
        std::string szSection = ToAnsi(section), szKey = ToAnsi(key), szDef = ToAnsi(Text(def));
        m_log << "GetPrivateProfileStringA(" << ShowArg(section.c_str()) << ", "
              << (allKeys ? "NULL" : ShowArg(key.c_str())) << ", " << ShowArg(def) << ", " << size << ")\n";
        Outcome out[2];
        for (int side = 0; side < 2; ++side)
        {
            std::vector<char> buffer(size + kGuard, '#');
            std::string file = ToAnsi(File(side));
            const Api& api = side == 0 ? kKernel32 : kStore;
            out[side].ret =
                api.GetStringA(szSection.c_str(), allKeys ? nullptr : szKey.c_str(),
                               def != nullptr ? szDef.c_str() : nullptr, buffer.data(), size, file.c_str());
            for (char c : buffer)
                out[side].buffer += static_cast<wchar_t>(static_cast<unsigned char>(c));
        }
        return Compare("GetPrivateProfileStringA", out[0], out[1]);
    }

    bool GetInt()
    {
        std::wstring section = Padded(m_gen.Section()), key = Padded(m_gen.ReadKey());
        INT def = m_gen.Chance(50) ? -1 : 5;
        m_log << "GetPrivateProfileIntW(" << ShowArg(section.c_str()) << ", " << ShowArg(key.c_str()) << ", "
              << def << ")\n";
        Outcome out[2];
        out[0].ret = kKernel32.GetInt(section.c_str(), key.c_str(), def, m_kernelFile.c_str());
        out[1].ret = profile_store::GetInt(section.c_str(), key.c_str(), def, m_storeFile.c_str());
        return Compare("GetPrivateProfileIntW", out[0], out[1]);
    }

    bool GetSection()
    {
        std::wstring section = Padded(m_gen.Section());
        DWORD size = m_gen.Size();
        if (size == 1)
            size = 2;
        m_log << "GetPrivateProfileSectionW(" << ShowArg(section.c_str()) << ", " << size << ")\n";
        Outcome out[2];
        for (int side = 0; side < 2; ++side)
        {
            std::vector<wchar_t> buffer(size + kGuard, L'#');
            const Api& api = side == 0 ? kKernel32 : kStore;
            out[side].ret = api.GetSection(section.c_str(), buffer.data(), size, File(side));
            out[side].buffer.assign(buffer.begin(), buffer.end());
        }
        return Compare("GetPrivateProfileSectionW", out[0], out[1]);
    }

    bool CompareBytes()
    {
        if (!m_initial.canonical)
            return true;
        std::string kernel = ReadBytes(m_kernelFile), store = ReadBytes(m_storeFile);
        if (kernel == store)
            return true;
        m_log << "MISMATCH in file bytes: kernel32 vs store " << ShowFirstDifference(kernel, store) << "\n";
        return false;
    }

    bool WriteString()
    {
        std::wstring section = m_gen.Section(), key = m_gen.Key(), value = m_gen.Value();
        bool deleteSection = m_gen.Chance(8), deleteKey = !deleteSection && m_gen.Chance(15);
        const wchar_t* wsKey = deleteSection ? nullptr : key.c_str();
        const wchar_t* wsValue = deleteSection || deleteKey ? nullptr : value.c_str();
        m_log << "WritePrivateProfileStringW(" << ShowArg(section.c_str()) << ", " << ShowArg(wsKey) << ", "
              << ShowArg(wsValue) << ")\n";
        Outcome out[2];
        out[0].ret = kKernel32.WriteString(section.c_str(), wsKey, wsValue, m_kernelFile.c_str());
        out[1].ret = profile_store::WriteString(section.c_str(), wsKey, wsValue, m_storeFile.c_str());
        return Compare("WritePrivateProfileStringW", out[0], out[1]) && CompareBytes();
    }

    bool WriteSection()
    {
        std::wstring section = m_gen.Section();
        bool remove = m_gen.Chance(10);
        std::wstring list;
        size_t entries = m_gen.Pick(5);
        for (size_t i = 0; i < entries; ++i)
        {
            if (m_gen.Chance(10))
                list += m_gen.From(kKeys); // no '=': both sides drop it
            else
                list += m_gen.Vary(m_gen.From(kKeys)) + L"=" + m_gen.Value();
            list += L'\0';
        }
        list += L'\0';
        m_log << "WritePrivateProfileSectionW(" << ShowArg(section.c_str()) << ", "
              << (remove ? "NULL" : "\"" + Show(list) + "\"") << ")\n";
        Outcome out[2];
        out[0].ret =
            kKernel32.WriteSection(section.c_str(), remove ? nullptr : list.c_str(), m_kernelFile.c_str());
        out[1].ret = profile_store::WriteSection(section.c_str(), remove ? nullptr : list.c_str(),
                                                 m_storeFile.c_str());
        return Compare("WritePrivateProfileSectionW", out[0], out[1]) && CompareBytes();
    }

    Generator& m_gen;
    std::wstring m_kernelFile, m_storeFile;
    InitialFile m_initial;
    std::ostringstream m_log;
};
} // namespace

TEST(ProfileDifferentialTest, StoreAgreesWithKernel32)
{
    ASSERT_EQ(936u, GetACP()) << "run with LANG=zh_CN.UTF-8 so that the ANSI code page is 936";
    ASSERT_TRUE(Kernel32Loaded());
    TempDir dir;
    Generator gen(20240611);
    auto start = std::chrono::steady_clock::now();
    int operations = 0, failed = 0, canonical = 0;
    for (int i = 0; i < kSequences; ++i)
    {
        Sequence sequence(gen, dir, i);
        canonical += sequence.Canonical();
        bool ok = true;
        for (int step = 0; step < kOperationsPerSequence && ok; ++step, ++operations)
            ok = sequence.Step();
        ok = ok && sequence.SameContent();
        if (!ok && ++failed <= 40)
            ADD_FAILURE() << "sequence " << i << ":\n" << sequence.Log();
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d operations in %d sequences (%d from canonical files), %.1f s\n", operations, kSequences,
                canonical, seconds);
    EXPECT_EQ(0, failed) << "sequences that disagree";
}
