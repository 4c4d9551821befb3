// The main window: rule-set box, rule list, EN/CN/path boxes, progress bar.
#pragma once

#include "framework/combo_box.h"
#include "framework/edit_ctrl.h"
#include "framework/listview_ctrl.h"
#include "framework/process_ctrl.h"
#include "framework/window.h"

class CMainWnd : public CWindow
{
  public:
    CMainWnd();

    int OnInitDialog() override;
    int OnCommand(WPARAM wParam, HWND hCtrl) override;
    int OnNotify(WPARAM id, NMHDR* pHdr) override;
    void OnClose(WPARAM wParam) override;

    // 1 and the selected rule set's file path, or 0 when no rule set is selected.
    int GetRuleSetFile(LPWSTR wsFile, UINT cchFile);
    int GetRemarksFile(LPWSTR wsFile, UINT cchFile);
    void LoadRuleList();
    int ChooseFile(LPWSTR wsFile, LPCWSTR wsTitle, LPCWSTR wsFilter);

    // The control objects belong to their controls, which delete them.
    CListviewCtrl* m_list;
    CComboBox* m_ruleSets;
    CEditCtrl* m_enEdit;
    CEditCtrl* m_cnEdit;
    CEditCtrl* m_fileEdit;
    CProcessCtrl* m_progress;
    // Set while LoadRuleList fills the path box, whose change must not be saved.
    int m_loadingPath;

  private:
    int GetToolFileOfSelection(LPWSTR wsFile, UINT cchFile, LPCWSTR wsEnding);
    int GetSelectedRow();
    // The first selected row and its section name, or -1 when there is none.
    int GetSelectedNode(LPWSTR wsNode);
    void ShowRemarks();
    void AddRuleSet();
    void StartPatch();
    void Browse();
    void SaveTargetPath();
    void SaveText(CEditCtrl* pEdit, LPCWSTR wsKey, int column);
    void ShowRule();
    void ToggleOrAddRule(int item, int subItem);
    void AddRule();
    void DeleteSelectedRule();
};
