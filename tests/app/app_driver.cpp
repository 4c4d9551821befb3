#include "app_driver.h"

#include "resource.h"
#include "util/path.h"

#include <commctrl.h>

#include <algorithm>

const WString kAbsent = L"<absent>";

void InitAppTests()
{
    INITCOMMONCONTROLSEX stIcc = {sizeof(stIcc),
                                  ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&stIcc);
}

WString ToolDir()
{
    WCHAR wsDir[MAX_PATH];
    GetModuleDir(nullptr, wsDir, MAX_PATH);
    return wsDir;
}

WString ToolFile(const WString& name)
{
    return ToolDir() + L"\\" + name;
}

WString FailureLogFile()
{
    WCHAR wsExe[MAX_PATH];
    DWORD cch = GetModuleFileNameW(nullptr, wsExe, MAX_PATH);
    WString path(wsExe, cch);
    return path.substr(0, path.rfind(L'.')) + L".log";
}

void DeleteToolFiles()
{
    WIN32_FIND_DATAW stFind;
    HANDLE hFind = FindFirstFileW(ToolFile(L"*").c_str(), &stFind);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if (stFind.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        WString name = stFind.cFileName;
        size_t dot = name.rfind(L'.');
        WString ext = dot == WString::npos ? L"" : name.substr(dot + 1);
        std::transform(ext.begin(), ext.end(), ext.begin(), towlower);
        if (ext == L"ini" || ext == L"txt" || ext == L"log" || ext == L"dll" || ext == L"bin")
            DeleteFileW(ToolFile(name).c_str());
    } while (FindNextFileW(hFind, &stFind));
    FindClose(hFind);
}

void WriteUnicodeFile(const WString& path, const WString& text)
{
    WriteBytes(path, "\xFF\xFE" + Utf16Bytes(text));
}

WString ReadIni(const WString& file, const WString& section, const WString& key)
{
    std::vector<WCHAR> buf(8192);
    GetPrivateProfileStringW(section.c_str(), key.c_str(), kAbsent.c_str(), buf.data(),
                             static_cast<DWORD>(buf.size()), file.c_str());
    return buf.data();
}

bool SectionExists(const WString& file, const WString& section)
{
    std::vector<WCHAR> buf(8192);
    return GetPrivateProfileSectionW(section.c_str(), buf.data(), static_cast<DWORD>(buf.size()),
                                     file.c_str()) > 0;
}

void AppTest::SetUp()
{
    DeleteToolFiles();
}

namespace
{
void Route(MSG& stMsg)
{
    HWND hRoot = stMsg.hwnd != nullptr ? GetAncestor(stMsg.hwnd, GA_ROOT) : nullptr;
    WCHAR wsClass[16] = {};
    if (hRoot != nullptr)
        GetClassNameW(hRoot, wsClass, 16);
    if (hRoot != nullptr && wcscmp(wsClass, L"#32770") == 0 && IsDialogMessageW(hRoot, &stMsg))
        return;
    TranslateMessage(&stMsg);
    DispatchMessageW(&stMsg);
}
} // namespace

void Pump()
{
    MSG stMsg;
    for (int i = 0; i < 100000 && PeekMessageW(&stMsg, nullptr, 0, 0, PM_REMOVE); ++i)
        Route(stMsg);
}

bool WaitUntil(const std::function<bool()>& fnDone, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        Pump();
        if (fnDone())
            return true;
        if (GetTickCount() - start > ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

bool PumpUntilEnded(HWND hDlg, DWORD ms)
{
    DWORD start = GetTickCount();
    MSG stMsg;
    for (;;)
    {
        while (PeekMessageW(&stMsg, nullptr, 0, 0, PM_REMOVE))
        {
            Route(stMsg);
            if (!IsWindowVisible(hDlg))
            {
                DestroyWindow(hDlg);
                Pump();
                return true;
            }
        }
        if (GetTickCount() - start > ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

WString WindowText(HWND hWnd)
{
    int cch = GetWindowTextLengthW(hWnd);
    std::vector<WCHAR> buf(static_cast<size_t>(cch) + 1);
    GetWindowTextW(hWnd, buf.data(), cch + 1);
    return buf.data();
}

void TypeChars(HWND hCtrl, const WString& text)
{
    for (WCHAR c : text)
        SendMessageW(hCtrl, WM_CHAR, c, 1);
    Pump();
}

void Paste(HWND hEdit, const WString& text)
{
    SendMessageW(hEdit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
    Pump();
}

void PressKey(HWND hCtrl, UINT vk)
{
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
    MSG stMsg = {hCtrl, WM_KEYDOWN, vk, 1 | scan, GetTickCount(), {0, 0}};
    Route(stMsg);
    stMsg.message = WM_KEYUP;
    stMsg.lParam = 1 | scan | (1L << 30) | (1L << 31);
    Route(stMsg);
    Pump();
}

void SelectAll(HWND hEdit)
{
    SendMessageW(hEdit, EM_SETSEL, 0, -1);
}

void CaretToEnd(HWND hEdit)
{
    int end = GetWindowTextLengthW(hEdit);
    SendMessageW(hEdit, EM_SETSEL, end, end);
}

std::pair<DWORD, DWORD> Selection(HWND hEdit)
{
    DWORD start = 0, end = 0;
    SendMessageW(hEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
}

namespace
{
OwnedDialogAnswerer* g_answerer = nullptr;

struct OwnedSearch
{
    HWND owner;
    const std::vector<HWND>* pDone;
    HWND found;
};

BOOL CALLBACK FindOwnedDialog(HWND hWnd, LPARAM lParam)
{
    OwnedSearch* pSearch = reinterpret_cast<OwnedSearch*>(lParam);
    WCHAR wsClass[16] = {};
    GetClassNameW(hWnd, wsClass, 16);
    if (wcscmp(wsClass, L"#32770") != 0 || GetWindow(hWnd, GW_OWNER) != pSearch->owner ||
        !IsWindowVisible(hWnd))
        return TRUE;
    if (std::find(pSearch->pDone->begin(), pSearch->pDone->end(), hWnd) != pSearch->pDone->end())
        return TRUE;
    pSearch->found = hWnd;
    return FALSE;
}
} // namespace

OwnedDialogAnswerer::OwnedDialogAnswerer(HWND owner, std::function<bool(HWND)> fnAct)
    : m_owner(owner), m_fnAct(std::move(fnAct)), m_timer(0), m_answered(0)
{
    g_answerer = this;
    m_timer = SetTimer(nullptr, 0, 20, OnTimer);
}

OwnedDialogAnswerer::~OwnedDialogAnswerer()
{
    KillTimer(nullptr, m_timer);
    g_answerer = nullptr;
}

void CALLBACK OwnedDialogAnswerer::OnTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_answerer != nullptr)
        g_answerer->Look();
}

void OwnedDialogAnswerer::Look()
{
    // A window handle can come back for a later dialog once the first is gone.
    m_done.erase(std::remove_if(m_done.begin(), m_done.end(), [](HWND h) { return !IsWindow(h); }),
                 m_done.end());
    OwnedSearch stSearch = {m_owner, &m_done, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindOwnedDialog, reinterpret_cast<LPARAM>(&stSearch));
    if (stSearch.found != nullptr && m_fnAct(stSearch.found))
    {
        m_done.push_back(stSearch.found);
        ++m_answered;
    }
}

MessageBoxAnswerer::MessageBoxAnswerer(HWND owner)
    : m_answerer(owner, [this](HWND hBox) {
          WCHAR wsText[512] = {};
          GetDlgItemTextW(hBox, 0xFFFF, wsText, 512);
          m_texts.push_back(wsText);
          PostMessageW(hBox, WM_COMMAND, IDOK, 0);
          return true;
      })
{
}

MainWindow::MainWindow()
{
    pWnd = new CMainWnd;
    // Modeless: the dialog owns the object from here on.
    hWnd = reinterpret_cast<HWND>(pWnd->CreateDlg(nullptr, GetModuleHandleW(nullptr), IDD_MAIN, 0, 0));
    hList = GetDlgItem(hWnd, IDC_RULE_LIST);
    hEn = GetDlgItem(hWnd, IDC_EN_EDIT);
    hCn = GetDlgItem(hWnd, IDC_CN_EDIT);
    hPath = GetDlgItem(hWnd, IDC_FILE_EDIT);
    hSets = GetDlgItem(hWnd, IDC_RULE_SETS);
    COMBOBOXINFO stInfo = {};
    stInfo.cbSize = sizeof(stInfo);
    GetComboBoxInfo(hSets, &stInfo);
    hSetsEdit = stInfo.hwndItem;
    // Left hidden as the template creates it: under Wine every shown window
    // costs about two seconds when destroyed, and the list's hit testing,
    // notifications and the keyboard focus work the same without it.
    Pump();
}

MainWindow::~MainWindow()
{
    if (IsWindow(hWnd))
        DestroyWindow(hWnd);
    Pump();
}

void MainWindow::Close()
{
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(VK_ESCAPE, MAPVK_VK_TO_VSC)) << 16;
    MSG stMsg = {hList, WM_KEYDOWN, VK_ESCAPE, 1 | scan, GetTickCount(), {0, 0}};
    Route(stMsg);
    EXPECT_TRUE(PumpUntilEnded(hWnd));
}

int MainWindow::SetCount()
{
    return static_cast<int>(SendMessageW(hSets, CB_GETCOUNT, 0, 0));
}

WString MainWindow::SetName(int index)
{
    int cch = static_cast<int>(SendMessageW(hSets, CB_GETLBTEXTLEN, index, 0));
    if (cch < 0)
        return kAbsent;
    std::vector<WCHAR> buf(static_cast<size_t>(cch) + 1);
    SendMessageW(hSets, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buf.data()));
    return buf.data();
}

std::vector<WString> MainWindow::SetNames()
{
    std::vector<WString> names;
    for (int i = 0; i < SetCount(); ++i)
        names.push_back(SetName(i));
    return names;
}

int MainWindow::CurrentSet()
{
    return static_cast<int>(SendMessageW(hSets, CB_GETCURSEL, 0, 0));
}

void MainWindow::SelectSet(int index)
{
    SendMessageW(hSets, CB_SETCURSEL, index, 0);
    SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDC_RULE_SETS, CBN_SELCHANGE), reinterpret_cast<LPARAM>(hSets));
    Pump();
}

void MainWindow::TypeSetName(const WString& name)
{
    SetFocus(hSetsEdit);
    SelectAll(hSetsEdit);
    SendMessageW(hSetsEdit, WM_CHAR, VK_BACK, 1);
    TypeChars(hSetsEdit, name);
}

void MainWindow::ClickButton(int id)
{
    SendMessageW(GetDlgItem(hWnd, id), BM_CLICK, 0, 0);
    Pump();
}

int MainWindow::RowCount()
{
    return static_cast<int>(SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0));
}

WString MainWindow::Cell(int row, int column)
{
    WCHAR wsText[4096] = {};
    LVITEMW stItem = {};
    stItem.iSubItem = column;
    stItem.pszText = wsText;
    stItem.cchTextMax = 4096;
    SendMessageW(hList, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&stItem));
    return wsText;
}

std::vector<WString> MainWindow::Row(int row)
{
    std::vector<WString> cells;
    for (int c = 0; c < 7; ++c)
        cells.push_back(Cell(row, c));
    return cells;
}

int MainWindow::SelectedRow()
{
    return static_cast<int>(SendMessageW(hList, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
}

int MainWindow::SelectedCount()
{
    return static_cast<int>(SendMessageW(hList, LVM_GETSELECTEDCOUNT, 0, 0));
}

POINT MainWindow::CellPoint(int row, int column)
{
    RECT rc = {};
    rc.top = column;
    rc.left = column == 0 ? LVIR_LABEL : LVIR_BOUNDS;
    BOOL ok = static_cast<BOOL>(SendMessageW(hList, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&rc)));
    EXPECT_TRUE(ok) << "no cell " << row << "," << column;
    return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

void MainWindow::Click(POINT pt)
{
    LPARAM lp = MAKELPARAM(pt.x, pt.y);
    // Queued first: a list that waits for the button's release in its own
    // loop finds it there, one that does not gets it from the pump.
    PostMessageW(hList, WM_LBUTTONUP, 0, lp);
    SendMessageW(hList, WM_LBUTTONDOWN, MK_LBUTTON, lp);
    Pump();
}

void MainWindow::DoubleClick(POINT pt)
{
    Click(pt);
    LPARAM lp = MAKELPARAM(pt.x, pt.y);
    PostMessageW(hList, WM_LBUTTONUP, 0, lp);
    SendMessageW(hList, WM_LBUTTONDBLCLK, MK_LBUTTON, lp);
    Pump();
}

void MainWindow::ClickCell(int row, int column)
{
    Click(CellPoint(row, column));
}

void MainWindow::DoubleClickCell(int row, int column)
{
    DoubleClick(CellPoint(row, column));
}

void MainWindow::DoubleClickBelowRows()
{
    RECT rcClient;
    GetClientRect(hList, &rcClient);
    int count = RowCount();
    int y = rcClient.bottom - 4;
    if (count > 0)
    {
        RECT rc = {};
        rc.left = LVIR_BOUNDS;
        SendMessageW(hList, LVM_GETITEMRECT, count - 1, reinterpret_cast<LPARAM>(&rc));
        EXPECT_LT(rc.bottom + 4, y) << "no empty area below the rows";
    }
    DoubleClick({20, y});
}

size_t CountUtf16(const std::string& bytes, const WString& text)
{
    std::string needle = Utf16Bytes(text);
    size_t count = 0;
    for (size_t pos = bytes.find(needle); pos != std::string::npos; pos = bytes.find(needle, pos + 1))
        ++count;
    return count;
}

WString WinePath(const char* szUnix)
{
    WString path = L"Z:";
    for (const char* p = szUnix; *p != 0; ++p)
        path += *p == '/' ? L'\\' : static_cast<WCHAR>(static_cast<unsigned char>(*p));
    return path;
}
