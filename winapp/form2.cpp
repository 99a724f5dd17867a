// TForm2: the version window from the IDD_FORM2 resource, at the layout
// table's pixel places and with its captions.
#include "winapp/form2.h"

#include "winapp/resource_ids.h"
#include "winapp/wide_text.h"
#include "window_model/layout.h"

// The resource's labels are the table's.
static_assert(static_cast<int>(layout::Form2_Control::kTeLabel1) == IDC_TELABEL1);
static_assert(static_cast<int>(layout::Form2_Control::kLabel2) == IDC_FORM2_LABEL2);

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
    // The keys go to it, so that Escape closes it (the dialog keys of the
    // message loop turn Escape into IDCANCEL).
    SetActiveWindow(m_window);
    SetFocus(m_window);
}

void TForm2::Lay_Out() {
    // Dialog units follow the dialog font; the design places in pixels.
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_STYLE));
    const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_EXSTYLE));
    RECT frame{0, 0, layout::kForm2.client_width, layout::kForm2.client_height};
    AdjustWindowRectEx(&frame, style, FALSE, ex_style);
    SetWindowPos(m_window, nullptr, layout::kForm2.x, layout::kForm2.y, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
    for (const layout::Label_Layout& label : layout::kForm2Labels) {
        HWND control = GetDlgItem(m_window, static_cast<int>(label.control));
        const std::wstring text = Wide(label.caption);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts.For(label.font, text)),
                     FALSE);
        SetWindowTextW(control, text.c_str());
        MoveWindow(control, label.place.x, label.place.y, label.place.width, label.place.height,
                   FALSE);
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
