// Font_Set: the design's faces and their Traditional Chinese stand-ins.
#include "winapp/fonts.h"

#include <cwchar>

namespace {

struct Role_Font {
    const wchar_t* design_face;
    int pixel_height;  // character height, as the design gives it
    int weight;
    BYTE charset;
    bool serif;  // take a Ming (serif) face for Chinese first
    // The design face is a Chinese one: where it is missing, the Chinese
    // stand-in draws all of the role's text.
    bool chinese_face;
};

constexpr std::array<Role_Font, kFontRoleCount> kRoleFonts = {{
    {L"MS Sans Serif", 13, FW_NORMAL, DEFAULT_CHARSET, false, false},
    {L"Times New Roman", 13, FW_NORMAL, DEFAULT_CHARSET, true, false},
    {L"Segoe UI", 13, FW_NORMAL, DEFAULT_CHARSET, false, false},
    {L"MS Sans Serif", 18, FW_NORMAL, DEFAULT_CHARSET, false, false},
    {L"黑体", 36, FW_BOLD, GB2312_CHARSET, false, true},
    {L"黑体", 11, FW_NORMAL, GB2312_CHARSET, false, true},
}};

int CALLBACK Note_Found(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM found) {
    // Vertical variants ("@face") are not for horizontal text.
    if (font->lfFaceName[0] == L'@')
        return 1;
    *reinterpret_cast<std::wstring*>(found) = font->lfFaceName;
    return 0;
}

// The first face that covers the character set, or empty.
std::wstring First_Face_With_Charset(BYTE charset) {
    HDC screen = GetDC(nullptr);
    LOGFONTW wanted{};
    wanted.lfCharSet = charset;
    std::wstring found;
    EnumFontFamiliesExW(screen, &wanted, Note_Found, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

std::wstring Han_Face_For(bool serif) {
    std::wstring face =
        serif
            ? First_Installed_Face({L"PMingLiU", L"MingLiU", L"Noto Serif CJK TC",
                                    L"AR PL UMing TW", L"Microsoft JhengHei", L"Noto Sans CJK TC"})
            : First_Installed_Face({L"Microsoft JhengHei", L"PMingLiU", L"Noto Sans CJK TC",
                                    L"Noto Serif CJK TC", L"AR PL UMing TW", L"AR PL UKai TW"});
    if (face.empty())
        face = First_Face_With_Charset(CHINESEBIG5_CHARSET);
    if (face.empty())
        face = First_Face_With_Charset(GB2312_CHARSET);
    return face;
}

HFONT Make_Font(const wchar_t* face, int pixel_height, int weight, BYTE charset) {
    LOGFONTW font{};
    font.lfHeight = -pixel_height;  // negative: character height, not cell height
    font.lfWeight = weight;
    font.lfCharSet = charset;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
    return CreateFontIndirectW(&font);
}

}  // namespace

bool Needs_Han_Font(std::wstring_view text) {
    for (const wchar_t c : text) {
        if (c > 0xFF)
            return true;
    }
    return false;
}

std::wstring First_Installed_Face(std::initializer_list<std::wstring_view> faces) {
    HDC screen = GetDC(nullptr);
    std::wstring found;
    for (const std::wstring_view face : faces) {
        LOGFONTW wanted{};
        wanted.lfCharSet = DEFAULT_CHARSET;
        face.copy(wanted.lfFaceName, LF_FACESIZE - 1);
        EnumFontFamiliesExW(screen, &wanted, Note_Found, reinterpret_cast<LPARAM>(&found), 0);
        if (!found.empty())
            break;
    }
    ReleaseDC(nullptr, screen);
    return found;
}

Font_Set::Font_Set() {
    const std::wstring sans = Han_Face_For(false);
    const std::wstring serif = Han_Face_For(true);
    for (std::size_t i = 0; i < kFontRoleCount; ++i) {
        const Role_Font& role = kRoleFonts[i];
        m_han_face[i] = role.serif ? serif : sans;
        const bool stand_in = role.chinese_face && !m_han_face[i].empty() &&
                              First_Installed_Face({role.design_face}).empty();
        m_latin[i] =
            stand_in
                ? Make_Font(m_han_face[i].c_str(), role.pixel_height, role.weight, DEFAULT_CHARSET)
                : Make_Font(role.design_face, role.pixel_height, role.weight, role.charset);
        // With no Chinese face at all, the design's face is the best there is.
        m_han[i] =
            m_han_face[i].empty()
                ? Make_Font(role.design_face, role.pixel_height, role.weight, role.charset)
                : Make_Font(m_han_face[i].c_str(), role.pixel_height, role.weight, DEFAULT_CHARSET);
    }
}

Font_Set::~Font_Set() {
    for (std::size_t i = 0; i < kFontRoleCount; ++i) {
        DeleteObject(m_latin[i]);
        DeleteObject(m_han[i]);
    }
}
