// Driving the tool's real dialogs the way a user does: typed characters,
// clicks on list cells, keys through the dialog manager, and answers to the
// boxes a command opens inside its own modal loop.
#pragma once

#include "temp_dir.h"

#include "app/main_wnd.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

bool InOwnToolDirectory();
void InitAppTests();

// The directory the running copy sits in: the tool's directory.
WString ToolDir();
WString ToolFile(const WString& name);
// Removes the tool's own files (catalogue, rule sets, remarks, failure log).
void DeleteToolFiles();
WString FailureLogFile();

// An INI or remarks file as UTF-16LE with its byte-order mark.
void WriteUnicodeFile(const WString& path, const WString& text);
// The stored value, or kAbsent when the key (or file) is missing.
extern const WString kAbsent;
WString ReadIni(const WString& file, const WString& section, const WString& key);
bool SectionExists(const WString& file, const WString& section);

// Every test starts from an empty tool directory.
class AppTest : public testing::Test
{
  protected:
    void SetUp() override;
};

// Handles queued messages (keys through the dialog manager of their dialog)
// until the queue is empty.
void Pump();
// Pumps until fnDone holds, at most ms milliseconds.
bool WaitUntil(const std::function<bool()>& fnDone, DWORD ms = 5000);

// Ends a modeless dialog the way the modal loop ends a modal one: handles
// messages until EndDialog has hidden it, then destroys it at once, so what
// the ending left queued for it is dropped.
bool PumpUntilEnded(HWND hDlg, DWORD ms = 5000);

WString WindowText(HWND hWnd);
// WM_CHAR for each character, as the keyboard would deliver them.
void TypeChars(HWND hCtrl, const WString& text);
// A text pasted over the selection, line breaks and all.
void Paste(HWND hEdit, const WString& text);
// Key down and up on a control, through IsDialogMessage of its dialog.
void PressKey(HWND hCtrl, UINT vk);
void SelectAll(HWND hEdit);
void CaretToEnd(HWND hEdit);
// Start and end of the edit box's selection.
std::pair<DWORD, DWORD> Selection(HWND hEdit);

// While alive, a timer looks for dialogs owned by owner (a message box, the
// remarks window, the open-file dialog) and hands each new one to fnAct, which
// returns true once it has answered it.
class OwnedDialogAnswerer
{
  public:
    OwnedDialogAnswerer(HWND owner, std::function<bool(HWND)> fnAct);
    ~OwnedDialogAnswerer();
    OwnedDialogAnswerer(const OwnedDialogAnswerer&) = delete;
    OwnedDialogAnswerer& operator=(const OwnedDialogAnswerer&) = delete;

    int Answered() const { return m_answered; }

  private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    void Look();

    HWND m_owner;
    std::function<bool(HWND)> m_fnAct;
    UINT_PTR m_timer;
    std::vector<HWND> m_done;
    int m_answered;
};

// Answers every message box owned by owner with OK and keeps its text.
class MessageBoxAnswerer
{
  public:
    explicit MessageBoxAnswerer(HWND owner);
    const std::vector<WString>& Texts() const { return m_texts; }

  private:
    std::vector<WString> m_texts;
    OwnedDialogAnswerer m_answerer;
};

// The main window, opened modeless from the real template (the dialog then
// owns its CMainWnd and deletes it when destroyed).
class MainWindow
{
  public:
    MainWindow();
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Esc, as the user presses it; then the window is destroyed.
    void Close();

    int SetCount();
    WString SetName(int index);
    std::vector<WString> SetNames();
    int CurrentSet();
    // The selection as the drop-down list makes it, with its notification.
    void SelectSet(int index);
    // Replaces the text of the rule-set box's edit field by typing.
    void TypeSetName(const WString& name);
    void ClickButton(int id);

    int RowCount();
    WString Cell(int row, int column);
    std::vector<WString> Row(int row);
    int SelectedRow();
    int SelectedCount();
    void ClickCell(int row, int column);
    void DoubleClickCell(int row, int column);
    void DoubleClickBelowRows();
    void PressDelete() { PressKey(hList, VK_DELETE); }

    WString En() { return WindowText(hEn); }
    WString Cn() { return WindowText(hCn); }
    WString Path() { return WindowText(hPath); }

    CMainWnd* pWnd; // valid while the window exists
    HWND hWnd;
    HWND hList;
    HWND hEn;
    HWND hCn;
    HWND hPath;
    HWND hSets;
    HWND hSetsEdit;

  private:
    POINT CellPoint(int row, int column);
    void Click(POINT pt);
    void DoubleClick(POINT pt);
};

// A path of the build tree (a Unix path) as Wine's drive Z: shows it.
WString WinePath(const char* szUnix);

// How many times the UTF-16LE form of text occurs in bytes, at any offset.
size_t CountUtf16(const std::string& bytes, const WString& text);
