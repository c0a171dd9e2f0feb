// Resource and control identifiers shared by the dialog logic and the window code.
#pragma once

#define IDD_FWUPDATE_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_EXIT 1 /* the framework's OK command */
#define IDC_START_UPDATE 1000
#define IDC_PROGRESS 1001
#define IDC_STATUS 1002
#define IDC_CONNECT_DOTS 1003
#define IDC_VENDOR_ID 1004
#define IDC_CHECK_VERSION 1005
#define IDC_PRODUCT_ID 1006

#define UPDATE_TIMER_ID 5095
