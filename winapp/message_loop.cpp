// The message loop.
#include "winapp/message_loop.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<HWND>& Dialog_Windows() {
    static std::vector<HWND> windows;
    return windows;
}

HWND g_menu_window = nullptr;

void Dispatch(MSG& message) {
    if (message.message == WM_SYSCHAR && (HIWORD(message.lParam) & KF_ALTDOWN) &&
        g_menu_window != nullptr && message.hwnd != g_menu_window &&
        GetAncestor(message.hwnd, GA_ROOT) == g_menu_window) {
        SendMessageW(g_menu_window, WM_SYSCOMMAND, SC_KEYMENU, static_cast<LPARAM>(message.wParam));
        return;
    }
    for (HWND dialog : Dialog_Windows()) {
        if (IsWindow(dialog) && IsDialogMessageW(dialog, &message))
            return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

}  // namespace

void Register_Dialog_Window(HWND window) {
    auto& windows = Dialog_Windows();
    if (std::find(windows.begin(), windows.end(), window) == windows.end())
        windows.push_back(window);
}

void Route_Menu_Keys_To(HWND window) {
    g_menu_window = window;
}

int Run_Message_Loop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        Dispatch(message);
    return static_cast<int>(message.wParam);
}
