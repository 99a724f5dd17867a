// The windows as the window design lays them out, kept once for every
// toolkit: the main window Form1 (frame, every control's place, size, start
// state, font and resource caption, the status panels, the menus) and the
// version window Form2. The Qt and the Win32 window build their controls from
// these tables, and their tests read what to expect from them.
#pragma once

#include <array>
#include <string_view>

#include "bootloader/phone_model.h"

namespace layout {

struct Rect {
    int x, y, width, height;
};

struct Frame {
    std::string_view caption;
    int x, y;                         // where the window first appears on the screen
    int client_width, client_height;  // fixed: no maximize, no resizing
};

// The fonts of the design, by what they draw.
enum class Font_Role {
    kWindow,        // "MS Sans Serif" 13 px: version fields, status bar
    kMemo,          // "Times New Roman" 13 px: TeMemo1, mReceive
    kLabel,         // "Segoe UI" 13 px: Label1, Label2
    kButton,        // "MS Sans Serif" 18 px: Download, Cancel, ShowTime (enlarged by 5)
    kVersionTitle,  // "黑体" 36 px bold: the version window's version line
    kVersionText,   // "黑体" 11 px: the version window's maker line
};
inline constexpr std::size_t kFontRoleCount = 6;

// The controls of Form1 under the names the program uses. The numbers are
// the Win32 window's control ids.
enum class Control : int {
    kTeMemo1 = 1001,
    kShowTime = 1002,
    kMReceive = 1003,
    kLabel2 = 1004,
    kVersionNameEdit = 1005,
    kLabel1 = 1006,
    kOldVersionNameEdit = 1007,
    kDownload = 1008,
    kCancel = 1009,
    kTeProgressBar1 = 1010,
    kStatusBar1 = 1011,
};

enum class Kind { kMemo, kButton, kLabel, kField, kProgressBar, kStatusBar };

struct Control_Layout {
    Control control;
    std::string_view name;
    Kind kind;
    Rect place;  // in the window's client area
    bool visible;
    bool enabled;
    bool tab_stop;
    bool read_only;  // memos: the user reads, never types
    Font_Role font;
    // The caption as the resource holds it; FormCreate puts the Chinese ones
    // on the buttons and labels, and TeMemo1 shows the introduction.
    std::string_view caption;
};

inline constexpr Frame kForm1{kPhoneModel.window_title, 425, 87, 440, 540};
// The application's title: the taskbar's name and the completion box's caption.
inline constexpr std::string_view kApplicationTitle = kPhoneModel.application_title;

// Tab order first (Download, mReceive, ShowTime, Cancel, the version fields,
// TeMemo1), then the controls that take no focus.
inline constexpr std::array<Control_Layout, 11> kForm1Controls = {{
    {Control::kDownload,
     "Download",
     Kind::kButton,
     {10, 451, 206, 33},
     true,
     true,
     true,
     false,
     Font_Role::kButton,
     "Download"},
    {Control::kMReceive,
     "mReceive",
     Kind::kMemo,
     {8, 299, 424, 89},
     true,
     true,
     true,
     true,
     Font_Role::kMemo,
     "\n"},
    // Never shown by the program; its click still switches the clock.
    {Control::kShowTime,
     "ShowTime",
     Kind::kButton,
     {353, 23, 82, 33},
     false,
     true,
     true,
     false,
     Font_Role::kButton,
     "Show Time"},
    {Control::kCancel,
     "Cancel",
     Kind::kButton,
     {226, 451, 205, 33},
     true,
     true,
     true,
     false,
     Font_Role::kButton,
     "cancel"},
    // Display only.
    {Control::kVersionNameEdit,
     "VersionNameEdit",
     Kind::kField,
     {112, 393, 313, 24},
     true,
     false,
     true,
     false,
     Font_Role::kWindow,
     ""},
    {Control::kOldVersionNameEdit,
     "OldVersionNameEdit",
     Kind::kField,
     {112, 421, 313, 24},
     true,
     false,
     true,
     false,
     Font_Role::kWindow,
     ""},
    {Control::kTeMemo1,
     "TeMemo1",
     Kind::kMemo,
     {8, 7, 425, 290},
     true,
     true,
     true,
     true,
     Font_Role::kMemo,
     ""},
    {Control::kLabel2,
     "Label2",
     Kind::kLabel,
     {8, 393, 83, 20},
     true,
     true,
     false,
     false,
     Font_Role::kLabel,
     "New Version"},
    {Control::kLabel1,
     "Label1",
     Kind::kLabel,
     {8, 421, 77, 20},
     true,
     true,
     false,
     false,
     Font_Role::kLabel,
     "Old Version"},
    // Hidden until an update talks to the phone; smooth, with a border.
    {Control::kTeProgressBar1,
     "TeProgressBar1",
     Kind::kProgressBar,
     {8, 486, 423, 17},
     false,
     true,
     false,
     false,
     Font_Role::kWindow,
     ""},
    // Placed like any control, not docked to the window's bottom edge.
    {Control::kStatusBar1,
     "StatusBar1",
     Kind::kStatusBar,
     {8, 508, 423, 25},
     true,
     true,
     false,
     false,
     Font_Role::kWindow,
     ""},
}};

constexpr const Control_Layout& Of(Control control) {
    for (const Control_Layout& layout : kForm1Controls) {
        if (layout.control == control)
            return layout;
    }
    return kForm1Controls[0];
}

// StatusBar1's panels: 0 the elapsed time, 1 the clock line.
inline constexpr std::array<int, 2> kPanelWidths{100, 400};

// TeMemo1's text, kept once in download/introduction.txt.
std::string_view Introduction_Text();

// MainMenu1: hidden; the menu key opens it over the window's top edge. Its
// captions never change.
inline constexpr Rect kMainMenu1Place{0, 0, 569, 22};
struct Menu_Item {
    std::string_view name;
    std::string_view caption;
};
struct Menu {
    std::string_view name;
    std::string_view caption;
    std::array<Menu_Item, 2> items;  // an empty name ends the list
};
inline constexpr std::array<Menu, 2> kMainMenu1 = {{
    {"File1", "Language", {{{"English", "English"}, {"Chinese", "中文"}}}},
    {"Help1", "&Help", {{{"About1", "About"}, {}}}},
}};

// The version window. The numbers are the Win32 window's control ids.
inline constexpr Frame kForm2{"Version", 492, 312, 298, 125};
enum class Form2_Control : int { kTeLabel1 = 201, kLabel2 = 202 };
struct Label_Layout {
    Form2_Control control;
    std::string_view name;
    Rect place;
    Font_Role font;
    std::string_view caption;
};
inline constexpr std::array<Label_Layout, 2> kForm2Labels = {{
    {Form2_Control::kTeLabel1,
     "TeLabel1",
     {16, 16, 273, 49},
     Font_Role::kVersionTitle,
     "Version 3.1"},
    {Form2_Control::kLabel2,
     "Label2",
     {40, 96, 138, 11},
     Font_Role::kVersionText,
     "CORVEL CORPORATION"},
}};

}  // namespace layout
