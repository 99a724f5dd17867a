// Win32_Progress_Bar: range and position through the progress control's
// messages.
#include "winapp/progress_bar.h"

#include <commctrl.h>

int Win32_Progress_Bar::minimum() const {
    return static_cast<int>(SendMessageW(m_control, PBM_GETRANGE, TRUE, 0));
}

int Win32_Progress_Bar::maximum() const {
    return static_cast<int>(SendMessageW(m_control, PBM_GETRANGE, FALSE, 0));
}

int Win32_Progress_Bar::position() const {
    return static_cast<int>(SendMessageW(m_control, PBM_GETPOS, 0, 0));
}

void Win32_Progress_Bar::set_minimum(int value) {
    SendMessageW(m_control, PBM_SETRANGE32, static_cast<WPARAM>(value), maximum());
}

void Win32_Progress_Bar::set_maximum(int value) {
    SendMessageW(m_control, PBM_SETRANGE32, static_cast<WPARAM>(minimum()), value);
}

void Win32_Progress_Bar::set_position(int value) {
    SendMessageW(m_control, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}
