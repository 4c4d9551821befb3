// Resource and control ids of the tool's dialogs.
#pragma once

#define IDI_PIVRA 101
#define IDD_MAIN 101
#define IDD_REMARKS 130

#define IDC_RULE_LIST 1000
#define IDC_EN_EDIT 1001
#define IDC_CN_EDIT 1002
#define IDC_FILE_EDIT 1003
#define IDC_BROWSE 1004
#define IDC_PROGRESS 1005
#define IDC_RULE_SETS 1006
#define IDC_START 1007
#define IDC_ADD_RULE_SET 1008
#define IDC_REMARKS 1009
#define IDC_REMARKS_EDIT 1009
