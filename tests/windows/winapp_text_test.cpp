// The window's text handling under Wine, where no Windows font is installed:
// every Chinese text of the window has its glyphs in the Chinese face chosen,
// version bytes that are not UTF-8 still show, and an image path the system
// code page cannot spell still opens.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bootloader/notices.h"
#include "download/captions.h"
#include "download/texts.h"
#include "introduction_text.h"
#include "winapp/fonts.h"
#include "winapp/open_dialog.h"
#include "winapp/wide_text.h"

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
        Wide(kIntroductionText) + Wide(caption::kDownload.chinese) +
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

TEST(WinappText, VersionBytesShowAsUtf8OrLatin1) {
    // A phone's record of 0xFF bytes, a stray continuation byte, an overlong
    // form: each byte shows as its Latin-1 character.
    EXPECT_EQ(Display_Text("\xFF\xFF"), L"\u00FF\u00FF");
    EXPECT_EQ(Display_Text("A\x80Z"), L"A\u0080Z");
    EXPECT_EQ(Display_Text("\xC0\xAF"), L"\u00C0\u00AF");
    EXPECT_EQ(Display_Text("M418\xE4\xB8\xAD"), L"M418\u4E2D");
    // Appended byte by byte, a character shows once it is whole.
    EXPECT_EQ(Display_Text("V\xE4\xB8", Incomplete_Tail::kHold), L"V");
    EXPECT_EQ(Display_Text("V\xE4\xB8", Incomplete_Tail::kShow), L"V\u00E4\u00B8");
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
