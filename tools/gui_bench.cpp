// Times pivra.exe as a user drives it: selecting a rule set until its rows are
// listed, and starting a patch run until its report box appears. The tool runs
// as its own process in a fresh tool directory and is driven from outside with
// the messages its controls would send; SendMessage across processes returns
// only when the tool has handled the message.
// Usage: gui_bench [--runs N] [--slow-runs N] [--rules N] [--bound SECONDS]
//                  [--only select|start|delete] [--target-mib N] [--temp DIR] [--pivra EXE]
#include "resource.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
DWORD g_targetBytes = 64u << 20; // --target-mib
const unsigned kSmallRules = 1000;
const unsigned kMinEn = 8, kMaxEn = 40;
const double kSlowSeconds = 30; // a measurement slower than this gets fewer runs
const DWORD kStartWindowMs = 60000;
const DWORD kCloseMs = 10000;
const DWORD kPollMs = 10;

typedef std::wstring WString;

std::string Utf8(const WString& text)
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
    std::string bytes(static_cast<size_t>(cb), '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], cb, nullptr,
                            nullptr);
    return bytes;
}

// Printed at once, so a long benchmark shows where it is.
void Print(const char* szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    std::vprintf(szFormat, args);
    va_end(args);
    std::fflush(stdout);
}

struct Rng
{
    unsigned long long state = 0x9E3779B97F4A7C15ull;
    unsigned Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<unsigned>(state >> 11);
    }
    unsigned Below(unsigned n) { return Next() % n; }
};

class Stopwatch
{
  public:
    Stopwatch()
    {
        QueryPerformanceFrequency(&m_freq);
        QueryPerformanceCounter(&m_start);
    }
    double Seconds() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) / static_cast<double>(m_freq.QuadPart);
    }
    DWORD Ms() const { return static_cast<DWORD>(Seconds() * 1000); }

  private:
    LARGE_INTEGER m_freq;
    LARGE_INTEGER m_start;
};

// UI texts a translator meets, with their translations word by word.
struct Word
{
    const wchar_t* wsEn;
    const wchar_t* wsCn;
};

const Word kVerbs[] = {
    {L"Open", L"打开"},     {L"Save", L"保存"},    {L"Close", L"关闭"},    {L"Delete", L"删除"},
    {L"Copy", L"复制"},     {L"Paste", L"粘贴"},   {L"Find", L"查找"},     {L"Replace", L"替换"},
    {L"Print", L"打印"},    {L"Export", L"导出"},  {L"Import", L"导入"},   {L"Insert", L"插入"},
    {L"Select", L"选择"},   {L"Show", L"显示"},    {L"Hide", L"隐藏"},     {L"Refresh", L"刷新"},
    {L"Rename", L"重命名"}, {L"Move", L"移动"},    {L"Load", L"加载"},     {L"Start", L"开始"},
    {L"Stop", L"停止"},     {L"Check", L"检查"},   {L"Update", L"更新"},   {L"Install", L"安装"},
    {L"Remove", L"移除"},   {L"Add", L"添加"},     {L"Edit", L"编辑"},     {L"Sort", L"排序"},
    {L"Filter", L"筛选"},   {L"Restore", L"恢复"}, {L"Download", L"下载"}, {L"Upload", L"上传"},
    {L"Send", L"发送"},     {L"Create", L"创建"},  {L"Merge", L"合并"},    {L"Split", L"拆分"},
    {L"Lock", L"锁定"},     {L"Unlock", L"解锁"},  {L"Share", L"共享"},    {L"Scan", L"扫描"},
};
const Word kNouns[] = {
    {L"file", L"文件"},       {L"folder", L"文件夹"},   {L"window", L"窗口"},
    {L"document", L"文档"},   {L"project", L"项目"},    {L"settings", L"设置"},
    {L"toolbar", L"工具栏"},  {L"item", L"项"},         {L"selection", L"选定内容"},
    {L"page", L"页面"},       {L"image", L"图像"},      {L"text", L"文本"},
    {L"table", L"表格"},      {L"record", L"记录"},     {L"user", L"用户"},
    {L"account", L"帐户"},    {L"password", L"密码"},   {L"server", L"服务器"},
    {L"connection", L"连接"}, {L"backup", L"备份"},     {L"profile", L"配置文件"},
    {L"layer", L"图层"},      {L"color", L"颜色"},      {L"font", L"字体"},
    {L"style", L"样式"},      {L"column", L"列"},       {L"row", L"行"},
    {L"list", L"列表"},       {L"preview", L"预览"},    {L"report", L"报告"},
    {L"message", L"消息"},    {L"attachment", L"附件"}, {L"contact", L"联系人"},
    {L"calendar", L"日历"},   {L"task", L"任务"},       {L"device", L"设备"},
    {L"driver", L"驱动程序"}, {L"archive", L"存档"},    {L"playlist", L"播放列表"},
    {L"bookmark", L"书签"},
};
const Word kAdjectives[] = {
    {L"selected", L"选定的"}, {L"current", L"当前"},  {L"new", L"新"},        {L"recent", L"最近的"},
    {L"default", L"默认"},    {L"hidden", L"隐藏的"}, {L"shared", L"共享的"}, {L"local", L"本地"},
    {L"remote", L"远程"},     {L"empty", L"空"},      {L"old", L"旧"},        {L"temporary", L"临时"},
};

template <size_t N> const Word& Pick(Rng& rng, const Word (&words)[N])
{
    return words[rng.Below(N)];
}

struct Rule
{
    WString en; // decoded: the text as it sits in the target
    WString cn;
    bool unicode;
    bool repeat;
    bool present; // planted in the target that finds most rules
};

// One candidate text pair; the caller checks lengths and uniqueness.
void MakeTexts(Rng& rng, WString& en, WString& cn)
{
    const Word& v = Pick(rng, kVerbs);
    const Word& n = Pick(rng, kNouns);
    const Word& a = Pick(rng, kAdjectives);
    WString key(1, static_cast<wchar_t>(L'A' + rng.Below(26)));
    WString sp = L" ";
    switch (rng.Below(9))
    {
    case 0:
        en = L"&" + WString(v.wsEn) + sp + n.wsEn + L"...";
        cn = WString(v.wsCn) + n.wsCn + L"(&" + WString(1, v.wsEn[0]) + L")...";
        break;
    case 1:
        en = WString(v.wsEn) + sp + a.wsEn + sp + n.wsEn + L"\tCtrl+" + key;
        cn = WString(v.wsCn) + a.wsCn + n.wsCn + L"\tCtrl+" + key;
        break;
    case 2:
        en = L"Cannot " + WString(v.wsEn) + L" the " + a.wsEn + sp + n.wsEn + L".";
        cn = L"无法" + WString(v.wsCn) + a.wsCn + n.wsCn + L"。";
        break;
    case 3:
        en = L"Do you want to " + WString(v.wsEn) + L" the " + n.wsEn + L"?";
        cn = L"是否要" + WString(v.wsCn) + n.wsCn + L"？";
        break;
    case 4:
        en = L"The " + WString(n.wsEn) + L" was not found.\r\nTry again.";
        cn = L"未找到" + WString(n.wsCn) + L"。\r\n请重试。";
        break;
    case 5:
        en = WString(v.wsEn) + L" all " + a.wsEn + sp + n.wsEn + L" items";
        cn = WString(v.wsCn) + L"所有" + a.wsCn + n.wsCn + L"项";
        break;
    case 6:
        en = L"%s: " + WString(a.wsEn) + sp + n.wsEn + L" not found";
        cn = L"%s：未找到" + WString(a.wsCn) + n.wsCn;
        break;
    case 7:
        en = WString(v.wsEn) + L"ing " + n.wsEn + L" %d of %d...";
        cn = L"正在" + WString(v.wsCn) + n.wsCn + L" %d/%d...";
        break;
    default:
        en = WString(v.wsEn) + L" " + a.wsEn + sp + n.wsEn;
        cn = WString(v.wsCn) + a.wsCn + n.wsCn;
        break;
    }
}

size_t AnsiBytes(const WString& text)
{
    size_t cb = 0;
    for (wchar_t c : text)
        cb += c < 0x80 ? 1 : 2; // code page 936: every Chinese character takes two bytes
    return cb;
}

// Unique texts of kMinEn..kMaxEn characters, none inside another, so every
// planted text is found at its own place. Every tenth rule is ANSI, one in
// twenty replaces every occurrence, and one in ten is not planted.
bool MakeRules(unsigned count, std::vector<Rule>& rules)
{
    Rng rng;
    rules.clear();
    for (unsigned tries = 0; rules.size() < count; ++tries)
    {
        if (tries > count * 1000u)
            return false;
        Rule rule;
        MakeTexts(rng, rule.en, rule.cn);
        unsigned n = static_cast<unsigned>(rules.size()) + 1;
        rule.unicode = n % 10 != 0;
        rule.repeat = n % 20 == 7;
        rule.present = n % 10 != 3;
        if (rule.en.size() < kMinEn || rule.en.size() > kMaxEn)
            continue;
        if (rule.unicode ? rule.cn.size() > rule.en.size() : AnsiBytes(rule.cn) > rule.en.size())
            continue;
        bool clash = false;
        for (const Rule& other : rules)
            if (other.en.find(rule.en) != WString::npos || rule.en.find(other.en) != WString::npos)
            {
                clash = true;
                break;
            }
        if (!clash)
            rules.push_back(rule);
    }
    return true;
}

WString Escaped(const WString& text)
{
    WString out;
    for (wchar_t c : text)
    {
        switch (c)
        {
        case L'\t':
            out += L"\\t";
            break;
        case L'\r':
            out += L"\\r";
            break;
        case L'\n':
            out += L"\\n";
            break;
        case L'\\':
            out += L"\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool WriteWhole(const WString& path, const void* pData, DWORD cb)
{
    HANDLE hFile =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD cbWritten = 0;
    BOOL ok = WriteFile(hFile, pData, cb, &cbWritten, nullptr);
    CloseHandle(hFile);
    return ok && cbWritten == cb;
}

// UTF-16LE with FF FE, as the tool keeps a file that holds Chinese texts.
bool WriteUnicodeFile(const WString& path, const WString& text)
{
    WString bytes = L"\xFEFF" + text;
    return WriteWhole(path, bytes.data(), static_cast<DWORD>(bytes.size() * sizeof(wchar_t)));
}

bool WriteRuleSet(const WString& path, const WString& target, const std::vector<Rule>& rules, unsigned count)
{
    WString text = L"[Config]\r\nFILE=" + target + L"\r\n";
    for (unsigned n = 1; n <= count; ++n)
    {
        const Rule& rule = rules[n - 1];
        wchar_t wsNode[16];
        _snwprintf(wsNode, 16, L"%03u", n);
        text +=
            L"[" + WString(wsNode) + L"]\r\nEN=" + Escaped(rule.en) + L"\r\nCN=" + Escaped(rule.cn) + L"\r\n";
        if (!rule.unicode)
            text += L"UNICODE=0\r\n";
        if (rule.repeat)
            text += L"REPEAT=1\r\n";
    }
    return WriteUnicodeFile(path, text);
}

// Zero runs, random bytes and lowercase ANSI and UTF-16 words, like the
// sections of an executable; no rule's text occurs in it by chance, as every
// rule has a capital, a space or punctuation.
std::vector<BYTE> MakeFiller()
{
    Rng rng;
    std::vector<BYTE> data;
    data.reserve(g_targetBytes);
    while (data.size() < g_targetBytes)
    {
        unsigned kind = rng.Below(4), len = 16 + rng.Below(240);
        for (unsigned i = 0; i < len; ++i)
        {
            BYTE b = kind == 0   ? 0
                     : kind == 1 ? static_cast<BYTE>(rng.Next())
                                 : static_cast<BYTE>('a' + rng.Below(26));
            data.push_back(b);
            if (kind == 3)
                data.push_back(0);
        }
    }
    data.resize(g_targetBytes);
    return data;
}

// The present rules' texts, zero-terminated, each at a random place of its own
// slot; rules that replace every occurrence are planted twice.
unsigned PlantRules(std::vector<BYTE>& data, const std::vector<Rule>& rules)
{
    std::vector<std::string> texts;
    unsigned uPresent = 0;
    for (const Rule& rule : rules)
    {
        if (!rule.present)
            continue;
        ++uPresent;
        std::string bytes;
        if (rule.unicode)
            bytes.assign(reinterpret_cast<const char*>(rule.en.data()), rule.en.size() * sizeof(wchar_t));
        else
            for (wchar_t c : rule.en)
                bytes += static_cast<char>(c);
        bytes.append(rule.unicode ? 2 : 1, '\0');
        texts.push_back(bytes);
        if (rule.repeat)
            texts.push_back(bytes);
    }
    Rng rng;
    for (size_t i = texts.size(); i > 1; --i)
        std::swap(texts[i - 1], texts[rng.Below(static_cast<unsigned>(i))]);
    size_t slot = data.size() / (texts.size() + 1);
    for (size_t i = 0; i < texts.size(); ++i)
    {
        size_t at = i * slot + (rng.Below(static_cast<unsigned>(slot - texts[i].size())) & ~size_t(1));
        std::memcpy(data.data() + at, texts[i].data(), texts[i].size());
    }
    return uPresent;
}

struct TopSearch
{
    DWORD pid;
    const wchar_t* wsCaption;
    HWND found;
};

BOOL CALLBACK MatchTop(HWND hWnd, LPARAM lParam)
{
    TopSearch* pSearch = reinterpret_cast<TopSearch*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (pid != pSearch->pid || !IsWindowVisible(hWnd))
        return TRUE;
    wchar_t wsClass[16] = {}, wsText[64] = {};
    GetClassNameW(hWnd, wsClass, 16);
    GetWindowTextW(hWnd, wsText, 64);
    if (wcscmp(wsClass, L"#32770") != 0 || wcscmp(wsText, pSearch->wsCaption) != 0)
        return TRUE;
    pSearch->found = hWnd;
    return FALSE;
}

HWND FindDialogOf(DWORD pid, const wchar_t* wsCaption)
{
    TopSearch stSearch = {pid, wsCaption, nullptr};
    EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&stSearch));
    return stSearch.found;
}

// WM_GETTEXT is carried across processes; GetWindowText is not, for controls.
WString TextOf(HWND hWnd)
{
    wchar_t wsText[512] = {};
    DWORD_PTR dwResult = 0;
    SendMessageTimeoutW(hWnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(wsText), SMTO_NORMAL, kCloseMs,
                        &dwResult);
    return wsText;
}

BOOL CALLBACK CollectStaticText(HWND hWnd, LPARAM lParam)
{
    wchar_t wsClass[16] = {};
    GetClassNameW(hWnd, wsClass, 16);
    if (_wcsicmp(wsClass, L"Static") == 0)
    {
        WString text = TextOf(hWnd);
        WString* pLongest = reinterpret_cast<WString*>(lParam);
        if (text.size() > pLongest->size())
            *pLongest = text;
    }
    return TRUE;
}

// The first two decimal numbers of the report: rules tried, rules modified.
bool ParseCounts(const WString& text, unsigned& uTried, unsigned& uModified)
{
    unsigned values[2];
    int found = 0;
    for (size_t i = 0; i < text.size() && found < 2;)
    {
        if (text[i] < L'0' || text[i] > L'9')
        {
            ++i;
            continue;
        }
        unsigned value = 0;
        for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
            value = value * 10 + static_cast<unsigned>(text[i] - L'0');
        values[found++] = value;
    }
    if (found < 2)
        return false;
    uTried = values[0];
    uModified = values[1];
    return true;
}

enum Outcome
{
    kOk,
    kOverBound,
    kWrongResult,
    kGone,
};

const char* OutcomeName(Outcome outcome)
{
    switch (outcome)
    {
    case kOk:
        return "ok";
    case kOverBound:
        return "over the bound, stopped";
    case kWrongResult:
        return "wrong result";
    default:
        return "the tool ended or did not answer";
    }
}

// One running pivra.exe and its main dialog.
class Tool
{
  public:
    Tool() : m_pi(), m_hDlg(nullptr), m_hSets(nullptr), m_hList(nullptr), m_hStart(nullptr) {}
    ~Tool() { Stop(); }
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    bool Start(const WString& exe, const WString& dir)
    {
        STARTUPINFOW stSi = {};
        stSi.cb = sizeof(stSi);
        WString cmd = L"\"" + exe + L"\"";
        if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &stSi,
                            &m_pi))
            return false;
        WaitForInputIdle(m_pi.hProcess, kStartWindowMs);
        Stopwatch watch;
        while ((m_hDlg = FindDialogOf(m_pi.dwProcessId, L"Pivra")) == nullptr)
            if (watch.Ms() > kStartWindowMs || WaitForSingleObject(m_pi.hProcess, kPollMs) != WAIT_TIMEOUT)
                return false;
        m_hSets = GetDlgItem(m_hDlg, IDC_RULE_SETS);
        m_hList = GetDlgItem(m_hDlg, IDC_RULE_LIST);
        m_hStart = GetDlgItem(m_hDlg, IDC_START);
        return m_hSets != nullptr && m_hList != nullptr && m_hStart != nullptr;
    }

    bool Running() const
    {
        return m_pi.hProcess != nullptr && WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
    }

    // The selection the drop-down list makes, then its notification; the load
    // runs inside that notification.
    Outcome Select(int index, unsigned uExpected, DWORD boundMs, double& seconds, unsigned& uCount)
    {
        DWORD_PTR dwResult = 0;
        Stopwatch watch;
        if (!SendMessageTimeoutW(m_hSets, CB_SETCURSEL, static_cast<WPARAM>(index), 0, SMTO_NORMAL, boundMs,
                                 &dwResult) ||
            !SendMessageTimeoutW(m_hDlg, WM_COMMAND, MAKEWPARAM(IDC_RULE_SETS, CBN_SELCHANGE),
                                 reinterpret_cast<LPARAM>(m_hSets), SMTO_NORMAL, boundMs, &dwResult))
        {
            seconds = watch.Seconds();
            return Running() && watch.Ms() >= boundMs ? kOverBound : kGone;
        }
        seconds = watch.Seconds();
        if (!SendMessageTimeoutW(m_hList, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, kCloseMs, &dwResult))
            return kGone;
        uCount = static_cast<unsigned>(dwResult);
        return uCount == uExpected ? kOk : kWrongResult;
    }

    // Row 2 selected with the keys Home and Down, then the Delete key, which
    // the list passes on to the dialog (LVN_KEYDOWN); timed until the key is
    // handled, the renumbering with it.
    Outcome DeleteSecondRow(unsigned uExpected, DWORD boundMs, double& seconds)
    {
        DWORD_PTR dwResult = 0;
        if (!SendMessageTimeoutW(m_hList, WM_KEYDOWN, VK_HOME, 0, SMTO_NORMAL, kCloseMs, &dwResult) ||
            !SendMessageTimeoutW(m_hList, WM_KEYDOWN, VK_DOWN, 0, SMTO_NORMAL, kCloseMs, &dwResult) ||
            !SendMessageTimeoutW(m_hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED,
                                 SMTO_NORMAL, kCloseMs, &dwResult))
            return kGone;
        if (dwResult != 1)
            return kWrongResult;
        Stopwatch watch;
        if (!SendMessageTimeoutW(m_hList, WM_KEYDOWN, VK_DELETE, 0, SMTO_NORMAL, boundMs, &dwResult))
        {
            seconds = watch.Seconds();
            return Running() && watch.Ms() >= boundMs ? kOverBound : kGone;
        }
        seconds = watch.Seconds();
        if (!SendMessageTimeoutW(m_hList, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, kCloseMs, &dwResult))
            return kGone;
        return dwResult == uExpected ? kOk : kWrongResult;
    }

    // The start button's click, posted as the button posts it; timed until the
    // report box shows. The box is then answered and the dialog is idle again.
    Outcome RunPatch(DWORD boundMs, double& seconds, WString& report)
    {
        if (!PostMessageW(m_hDlg, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED),
                          reinterpret_cast<LPARAM>(m_hStart)))
            return kGone;
        Stopwatch watch;
        HWND hBox;
        while ((hBox = FindDialogOf(m_pi.dwProcessId, L"提示")) == nullptr)
        {
            if (WaitForSingleObject(m_pi.hProcess, kPollMs) != WAIT_TIMEOUT)
                return kGone;
            if (watch.Ms() > boundMs)
            {
                seconds = watch.Seconds();
                return kOverBound;
            }
        }
        seconds = watch.Seconds();
        report.clear();
        EnumChildWindows(hBox, CollectStaticText, reinterpret_cast<LPARAM>(&report));
        PostMessageW(hBox, WM_COMMAND, IDOK, 0);
        Stopwatch closing;
        while (IsWindow(hBox))
            if (closing.Ms() > kCloseMs || WaitForSingleObject(m_pi.hProcess, kPollMs) != WAIT_TIMEOUT)
                return kGone;
        DWORD_PTR dwResult = 0;
        if (!SendMessageTimeoutW(m_hDlg, WM_NULL, 0, 0, SMTO_NORMAL, kCloseMs, &dwResult))
            return kGone;
        return kOk;
    }

    // Closed as the close box closes it; ended by force when it does not answer.
    void Stop()
    {
        if (m_pi.hProcess == nullptr)
            return;
        if (Running())
        {
            PostMessageW(m_hDlg, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(m_pi.hProcess, kCloseMs) == WAIT_TIMEOUT)
            {
                TerminateProcess(m_pi.hProcess, 1);
                WaitForSingleObject(m_pi.hProcess, kCloseMs);
            }
        }
        CloseHandle(m_pi.hThread);
        CloseHandle(m_pi.hProcess);
        m_pi = PROCESS_INFORMATION();
    }

    // For a run that went over its bound: it would not answer WM_CLOSE.
    void Kill()
    {
        if (Running())
            TerminateProcess(m_pi.hProcess, 1);
        Stop();
    }

  private:
    PROCESS_INFORMATION m_pi;
    HWND m_hDlg;
    HWND m_hSets;
    HWND m_hList;
    HWND m_hStart;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The runs of one measurement, printed as they come and summed up at the end.
struct Series
{
    std::string name;
    std::vector<double> seconds; // completed runs
    std::string failures;
    std::string note;

    void Add(int run, Outcome outcome, double value, const std::string& detail)
    {
        if (outcome == kOk)
        {
            seconds.push_back(value);
            Print("  %s, run %d: %.3f s%s\n", name.c_str(), run, value, detail.c_str());
            return;
        }
        char sz[64];
        std::snprintf(sz, sizeof(sz), " run %d: %s after %.1f s;", run, OutcomeName(outcome), value);
        failures += sz;
        Print("  %s, run %d: %s after %.3f s%s\n", name.c_str(), run, OutcomeName(outcome), value,
              detail.c_str());
    }

    std::string Summary() const
    {
        std::string line = name + ": ";
        char sz[64];
        if (seconds.empty())
            line += "no completed run";
        else
        {
            std::snprintf(sz, sizeof(sz), "median %.3f s of %u runs (", Median(seconds),
                          static_cast<unsigned>(seconds.size()));
            line += sz;
            for (size_t i = 0; i < seconds.size(); ++i)
            {
                std::snprintf(sz, sizeof(sz), "%s%.3f", i ? " " : "", seconds[i]);
                line += sz;
            }
            line += ")";
        }
        if (!note.empty())
            line += " " + note;
        if (!failures.empty())
            line += ";" + failures;
        return line;
    }
};

struct Options
{
    int runs = 5;
    int slowRuns = 3;
    unsigned rules = 5000;
    DWORD boundMs = 300000;
    bool select = true;
    bool start = true;
    bool remove = true; // the delete measurement
    WString temp;
    WString pivra;
};

// The build tree's pivra.exe, as Wine's drive Z: shows the Linux file system.
WString DefaultPivra()
{
    WString path = L"Z:";
    for (const char* p = PIVRA_EXE; *p; ++p)
        path += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return path;
}

bool ParseOptions(Options& opt)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return false;
    bool ok = true;
    for (int i = 1; i < argc && ok; ++i)
    {
        WString arg = argv[i];
        const wchar_t* wsValue = i + 1 < argc ? argv[i + 1] : nullptr;
        if (wsValue == nullptr)
            ok = false;
        else if (arg == L"--runs")
            ok = (opt.runs = _wtoi(wsValue)) > 0;
        else if (arg == L"--slow-runs")
            ok = (opt.slowRuns = _wtoi(wsValue)) > 0;
        else if (arg == L"--rules")
            ok = (opt.rules = static_cast<unsigned>(_wtoi(wsValue))) > kSmallRules;
        else if (arg == L"--bound")
            ok = (opt.boundMs = static_cast<DWORD>(_wtoi(wsValue)) * 1000) > 0;
        else if (arg == L"--target-mib")
        {
            int mib = _wtoi(wsValue);
            ok = mib >= 4 && mib <= 512;
            if (ok)
                g_targetBytes = static_cast<DWORD>(mib) << 20;
        }
        else if (arg == L"--temp")
            opt.temp = wsValue;
        else if (arg == L"--pivra")
            opt.pivra = wsValue;
        else if (arg == L"--only")
        {
            opt.select = WString(wsValue) == L"select";
            opt.start = WString(wsValue) == L"start";
            opt.remove = WString(wsValue) == L"delete";
            ok = opt.select || opt.start || opt.remove;
        }
        else
            ok = false;
        ++i;
    }
    LocalFree(argv);
    if (opt.pivra.empty())
        opt.pivra = DefaultPivra();
    if (opt.temp.empty())
    {
        wchar_t wsTemp[MAX_PATH];
        DWORD cch = GetTempPathW(MAX_PATH, wsTemp);
        opt.temp.assign(wsTemp, cch > 0 && cch < MAX_PATH ? cch : 0);
    }
    return ok;
}

void RemoveToolDir(const WString& dir)
{
    WIN32_FIND_DATAW stFind;
    HANDLE hFind = FindFirstFileW((dir + L"\\*").c_str(), &stFind);
    if (hFind != INVALID_HANDLE_VALUE)
    {
        do
            if (!(stFind.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((dir + L"\\" + stFind.cFileName).c_str());
        while (FindNextFileW(hFind, &stFind));
        FindClose(hFind);
    }
    RemoveDirectoryW(dir.c_str());
}

struct Bench
{
    Options opt;
    WString dir;
    WString exe;
    WString target;
    WString largeSet;
    std::vector<Rule> rules;
    std::vector<BYTE> foundTarget; // most rules planted
    std::vector<BYTE> emptyTarget; // none planted
    unsigned uPresent = 0;
    std::vector<Series> done;
    bool allOk = true;

    // The first run decides how many follow.
    int RunsAfterFirst(double firstSeconds) const
    {
        return firstSeconds > kSlowSeconds ? std::min(opt.runs, opt.slowRuns) : opt.runs;
    }

    // A fresh tool per run: the first selection after the start, then the same
    // set selected again. Keeps the last tool when it has the set loaded.
    void MeasureSelect(int index, unsigned uRules, Tool*& pKeep)
    {
        char sz[64];
        std::snprintf(sz, sizeof(sz), "select r%u (%u rules), first after start", uRules, uRules);
        Series first{sz, {}, {}, {}};
        std::snprintf(sz, sizeof(sz), "select r%u (%u rules) again", uRules, uRules);
        Series again{sz, {}, {}, {}};
        int runs = opt.runs;
        for (int run = 1; run <= runs; ++run)
        {
            Tool* pTool = new Tool;
            if (!pTool->Start(exe, dir))
            {
                first.Add(run, kGone, 0, " (no main window)");
                delete pTool;
                break;
            }
            double seconds = 0;
            unsigned uCount = 0;
            Outcome outcome = pTool->Select(index, uRules, opt.boundMs, seconds, uCount);
            std::snprintf(sz, sizeof(sz), ", %u rows", uCount);
            first.Add(run, outcome, seconds, sz);
            if (outcome == kOk)
            {
                if (run == 1)
                    runs = RunsAfterFirst(seconds);
                outcome = pTool->Select(index, uRules, opt.boundMs, seconds, uCount);
                std::snprintf(sz, sizeof(sz), ", %u rows", uCount);
                again.Add(run, outcome, seconds, sz);
            }
            if (outcome == kOverBound)
                pTool->Kill();
            if (outcome == kOk && run == runs && pKeep == nullptr)
                pKeep = pTool;
            else
                delete pTool;
            if (outcome != kOk)
                break;
        }
        Finish(first);
        Finish(again);
    }

    // One tool with the large set loaded; the target is written afresh and the
    // failure log removed before each run, as each run patches the target.
    void MeasureStart(bool found, Tool*& pTool)
    {
        char sz[128];
        unsigned uExpected = found ? uPresent : 0;
        std::snprintf(sz, sizeof(sz), "start r%u on a %u MiB target, %s", opt.rules,
                      static_cast<unsigned>(g_targetBytes >> 20),
                      found ? "90% of the texts in it" : "no text in it");
        Series series{sz, {}, {}, {}};
        std::snprintf(sz, sizeof(sz), "(expected: tried %u, modified %u)", opt.rules, uExpected);
        series.note = sz;
        int runs = opt.runs;
        for (int run = 1; run <= runs; ++run)
        {
            if (pTool == nullptr && !LoadLargeSet(pTool))
            {
                series.Add(run, kGone, 0, " (could not load the rule set)");
                break;
            }
            const std::vector<BYTE>& data = found ? foundTarget : emptyTarget;
            DeleteFileW((dir + L"\\pivra.log").c_str());
            if (!WriteWhole(target, data.data(), static_cast<DWORD>(data.size())))
            {
                series.Add(run, kWrongResult, 0, " (could not write the target)");
                break;
            }
            double seconds = 0;
            WString report;
            Outcome outcome = pTool->RunPatch(opt.boundMs, seconds, report);
            unsigned uTried = 0, uModified = 0;
            std::string detail;
            if (outcome == kOk)
            {
                detail = ", report \"" + Utf8(report) + "\"";
                if (!ParseCounts(report, uTried, uModified) || uTried != opt.rules || uModified != uExpected)
                    outcome = kWrongResult;
            }
            series.Add(run, outcome, seconds, detail);
            if (outcome == kOverBound || outcome == kGone)
            {
                pTool->Kill();
                delete pTool;
                pTool = nullptr;
                break;
            }
            if (outcome != kOk)
                break;
            if (run == 1)
                runs = RunsAfterFirst(seconds);
        }
        Finish(series);
    }

    // A fresh copy of the large set before each run, loaded, then rule 2
    // deleted: every later rule moves down one number, in the file and the list.
    void MeasureDelete(Tool*& pTool)
    {
        char sz[96];
        std::snprintf(sz, sizeof(sz), "delete rule 2 of r%u, with the renumbering", opt.rules);
        Series series{sz, {}, {}, {}};
        int runs = opt.runs;
        for (int run = 1; run <= runs; ++run)
        {
            double seconds = 0;
            unsigned uCount = 0;
            if (!WriteRuleSet(largeSet, target, rules, opt.rules) ||
                (pTool == nullptr && !(pTool = new Tool)->Start(exe, dir)) ||
                pTool->Select(1, opt.rules, opt.boundMs, seconds, uCount) != kOk)
            {
                series.Add(run, kGone, 0, " (could not load the rule set)");
                break;
            }
            Outcome outcome = pTool->DeleteSecondRow(opt.rules - 1, opt.boundMs, seconds);
            if (outcome == kOk && !Renumbered())
                outcome = kWrongResult;
            series.Add(run, outcome, seconds, "");
            if (outcome == kOverBound || outcome == kGone)
            {
                pTool->Kill();
                delete pTool;
                pTool = nullptr;
            }
            if (outcome != kOk)
                break;
            if (run == 1)
                runs = RunsAfterFirst(seconds);
        }
        Finish(series);
    }

    // [N] gone, [N-1] holding rule N's text and [002] rule 3's.
    bool Renumbered() const
    {
        return StoredEn(opt.rules).empty() && StoredEn(opt.rules - 1) == Escaped(rules[opt.rules - 1].en) &&
               StoredEn(2) == Escaped(rules[2].en);
    }

    WString StoredEn(unsigned n) const
    {
        wchar_t wsNode[16], wsText[2048] = {};
        _snwprintf(wsNode, 16, L"%03u", n);
        GetPrivateProfileStringW(wsNode, L"EN", L"", wsText, 2048, largeSet.c_str());
        return wsText;
    }

    bool LoadLargeSet(Tool*& pTool)
    {
        pTool = new Tool;
        double seconds = 0;
        unsigned uCount = 0;
        if (pTool->Start(exe, dir) && pTool->Select(1, opt.rules, opt.boundMs, seconds, uCount) == kOk)
            return true;
        pTool->Kill();
        delete pTool;
        pTool = nullptr;
        return false;
    }

    void Finish(Series& series)
    {
        if (series.seconds.empty() && series.failures.empty())
            return;
        allOk = allOk && series.failures.empty();
        done.push_back(series);
    }

    bool Prepare()
    {
        wchar_t wsName[64];
        _snwprintf(wsName, 64, L"pivra-gui-bench-%lu", GetCurrentProcessId());
        dir = opt.temp;
        if (!dir.empty() && dir.back() != L'\\')
            dir += L'\\';
        dir += wsName;
        if (!CreateDirectoryW(dir.c_str(), nullptr))
        {
            Print("gui_bench: cannot create the tool directory %s\n", Utf8(dir).c_str());
            return false;
        }
        exe = dir + L"\\pivra.exe";
        target = dir + L"\\target.bin";
        if (!CopyFileW(opt.pivra.c_str(), exe.c_str(), FALSE))
        {
            Print("gui_bench: cannot copy %s\n", Utf8(opt.pivra).c_str());
            return false;
        }
        if (!MakeRules(opt.rules, rules))
        {
            Print("gui_bench: cannot make %u distinct rules\n", opt.rules);
            return false;
        }
        wchar_t wsSmall[32], wsLarge[32];
        _snwprintf(wsSmall, 32, L"r%u", kSmallRules);
        _snwprintf(wsLarge, 32, L"r%u", opt.rules);
        if (!WriteUnicodeFile(dir + L"\\Pivra.ini", L"[Config]\r\n1=" + WString(wsSmall) + L"\r\n2=" +
                                                        WString(wsLarge) + L"\r\n") ||
            !WriteRuleSet(dir + L"\\" + wsSmall + L".ini", target, rules, kSmallRules) ||
            !WriteRuleSet(largeSet = dir + L"\\" + wsLarge + L".ini", target, rules, opt.rules))
        {
            Print("gui_bench: cannot write the rule sets\n");
            return false;
        }
        emptyTarget = MakeFiller();
        foundTarget = emptyTarget;
        uPresent = PlantRules(foundTarget, rules);
        if (!WriteWhole(target, emptyTarget.data(), static_cast<DWORD>(emptyTarget.size())))
        {
            Print("gui_bench: cannot write the target\n");
            return false;
        }
        return true;
    }
};
} // namespace

int main()
{
    Bench bench;
    if (!ParseOptions(bench.opt))
    {
        Print("usage: gui_bench [--runs N] [--slow-runs N] [--rules N (over %u)] [--bound SECONDS]\n"
              "                 [--only select|start|delete] [--target-mib N] [--temp DIR] [--pivra EXE]\n",
              kSmallRules);
        return 2;
    }
    bool prepared = bench.Prepare();
    if (prepared)
    {
        Print("gui_bench: %s in %s; rule sets r%u and r%u; %d runs (%d for measurements over %.0f s), bound "
              "%lu s\n",
              Utf8(bench.opt.pivra).c_str(), Utf8(bench.dir).c_str(), kSmallRules, bench.opt.rules,
              bench.opt.runs, std::min(bench.opt.runs, bench.opt.slowRuns), kSlowSeconds,
              bench.opt.boundMs / 1000);
        Tool* pTool = nullptr;
        if (bench.opt.select)
        {
            bench.MeasureSelect(0, kSmallRules, pTool);
            delete pTool; // the start runs need the large set
            pTool = nullptr;
            bench.MeasureSelect(1, bench.opt.rules, pTool);
        }
        if (bench.opt.start)
        {
            bench.MeasureStart(true, pTool);
            bench.MeasureStart(false, pTool);
        }
        if (bench.opt.remove)
            bench.MeasureDelete(pTool);
        delete pTool;
        Print("\n");
        for (const Series& series : bench.done)
            Print("%s\n", series.Summary().c_str());
    }
    if (!bench.dir.empty())
        RemoveToolDir(bench.dir);
    return prepared && bench.allOk ? 0 : 1;
}
