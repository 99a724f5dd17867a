// The main window Form1 as the window design lays it out: its frame, and each
// control's class, place, size, start state and resource caption. TForm1
// creates the controls from this table.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <string_view>

#include "winapp/fonts.h"
#include "winapp/resource_ids.h"

namespace form1 {

inline constexpr wchar_t kClassName[] = L"TForm1";
inline constexpr wchar_t kCaption[] = L"Corvel VANTREL TOOL (M418)";
// The application's title: the completion box's caption.
inline constexpr wchar_t kApplicationTitle[] = L"Vantrel Tool";
inline constexpr POINT kPosition{425, 87};
inline constexpr SIZE kClientSize{440, 540};
// A fixed frame with minimize and close but no maximize button.
inline constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Status panels: index 0 is 100 wide, index 1 is 400 wide (right edges).
inline constexpr std::array<int, 2> kPanelEdges{100, 500};

struct Control {
    int id;
    const wchar_t* window_class;
    int x, y, width, height;
    DWORD style;  // WS_CHILD is added; WS_VISIBLE says the control shows at start
    DWORD ex_style;
    Font_Role font;
    // The caption as the design's resource holds it; FormCreate puts the
    // Chinese ones on the buttons and labels. TeMemo1 gets the introduction.
    std::wstring_view caption;
};

inline constexpr DWORD kMemoStyle = WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE |
                                    ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL;
inline constexpr DWORD kFieldStyle = WS_VISIBLE | WS_DISABLED | WS_TABSTOP | ES_AUTOHSCROLL;
inline constexpr DWORD kButtonStyle = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

inline constexpr DWORD kLabelStyle = WS_VISIBLE | SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX;

// Tab order first (Download, mReceive, ShowTime, Cancel, the version fields,
// TeMemo1): the controls are created in this order and Tab follows it.
inline constexpr std::array<Control, 11> kControls = {{
    {IDC_DOWNLOAD, L"Button", 10, 451, 206, 33, kButtonStyle, 0, Font_Role::kButton, L"Download"},
    {IDC_MRECEIVE, L"Edit", 8, 299, 424, 89, kMemoStyle, WS_EX_CLIENTEDGE, Font_Role::kMemo,
     L"\r\n"},
    {IDC_SHOWTIME, L"Button", 353, 23, 82, 33, kButtonStyle & ~WS_VISIBLE, 0, Font_Role::kButton,
     L"Show Time"},
    {IDC_CANCEL, L"Button", 226, 451, 205, 33, kButtonStyle, 0, Font_Role::kButton, L"cancel"},
    {IDC_VERSIONNAMEEDIT, L"Edit", 112, 393, 313, 24, kFieldStyle, WS_EX_CLIENTEDGE,
     Font_Role::kWindow, L""},
    {IDC_OLDVERSIONNAMEEDIT, L"Edit", 112, 421, 313, 24, kFieldStyle, WS_EX_CLIENTEDGE,
     Font_Role::kWindow, L""},
    {IDC_TEMEMO1, L"Edit", 8, 7, 425, 290, kMemoStyle, WS_EX_CLIENTEDGE, Font_Role::kMemo, L""},
    {IDC_LABEL2, L"Static", 8, 393, 83, 20, kLabelStyle, 0, Font_Role::kLabel, L"New Version"},
    {IDC_LABEL1, L"Static", 8, 421, 77, 20, kLabelStyle, 0, Font_Role::kLabel, L"Old Version"},
    // Hidden until an update talks to the phone; smooth, with a border.
    {IDC_TEPROGRESSBAR1, L"msctls_progress32", 8, 486, 423, 17, WS_BORDER | PBS_SMOOTH, 0,
     Font_Role::kWindow, L""},
    // Placed like any control, not docked to the window's bottom edge.
    {IDC_STATUSBAR1, L"msctls_statusbar32", 8, 508, 423, 25,
     WS_VISIBLE | CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0, Font_Role::kWindow, L""},
}};

}  // namespace form1
