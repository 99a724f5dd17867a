// TForm2: the version window from the IDD_FORM2 resource, at its pixel places.
#include "winapp/form2.h"

#include "winapp/resource_ids.h"

namespace {

constexpr POINT kPosition{492, 312};
constexpr SIZE kClientSize{298, 125};

struct Label_Place {
    int id;
    RECT rect;  // left, top, right, bottom in client pixels
    Font_Role font;
};
constexpr Label_Place kLabels[] = {
    {IDC_TELABEL1, {16, 16, 16 + 273, 16 + 49}, Font_Role::kVersionTitle},
    {IDC_FORM2_LABEL2, {40, 96, 40 + 138, 96 + 11}, Font_Role::kVersionText},
};

}  // namespace

TForm2::TForm2(HINSTANCE instance, HWND owner, const Font_Set& fonts) : m_fonts(fonts) {
    m_window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_FORM2), owner, Dialog_Procedure,
                                  reinterpret_cast<LPARAM>(this));
    auto* icon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_FLASHTOOL), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

TForm2::~TForm2() {
    if (m_window != nullptr)
        DestroyWindow(m_window);
}

void TForm2::Show() {
    ShowWindow(m_window, IsIconic(m_window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(m_window);
    BringWindowToTop(m_window);
}

void TForm2::Lay_Out() {
    // Dialog units follow the dialog font; the design places in pixels.
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_STYLE));
    const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_EXSTYLE));
    RECT frame{0, 0, kClientSize.cx, kClientSize.cy};
    AdjustWindowRectEx(&frame, style, FALSE, ex_style);
    SetWindowPos(m_window, nullptr, kPosition.x, kPosition.y, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
    for (const Label_Place& label : kLabels) {
        HWND control = GetDlgItem(m_window, label.id);
        wchar_t text[64] = {};
        GetWindowTextW(control, text, 64);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts.For(label.font, text)),
                     FALSE);
        MoveWindow(control, label.rect.left, label.rect.top, label.rect.right - label.rect.left,
                   label.rect.bottom - label.rect.top, FALSE);
    }
}

INT_PTR CALLBACK TForm2::Dialog_Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG) {
        auto* form = reinterpret_cast<TForm2*>(l);
        form->m_window = window;
        form->Lay_Out();
        return TRUE;
    }
    switch (message) {
        case WM_CLOSE:
            // A secondary window is hidden, not destroyed, when closed.
            ShowWindow(window, SW_HIDE);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(w) == IDCANCEL) {  // Escape
                ShowWindow(window, SW_HIDE);
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}
