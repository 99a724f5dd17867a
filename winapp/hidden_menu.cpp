// Hidden_Menu: the menu key opens MainMenu1's menus as popups.
#include "winapp/hidden_menu.h"

#include <algorithm>
#include <cwctype>
#include <string>

Hidden_Menu::Hidden_Menu(HMENU bar, const Font_Set& fonts)
    : m_fonts(fonts), m_bar(bar), m_popup(CreatePopupMenu()) {
    const int count = GetMenuItemCount(m_bar);
    for (int i = 0; i < count; ++i) {
        wchar_t caption[64] = {};
        GetMenuStringW(m_bar, static_cast<UINT>(i), caption, 64, MF_BYPOSITION);
        AppendMenuW(m_popup, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(GetSubMenu(m_bar, i)),
                    caption);
        Draw_Chinese_Items(GetSubMenu(m_bar, i));
    }
}

void Hidden_Menu::Draw_Chinese_Items(HMENU menu) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t caption[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), caption, 64, MF_BYPOSITION);
        if (!Needs_Han_Font(caption))
            continue;
        m_drawn_captions.emplace_back(caption);
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_DATA;
        info.fType = MFT_OWNERDRAW;
        info.dwItemData = reinterpret_cast<ULONG_PTR>(&m_drawn_captions.back());
        SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
    }
}

const std::wstring* Hidden_Menu::Caption_Of(const void* item_data) const {
    for (const std::wstring& caption : m_drawn_captions) {
        if (&caption == item_data)
            return &caption;
    }
    return nullptr;
}

bool Hidden_Menu::Measure_Item(HWND window, MEASUREITEMSTRUCT& item) const {
    const std::wstring* caption = item.CtlType == ODT_MENU
                                      ? Caption_Of(reinterpret_cast<const void*>(item.itemData))
                                      : nullptr;
    if (caption == nullptr)
        return false;
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, Item_Font());
    SIZE size{};
    GetTextExtentPoint32W(dc, caption->c_str(), static_cast<int>(caption->size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    // Room for the check mark column on the left, as the other items have.
    item.itemWidth = static_cast<UINT>(size.cx + 2 * GetSystemMetrics(SM_CXMENUCHECK));
    item.itemHeight = static_cast<UINT>(std::max<LONG>(size.cy + 4, GetSystemMetrics(SM_CYMENU)));
    return true;
}

bool Hidden_Menu::Draw_Item(const DRAWITEMSTRUCT& item) const {
    const std::wstring* caption = item.CtlType == ODT_MENU
                                      ? Caption_Of(reinterpret_cast<const void*>(item.itemData))
                                      : nullptr;
    if (caption == nullptr)
        return false;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const bool grayed = (item.itemState & (ODS_GRAYED | ODS_DISABLED)) != 0;
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_MENU));
    const COLORREF old_color = SetTextColor(
        item.hDC,
        GetSysColor(grayed ? COLOR_GRAYTEXT : (selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT)));
    const int old_mode = SetBkMode(item.hDC, TRANSPARENT);
    HGDIOBJ previous = SelectObject(item.hDC, Item_Font());
    RECT text = item.rcItem;
    text.left += GetSystemMetrics(SM_CXMENUCHECK);
    DrawTextW(item.hDC, caption->c_str(), static_cast<int>(caption->size()), &text,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(item.hDC, previous);
    SetBkMode(item.hDC, old_mode);
    SetTextColor(item.hDC, old_color);
    return true;
}

Hidden_Menu::~Hidden_Menu() {
    // The submenus belong to the bar: take them out of the popup first.
    while (GetMenuItemCount(m_popup) > 0)
        RemoveMenu(m_popup, 0, MF_BYPOSITION);
    DestroyMenu(m_popup);
    DestroyMenu(m_bar);
}

bool Hidden_Menu::On_Key_Menu(HWND window, LPARAM key) {
    if (key == 0) {
        Track(window, m_popup);
        return true;
    }
    // Alt with a menu's mnemonic letter opens that menu.
    const int count = GetMenuItemCount(m_bar);
    for (int i = 0; i < count; ++i) {
        wchar_t caption[64] = {};
        GetMenuStringW(m_bar, static_cast<UINT>(i), caption, 64, MF_BYPOSITION);
        const std::wstring text(caption);
        const std::size_t amp = text.find(L'&');
        if (amp != std::wstring::npos && amp + 1 < text.size() &&
            std::towlower(text[amp + 1]) == std::towlower(static_cast<wint_t>(key))) {
            Track(window, GetSubMenu(m_bar, i));
            return true;
        }
    }
    return false;
}

void Hidden_Menu::Track(HWND window, HMENU menu) {
    POINT corner{0, 0};
    ClientToScreen(window, &corner);
    // Opened from the keyboard, a menu starts on its first item, as a menu
    // bar's menus do: the menu loop takes this Down key as its first key.
    PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
    SetForegroundWindow(window);
    TrackPopupMenuEx(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, corner.x, corner.y,
                     window, nullptr);
    // The menu loop has ended: a Down key it did not take must not reach the
    // window afterwards.
    MSG left_over;
    if (PeekMessageW(&left_over, window, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE) &&
        left_over.wParam == VK_DOWN && left_over.lParam == 0) {
        PeekMessageW(&left_over, window, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE);
    }
}
