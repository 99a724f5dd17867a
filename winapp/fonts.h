// The windows' fonts: each control's face from the window design, and a
// Traditional Chinese face for texts that hold Chinese.
//
// A Win32 control draws its whole text in one font, and the design's Latin
// faces (MS Sans Serif, Times New Roman, Segoe UI) have no Han glyphs: Windows
// would fill them in through its font links, which follow the system's
// language (Japanese or Simplified shapes on such systems), and Wine has no
// links to installed fonts at all, so it draws boxes. A text with any
// character beyond Latin-1 is therefore drawn wholly in the first Traditional
// Chinese face found: Microsoft JhengHei or PMingLiU (Windows), then faces
// such as Noto Sans CJK TC, then any face that covers the Big5 character set.
// The version window's design face is itself a Chinese one ("黑体"); where
// it is not installed, that window takes the same Traditional Chinese face
// for all its text, since asking for a face by its Chinese character set
// alone gets one that draws boxes under Wine.
#pragma once

#include <windows.h>

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>

#include "window_model/layout.h"

using layout::Font_Role;
using layout::kFontRoleCount;

// True when the text holds a character the Latin faces cannot draw.
bool Needs_Han_Font(std::wstring_view text);

// The first face of the list that is installed, or empty.
std::wstring First_Installed_Face(std::initializer_list<std::wstring_view> faces);

class Font_Set {
  public:
    Font_Set();
    ~Font_Set();
    Font_Set(const Font_Set&) = delete;
    Font_Set& operator=(const Font_Set&) = delete;

    HFONT Latin(Font_Role role) const { return m_latin[Index(role)]; }
    HFONT Han(Font_Role role) const { return m_han[Index(role)]; }
    // The font in which a control of this role shows this text.
    HFONT For(Font_Role role, std::wstring_view text) const {
        return Needs_Han_Font(text) ? Han(role) : Latin(role);
    }
    const std::wstring& Han_Face(Font_Role role) const { return m_han_face[Index(role)]; }

  private:
    static std::size_t Index(Font_Role role) { return static_cast<std::size_t>(role); }

    std::array<HFONT, kFontRoleCount> m_latin{};
    std::array<HFONT, kFontRoleCount> m_han{};
    std::array<std::wstring, kFontRoleCount> m_han_face;
};
