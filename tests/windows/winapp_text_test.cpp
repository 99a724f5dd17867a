// The window's text handling under Wine, where no Windows font is installed:
// every Chinese text of the window, the version window's and the menus'
// included, has its glyphs in the face chosen; version bytes that are not
// text show as escapes; the read-only text boxes let Tab move on; and an
// image path that the system code page cannot spell still opens.
#include <windows.h>

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
#include "winapp/wide_text.h"
#include "window_model/layout.h"

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
