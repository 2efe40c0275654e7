#pragma once
// Identifiers shared by the resource script and the code.

// Dialog templates
#define IDD_WIZARD_FRAME 103
#define IDD_WELCOME 108
#define IDD_LOCATION 111
#define IDD_OPTIONS 116
#define IDD_INSTALLING 117
#define IDD_FINISH 118
#define IDD_CONFIRM 120

// Icon group and bitmaps
#define IDI_SETUP 102
#define IDB_SIDE_PICTURE 109   /* tall picture of the Welcome and Finish pages */
#define IDB_HEADER_PICTURE 124 /* picture in the frame's white header band */

// Frame controls (IDOK = 1 is Next, IDCANCEL = 2 is Cancel / Finish)
#define IDC_HEADER_SUBTITLE 1000
#define IDC_HEADER_TITLE 1001
#define IDC_BACK 1002
#define IDC_HEADER_SEPARATOR 1003
#define IDC_HEADER_BAND 1012

// Page controls
#define IDC_REQUIRED_SPACE 1004
#define IDC_AVAILABLE_SPACE 1005
#define IDC_FINISH_TEXT 1006
#define IDC_FINISH_EXTRA 1007
#define IDC_WELCOME_CAPTION 1009
#define IDC_WELCOME_INTRO 1010
#define IDC_LOCATION_TEXT 1011
#define IDC_SERVER_BOX 1013
#define IDC_CLIENT_BOX 1014
#define IDC_INSTALL_DIR 1017
#define IDC_BROWSE 1018
#define IDC_DESKTOP_BOX 1019
#define IDC_QUICKSTART_BOX 1020
#define IDC_STARTMENU_BOX 1021
#define IDC_PROGRAMMG_BOX 1023
#define IDC_LOG_LIST 1024
#define IDC_PROGRESS 1025
#define IDC_STATUS_LINE 1026

// Sent by the extraction worker to the frame as its last act; wParam and
// lParam are 0. The worker has stored its outcome before sending.
#define WM_INSTALL_DONE (0x0400 + 101) /* WM_USER + 101 = 1125 */
