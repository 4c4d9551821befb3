// Starting a patch run from the main window: its rule list, progress bar and a
// report box owned by the window.
#pragma once

class CMainWnd;

void RunPatchFromWindow(CMainWnd& main, const wchar_t* wsRuleFile, const wchar_t* wsTarget);
