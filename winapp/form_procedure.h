// The window procedure of a form (TForm1, TStation_Form): the object given
// to CreateWindowExW becomes the window's at WM_NCCREATE, and every message
// after that goes to its Handle_Message. A form makes it its friend.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <exception>

#include "winapp/message_box.h"

template <class Form>
LRESULT CALLBACK Form_Window_Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        form->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr)
        return DefWindowProcW(window, message, w, l);
    try {
        return form->Handle_Message(message, w, l);
    } catch (const std::exception& error) {
        // Nothing may unwind through the system's frames: report and end, as
        // the program does for any error that escapes it.
        Show_Error_Box(error);
        std::exit(0);
    }
}
