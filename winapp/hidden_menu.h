// MainMenu1: the Language and Help menus, kept off the window (the menu bar is
// hidden) and one key away.
//
// F10 or Alt alone opens both menus as one popup at the window's top-left
// corner (Up and Down move between Language and Help, Right or Enter opens
// one); Alt+H opens the Help menu. A popup rather than a menu bar attached
// for the time the menu is open: attaching a bar takes its height from the
// client area and moves every control down while the menu is open, and the
// popup's menu loop gives the keys their usual meaning without a message hook.
//
// An item whose caption has Chinese (中文) is drawn by the window in the
// window's Chinese face: the system's menu font has no Han glyphs where Wine
// runs, and would draw it in the system language's shapes on Windows.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "winapp/fonts.h"

class Hidden_Menu {
  public:
    // Takes MainMenu1 as loaded from the program's resources (owned from now on).
    Hidden_Menu(HMENU bar, const Font_Set& fonts);
    ~Hidden_Menu();
    Hidden_Menu(const Hidden_Menu&) = delete;
    Hidden_Menu& operator=(const Hidden_Menu&) = delete;

    // For WM_SYSCOMMAND SC_KEYMENU: opens the menu the key asks for and
    // returns true, or returns false for keys the system handles (Alt+Space
    // opens the system menu). key is the message's lParam: 0 for F10 or Alt
    // alone, else the character typed with Alt.
    bool On_Key_Menu(HWND window, LPARAM key);

    // WM_MEASUREITEM and WM_DRAWITEM of the window, for its menus' items:
    // false for an item that is not one of these.
    bool Measure_Item(HWND window, MEASUREITEMSTRUCT& item) const;
    bool Draw_Item(const DRAWITEMSTRUCT& item) const;
    // The font the drawn items are written in.
    HFONT Item_Font() const { return m_fonts.Han(Font_Role::kWindow); }

  private:
    void Draw_Chinese_Items(HMENU menu);
    void Track(HWND window, HMENU menu);
    const std::wstring* Caption_Of(const void* item_data) const;

    const Font_Set& m_fonts;
    HMENU m_bar = nullptr;    // as the resource holds it
    HMENU m_popup = nullptr;  // Language and Help as one popup
    // An owner-drawn item's data points to its caption here (a deque keeps
    // its elements in place as it grows).
    std::deque<std::wstring> m_drawn_captions;
};
