/* Identifiers of flashtool.exe's resources and of the main window's controls,
   shared by the resource script and the code (and by the tests, which find the
   controls by them). Plain #defines: the resource compiler reads this file. */
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

/* Controls of the main window Form1 */
#define IDC_TEMEMO1 1001
#define IDC_SHOWTIME 1002
#define IDC_MRECEIVE 1003
#define IDC_LABEL2 1004
#define IDC_VERSIONNAMEEDIT 1005
#define IDC_LABEL1 1006
#define IDC_OLDVERSIONNAMEEDIT 1007
#define IDC_DOWNLOAD 1008
#define IDC_CANCEL 1009
#define IDC_TEPROGRESSBAR1 1010
#define IDC_STATUSBAR1 1011
