// Replays the tool's own use of the profile functions (list load, row edits,
// switch toggles, new rules, delete with renumbering, the target path, the
// catalogue, the patch run's reads) on kernel32 and on the store, each on its
// own copy of the same UTF-16LE or ANSI rule-set file, and compares every
// result and the final bytes. The files start in the form Wine writes (CRLF
// ends, no blanks or comments), as Wine rewrites whole files on each change.
#include "kernel32_profile.h"
#include "port/profile_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const DWORD kTextChars = 2048, kPathChars = 360, kNameChars = 100, kSectionChars = 6144, kKeyChars = 20;
const int kScenarios = 24;
const int kStepsPerScenario = 40;

typedef ProfileApi Api;

const wchar_t* const kSwitches[] = {L"X86", L"X64", L"UNICODE", L"REPEAT"};
const int kSwitchDefaults[] = {1, 1, 1, 0};

std::string ToAnsi(const std::wstring& text)
{
    int cb = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &bytes[0], cb, nullptr, nullptr);
    bytes.resize(bytes.size() - 1);
    return bytes;
}

std::wstring Node(UINT n)
{
    wchar_t wsNode[kKeyChars];
    swprintf(wsNode, kKeyChars, L"%03u", n);
    return wsNode;
}

// Texts a translator types: escapes, Chinese, '=' and ';' inside, empty, and
// lengths around the 2048-unit buffer. Text outside code page 936 only goes
// into UTF-16LE files.
std::wstring Text(std::mt19937& rng, bool unicodeFile)
{
    static const wchar_t* const texts[] = {L"&Open...\\tCtrl+O",
                                           L"Save changes?",
                                           L"\u6253\u5f00\u6587\u4ef6",
                                           L"\u4fdd\u5b58\u66f4\u6539\uff1f",
                                           L"a=b;c #d",
                                           L"Ready\\r\\n",
                                           L"",
                                           L"\u5c31\u7eea"};
    size_t k = rng() % 12;
    if (k < 8)
        return texts[k];
    if (k == 8 && unicodeFile)
        return L"\ud55c\uad6d\uc5b4 \u20ac \U0001F600"; // not in code page 936
    // Long texts cut by the wide reads; their ANSI form is cut in the ASCII tail,
    // as Wine leaves a byte unwritten where an A read cuts a double-byte one.
    std::wstring text;
    size_t n = k == 9 ? kTextChars - 1 : k == 10 ? kTextChars : 20 + rng() % 3000;
    while (text.size() < n)
        text += text.size() < 300 && rng() % 2 ? L'\u8bd1' : L'x';
    return text;
}

std::wstring MakeRuleSet(std::mt19937& rng, bool unicodeFile, UINT rules)
{
    std::wstring text = L"[Config]\r\nFILE=D:\\Work\\viewer.exe\r\n";
    for (UINT n = 1; n <= rules + 2; ++n)
    {
        text += L"[" + Node(n) + L"]\r\n";
        if (n != rules + 1) // the section after the list has no EN
            text += L"EN=" + Text(rng, unicodeFile) + L"_" + std::to_wstring(n) + L"\r\n";
        text += L"CN=" + Text(rng, unicodeFile) + L"\r\n";
        for (int s = 0; s < 4; ++s)
            if (rng() % 3 == 0)
                text += std::wstring(kSwitches[s]) + L"=" +
                        std::to_wstring(rng() % 4 == 0 ? rng() % 4 : rng() % 2) + L"\r\n";
    }
    return text;
}

std::string FileBytes(const std::wstring& text, bool unicodeFile)
{
    return unicodeFile ? std::string("\xFF\xFE", 2) + Utf16Bytes(text) : ToAnsi(text);
}

enum class Op
{
    ListLoad,
    SelectRow,
    EditText,
    Toggle,
    NewRule,
    Delete,
    SetPath,
    PatchRun,
    CatalogueAdd
};

struct Step
{
    Op op;
    UINT number;
    int which; // EN/CN or the switch
    std::wstring text;
};

// One side's run: every result it saw, in order, with what produced it.
class ToolRun
{
  public:
    ToolRun(const Api& api, const WString& ruleFile, const WString& catalogue)
        : m_api(api), m_file(ruleFile), m_catalogue(catalogue), m_szFile(ToAnsi(ruleFile))
    {
    }

    void Do(const Step& step)
    {
        switch (step.op)
        {
        case Op::ListLoad:
            ListLoad();
            break;
        case Op::SelectRow:
            ReadText(step.number, L"EN");
            ReadText(step.number, L"CN");
            break;
        case Op::EditText:
            Note(L"write", m_api.WriteString(Node(step.number).c_str(), step.which ? L"CN" : L"EN",
                                             step.text.c_str(), m_file.c_str()));
            break;
        case Op::Toggle: {
            const wchar_t* wsKey = kSwitches[step.which];
            UINT uCell =
                m_api.GetInt(Node(step.number).c_str(), wsKey, kSwitchDefaults[step.which], m_file.c_str()) &
                1;
            Note(L"toggle",
                 m_api.WriteString(Node(step.number).c_str(), wsKey, uCell ? L"0" : L"1", m_file.c_str()));
            break;
        }
        case Op::NewRule:
            NewRule();
            break;
        case Op::Delete:
            Delete(step.number);
            break;
        case Op::SetPath:
            Note(L"path", m_api.WriteString(L"Config", L"FILE", step.text.c_str(), m_file.c_str()));
            break;
        case Op::PatchRun:
            PatchRun();
            break;
        case Op::CatalogueAdd:
            CatalogueAdd(step.text);
            break;
        }
    }

    const std::vector<std::wstring>& Results() const { return m_results; }

  private:
    void Note(const std::wstring& what, unsigned long ret, const std::wstring& text = std::wstring())
    {
        m_results.push_back(what + L" -> " + std::to_wstring(ret) + L" [" + text + L"]");
    }

    DWORD ReadText(UINT n, const wchar_t* wsKey, DWORD cch = kTextChars)
    {
        std::vector<wchar_t> buffer(cch + 2, L'#');
        DWORD dwLen = m_api.GetStringW(Node(n).c_str(), wsKey, L"", buffer.data(), cch, m_file.c_str());
        Note(Node(n) + L"/" + wsKey, dwLen, std::wstring(buffer.data(), buffer.size()));
        return dwLen;
    }

    bool Switch(UINT n, int s)
    {
        UINT uValue = m_api.GetInt(Node(n).c_str(), kSwitches[s], kSwitchDefaults[s], m_file.c_str());
        Note(Node(n) + L"/" + kSwitches[s], uValue);
        return (uValue & 1) != 0;
    }

    UINT ListLoad()
    {
        std::vector<wchar_t> path(kTextChars);
        Note(L"FILE", m_api.GetStringW(L"Config", L"FILE", L"", path.data(), kTextChars, m_file.c_str()),
             path.data());
        UINT n = 1;
        for (;; ++n)
        {
            bool enEmpty = ReadText(n, L"EN") == 0;
            ReadText(n, L"CN");
            bool x86 = Switch(n, 0), x64 = Switch(n, 1);
            m_lastUnicode = Switch(n, 2);
            Switch(n, 3);
            if (enEmpty || (!x86 && !x64))
                break;
            m_listedUnicode = m_lastUnicode;
        }
        m_listed = n - 1;
        return m_listed;
    }

    void NewRule()
    {
        ListLoad();
        if (m_listed > 0 && !m_listedUnicode)
            Note(L"new rule",
                 m_api.WriteString(Node(m_listed + 1).c_str(), L"UNICODE", L"0", m_file.c_str()));
    }

    // As the tool deletes: size the buffer by reading every later section,
    // remove the section, then move each later one down.
    void Delete(UINT uNumber)
    {
        std::vector<wchar_t> buffer(kSectionChars);
        auto readSection = [&](UINT i) {
            DWORD dwRead;
            while ((dwRead = m_api.GetSection(Node(i).c_str(), buffer.data(),
                                              static_cast<DWORD>(buffer.size()), m_file.c_str())) +
                       2 >=
                   buffer.size())
                buffer.resize(buffer.size() * 2);
            Note(L"section " + Node(i), dwRead, std::wstring(buffer.data(), dwRead));
            return dwRead;
        };
        for (UINT i = uNumber + 1; readSection(i) != 0; ++i)
        {
        }
        Note(L"remove", m_api.WriteSection(Node(uNumber).c_str(), nullptr, m_file.c_str()));
        for (UINT i = uNumber;; ++i)
        {
            if (readSection(i + 1) == 0)
            {
                Note(L"remove", m_api.WriteSection(Node(i).c_str(), nullptr, m_file.c_str()));
                break;
            }
            Note(L"move", m_api.WriteSection(Node(i).c_str(), buffer.data(), m_file.c_str()));
        }
    }

    void PatchRun()
    {
        for (UINT n = 1;; ++n)
        {
            bool x86 = Switch(n, 0), x64 = Switch(n, 1), unicode = Switch(n, 2);
            Switch(n, 3);
            bool enEmpty;
            if (unicode)
            {
                enEmpty = ReadText(n, L"EN") == 0;
                ReadText(n, L"CN");
            }
            else
            {
                std::string szNode = ToAnsi(Node(n));
                std::vector<char> en(kTextChars + 2, '#'), cn(kTextChars + 2, '#');
                DWORD cbEn =
                    m_api.GetStringA(szNode.c_str(), "EN", "", en.data(), kTextChars, m_szFile.c_str());
                DWORD cbCn =
                    m_api.GetStringA(szNode.c_str(), "CN", "", cn.data(), kTextChars, m_szFile.c_str());
                Note(L"A " + Node(n) + L"/EN", cbEn, std::wstring(en.begin(), en.end()));
                Note(L"A " + Node(n) + L"/CN", cbCn, std::wstring(cn.begin(), cn.end()));
                enEmpty = cbEn == 0;
            }
            if (enEmpty || (!x86 && !x64))
                break;
            if (n % 3 == 0) // a failed rule is read again for the log
                ReadText(n, L"EN", kTextChars - 9);
        }
    }

    void CatalogueAdd(const std::wstring& wsName)
    {
        std::vector<wchar_t> name(kNameChars);
        UINT k = 1;
        for (;; ++k)
        {
            DWORD dwLen = m_api.GetStringW(L"Config", std::to_wstring(k).c_str(), L"", name.data(),
                                           kNameChars, m_catalogue.c_str());
            Note(L"catalogue " + std::to_wstring(k), dwLen, name.data());
            if (dwLen == 0)
                break;
        }
        Note(L"catalogue add",
             m_api.WriteString(L"Config", std::to_wstring(k).c_str(), wsName.c_str(), m_catalogue.c_str()));
    }

    const Api& m_api;
    WString m_file, m_catalogue;
    std::string m_szFile;
    UINT m_listed = 0;
    bool m_lastUnicode = true, m_listedUnicode = true;
    std::vector<std::wstring> m_results;
};

std::vector<Step> MakeSteps(std::mt19937& rng, bool unicodeFile, UINT rules)
{
    std::vector<Step> steps = {{Op::ListLoad, 0, 0, L""}, {Op::PatchRun, 0, 0, L""}};
    for (int i = 0; i < kStepsPerScenario; ++i)
    {
        Step step = {static_cast<Op>(rng() % 9), 1 + static_cast<UINT>(rng() % (rules + 2)),
                     static_cast<int>(rng() % 4), Text(rng, unicodeFile)};
        if (step.op == Op::EditText)
            step.which %= 2;
        if (step.op == Op::SetPath)
            step.text = step.text.substr(0, kPathChars - 1);
        if (step.op == Op::CatalogueAdd)
            step.text = step.text.empty() ? L"set" : step.text.substr(0, kNameChars - 1);
        steps.push_back(step);
    }
    steps.push_back({Op::ListLoad, 0, 0, L""});
    steps.push_back({Op::PatchRun, 0, 0, L""});
    return steps;
}

std::string Show(const std::wstring& text)
{
    std::ostringstream out;
    for (size_t i = 0; i < text.size() && i < 200; ++i)
        if (text[i] >= 0x20 && text[i] < 0x7F)
            out << static_cast<char>(text[i]);
        else
            out << "\\u" << std::hex << static_cast<unsigned>(text[i]) << std::dec;
    if (text.size() > 200)
        out << "...(" << text.size() << " units)";
    return out.str();
}
} // namespace

TEST(ProfileToolPatternTest, StoreAgreesWithKernel32)
{
    ASSERT_EQ(936u, GetACP()) << "run with LANG=zh_CN.UTF-8 so that the ANSI code page is 936";
    ASSERT_TRUE(Kernel32Loaded());
    TempDir dir;
    std::mt19937 rng(20250611);
    int compared = 0;
    for (int scenario = 0; scenario < kScenarios; ++scenario)
    {
        bool unicodeFile = scenario % 2 == 0;
        UINT rules = 3 + static_cast<UINT>(rng() % 10);
        std::string bytes = FileBytes(MakeRuleSet(rng, unicodeFile, rules), unicodeFile);
        std::string catalogue = FileBytes(L"[Config]\r\n1=first\r\n2=\u89c4\u5219\r\n", unicodeFile);
        std::vector<Step> steps = MakeSteps(rng, unicodeFile, rules);
        WString names[2][2];
        std::vector<std::wstring> results[2];
        for (int side = 0; side < 2; ++side)
        {
            // Fresh names each time: Wine trusts a copy it parsed while the time stays.
            std::wstring tag = (side == 0 ? L"k" : L"s") + std::to_wstring(scenario);
            names[side][0] = dir.Path(tag + L"\u89c4\u5219.ini");
            names[side][1] = dir.Path(tag + L"cat.ini");
            WriteBytes(names[side][0], bytes);
            WriteBytes(names[side][1], catalogue);
            ToolRun run(side == 0 ? kKernel32 : kStore, names[side][0], names[side][1]);
            for (const Step& step : steps)
                run.Do(step);
            results[side] = run.Results();
        }
        compared += static_cast<int>(results[0].size());
        SCOPED_TRACE("scenario " + std::to_string(scenario) + (unicodeFile ? " (UTF-16LE)" : " (ANSI)"));
        ASSERT_EQ(results[0].size(), results[1].size());
        for (size_t i = 0; i < results[0].size(); ++i)
            ASSERT_TRUE(results[0][i] == results[1][i])
                << "result " << i << ": kernel32 " << Show(results[0][i]) << "\nstore "
                << Show(results[1][i]);
        EXPECT_TRUE(ReadBytes(names[0][0]) == ReadBytes(names[1][0])) << "rule-set file bytes differ";
        EXPECT_TRUE(ReadBytes(names[0][1]) == ReadBytes(names[1][1])) << "catalogue bytes differ";
    }
    std::printf("%d results compared in %d scenarios\n", compared, kScenarios);
}
