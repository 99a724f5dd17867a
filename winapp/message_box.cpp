// Message boxes: MessageBoxW, with the box's text re-set in the Chinese face
// from a thread hook that sees the box before it shows.
#include "winapp/message_box.h"

#include <algorithm>

#include "winapp/wide_text.h"
#include "window_model/layout.h"

namespace {

// The static control that holds a message box's text.
constexpr int kMessageTextId = 0xFFFF;

// The box about to show, seen from the thread's hook.
HHOOK g_hook = nullptr;
HFONT g_font = nullptr;        // its text's font; null: the system's
HWND* g_box_window = nullptr;  // where to note its window, or null
// The Yes/No question while it shows.
HWND g_question = nullptr;

// Moves a child of the box by dx, dy (client pixels).
void Shift(HWND box, HWND child, int dx, int dy) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&rect), 2);
    SetWindowPos(child, nullptr, rect.left + dx, rect.top + dy, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Sets the font on the box's text and makes room for the text in it.
void Fit_Text(HWND box, HWND text_control, HFONT font) {
    SendMessageW(text_control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    wchar_t text[512] = {};
    GetWindowTextW(text_control, text, 512);
    HDC dc = GetDC(text_control);
    HGDIOBJ previous = SelectObject(dc, font);
    RECT needed{0, 0, 0, 0};
    DrawTextW(dc, text, -1, &needed, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, previous);
    ReleaseDC(text_control, dc);

    RECT have;
    GetWindowRect(text_control, &have);
    const int grow_x = std::max(0L, needed.right - (have.right - have.left));
    const int grow_y = std::max(0L, needed.bottom - (have.bottom - have.top));
    if (grow_x == 0 && grow_y == 0)
        return;
    SetWindowPos(text_control, nullptr, 0, 0, have.right - have.left + grow_x,
                 have.bottom - have.top + grow_y, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The buttons stay centred below the text (an icon stays where it is).
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t window_class[16] = {};
        GetClassNameW(child, window_class, 16);
        if (child != text_control && lstrcmpiW(window_class, L"Button") == 0)
            Shift(box, child, grow_x / 2, grow_y);
    }
    RECT frame;
    GetWindowRect(box, &frame);
    SetWindowPos(box, nullptr, frame.left - grow_x / 2, frame.top - grow_y / 2,
                 frame.right - frame.left + grow_x, frame.bottom - frame.top + grow_y,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK On_Box_Event(int code, WPARAM w, LPARAM l) {
    // Activation comes once the box and its controls exist, before it shows.
    if (code == HCBT_ACTIVATE && g_hook != nullptr) {
        HWND box = reinterpret_cast<HWND>(w);
        HWND text = GetDlgItem(box, kMessageTextId);
        if (text != nullptr && g_font != nullptr)
            Fit_Text(box, text, g_font);
        if (g_box_window != nullptr)
            *g_box_window = box;
        UnhookWindowsHookEx(g_hook);
        g_hook = nullptr;
    }
    return CallNextHookEx(nullptr, code, w, l);
}

// window: where the box's window is noted while it shows (null: nowhere).
int Show_Box(HWND owner, const std::wstring& text, const wchar_t* caption, const Font_Set& fonts,
             UINT type, HWND* window = nullptr) {
    g_font = Needs_Han_Font(text) ? fonts.Han(Font_Role::kWindow) : nullptr;
    g_box_window = window;
    if (g_font != nullptr || window != nullptr)
        g_hook = SetWindowsHookExW(WH_CBT, On_Box_Event, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxW(owner, text.c_str(), caption, type);
    if (g_hook != nullptr) {
        UnhookWindowsHookEx(g_hook);
        g_hook = nullptr;
    }
    if (window != nullptr)
        *window = nullptr;
    return answer;
}

}  // namespace

void Show_Completion_Box(HWND owner, const std::wstring& text, const wchar_t* caption,
                         const Font_Set& fonts) {
    Show_Box(owner, text, caption, fonts, MB_OK);
}

bool Ask_Yes_No(HWND owner, const std::wstring& text, const wchar_t* caption,
                const Font_Set& fonts) {
    return Show_Box(owner, text, caption, fonts, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2,
                    &g_question) == IDYES;
}

void Answer_No_To_Question() {
    // As the No button does: the box hides at once and its loop ends with No
    // once the calls on top of it have returned.
    if (g_question != nullptr) {
        SendMessageW(g_question, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(g_question, IDNO)));
    }
}

void Change_Question_Text(const std::wstring& text) {
    if (g_question != nullptr)
        SetDlgItemTextW(g_question, kMessageTextId, text.c_str());
}

void Show_Error_Box(const std::exception& error) {
    MessageBoxW(nullptr, Wide(error.what()).c_str(), Wide(layout::kApplicationTitle).c_str(),
                MB_OK | MB_ICONERROR);
}
