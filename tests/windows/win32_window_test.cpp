// flashtool.exe under Wine, driven from outside like a user: the main window's
// frame and every control (place, size, class, caption in both languages,
// start state), the hidden menus from the keyboard, the version window, the
// clock, two whole updates through the Download button, the file dialog and
// the completion box against the virtual phone, and temp.log on closing.
// The station window flashtool-station.exe likewise: its controls in both
// languages, three phones updated at once and a Stop that asks first.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "journal_records.h"
#include "phone_flash_file.h"
#include "serial_map_sandbox.h"
#include "support/image_builder.h"
#include "winapp/resource_ids.h"
#include "window_driver.h"
#include "window_model/layout.h"
#include "window_model/station_texts.h"
#include "wine_ports.h"

namespace {

using namespace window_driver;
using test_support::Bytes;
using test_support::Image_Builder;
using test_support::Random_Bytes;

std::wstring Env(const char* name) {
    const char* value = std::getenv(name);
    std::wstring wide;
    for (const char* c = value != nullptr ? value : ""; *c != '\0'; ++c)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return wide;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (const wchar_t c : text)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

// The records one run of a window program left in the user's journal, by
// port; nullopt where the build keeps no journal.
std::optional<std::multimap<std::string, Journal_Record>> Journal_Of_Run(DWORD pid) {
    std::string problem;
    const auto records = Default_Journal_Records(problem);
    if (!records)
        return std::nullopt;
    EXPECT_TRUE(problem.empty()) << problem;
    std::multimap<std::string, Journal_Record> by_port;
    for (const Journal_Record& record : *records) {
        if (record.pid == static_cast<long long>(pid))
            by_port.emplace(record.port, record);
    }
    return by_port;
}

// A fresh working directory for one run of the program.
std::wstring Fresh_Directory(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path =
        std::wstring(temp) + L"flashtool-" + name + L"-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

using layout::Control;

// A control of the main window by its name in the layout table.
int Id(Control control) {
    return static_cast<int>(control);
}
HWND Item(HWND main, Control control) {
    return GetDlgItem(main, Id(control));
}

// The controls of the main window; where they are placed is the layout
// table's (layout::Of).
struct Expected_Control {
    Control control;
    const wchar_t* window_class;
    bool visible;
    bool enabled;
    const wchar_t* chinese;  // caption in each language; null: not a caption
    const wchar_t* english;
};
const std::array<Expected_Control, 11> kControls = {{
    {Control::kTeMemo1, L"Edit", true, true, nullptr, nullptr},
    {Control::kShowTime, L"Button", false, true, L"顯示時間", L"Show time"},
    {Control::kMReceive, L"Edit", true, true, L"", L""},
    {Control::kLabel2, L"Static", true, true, L"新版本", L"New version"},
    {Control::kVersionNameEdit, L"Edit", true, false, L"", L""},
    {Control::kLabel1, L"Static", true, true, L"舊版本", L"Old version"},
    {Control::kOldVersionNameEdit, L"Edit", true, false, L"", L""},
    {Control::kDownload, L"Button", true, true, L"更新韌體", L"Download"},
    {Control::kCancel, L"Button", true, true, L"離開", L"Cancel"},
    {Control::kTeProgressBar1, L"msctls_progress32", false, true, nullptr, nullptr},
    {Control::kStatusBar1, L"msctls_statusbar32", true, true, nullptr, nullptr},
}};

void Expect_Captions(HWND main, bool chinese) {
    for (const Expected_Control& control : kControls) {
        if (control.chinese == nullptr || *control.chinese == L'\0')
            continue;
        EXPECT_EQ(Text_Of(Item(main, control.control)), chinese ? control.chinese : control.english)
            << "control " << Id(control.control);
    }
}

bool Captions_Are(HWND main, const wchar_t* download_caption) {
    return Text_Of(Item(main, Control::kDownload)) == download_caption;
}

void Expect_Place(HWND control, const layout::Rect& place) {
    const RECT rect = Rect_In_Parent(control);
    EXPECT_EQ(rect.left, place.x) << "control " << GetDlgCtrlID(control);
    EXPECT_EQ(rect.top, place.y) << "control " << GetDlgCtrlID(control);
    EXPECT_EQ(rect.right - rect.left, place.width) << "control " << GetDlgCtrlID(control);
    EXPECT_EQ(rect.bottom - rect.top, place.height) << "control " << GetDlgCtrlID(control);
}

// The control that has the keys in the program's window thread, or its
// active window when no control has them.
HWND Keys_Window(HWND main) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info))
        return nullptr;
    return info.hwndFocus != nullptr ? info.hwndFocus : info.hwndActive;
}

void Post_Key(HWND window, UINT message, WPARAM key, LPARAM bits) {
    PostMessageW(window, message, key, bits);
}

// The visible popup menus of the program.
std::size_t Open_Menus(DWORD process_id) {
    std::size_t count = 0;
    for (HWND menu : Top_Windows(process_id, L"#32768"))
        count += IsWindowVisible(menu) ? 1 : 0;
    return count;
}

HWND First_Open_Menu(DWORD process_id) {
    for (HWND menu : Top_Windows(process_id, L"#32768")) {
        if (IsWindowVisible(menu))
            return menu;
    }
    return nullptr;
}

std::vector<HWND> Visible_Version_Windows(DWORD process_id) {
    const std::wstring title = L"Version";
    std::vector<HWND> shown;
    for (HWND window : Top_Windows(process_id, L"#32770", &title)) {
        if (IsWindowVisible(window))
            shown.push_back(window);
    }
    return shown;
}

// The program file's resources, read without running it: the icon's five
// images, the menus, the version information and the manifest.
TEST(Win32WindowResources, IconMenusVersionAndManifest) {
    const std::wstring executable = Env("FLASHTOOL_WINDOW_EXE");
    ASSERT_FALSE(executable.empty());
    HMODULE module = LoadLibraryExW(executable.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << GetLastError();

    // RT_GROUP_ICON (14) and RT_MANIFEST (24): the headers name them as narrow texts.
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(IDI_FLASHTOOL), MAKEINTRESOURCEW(14));
    ASSERT_NE(group, nullptr);
    const auto* icons = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    const WORD count = *reinterpret_cast<const WORD*>(icons + 4);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i)
        sizes.push_back(icons[6 + 14 * i]);  // width; 0 would mean 256
    EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64}));

    HMENU bar = LoadMenuW(module, MAKEINTRESOURCEW(IDM_MAINMENU1));
    ASSERT_NE(bar, nullptr);
    auto caption = [](HMENU menu, UINT position) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
        return std::wstring(text);
    };
    ASSERT_EQ(GetMenuItemCount(bar), 2);
    EXPECT_EQ(caption(bar, 0), L"Language");
    EXPECT_EQ(caption(bar, 1), L"&Help");
    HMENU language = GetSubMenu(bar, 0);
    ASSERT_EQ(GetMenuItemCount(language), 2);
    EXPECT_EQ(caption(language, 0), L"English");
    EXPECT_EQ(caption(language, 1), L"中文");
    EXPECT_EQ(GetMenuItemID(language, 0), static_cast<UINT>(IDM_ENGLISH));
    EXPECT_EQ(GetMenuItemID(language, 1), static_cast<UINT>(IDM_CHINESE));
    HMENU help = GetSubMenu(bar, 1);
    ASSERT_EQ(GetMenuItemCount(help), 1);
    EXPECT_EQ(caption(help, 0), L"About");
    EXPECT_EQ(GetMenuItemID(help, 0), static_cast<UINT>(IDM_ABOUT1));
    DestroyMenu(bar);

    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr);
    const std::string manifest_text(
        static_cast<const char*>(LockResource(LoadResource(module, manifest))),
        SizeofResource(module, manifest));
    EXPECT_NE(manifest_text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    FreeLibrary(module);

    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(executable.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(
        GetFileVersionInfoW(executable.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    wchar_t* product_version = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\ProductVersion",
                               reinterpret_cast<void**>(&product_version), &length));
    EXPECT_EQ(std::wstring(product_version), L"" FLASHTOOL_VERSION_WIDE);
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

class Win32Window : public ::testing::Test {
  protected:
    void SetUp() override {
        m_executable = Env("FLASHTOOL_WINDOW_EXE");
        ASSERT_FALSE(m_executable.empty())
            << "FLASHTOOL_WINDOW_EXE is not set: run through scripts/test-windows";
    }

    // Starts flashtool.exe in directory and waits for its main window.
    HWND Launch(const std::wstring& directory) {
        if (!m_program.Start(m_executable, directory, directory + L"\\stdout.txt"))
            return nullptr;
        HWND main = m_program.Wait_For_Window(L"TForm1");
        EXPECT_NE(main, nullptr) << "the main window did not show";
        return main;
    }

    std::wstring m_executable;
    Program m_program;
};

TEST_F(Win32Window, ShowsTheDesignedWindowItsMenusVersionWindowAndClock) {
    const std::wstring directory = Fresh_Directory(L"window");
    {
        std::ofstream old_log(Narrow(directory) + "\\temp.log");
        old_log << "left from an earlier run";
    }
    HWND main = Launch(directory);
    ASSERT_NE(main, nullptr);
    const DWORD pid = m_program.Id();

    // The frame: caption, place, fixed size with the table's client area,
    // minimize but no maximize, no menu bar, the program icon.
    EXPECT_EQ(Text_Of(main), L"Corvel VANTREL TOOL (M418)");
    RECT frame;
    GetWindowRect(main, &frame);
    EXPECT_EQ(frame.left, layout::kForm1.x);
    EXPECT_EQ(frame.top, layout::kForm1.y);
    const SIZE client = Client_Size(main);
    EXPECT_EQ(client.cx, layout::kForm1.client_width);
    EXPECT_EQ(client.cy, layout::kForm1.client_height);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(main, GWL_STYLE));
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_EQ(GetMenu(main), nullptr);

    // Every control, and no other: class, place, start state, Chinese captions.
    std::vector<int> tab_order;
    int children = 0;
    for (HWND child = GetWindow(main, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        ++children;
        if (GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP)
            tab_order.push_back(GetDlgCtrlID(child));
    }
    EXPECT_EQ(children, static_cast<int>(kControls.size()));
    EXPECT_EQ(tab_order, (std::vector<int>{
                             Id(Control::kDownload), Id(Control::kMReceive), Id(Control::kShowTime),
                             Id(Control::kCancel), Id(Control::kVersionNameEdit),
                             Id(Control::kOldVersionNameEdit), Id(Control::kTeMemo1)}));
    for (const Expected_Control& expected : kControls) {
        const int id = Id(expected.control);
        HWND control = GetDlgItem(main, id);
        ASSERT_NE(control, nullptr) << "control " << id;
        EXPECT_EQ(Class_Of(control), expected.window_class) << "control " << id;
        Expect_Place(control, layout::Of(expected.control).place);
        EXPECT_EQ(IsWindowVisible(control) != FALSE, expected.visible) << "control " << id;
        EXPECT_EQ(IsWindowEnabled(control) != FALSE, expected.enabled) << "control " << id;
    }
    Expect_Captions(main, true);

    // The introduction: 44 lines between two lines of stars, six headings,
    // read-only, with a scroll bar.
    HWND intro = Item(main, Control::kTeMemo1);
    const std::vector<std::wstring> lines = Lines_Of(Text_Of(intro));
    ASSERT_EQ(lines.size(), 44u);
    EXPECT_EQ(lines.front().rfind(L"☆★", 0), 0u);
    EXPECT_EQ(lines.back().rfind(L"★☆", 0), 0u);
    std::size_t headings = 0;
    for (const std::wstring& line : lines)
        headings += line.rfind(L"◎", 0) == 0 ? 1 : 0;
    EXPECT_EQ(headings, 6u);
    const auto intro_style = static_cast<DWORD>(GetWindowLongPtrW(intro, GWL_STYLE));
    EXPECT_TRUE(intro_style & ES_READONLY);
    EXPECT_TRUE(intro_style & WS_VSCROLL);
    // Tab leaves it along the tab order instead of staying in it.
    const auto intro_keys = SendMessageW(intro, WM_GETDLGCODE, VK_TAB, 0);
    EXPECT_FALSE(intro_keys & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) << intro_keys;
    EXPECT_TRUE(GetWindowLongPtrW(Item(main, Control::kMReceive), GWL_STYLE) & WS_VSCROLL);

    // The status bar: two panels of the table's widths, empty at start.
    HWND bar = Item(main, Control::kStatusBar1);
    EXPECT_EQ(Status_Panel_Edges(m_program.Process(), bar),
              (std::vector<int>{layout::kPanelWidths[0],
                                layout::kPanelWidths[0] + layout::kPanelWidths[1]}));
    EXPECT_EQ(Status_Panel_Text(m_program.Process(), bar, 0), L"");
    EXPECT_EQ(Status_Panel_Text(m_program.Process(), bar, 1), L"");

    // The keys go where the user types them: the focused Download button.
    // F10 opens the menus; Enter opens Language, Enter picks English.
    HWND typed_into = Item(main, Control::kDownload);
    Post_Key(typed_into, WM_SYSKEYDOWN, VK_F10, 0x00440001);
    Post_Key(typed_into, WM_SYSKEYUP, VK_F10, static_cast<LPARAM>(0xC0440001u));
    ASSERT_TRUE(Wait_Until([&] { return Open_Menus(pid) == 1; })) << "F10 opened no menu";
    PostMessageW(First_Open_Menu(pid), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ASSERT_TRUE(Wait_Until([&] { return Open_Menus(pid) == 2; })) << "Enter opened no submenu";
    PostMessageW(First_Open_Menu(pid), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ASSERT_TRUE(Wait_Until([&] { return Captions_Are(main, L"Download"); }))
        << "Language > English did not re-caption the window";
    EXPECT_EQ(Open_Menus(pid), 0u);
    Expect_Captions(main, false);

    // Alt alone opens the menus too; Escape closes them and changes nothing.
    Post_Key(typed_into, WM_SYSKEYDOWN, VK_MENU, 0x20380001);
    Post_Key(typed_into, WM_SYSKEYUP, VK_MENU, static_cast<LPARAM>(0xC0380001u));
    ASSERT_TRUE(Wait_Until([&] { return Open_Menus(pid) == 1; })) << "Alt opened no menu";
    PostMessageW(First_Open_Menu(pid), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ASSERT_TRUE(Wait_Until([&] { return Open_Menus(pid) == 0; }));
    Expect_Captions(main, false);

    // Alt+H opens Help; Enter picks About: the version window.
    Post_Key(typed_into, WM_SYSCHAR, L'h', 0x20230001);
    ASSERT_TRUE(Wait_Until([&] { return Open_Menus(pid) == 1; })) << "Alt+H opened no menu";
    PostMessageW(First_Open_Menu(pid), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ASSERT_TRUE(Wait_Until([&] { return Visible_Version_Windows(pid).size() == 1; }))
        << "Help > About showed no version window";
    HWND version = Visible_Version_Windows(pid).front();
    RECT version_frame;
    GetWindowRect(version, &version_frame);
    EXPECT_EQ(version_frame.left, layout::kForm2.x);
    EXPECT_EQ(version_frame.top, layout::kForm2.y);
    EXPECT_EQ(Client_Size(version).cx, layout::kForm2.client_width);
    EXPECT_EQ(Client_Size(version).cy, layout::kForm2.client_height);
    EXPECT_FALSE(GetWindowLongPtrW(version, GWL_STYLE) & WS_MAXIMIZEBOX);
    HWND title = GetDlgItem(version, IDC_TELABEL1);
    HWND maker = GetDlgItem(version, IDC_FORM2_LABEL2);
    EXPECT_EQ(Text_Of(title), L"Version 3.1");
    EXPECT_EQ(Text_Of(maker), L"CORVEL CORPORATION");
    for (const layout::Label_Layout& label : layout::kForm2Labels)
        Expect_Place(GetDlgItem(version, static_cast<int>(label.control)), label.place);

    // Escape, typed where the keys are once it shows, closes it. The keys
    // move to it once the system has activated it, which a loaded machine
    // may do a little after it shows. Under Wine on a bare X server, the
    // focus event of the menu's closing can arrive after the window was
    // activated and give the keys back to the main window; About again is
    // what a user would do, and activates it anew.
    HWND keys = nullptr;
    const auto keys_in_version = [&] {
        keys = Keys_Window(main);
        return keys != nullptr && (keys == version || IsChild(version, keys));
    };
    if (!Wait_Until(keys_in_version, 10s))
        SendMessageW(main, WM_COMMAND, IDM_ABOUT1, 0);
    EXPECT_TRUE(Wait_Until(keys_in_version)) << "the version window has no keys";
    ASSERT_NE(keys, nullptr);
    Post_Key(keys, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    EXPECT_TRUE(Wait_Until([&] { return !IsWindowVisible(version); }))
        << "Escape left the version window open";
    SendMessageW(main, WM_COMMAND, IDM_ABOUT1, 0);
    ASSERT_TRUE(Wait_Until([&] { return IsWindowVisible(version) != FALSE; }));

    // About again: still one version window. Closing hides it; About shows
    // the same window again.
    SendMessageW(main, WM_COMMAND, IDM_ABOUT1, 0);
    EXPECT_EQ(Visible_Version_Windows(pid), std::vector<HWND>{version});
    SendMessageW(version, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(version));
    EXPECT_TRUE(IsWindow(version));
    EXPECT_TRUE(IsWindow(main));
    SendMessageW(main, WM_COMMAND, IDM_ABOUT1, 0);
    EXPECT_EQ(Visible_Version_Windows(pid), std::vector<HWND>{version});
    EXPECT_EQ(Text_Of(title), L"Version 3.1");
    SendMessageW(version, WM_CLOSE, 0, 0);

    // The clock (its button is hidden; a click still reaches it): on, the
    // line comes with the next tick; off, the panel empties at once.
    HWND show_time = Item(main, Control::kShowTime);
    SendMessageW(show_time, BM_CLICK, 0, 0);
    EXPECT_EQ(Text_Of(show_time), L"Don't Show");
    std::wstring clock_line;
    EXPECT_TRUE(Wait_Until([&] {
        clock_line = Status_Panel_Text(m_program.Process(), bar, 1);
        return !clock_line.empty();
    }));
    EXPECT_EQ(clock_line.rfind(L"The system time is ", 0), 0u) << Narrow(clock_line);
    EXPECT_EQ(clock_line.back(), L'.');
    SendMessageW(show_time, BM_CLICK, 0, 0);
    EXPECT_EQ(Text_Of(show_time), L"Show Time ");
    EXPECT_EQ(Status_Panel_Text(m_program.Process(), bar, 1), L"");

    // Language > 中文 through its command: Chinese captions again.
    SendMessageW(main, WM_COMMAND, IDM_CHINESE, 0);
    Expect_Captions(main, true);

    // Closing: exit code 0 and an empty temp.log where the program started.
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(m_program.Wait_For_Exit(), std::optional<DWORD>(0));
    WIN32_FILE_ATTRIBUTE_DATA log{};
    ASSERT_TRUE(
        GetFileAttributesExW((directory + L"\\temp.log").c_str(), GetFileExInfoStandard, &log));
    EXPECT_EQ(log.nFileSizeLow, 0u);
}

TEST_F(Win32Window, SaysSoOnStandardOutputWhenTempLogCannotBeCreated) {
    // A directory in the way: the file cannot be created, whoever runs this.
    const std::wstring directory = Fresh_Directory(L"nolog");
    CreateDirectoryW((directory + L"\\temp.log").c_str(), nullptr);
    HWND main = Launch(directory);
    ASSERT_NE(main, nullptr);
    PostMessageW(Item(main, Control::kCancel), BM_CLICK, 0, 0);
    EXPECT_EQ(m_program.Wait_For_Exit(), std::optional<DWORD>(0));
    std::ifstream output(Narrow(directory) + "\\stdout.txt", std::ios::binary);
    const std::string printed{std::istreambuf_iterator<char>(output), {}};
    EXPECT_EQ(printed, "File create failure.\r\n");
}

// The file dialog: the name typed into its file name box, then Open.
void Open_File_In_Dialog(HWND dialog, const std::wstring& path) {
    constexpr int kFileNameCombo = 0x47C;  // cmb13
    constexpr int kFileNameEdit = 0x480;   // edt1
    HWND name_box = GetDlgItem(dialog, kFileNameCombo);
    if (name_box == nullptr)
        name_box = GetDlgItem(dialog, kFileNameEdit);
    ASSERT_NE(name_box, nullptr) << "the file dialog has no file name box";
    SendMessageW(name_box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

// The visible completion box: a message box with OK and no other button.
// (A question box that is going away can briefly show without its buttons;
// it is not taken for the completion box.)
HWND Completion_Box(DWORD process_id, HWND main) {
    HWND box = Owned_Dialog_With(process_id, main, 0xFFFF);
    return box != nullptr && GetDlgItem(box, IDOK) != nullptr && GetDlgItem(box, IDNO) == nullptr
               ? box
               : nullptr;
}

bool Buttons_Enabled(HWND main) {
    return IsWindowEnabled(Item(main, Control::kDownload)) &&
           IsWindowEnabled(Item(main, Control::kCancel));
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

class Win32WindowUpdate : public Win32Window {
  protected:
    // Clicks Download, lets handle_dialog answer the file dialog, and waits
    // for the completion box; null if it did not come.
    HWND Run_Download(HWND main, const std::function<void(HWND dialog)>& handle_dialog) {
        PostMessageW(Item(main, Control::kDownload), BM_CLICK, 0, 0);
        HWND dialog = nullptr;
        EXPECT_TRUE(Wait_Until([&] {
            dialog = Owned_Dialog_With(m_program.Id(), main, IDOK);
            return dialog != nullptr && Owned_Dialog_With(m_program.Id(), main, 0xFFFF) == nullptr;
        })) << "no file dialog";
        if (dialog == nullptr)
            return nullptr;
        handle_dialog(dialog);
        HWND box = nullptr;
        EXPECT_TRUE(Wait_Until(
            [&] { return (box = Completion_Box(m_program.Id(), main)) != nullptr; }, 180s))
            << "no completion box; the message area says:\n"
            << Narrow(Text_Of(Item(main, Control::kMReceive)));
        return box;
    }
};

TEST_F(Win32WindowUpdate, UpdatesThePhoneThroughTheDownloadButtonTwice) {
    const std::uint16_t phone_port = wine_ports::Port_Number("FLASHTOOL_WINE_WINDOW_PHONE_PORT");
    const std::string flash_path = Narrow(Env("FLASHTOOL_WINE_WINDOW_PHONE_FLASH"));
    ASSERT_NE(phone_port, 0);
    ASSERT_FALSE(flash_path.empty());
    // The phone search finds the port through the registry's map.
    Serial_Map_Sandbox map;
    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER000", "COM" + std::to_string(phone_port)));

    // Same code and language as the phone's boot loader; three blocks.
    Image_Builder image;
    image.version_text = Bytes("CVLbootloaderVC_M418ZHTWA00101");
    image.first.start = 0x00010000;
    image.first.data = Random_Bytes(70000, 31);
    image.second.start = 0x00200000;
    image.second.data = Random_Bytes(3000, 32);
    test_support::Temp_Image_File file(image.Build());
    ASSERT_TRUE(file.Ok());
    std::wstring image_path;
    for (const char c : file.Path())
        image_path += static_cast<wchar_t>(static_cast<unsigned char>(c));

    const std::wstring directory = Fresh_Directory(L"update");
    HWND main = Launch(directory);
    ASSERT_NE(main, nullptr);
    HWND memo = Item(main, Control::kMReceive);
    HWND bar = Item(main, Control::kStatusBar1);
    HWND progress = Item(main, Control::kTeProgressBar1);

    // First run, in Chinese: the phone's record differs in its first 16
    // bytes, so its boot loader is dumped and the record taken from the dump.
    HWND box = Run_Download(main, [&](HWND dialog) { Open_File_In_Dialog(dialog, image_path); });
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Text_Of(GetDlgItem(box, 0xFFFF)), L"更新完成!");
    EXPECT_EQ(Text_Of(box), L"Vantrel Tool");
    const std::wstring first_messages = Text_Of(memo);
    for (const wchar_t* line :
         {L"尋找通訊埠中....\r\n請耐心等候!\r\n", L"找到通訊埠 COM", L"準備開始更新",
          L"第一次執行Vantrel", L"下載開始時間: ", L"下載結束時間: "}) {
        EXPECT_TRUE(Contains(first_messages, line)) << Narrow(line);
    }
    EXPECT_EQ(Text_Of(Item(main, Control::kVersionNameEdit)), L"CVLbootloaderVC_M418ZHTWA00101");
    EXPECT_EQ(Text_Of(Item(main, Control::kOldVersionNameEdit)), L"CVLbootloaderVC_M418ZHTWA00100");
    // While the box is open: buttons still disabled, the bar hidden again at
    // its end, and the elapsed time running in panel 0.
    EXPECT_FALSE(IsWindowEnabled(Item(main, Control::kDownload)));
    EXPECT_FALSE(IsWindowEnabled(Item(main, Control::kCancel)));
    EXPECT_FALSE(IsWindowVisible(progress));
    const int total = static_cast<int>(image.first.data.size() + image.second.data.size());
    EXPECT_EQ(SendMessageW(progress, PBM_GETRANGE, FALSE, 0), total);
    std::wstring elapsed;
    EXPECT_TRUE(Wait_Until([&] {
        elapsed = Status_Panel_Text(m_program.Process(), bar, 0);
        return !elapsed.empty();
    })) << "the elapsed time did not run";
    EXPECT_EQ(elapsed.rfind(L"0:0:", 0), 0u) << Narrow(elapsed);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    EXPECT_TRUE(Wait_Until([&] { return Buttons_Enabled(main); }));
    auto flash = phone_flash::Read_Complete(flash_path, image.second.data.size());
    ASSERT_TRUE(flash.has_value()) << "no flash file at " << flash_path;
    ASSERT_EQ(flash->size(), 2u);
    EXPECT_EQ(flash->at(0).start, image.first.start);
    EXPECT_TRUE(flash->at(0).bytes == image.first.data) << "first region differs";
    EXPECT_EQ(flash->at(1).start, image.second.start);
    EXPECT_TRUE(flash->at(1).bytes == image.second.data) << "second region differs";
    const std::vector<std::uint8_t> run1_first = image.first.data;
    const std::vector<std::uint8_t> run1_second = image.second.data;

    // Switching to English empties the message area.
    SendMessageW(main, WM_COMMAND, IDM_ENGLISH, 0);
    EXPECT_EQ(Text_Of(memo), L"");

    // New bytes in the same file. A cancelled dialog loads nothing and
    // writes nothing: the window is idle at once, the phone keeps run 1's
    // flash.
    image.first.data = Random_Bytes(70000, 33);
    image.second.data = Random_Bytes(3000, 34);
    {
        const std::vector<std::uint8_t> bytes = image.Build();
        std::ofstream rewrite(file.Path(), std::ios::binary | std::ios::trunc);
        rewrite.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
    }
    PostMessageW(Item(main, Control::kDownload), BM_CLICK, 0, 0);
    HWND dialog = nullptr;
    ASSERT_TRUE(Wait_Until([&] {
        return (dialog = Owned_Dialog_With(m_program.Id(), main, IDOK)) != nullptr;
    })) << "no file dialog";
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    EXPECT_TRUE(Wait_Until([&] {
        return Owned_Dialog_With(m_program.Id(), main, IDOK) == nullptr && Buttons_Enabled(main);
    }));
    Sleep(500);
    EXPECT_EQ(Text_Of(memo), L"") << "a cancel started an update";
    EXPECT_EQ(Completion_Box(m_program.Id(), main), nullptr);
    flash = phone_flash::Read_Complete(flash_path, run1_second.size());
    ASSERT_TRUE(flash.has_value());
    EXPECT_TRUE(flash->at(0).bytes == run1_first) << "a cancel wrote the phone";

    // Second run, in English: the dialog starts on the file chosen last, and
    // Open loads it with its new bytes; the phone now holds the image's
    // record, so no dump.
    box = Run_Download(main, [](HWND dialog) {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    });
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Text_Of(GetDlgItem(box, 0xFFFF)), L"Update OK!");
    const std::wstring second_messages = Text_Of(memo);
    EXPECT_TRUE(Contains(second_messages, L"Download start at: ")) << Narrow(second_messages);
    EXPECT_TRUE(Contains(second_messages, L"Download end at: ")) << Narrow(second_messages);
    EXPECT_FALSE(Contains(second_messages, L"第一次執行Vantrel")) << Narrow(second_messages);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    EXPECT_TRUE(Wait_Until([&] { return Buttons_Enabled(main); }));
    flash = phone_flash::Read_Complete(flash_path, image.second.data.size());
    ASSERT_TRUE(flash.has_value());
    ASSERT_EQ(flash->size(), 2u);
    EXPECT_TRUE(flash->at(0).bytes == image.first.data) << "first region differs after run 2";
    EXPECT_TRUE(flash->at(1).bytes == image.second.data) << "second region differs after run 2";

    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(m_program.Wait_For_Exit(), std::optional<DWORD>(0));
    // Both updates are in the user's journal, as flash records them.
    const auto journal = Journal_Of_Run(m_program.Id());
    if (!journal)
        GTEST_SKIP() << "this build keeps no journal";
    const std::string port = "COM" + std::to_string(phone_port);
    ASSERT_EQ(journal->count(port), 2u) << port << ": " << journal->size() << " records";
    for (auto [at, end] = journal->equal_range(port); at != end; ++at) {
        EXPECT_EQ(at->second.result, "updated");
        EXPECT_GT(at->second.bytes, 0u);
        EXPECT_FALSE(at->second.ended.empty());
    }
}

// The visible Yes/No box the program asks with, or null.
HWND Question_Box(DWORD process_id, HWND main) {
    HWND box = Owned_Dialog_With(process_id, main, 0xFFFF);
    return box != nullptr && GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr
               ? box
               : nullptr;
}

void Answer(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

// Closing the window while the phone's flash is being rewritten asks first:
// No lets the update go on to its end, Yes stops it and the program ends as
// on any close. The phone here takes the bytes at 115200 baud, so the
// transfer lasts seconds.
TEST_F(Win32WindowUpdate, ClosingWhileTheFlashIsRewrittenAsksFirst) {
    const std::uint16_t phone_port = wine_ports::Port_Number("FLASHTOOL_WINE_PACED_PHONE_PORT");
    ASSERT_NE(phone_port, 0);
    Serial_Map_Sandbox map;
    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER001", "COM" + std::to_string(phone_port)));
    Image_Builder image;
    image.version_text = Bytes("CVLbootloaderVC_M418ZHTWA00101");
    image.first.start = 0x00010000;
    image.first.data = Random_Bytes(98304, 41);  // three blocks: about 9 s on the wire
    image.second.start = 0x00200000;
    image.second.data = Random_Bytes(1000, 42);
    test_support::Temp_Image_File file(image.Build());
    ASSERT_TRUE(file.Ok());
    std::wstring image_path;
    for (const char c : file.Path())
        image_path += static_cast<wchar_t>(static_cast<unsigned char>(c));

    const std::wstring directory = Fresh_Directory(L"close");
    DeleteFileW((directory + L"\\temp.log").c_str());
    HWND main = Launch(directory);
    ASSERT_NE(main, nullptr);
    const DWORD pid = m_program.Id();
    HWND progress = Item(main, Control::kTeProgressBar1);
    const auto transfer_started = [&] { return SendMessageW(progress, PBM_GETPOS, 0, 0) > 0; };

    // No: the update goes on and completes.
    PostMessageW(Item(main, Control::kDownload), BM_CLICK, 0, 0);
    HWND dialog = nullptr;
    ASSERT_TRUE(
        Wait_Until([&] { return (dialog = Owned_Dialog_With(pid, main, IDOK)) != nullptr; }));
    Open_File_In_Dialog(dialog, image_path);
    ASSERT_TRUE(Wait_Until(transfer_started, 120s)) << "the transfer did not start";
    PostMessageW(main, WM_CLOSE, 0, 0);
    HWND question = nullptr;
    ASSERT_TRUE(Wait_Until([&] { return (question = Question_Box(pid, main)) != nullptr; }))
        << "closing during the transfer asked nothing";
    EXPECT_FALSE(Text_Of(GetDlgItem(question, 0xFFFF)).empty());
    Answer(question, IDNO);
    HWND box = nullptr;
    ASSERT_TRUE(Wait_Until([&] { return (box = Completion_Box(pid, main)) != nullptr; }, 120s))
        << "the update did not complete after No";
    EXPECT_EQ(Text_Of(GetDlgItem(box, 0xFFFF)), L"更新完成!");
    Answer(box, IDOK);
    ASSERT_TRUE(Wait_Until([&] { return Buttons_Enabled(main); }));

    // Not answered at all: the update ends under the question, which goes
    // away as "no"; the completion box shows alone and the window stays.
    PostMessageW(Item(main, Control::kDownload), BM_CLICK, 0, 0);
    ASSERT_TRUE(
        Wait_Until([&] { return (dialog = Owned_Dialog_With(pid, main, IDOK)) != nullptr; }));
    Answer(dialog, IDOK);  // the dialog starts on the file chosen before
    ASSERT_TRUE(Wait_Until(transfer_started, 120s)) << "the transfer did not start";
    PostMessageW(main, WM_CLOSE, 0, 0);
    ASSERT_TRUE(Wait_Until([&] { return Question_Box(pid, main) != nullptr; }));
    ASSERT_TRUE(Wait_Until([&] { return (box = Completion_Box(pid, main)) != nullptr; }, 120s))
        << "the update did not complete under the question";
    EXPECT_EQ(Question_Box(pid, main), nullptr) << "the question stayed under the completion box";
    Answer(box, IDOK);
    ASSERT_TRUE(Wait_Until([&] { return Buttons_Enabled(main); }));
    EXPECT_EQ(Question_Box(pid, main), nullptr);
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_FALSE(m_program.Wait_For_Exit(0ms).has_value()) << "the program ended";

    // Yes: the update stops and the program ends, with temp.log and exit 0.
    PostMessageW(Item(main, Control::kDownload), BM_CLICK, 0, 0);
    ASSERT_TRUE(
        Wait_Until([&] { return (dialog = Owned_Dialog_With(pid, main, IDOK)) != nullptr; }));
    Answer(dialog, IDOK);  // the file chosen before
    ASSERT_TRUE(Wait_Until(transfer_started, 120s)) << "the second transfer did not start";
    PostMessageW(main, WM_CLOSE, 0, 0);
    ASSERT_TRUE(Wait_Until([&] { return (question = Question_Box(pid, main)) != nullptr; }));
    Answer(question, IDYES);
    EXPECT_EQ(m_program.Wait_For_Exit(), std::optional<DWORD>(0));
    EXPECT_NE(GetFileAttributesW((directory + L"\\temp.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---- flashtool-station.exe ----

// UTF-8 (the program's texts) to the window's wide text.
std::wstring Wide_Of(std::string_view utf8) {
    std::wstring wide(utf8.size(), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                           wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(std::max(length, 0)));
    return wide;
}

class Win32StationWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        m_executable = Env("FLASHTOOL_STATION_EXE");
        ASSERT_FALSE(m_executable.empty())
            << "FLASHTOOL_STATION_EXE is not set: run through scripts/test-windows";
    }
    HWND Launch(Program& program, const std::wstring& arguments, const std::wstring& directory) {
        if (!program.Start(m_executable, arguments, directory, directory + L"\\stdout.txt"))
            return nullptr;
        HWND main = program.Wait_For_Window(L"TStationForm");
        EXPECT_NE(main, nullptr) << "the station window did not show";
        return main;
    }
    std::wstring Cell(HWND main, int row, int column) {
        return List_Cell(m_program.Process(), GetDlgItem(main, IDC_STATION_PHONES), row, column);
    }
    int Rows(HWND main) { return List_Rows(GetDlgItem(main, IDC_STATION_PHONES)); }
    void Click(HWND main, int id) { PostMessageW(GetDlgItem(main, id), BM_CLICK, 0, 0); }
    bool Enabled(HWND main, int id) { return IsWindowEnabled(GetDlgItem(main, id)) != FALSE; }
    // The window in English, started in directory with its logs in "logs"
    // there, the image chosen in its file dialog; null, with the failure,
    // when it does not get that far.
    HWND Launch_With_Image(const std::wstring& directory, const std::string& image_file) {
        std::wstring image_path;
        for (const char c : image_file)
            image_path += static_cast<wchar_t>(static_cast<unsigned char>(c));
        HWND main =
            Launch(m_program, L"--lang en --log-folder \"" + directory + L"\\logs\"", directory);
        if (main == nullptr)
            return nullptr;
        Click(main, IDC_STATION_OPEN_IMAGE);
        HWND dialog = nullptr;
        if (!Wait_Until([&] {
                return (dialog = Owned_Dialog_With(m_program.Id(), main, IDOK)) != nullptr;
            })) {
            ADD_FAILURE() << "no file dialog";
            return nullptr;
        }
        Open_File_In_Dialog(dialog, image_path);
        if (!Wait_Until([&] { return Enabled(main, IDC_STATION_START); })) {
            ADD_FAILURE() << Narrow(Text_Of(GetDlgItem(main, IDC_STATION_MESSAGES)));
            return nullptr;
        }
        return main;
    }

    std::wstring m_executable;
    Program m_program;
};
class Win32StationWindowUpdate : public Win32StationWindow {};

// The columns of the table, as the program lays them out.
enum Station_Column {
    kPortColumn,
    kPhaseColumn = 2,
    kProgressColumn = 3,
    kResultColumn = 6,
    kAdviceColumn = 7
};

// The controls at start, in each language: the captions and headers from
// the station's texts, nothing to start without an image, and a close with
// no station running ends the program at once.
TEST_F(Win32StationWindow, ShowsItsControlsInBothLanguagesAndClosesAtOnce) {
    using namespace station_text;
    // Its file: the icon, the manifest that gives it the themed list view,
    // and its own name in the version information.
    {
        HMODULE module = LoadLibraryExW(m_executable.c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << GetLastError();
        EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(IDI_FLASHTOOL), MAKEINTRESOURCEW(14)),
                  nullptr);
        EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)), nullptr);
        FreeLibrary(module);
        DWORD ignored = 0;
        std::vector<char> info(GetFileVersionInfoSizeW(m_executable.c_str(), &ignored));
        ASSERT_FALSE(info.empty());
        ASSERT_TRUE(GetFileVersionInfoW(m_executable.c_str(), 0, static_cast<DWORD>(info.size()),
                                        info.data()));
        wchar_t* name = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\OriginalFilename",
                                   reinterpret_cast<void**>(&name), &length));
        EXPECT_EQ(std::wstring(name), L"flashtool-station.exe");
    }
    struct Case {
        const wchar_t* arguments;
        Language language;
    };
    for (const Case& run : {Case{L"", Language::kChinese}, Case{L"--lang en", Language::kEnglish},
                            Case{L"--lang=zh", Language::kChinese}}) {
        SCOPED_TRACE(Narrow(run.arguments));
        const std::wstring directory = Fresh_Directory(L"station-start");
        Program program;
        HWND main = Launch(program, run.arguments, directory);
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(Text_Of(main), Wide_Of(kTitle.For(run.language)));
        const struct {
            int id;
            const wchar_t* window_class;
            const Pair* caption;
            bool enabled;
        } controls[] = {
            {IDC_STATION_OPEN_IMAGE, L"Button", &kOpenImage, true},
            {IDC_STATION_START, L"Button", &kStart, false},
            {IDC_STATION_STOP, L"Button", &kStop, false},
            {IDC_STATION_SETTINGS, L"Button", &kSettings, true},
            {IDC_STATION_PHONES, L"SysListView32", nullptr, true},
            {IDC_STATION_PHONE_LOG, L"Edit", nullptr, true},
            {IDC_STATION_MESSAGES, L"Edit", nullptr, true},
            {IDC_STATION_STATUS, L"Static", nullptr, true},
        };
        for (const auto& control : controls) {
            HWND window = GetDlgItem(main, control.id);
            ASSERT_NE(window, nullptr) << control.id;
            EXPECT_EQ(Class_Of(window), control.window_class) << control.id;
            EXPECT_TRUE(IsWindowVisible(window)) << control.id;
            EXPECT_EQ(IsWindowEnabled(window) != FALSE, control.enabled) << control.id;
            if (control.caption != nullptr) {
                EXPECT_EQ(Text_Of(window), Wide_Of(control.caption->For(run.language)));
            }
        }
        const std::vector<std::wstring> headers =
            List_Headers(program.Process(), GetDlgItem(main, IDC_STATION_PHONES));
        ASSERT_EQ(headers.size(), 8u);
        EXPECT_EQ(headers[kPortColumn], Wide_Of(kColumnPort.For(run.language)));
        EXPECT_EQ(headers[kProgressColumn], Wide_Of(kColumnProgress.For(run.language)));
        EXPECT_EQ(headers[7], Wide_Of(kColumnLastLine.For(run.language)));
        EXPECT_TRUE(Contains(Text_Of(GetDlgItem(main, IDC_STATION_STATUS)),
                             Wide_Of(kNoImage.For(run.language))));
        EXPECT_EQ(Rows(main), 0);
        PostMessageW(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(program.Wait_For_Exit(), std::optional<DWORD>(0));
    }
}

// The station's registry values, put back as they were when it goes.
class Station_Settings_Sandbox {
  public:
    static constexpr const wchar_t* kKey = L"Software\\flashtool\\Station";
    Station_Settings_Sandbox() {
        for (const wchar_t* name : kNames)
            m_saved.push_back(Read(name));
    }
    ~Station_Settings_Sandbox() {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return;
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            if (m_saved[i].empty())
                RegDeleteValueW(key, kNames[i]);
            else
                RegSetValueExW(key, kNames[i], 0, m_saved_types[i], m_saved[i].data(),
                               static_cast<DWORD>(m_saved[i].size()));
        }
        RegCloseKey(key);
    }
    // A text value, or "(none)".
    static std::wstring Text(const wchar_t* name) {
        const std::vector<BYTE> bytes = Read(name);
        if (bytes.empty())
            return L"(none)";
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                            wcsnlen(reinterpret_cast<const wchar_t*>(bytes.data()),
                                    bytes.size() / sizeof(wchar_t)));
    }

  private:
    static constexpr std::array<const wchar_t*, 3> kNames{L"Match", L"SlotsFile", L"OnlySlots"};
    static std::vector<BYTE> Read(const wchar_t* name) {
        DWORD size = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, nullptr, nullptr,
                         &size) != ERROR_SUCCESS)
            return {};
        std::vector<BYTE> bytes(size);
        RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, nullptr,
                     bytes.data(), &size);
        return bytes;
    }
    std::vector<std::vector<BYTE>> m_saved;
    std::array<DWORD, 3> m_saved_types{REG_SZ, REG_SZ, REG_DWORD};
};

// The settings dialog: a match that is no VID:PID keeps it open with the
// reason; a good one typed and Enter closes it, the registry holds it, and
// the next Start says which ports the station takes. Not while it runs.
TEST_F(Win32StationWindow, TheSettingsDialogKeepsAMatchForTheNextStart) {
    using namespace station_text;
    Station_Settings_Sandbox sandbox;
    Image_Builder image;
    image.version_text = Bytes("CVLbootloaderVC_M418ZHTWA00101");
    image.first = {0x00010000, Random_Bytes(3000, 61), std::nullopt};
    image.second = {0x00200000, Random_Bytes(300, 62), std::nullopt};
    test_support::Temp_Image_File file(image.Build());
    ASSERT_TRUE(file.Ok());
    const std::wstring directory = Fresh_Directory(L"station-settings");
    HWND main = Launch_With_Image(directory, file.Path());
    ASSERT_NE(main, nullptr);
    const DWORD pid = m_program.Id();
    HWND messages = GetDlgItem(main, IDC_STATION_MESSAGES);

    Click(main, IDC_STATION_SETTINGS);
    HWND settings = nullptr;
    ASSERT_TRUE(Wait_Until([&] {
        return (settings = Owned_Dialog_With(pid, main, IDC_SETTINGS_MATCH)) != nullptr;
    })) << "no settings dialog";
    EXPECT_EQ(Text_Of(settings), Wide_Of(kSettingsTitle.For(Language::kEnglish)));
    EXPECT_EQ(Text_Of(GetDlgItem(settings, IDC_SETTINGS_SLOTS_BROWSE)),
              Wide_Of(kBrowse.For(Language::kEnglish)));
    EXPECT_EQ(Text_Of(GetDlgItem(settings, IDC_SETTINGS_LOG_FOLDER)), directory + L"\\logs");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(settings, IDC_SETTINGS_ONLY_SLOTS)))
        << "only the sockets of no slots file";
    HWND match = GetDlgItem(settings, IDC_SETTINGS_MATCH);
    SendMessageW(match, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"1d6b:* zz:1"));
    Click(settings, IDOK);
    ASSERT_TRUE(Wait_Until([&] {
        return Contains(Text_Of(GetDlgItem(settings, IDC_SETTINGS_REASON)), L"zz:1");
    })) << "a bad match closed the dialog or said nothing";
    EXPECT_TRUE(IsWindowVisible(settings));
    EXPECT_TRUE(Contains(Text_Of(messages), Wide_Of(kBadMatch.For(Language::kEnglish)) + L"zz:1"));
    EXPECT_EQ(Station_Settings_Sandbox::Text(L"Match"), L"(none)") << "a refused match was kept";

    // Enter in the match box is OK.
    SendMessageW(match, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"1d6b:*, 0525:a4a7"));
    PostMessageW(match, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(Wait_Until([&] { return !IsWindow(settings); })) << "Enter left the dialog open";
    EXPECT_EQ(Station_Settings_Sandbox::Text(L"Match"), L"1d6b:*, 0525:a4a7");

    Click(main, IDC_STATION_START);
    ASSERT_TRUE(Wait_Until([&] { return Enabled(main, IDC_STATION_STOP); }))
        << Narrow(Text_Of(messages));
    EXPECT_FALSE(Enabled(main, IDC_STATION_SETTINGS)) << "settings while the station runs";
    EXPECT_TRUE(Contains(Text_Of(messages), Wide_Of(kPortsTaken.For(Language::kEnglish)) +
                                                Wide_Of(kMatching.For(Language::kEnglish)) +
                                                L"1d6b:*, 0525:a4a7"))
        << Narrow(Text_Of(messages));
    Click(main, IDC_STATION_STOP);
    EXPECT_TRUE(Wait_Until([&] { return Enabled(main, IDC_STATION_SETTINGS); }));
    // Esc is Cancel: what was typed is not kept.
    Click(main, IDC_STATION_SETTINGS);
    ASSERT_TRUE(Wait_Until([&] {
        return (settings = Owned_Dialog_With(pid, main, IDC_SETTINGS_MATCH)) != nullptr;
    })) << "no settings dialog after the station";
    match = GetDlgItem(settings, IDC_SETTINGS_MATCH);
    EXPECT_EQ(Text_Of(match), L"1d6b:*, 0525:a4a7");
    SendMessageW(match, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"0525:*"));
    PostMessageW(match, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(Wait_Until([&] { return !IsWindow(settings); })) << "Esc left the dialog open";
    EXPECT_EQ(Station_Settings_Sandbox::Text(L"Match"), L"1d6b:*, 0525:a4a7");
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(m_program.Wait_For_Exit(), std::optional<DWORD>(0));
}

// Three phones on mapped COM ports, updated at once by one station, each
// phone's flash ending equal to the image, beside a fourth that refuses a
// block (its row fails, with what to do next); then a fifth phone at 115200
// baud, whose rewrite a Stop asks about first: No leaves it going, Yes
// stops it and the station.
TEST_F(Win32StationWindowUpdate, UpdatesThreePhonesAtOnceAndStopsWithTheQuestion) {
    const char* ports_text = std::getenv("FLASHTOOL_WINE_STATION_WINDOW_PORTS");
    const char* flashes_text = std::getenv("FLASHTOOL_WINE_STATION_WINDOW_FLASHES");
    const std::uint16_t paced_port =
        wine_ports::Port_Number("FLASHTOOL_WINE_STATION_WINDOW_PACED_PORT");
    const std::uint16_t refusing_port =
        wine_ports::Port_Number("FLASHTOOL_WINE_STATION_WINDOW_REFUSING_PORT");
    ASSERT_NE(refusing_port, 0);
    ASSERT_NE(ports_text, nullptr) << "run through scripts/test-windows";
    ASSERT_NE(flashes_text, nullptr);
    ASSERT_NE(paced_port, 0);
    std::vector<int> ports;
    std::vector<std::string> flashes;
    {
        std::istringstream words(ports_text);
        for (int port = 0; words >> port;)
            ports.push_back(port);
        std::istringstream paths(flashes_text);
        for (std::string path; paths >> path;)
            flashes.push_back(path);
    }
    ASSERT_EQ(ports.size(), 3u);
    ASSERT_EQ(flashes.size(), 3u);
    // The station watches the registry's map, as Windows fills it.
    Serial_Map_Sandbox map;
    for (const int port : ports)
        ASSERT_TRUE(map.Set_Text("\\Device\\StationWindow" + std::to_string(port),
                                 "COM" + std::to_string(port)));
    ASSERT_TRUE(
        map.Set_Text("\\Device\\StationWindowRefusing", "COM" + std::to_string(refusing_port)));
    const std::wstring refusing_name = L"COM" + std::to_wstring(refusing_port);

    Image_Builder image;
    image.version_text = Bytes("CVLbootloaderVC_M418ZHTWA00101");
    image.first.start = 0x00010000;
    image.first.data = Random_Bytes(98304, 51);  // three blocks: seconds at 115200 baud
    image.second.start = 0x00200000;
    image.second.data = Random_Bytes(2000, 52);
    test_support::Temp_Image_File file(image.Build());
    ASSERT_TRUE(file.Ok());
    // The image, chosen once.
    HWND main = Launch_With_Image(Fresh_Directory(L"station"), file.Path());
    ASSERT_NE(main, nullptr);
    const DWORD pid = m_program.Id();
    HWND messages = GetDlgItem(main, IDC_STATION_MESSAGES);
    HWND status = GetDlgItem(main, IDC_STATION_STATUS);
    EXPECT_TRUE(Contains(Text_Of(messages), L"Image loaded: ")) << Narrow(Text_Of(messages));
    EXPECT_TRUE(Contains(Text_Of(status), L"  Image: ")) << Narrow(Text_Of(status));

    // Three phones at once, each in its row, each updated.
    Click(main, IDC_STATION_START);
    ASSERT_TRUE(Wait_Until([&] { return Enabled(main, IDC_STATION_STOP); }));
    EXPECT_FALSE(Enabled(main, IDC_STATION_START));
    EXPECT_FALSE(Enabled(main, IDC_STATION_OPEN_IMAGE));
    // Every phone finished: the three updated, the refusing one failed.
    const auto all_finished = [&] {
        if (Rows(main) != 4)
            return false;
        for (int row = 0; row < 4; ++row) {
            if (Cell(main, row, kResultColumn).empty())
                return false;
        }
        return true;
    };
    ASSERT_TRUE(Wait_Until(all_finished, 300s))
        << Rows(main) << " rows; " << Narrow(Text_Of(messages));
    std::vector<std::wstring> updated_ports;
    for (int row = 0; row < 4; ++row) {
        const std::wstring port = Cell(main, row, kPortColumn);
        const std::wstring result = Cell(main, row, kResultColumn);
        if (port == refusing_name) {
            EXPECT_EQ(result.rfind(L"failed (10)", 0), 0u) << Narrow(result);
            EXPECT_FALSE(Cell(main, row, kAdviceColumn).empty()) << "no advice for a failure";
            continue;
        }
        EXPECT_EQ(result, L"updated") << Narrow(port);
        EXPECT_EQ(Cell(main, row, kProgressColumn), L"100%") << Narrow(port);
        updated_ports.push_back(port);
    }
    for (const int port : ports) {
        EXPECT_NE(
            std::find(updated_ports.begin(), updated_ports.end(), L"COM" + std::to_wstring(port)),
            updated_ports.end())
            << "COM" << port << " was not updated";
    }
    for (const std::string& flash_path : flashes) {
        const auto flash = phone_flash::Read_Complete(flash_path, image.second.data.size());
        ASSERT_TRUE(flash.has_value()) << "no flash file at " << flash_path;
        ASSERT_EQ(flash->size(), 2u) << flash_path;
        EXPECT_TRUE(flash->at(0).bytes == image.first.data)
            << "first region differs: " << flash_path;
        EXPECT_TRUE(flash->at(1).bytes == image.second.data)
            << "second region differs: " << flash_path;
    }
    EXPECT_TRUE(Contains(Text_Of(status), L"Updated: 3  Failed: 1  Running: 0"))
        << Narrow(Text_Of(status));
    EXPECT_TRUE(Contains(Text_Of(messages), L"Logs and summaries are written in "));
    // The selected phone's messages.
    {
        LVITEMW select{};
        select.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        select.state = LVIS_SELECTED | LVIS_FOCUSED;
        Remote_Buffer buffer(m_program.Process(), sizeof select);
        WriteProcessMemory(m_program.Process(), reinterpret_cast<void*>(buffer.Address()), &select,
                           sizeof select, nullptr);
        SendMessageW(GetDlgItem(main, IDC_STATION_PHONES), LVM_SETITEMSTATE, 1, buffer.Address());
        EXPECT_TRUE(Wait_Until(
            [&] { return !Text_Of(GetDlgItem(main, IDC_STATION_PHONE_LOG)).empty(); }, 10s))
            << "selecting a phone showed none of its messages";
    }

    // An updated phone unplugged while the window runs: its port leaves the
    // map, its row says it went and keeps its result, the counts stay.
    const std::wstring gone_port = L"COM" + std::to_wstring(ports[0]);
    ASSERT_TRUE(map.Delete_Value("\\Device\\StationWindow" + std::to_string(ports[0])));
    const auto gone_row = [&] {
        for (int row = 0; row < Rows(main); ++row)
            if (Cell(main, row, kPortColumn) == gone_port)
                return row;
        return -1;
    };
    EXPECT_TRUE(Wait_Until(
        [&] {
            const int row = gone_row();
            return row >= 0 && Cell(main, row, kPhaseColumn) == L"gone";
        },
        30s))
        << Narrow(gone_port) << " did not go from the window";
    EXPECT_EQ(Cell(main, gone_row(), kResultColumn), L"updated");
    EXPECT_TRUE(Contains(Text_Of(status), L"Updated: 3  Failed: 1  Running: 0"))
        << Narrow(Text_Of(status));

    // A fifth phone, slow: Stop while its flash is rewritten asks first.
    ASSERT_TRUE(map.Set_Text("\\Device\\StationWindowPaced", "COM" + std::to_string(paced_port)));
    const auto rewriting = [&] {
        if (Rows(main) != 5)
            return false;
        const std::wstring progress = Cell(main, 4, kProgressColumn);
        return progress != L"0%" && progress != L"100%" && Cell(main, 4, kResultColumn).empty();
    };
    ASSERT_TRUE(Wait_Until(rewriting, 120s)) << "the fifth phone's rewrite did not start";
    Click(main, IDC_STATION_STOP);
    HWND question = nullptr;
    ASSERT_TRUE(Wait_Until([&] { return (question = Question_Box(pid, main)) != nullptr; }))
        << "Stop during a rewrite asked nothing";
    EXPECT_TRUE(
        Contains(Text_Of(GetDlgItem(question, 0xFFFF)), L"COM" + std::to_wstring(paced_port)));
    Answer(question, IDNO);
    ASSERT_TRUE(Wait_Until([&] { return Contains(Text_Of(messages), L"Nothing was stopped"); }))
        << Narrow(Text_Of(messages));
    EXPECT_TRUE(Enabled(main, IDC_STATION_STOP));
    EXPECT_TRUE(Cell(main, 4, kResultColumn).empty()) << "No stopped the phone";

    Click(main, IDC_STATION_STOP);
    // The phone may have finished meanwhile: then no question comes.
    const bool asked =
        Wait_Until([&] { return (question = Question_Box(pid, main)) != nullptr; }, 10s);
    if (asked)
        Answer(question, IDYES);
    ASSERT_TRUE(Wait_Until([&] {
        return Contains(Text_Of(messages), L"The station has stopped.");
    })) << Narrow(Text_Of(messages));
    EXPECT_TRUE(Wait_Until([&] { return Enabled(main, IDC_STATION_START); }));
    EXPECT_FALSE(Enabled(main, IDC_STATION_STOP));
    if (asked) {
        EXPECT_EQ(Cell(main, 4, kResultColumn).rfind(L"stopped", 0), 0u)
            << Narrow(Cell(main, 4, kResultColumn));
    }

    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(m_program.Wait_For_Exit(), std::optional<DWORD>(0));

    // Each phone of the run is in the user's journal, as the command-line
    // station records it: how it ended, the bytes sent, the image's version.
    const auto journal = Journal_Of_Run(pid);
    if (!journal)
        GTEST_SKIP() << "this build keeps no journal";
    for (const int port : ports) {
        const std::string name = "COM" + std::to_string(port);
        ASSERT_EQ(journal->count(name), 1u) << name << " is not in the journal";
        const Journal_Record& record = journal->find(name)->second;
        EXPECT_EQ(record.result, "updated") << name;
        EXPECT_GT(record.bytes, 0u) << name;
        EXPECT_FALSE(record.image_version.empty()) << name;
        EXPECT_FALSE(record.ended.empty()) << name;
    }
    const std::string refusing = "COM" + std::to_string(refusing_port);
    ASSERT_EQ(journal->count(refusing), 1u) << refusing << " is not in the journal";
    EXPECT_EQ(journal->find(refusing)->second.result, "programming_failed");
    EXPECT_EQ(journal->find(refusing)->second.code, 10);
}

}  // namespace
