// MainMenu1: the Language and Help menus, kept off the window (the menu bar is
// hidden) and one key away.
//
// F10 or Alt alone opens both menus as one popup at the window's top-left
// corner (Up and Down move between Language and Help, Right or Enter opens
// one); Alt+H opens the Help menu. A popup rather than a menu bar attached
// for the time the menu is open: attaching a bar takes its height from the
// client area and moves every control down while the menu is open, and the
// popup's menu loop gives the keys their usual meaning without a message hook.
#pragma once

#include <windows.h>

class Hidden_Menu {
  public:
    // Loads MainMenu1 from the program's resources.
    explicit Hidden_Menu(HINSTANCE instance);
    ~Hidden_Menu();
    Hidden_Menu(const Hidden_Menu&) = delete;
    Hidden_Menu& operator=(const Hidden_Menu&) = delete;

    // For WM_SYSCOMMAND SC_KEYMENU: opens the menu the key asks for and
    // returns true, or returns false for keys the system handles (Alt+Space
    // opens the system menu). key is the message's lParam: 0 for F10 or Alt
    // alone, else the character typed with Alt.
    bool On_Key_Menu(HWND window, LPARAM key);

  private:
    void Track(HWND window, HMENU menu);

    HMENU m_bar = nullptr;    // as the resource holds it
    HMENU m_popup = nullptr;  // Language and Help as one popup
};
