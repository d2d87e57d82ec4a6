#pragma once

// Resource ids, shared by the resource script and the code. The command ids are those of
// CommandDefinitions.h; the resource script cannot read an enum.
#define IDR_MAINFRAME 128
#define IDD_ABOUTBOX 100
#define IDD_SETTING 201
#define IDC_PORT 1001
#define IDC_DEVICE 1002
#define IDC_STATIC -1

#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_FILE_SAVE_AS 57603
#define ID_APP_EXIT 57665
#define ID_EDIT_COPY 57634
#define ID_VIEW_TOOLBAR 59392
#define ID_VIEW_STATUS_BAR 59393
#define ID_CONNECT 32772
#define ID_SETTINGS 32773
#define ID_APP_ABOUT 57664

#define ATL_IDW_STATUS_BAR 59393
#define ATL_IDW_TOOLBAR 59392
#define ATL_IDW_BAND_FIRST 60160
