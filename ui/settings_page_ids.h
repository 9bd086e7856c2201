/* Resource identifiers of the settings page, shared by the resource script
   and the code that loads the page: plain definitions, so that the resource
   compiler reads them too. */
#pragma once

#define IDS_PAGE_TITLE 102
#define IDD_SETTINGS_PAGE 202
#define IDC_IR_ADAPTER 204
#define IDC_PORT_LIST 206
#define IDC_SPEED_LIST 208
#define IDC_NOTES 212
#define IDC_FAST_EXCHANGE 214
#define IDC_TRACE 216
#define IDC_FIND_TERMINAL 218
#define IDC_SEARCH_STATUS 220
