#pragma once

// Resource and command ids, shared by the resource script and the program.

#define IDS_COMPANY 1
#define IDS_PRODUCT_CODE 2
#define IDS_COPYRIGHT 4
#define IDS_APP_TITLE 5
#define IDS_APP_SHORT 6

#define IDR_MAIN_MENU 106
#define IDI_PROGRAM 115

#define IDM_OPEN 40004
#define IDM_ABOUT 40005
// Exit takes IDCLOSE's number, so the menu and a dialog's close both mean "close".
#define IDM_EXIT 8
