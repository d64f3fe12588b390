// Identifiers of the window program's resources and controls, shared by the resource script,
// the windows and the tests that drive them.
#pragma once

#define IDI_QOR_APPLICATION 1
#define IDR_MAIN_MENU 100

// TfrmMain (not 1001, the number of a combo box's own edit field)
#define IDC_LABEL1 1101
#define IDC_BEVEL1 1102
#define IDC_CBX_PORT 1103
#define IDC_PROGRESS_BAR1 1104
#define IDC_BTN_PROG 1105
#define IDC_BTN_FILE 1106
#define IDC_BTN_CLOSE 1107
#define IDC_BTN_CANCEL 1108
#define IDC_CHK_READ_INFO_ONLY 1109
#define IDC_STATUS_BAR1 1110

// The Info menu
#define IDM_INFO_FIRMWARE 2001
#define IDM_INFO_FILE 2002
#define IDM_FILE_EXIT 2003

// TfrmProtocol, TfrmMessage and TfrmInfo: the text areas and the list (their OK buttons are IDOK)
#define IDC_MEMO1 3001
#define IDC_LIST_VIEW1 3002

// The "Confirm" dialog: its question (its buttons are IDYES and IDNO)
#define IDC_CONFIRM_ICON 4001
#define IDC_CONFIRM_TEXT 4002
