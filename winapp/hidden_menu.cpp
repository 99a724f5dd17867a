// Hidden_Menu: the menu key opens MainMenu1's menus as popups.
#include "winapp/hidden_menu.h"

#include <cwctype>
#include <string>

#include "winapp/resource_ids.h"

Hidden_Menu::Hidden_Menu(HINSTANCE instance)
    : m_bar(LoadMenuW(instance, MAKEINTRESOURCEW(IDM_MAINMENU1))), m_popup(CreatePopupMenu()) {
    const int count = GetMenuItemCount(m_bar);
    for (int i = 0; i < count; ++i) {
        wchar_t caption[64] = {};
        GetMenuStringW(m_bar, static_cast<UINT>(i), caption, 64, MF_BYPOSITION);
        AppendMenuW(m_popup, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(GetSubMenu(m_bar, i)),
                    caption);
    }
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
