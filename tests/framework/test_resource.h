#pragma once

#define IDD_FW_CONTROLS 200
#define IDD_FW_CLASSED 201
#define IDD_FW_CHILD 202

#define IDC_FW_EN 300
#define IDC_FW_CN 301
#define IDC_FW_LIST 302
#define IDC_FW_COMBO 303
#define IDC_FW_PROGRESS 304
#define IDC_FW_ABSENT 399

#define FW_DIALOG_CLASS L"PivraFwTestDialog"
