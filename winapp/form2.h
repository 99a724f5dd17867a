// TForm2: the version window. Built hidden from the resource at start-up,
// shown by Help > About; closing it hides it.
#pragma once

#include <windows.h>

#include "winapp/fonts.h"

class TForm2 {
  public:
    TForm2(HINSTANCE instance, HWND owner, const Font_Set& fonts);
    ~TForm2();
    TForm2(const TForm2&) = delete;
    TForm2& operator=(const TForm2&) = delete;

    // Shows the window, or brings it to the front when it shows already.
    void Show();
    HWND Handle() const { return m_window; }

  private:
    static INT_PTR CALLBACK Dialog_Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    void Lay_Out();

    const Font_Set& m_fonts;
    HWND m_window = nullptr;
};
