// The window's text handling under Wine, where no Windows font is installed:
// every Chinese text of the window, the version window's and the menus'
// included, has its glyphs in the face chosen; version bytes that are not
// text show as escapes; the read-only text boxes let Tab move on; and an
// image path that the system code page cannot spell still opens. The station
// window's texts, its registry settings and its table's tooltips too.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "download/captions.h"
#include "download/display_text.h"
#include "download/texts.h"
#include "winapp/fonts.h"
#include "winapp/hidden_menu.h"
#include "winapp/memo_keys.h"
#include "winapp/open_dialog.h"
#include "winapp/resource_ids.h"
#include "winapp/station/phone_list.h"
#include "winapp/station/station_settings.h"
#include "winapp/wide_text.h"
#include "window_model/layout.h"
#include "window_model/station_texts.h"

namespace {

// The characters of text that the font has no glyph for.
std::wstring Missing_Glyphs(HFONT font, const std::wstring& text) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    std::vector<WORD> glyphs(text.size());
    GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                     GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, previous);
    DeleteDC(dc);
    std::wstring missing;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (glyphs[i] == 0xFFFF && text[i] != L'\r' && text[i] != L'\n')
            missing += text[i];
    }
    return missing;
}

TEST(WinappFonts, EveryChineseTextOfTheWindowHasItsGlyphs) {
    const Font_Set fonts;
    const std::wstring chinese_texts =
        Wide(layout::Introduction_Text()) + Wide(caption::kDownload.chinese) +
        Wide(caption::kCancel.chinese) + Wide(caption::kNewVersion.chinese) +
        Wide(caption::kOldVersion.chinese) + Wide(caption::kClockOn.chinese) +
        Wide(text::kSearching) + Wide(text::kPleaseWait) + Wide(notice::kFirstRun) +
        Wide(text::kUpdateOkZh) + Wide(text::kClockZh) + Wide(text::kStartAtZh);
    // The station window's, which its controls draw in the same faces.
    std::wstring station_texts;
    for (const text::Word_Pair& pair : {station_text::kTitle,        station_text::kOpenImage,
                                        station_text::kStart,        station_text::kStop,
                                        station_text::kCountUpdated, station_text::kCountFailed,
                                        station_text::kCountRunning, station_text::kNoImage,
                                        station_text::kQuestionHead, station_text::kQuestionTail,
                                        station_text::kColumnPort,   station_text::kColumnIdentity,
                                        station_text::kColumnPhase,  station_text::kColumnProgress,
                                        station_text::kColumnRate,   station_text::kColumnElapsed,
                                        station_text::kColumnResult, station_text::kColumnLastLine,
                                        station_text::kUpdated,      station_text::kFailed,
                                        station_text::kStopped,      station_text::kWillNotStart})
        station_texts += Wide(pair.chinese);
    for (const Font_Role role : {Font_Role::kWindow}) {
        EXPECT_EQ(fonts.For(role, station_texts), fonts.Han(role));
        const std::wstring missing = Missing_Glyphs(fonts.Han(role), station_texts);
        EXPECT_TRUE(missing.empty()) << Utf8(fonts.Han_Face(role)) << " lacks " << Utf8(missing);
    }
    for (const Font_Role role :
         {Font_Role::kWindow, Font_Role::kMemo, Font_Role::kLabel, Font_Role::kButton}) {
        EXPECT_FALSE(fonts.Han_Face(role).empty()) << "no Chinese face installed";
        EXPECT_EQ(fonts.For(role, chinese_texts), fonts.Han(role));
        const std::wstring missing = Missing_Glyphs(fonts.Han(role), chinese_texts);
        EXPECT_TRUE(missing.empty()) << Utf8(fonts.Han_Face(role)) << " lacks " << Utf8(missing);
    }
    // The design's Latin face alone would draw boxes for them.
    EXPECT_FALSE(Missing_Glyphs(fonts.Latin(Font_Role::kMemo), chinese_texts).empty());
    // Latin texts keep the design's face.
    EXPECT_EQ(fonts.For(Font_Role::kButton, L"Download"), fonts.Latin(Font_Role::kButton));
}

// The version window's design face is a Chinese one that Wine lacks: its
// texts are drawn in an installed face that has their glyphs, not in
// whatever the Chinese character set alone would get.
TEST(WinappFonts, TheVersionWindowDrawsItsTexts) {
    const Font_Set fonts;
    std::wstring texts;
    for (const layout::Label_Layout& label : layout::kForm2Labels)
        texts += Wide(label.caption);
    for (const Font_Role role : {Font_Role::kVersionTitle, Font_Role::kVersionText}) {
        const HFONT font = fonts.For(role, texts);
        const std::wstring missing = Missing_Glyphs(font, texts);
        EXPECT_TRUE(missing.empty()) << "lacks " << Utf8(missing);
        EXPECT_TRUE(Missing_Glyphs(font, L"版本").empty());
    }
}

// The 中文 item of the Language menu is drawn by the window in the Chinese
// face, which has its glyphs; English stays the system's.
TEST(WinappFonts, TheMenusDrawChineseInTheChineseFace) {
    const Font_Set fonts;
    HMENU bar = CreateMenu();
    HMENU language = CreatePopupMenu();
    AppendMenuW(language, MF_STRING, IDM_ENGLISH, L"English");
    AppendMenuW(language, MF_STRING, IDM_CHINESE, L"中文");
    AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(language), L"Language");
    const Hidden_Menu menu(bar, fonts);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_DATA;
    ASSERT_TRUE(GetMenuItemInfoW(language, IDM_CHINESE, FALSE, &info));
    EXPECT_TRUE(info.fType & MFT_OWNERDRAW);
    EXPECT_TRUE(Missing_Glyphs(menu.Item_Font(), L"中文").empty());
    MEASUREITEMSTRUCT measured{};
    measured.CtlType = ODT_MENU;
    measured.itemID = IDM_CHINESE;
    measured.itemData = info.dwItemData;
    ASSERT_TRUE(menu.Measure_Item(nullptr, measured));
    EXPECT_GT(measured.itemWidth, 0u);
    EXPECT_GT(measured.itemHeight, 0u);
    ASSERT_TRUE(GetMenuItemInfoW(language, IDM_ENGLISH, FALSE, &info));
    EXPECT_FALSE(info.fType & MFT_OWNERDRAW);
    measured.itemData = info.dwItemData;
    EXPECT_FALSE(menu.Measure_Item(nullptr, measured));
}

// A read-only multi-line box in a dialog-keyed window: Tab moves the focus
// on to the next control instead of staying in the box.
TEST(WinappKeys, TabLeavesTheReadOnlyTextBoxes) {
    HWND parent = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    HWND memo = CreateWindowExW(0, L"Edit", L"text",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_READONLY, 0,
                                0, 100, 50, parent, reinterpret_cast<HMENU>(1), nullptr, nullptr);
    HWND button = CreateWindowExW(0, L"Button", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 60,
                                  100, 30, parent, reinterpret_cast<HMENU>(2), nullptr, nullptr);
    EXPECT_TRUE(SendMessageW(memo, WM_GETDLGCODE, VK_TAB, 0) & DLGC_WANTALLKEYS);
    Let_Tab_Move_On(memo);
    const LRESULT keys = SendMessageW(memo, WM_GETDLGCODE, VK_TAB, 0);
    EXPECT_FALSE(keys & (DLGC_WANTALLKEYS | DLGC_WANTTAB));
    EXPECT_TRUE(keys & DLGC_WANTARROWS);  // the arrows still scroll
    ShowWindow(parent, SW_SHOW);
    SetFocus(memo);
    ASSERT_EQ(GetFocus(), memo);
    MSG tab{memo, WM_KEYDOWN, VK_TAB, 0x000F0001, 0, {}};
    EXPECT_TRUE(IsDialogMessageW(parent, &tab));
    EXPECT_EQ(GetFocus(), button);
    wchar_t text[16] = {};
    GetWindowTextW(memo, text, 16);
    EXPECT_EQ(std::wstring(text), L"text");
    DestroyWindow(parent);
}

// What a version field shows reaches the control whole: bytes that are not
// text as escapes (download/display_text.h), characters as themselves.
TEST(WinappText, VersionBytesShowAsEscapesOrCharacters) {
    EXPECT_EQ(Wide(text::Displayable_Text("\xFF\xFF")), L"\\xff\\xff");
    EXPECT_EQ(Wide(text::Displayable_Text("A\x80Z")), L"A\\x80Z");
    EXPECT_EQ(Wide(text::Displayable_Text("M418\xE4\xB8\xAD")), L"M418\u4E2D");
    EXPECT_EQ(Wide(text::Display_Utf8("A\xFF")), L"A\u00FF");
    EXPECT_EQ(With_Crlf(L"a\nb\r\nc"), L"a\r\nb\r\nc");
}

TEST(WinappText, AnImagePathOutsideTheCodePageStillOpens) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path =
        std::wstring(temp) + L"韌體-" + std::to_wstring(GetCurrentProcessId()) + L".bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "image", 5, &written, nullptr);
    CloseHandle(file);

    const std::string narrow = Path_For_C_Runtime(path);
    std::FILE* opened = std::fopen(narrow.c_str(), "rb");
    ASSERT_NE(opened, nullptr) << narrow;
    char bytes[8] = {};
    EXPECT_EQ(std::fread(bytes, 1, sizeof bytes, opened), 5u);
    std::fclose(opened);
    EXPECT_EQ(std::string(bytes), "image");
    DeleteFileW(path.c_str());
    EXPECT_EQ(Path_For_C_Runtime(L""), "");
}

}  // namespace

namespace {

void Set_Value(HKEY key, const wchar_t* name, const std::wstring& text) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

// The station window's settings in the registry: the log folder's default
// written back on the first read, a slots file and USB numbers put into the
// station's options, and what cannot be used named and left out.
TEST(WinappStationSettings, ReadWrittenBackAndAppliedOrRefused) {
    const wchar_t* key_path = L"Software\\flashtool\\Station-settings-test";
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path);
    const Station_Settings first = Read_Station_Settings(key_path);
    const std::wstring tail = L"\\flashtool\\station-logs";
    ASSERT_GT(first.log_folder.size(), tail.size());
    EXPECT_EQ(first.log_folder.substr(first.log_folder.size() - tail.size()), tail);
    EXPECT_EQ(Read_Station_Settings(key_path).log_folder, first.log_folder) << "not written back";

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring good = std::wstring(temp) + L"station-settings-good.txt";
    const std::wstring bad = std::wstring(temp) + L"station-settings-bad.txt";
    {
        FILE* file = _wfopen(good.c_str(), L"wb");
        ASSERT_NE(file, nullptr);
        std::fputs("# bench\n1-1.3 = A3\n1-1.4 = A4\n", file);
        std::fclose(file);
        file = _wfopen(bad.c_str(), L"wb");
        ASSERT_NE(file, nullptr);
        std::fputs("1-1.3 = A3\n1-1.3 = B3\n", file);
        std::fclose(file);
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key_path, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    Set_Value(key, L"SlotsFile", good);
    Set_Value(key, L"Match", L"1d6b:0104, 0A5C:*;  zz:12");
    const DWORD only = 1;
    RegSetValueExW(key, L"OnlySlots", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&only),
                   sizeof only);

    Station_Options options;
    std::vector<std::wstring> problems;
    Apply_Station_Settings(Read_Station_Settings(key_path), options, problems);
    ASSERT_EQ(options.filter.sockets.size(), 2u);
    EXPECT_EQ(options.filter.sockets[1].usb_path, "1-1.4");
    EXPECT_EQ(options.filter.sockets[1].label, "A4");
    EXPECT_TRUE(options.filter.only_slots);
    ASSERT_EQ(options.filter.match.size(), 2u);
    EXPECT_EQ(options.filter.match[1].vendor_id, "0a5c");
    EXPECT_EQ(options.filter.match[1].product_id, "");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(L"zz:12"), std::wstring::npos) << Utf8(problems[0]);

    // A slots file with a bad line is not used at all, and says which line.
    Set_Value(key, L"SlotsFile", bad);
    Set_Value(key, L"Match", L"");
    RegCloseKey(key);
    options = {};
    problems.clear();
    Apply_Station_Settings(Read_Station_Settings(key_path), options, problems);
    EXPECT_TRUE(options.filter.sockets.empty());
    EXPECT_FALSE(options.filter.only_slots);
    EXPECT_TRUE(options.filter.match.empty());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(L"line 2"), std::wstring::npos) << Utf8(problems[0]);

    // What the settings dialog writes reads back the same; an empty log
    // folder leaves the one there.
    Station_Settings chosen{L"", good, true, L"1d6b:*, 0525:a4a7"};
    ASSERT_TRUE(Write_Station_Settings(chosen, key_path));
    const Station_Settings read = Read_Station_Settings(key_path);
    EXPECT_EQ(read.log_folder, first.log_folder);
    EXPECT_EQ(read.slots_file, good);
    EXPECT_TRUE(read.only_slots);
    EXPECT_EQ(read.match, chosen.match);
    EXPECT_EQ(Match_Words(read.match), (std::vector<std::string>{"1d6b:*", "0525:a4a7"}));
    chosen = {L"C:\\logs", L"", false, L""};
    ASSERT_TRUE(Write_Station_Settings(chosen, key_path));
    EXPECT_EQ(Read_Station_Settings(key_path).log_folder, L"C:\\logs");
    EXPECT_FALSE(Read_Station_Settings(key_path).only_slots);

    RegDeleteTreeW(HKEY_CURRENT_USER, key_path);
    DeleteFileW(good.c_str());
    DeleteFileW(bad.c_str());
}

// The table of phones: a cell its column cuts short gives its whole text to
// the tooltip; one that fits, and the drawn bar, give none.
TEST(WinappPhoneList, ACutCellShowsItsWholeTextInTheTooltip) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HWND parent = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 1200, 400, nullptr, nullptr,
                                  instance, nullptr);
    ASSERT_NE(parent, nullptr);
    Phone_List list;
    list.Create(parent, IDC_STATION_PHONES, instance);
    MoveWindow(list.Handle(), 0, 0, 1200, 400, FALSE);
    EXPECT_NE(list.Tip_Window(), nullptr);
    list.Set_Headers(
        {L"Port", L"Device", L"Phase", L"Progress", L"Rate", L"Time", L"Result", L"Last"});
    const std::wstring cut = L"failed (7), will not start: " + std::wstring(80, L'W');
    Phone_List::Row row;
    row.cells = {L"COM3", L"1d6b:0104", L"done", L"100%", L"", L"0:0:9", cut, L"ok"};
    list.Show_Row(0, row);
    const auto centre = [&list](int column) {
        RECT cell{};
        cell.top = column;
        cell.left = LVIR_LABEL;
        SendMessageW(list.Handle(), LVM_GETSUBITEMRECT, 0, reinterpret_cast<LPARAM>(&cell));
        return POINT{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
    };
    EXPECT_EQ(list.Cut_Cell_Text(centre(Phone_List::kResult)), cut);
    EXPECT_EQ(list.Cut_Cell_Text(centre(Phone_List::kPort)), L"");
    EXPECT_EQ(list.Cut_Cell_Text(centre(Phone_List::kProgress)), L"");
    EXPECT_EQ(list.Cut_Cell_Text(POINT{5, 390}), L"") << "below the rows";
    DestroyWindow(parent);
}
