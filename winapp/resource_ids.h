/* Identifiers of flashtool.exe's resources, shared by the resource script and
   the code (and by the tests, which find the windows by them). The main
   window's controls are numbered in the layout table
   (window_model/layout.h). Plain #defines: the resource compiler reads this
   file. */
#pragma once

/* Resources */
#define IDI_FLASHTOOL 1
#define IDM_MAINMENU1 100
#define IDD_FORM2 200

/* Menu items of MainMenu1 */
#define IDM_ENGLISH 101
#define IDM_CHINESE 102
#define IDM_ABOUT1 103

/* Controls of the version window Form2 */
#define IDC_TELABEL1 201
#define IDC_FORM2_LABEL2 202

/* flashtool-station.exe: its icon is IDI_FLASHTOOL; its controls */
#define IDC_STATION_OPEN_IMAGE 301
#define IDC_STATION_START 302
#define IDC_STATION_STOP 303
#define IDC_STATION_PHONES 304
#define IDC_STATION_PHONE_LOG 305
#define IDC_STATION_MESSAGES 306
#define IDC_STATION_STATUS 307
#define IDC_STATION_SETTINGS 308

/* flashtool-station.exe's settings dialog and its controls (OK is IDOK,
   Cancel IDCANCEL) */
#define IDD_STATION_SETTINGS 400
#define IDC_SETTINGS_MATCH_LABEL 401
#define IDC_SETTINGS_MATCH 402
#define IDC_SETTINGS_SLOTS_LABEL 403
#define IDC_SETTINGS_SLOTS 404
#define IDC_SETTINGS_SLOTS_BROWSE 405
#define IDC_SETTINGS_ONLY_SLOTS 406
#define IDC_SETTINGS_LOG_LABEL 407
#define IDC_SETTINGS_LOG_FOLDER 408
#define IDC_SETTINGS_LOG_BROWSE 409
#define IDC_SETTINGS_REASON 410
