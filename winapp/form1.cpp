// TForm1: the Win32 controls of the layout table, bound to the window model.
#include "winapp/form1.h"

#include <commctrl.h>

#include <cstdlib>

#include "winapp/form2.h"
#include "winapp/form_procedure.h"
#include "winapp/memo_keys.h"
#include "winapp/message_box.h"
#include "winapp/resource_ids.h"
#include "winapp/wide_text.h"

namespace {

constexpr wchar_t kClassName[] = L"TForm1";
// A fixed frame with minimize and close but no maximize button.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT_PTR kTimer2 = 2;
constexpr UINT kTimerInterval = 1000;

// The window class and styles of each kind of control.
struct Win32_Kind {
    const wchar_t* window_class;
    DWORD style;
    DWORD ex_style;
};

Win32_Kind Win32_Kind_Of(const layout::Control_Layout& layout) {
    switch (layout.kind) {
        case layout::Kind::kMemo:
            return {L"Edit",
                    static_cast<DWORD>(WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL |
                                       (layout.read_only ? ES_READONLY : ES_WANTRETURN)),
                    WS_EX_CLIENTEDGE};
        case layout::Kind::kField:
            return {L"Edit", ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
        case layout::Kind::kButton:
            return {L"Button", BS_PUSHBUTTON, 0};
        case layout::Kind::kLabel:
            return {L"Static", SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, 0};
        case layout::Kind::kProgressBar:
            return {L"msctls_progress32", WS_BORDER | PBS_SMOOTH, 0};
        case layout::Kind::kStatusBar:
            break;
    }
    // Placed like any control, not docked to the window's bottom edge.
    return {L"msctls_statusbar32", CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0};
}

void Register_Class(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = instance;
    window_class.hIcon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_FLASHTOOL), IMAGE_ICON,
                   GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    window_class.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_FLASHTOOL), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kClassName;
    RegisterClassExW(&window_class);
}

}  // namespace

TForm1::TForm1(HINSTANCE instance, const Font_Set& fonts)
    : m_instance(instance),
      m_fonts(fonts),
      // On the worker's thread: have the window's thread run the calls.
      m_model(*this, [this] { PostMessageW(m_window, kRunPendingCalls, 0, 0); }),
      m_menu(LoadMenuW(instance, MAKEINTRESOURCEW(IDM_MAINMENU1)), fonts) {
    Register_Class(instance, Form_Window_Procedure<TForm1>);
    RECT frame{0, 0, layout::kForm1.client_width, layout::kForm1.client_height};
    AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    CreateWindowExW(0, kClassName, Wide(layout::kForm1.caption).c_str(), kStyle, layout::kForm1.x,
                    layout::kForm1.y, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                    nullptr, instance, this);
}

TForm1::~TForm1() {
    if (m_window != nullptr)
        DestroyWindow(m_window);
}

LRESULT TForm1::Handle_Message(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_CREATE:
            Create_Controls();
            m_model.FormCreate();
            return 0;
        case WM_COMMAND:
            // Button clicks (BN_CLICKED) and menu items both come with code 0.
            if (HIWORD(w) == 0)
                On_Command(LOWORD(w));
            return 0;
        case kRunPendingCalls:
            m_model.Panel().Run_Pending_Calls();
            return 0;
        case WM_TIMER:
            if (w == kTimer1)
                m_model.Timer1Timer();
            else if (w == kTimer2)
                m_model.Timer2Timer();
            return 0;
        case WM_SYSCOMMAND:
            if ((w & 0xFFF0) == SC_KEYMENU && m_menu.On_Key_Menu(m_window, l))
                return 0;
            break;
        case WM_MEASUREITEM:
            if (m_menu.Measure_Item(m_window, *reinterpret_cast<MEASUREITEMSTRUCT*>(l)))
                return TRUE;
            break;
        case WM_DRAWITEM:
            if (m_menu.Draw_Item(*reinterpret_cast<const DRAWITEMSTRUCT*>(l)))
                return TRUE;
            break;
        case WM_ACTIVATE:
            // Keep the focused control across a switch to another window;
            // the system then gives the window the focus (WM_SETFOCUS).
            if (LOWORD(w) == WA_INACTIVE)
                m_focus = GetFocus();
            break;
        case WM_SETFOCUS:
            SetFocus(m_focus != nullptr && IsWindowEnabled(m_focus)
                         ? m_focus
                         : Control(layout::Control::kDownload));
            return 0;
        case WM_CLOSE:
            FormClose();
            return 0;
        case WM_DESTROY:
            m_model.FormDestroy();
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(m_window, message, w, l);
}

void TForm1::Create_Controls() {
    // In the table's order, which is the tab order.
    for (const layout::Control_Layout& layout : layout::kForm1Controls) {
        const Win32_Kind kind = Win32_Kind_Of(layout);
        const std::wstring caption =
            With_Crlf(Wide(layout.control == layout::Control::kTeMemo1 ? layout::Introduction_Text()
                                                                       : layout.caption));
        const DWORD style = WS_CHILD | kind.style | (layout.visible ? WS_VISIBLE : 0) |
                            (layout.tab_stop ? WS_TABSTOP : 0) | (layout.enabled ? 0 : WS_DISABLED);
        HWND control = CreateWindowExW(
            kind.ex_style, kind.window_class, caption.c_str(), style, layout.place.x,
            layout.place.y, layout.place.width, layout.place.height, m_window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.control)), m_instance, nullptr);
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(m_fonts.For(layout.font, caption)), FALSE);
        if (layout.kind == layout::Kind::kMemo) {
            SendMessageW(control, EM_SETLIMITTEXT, 0, 0);  // no limit but the control's
            Let_Tab_Move_On(control);
        }
    }
    // Status panels: right edges.
    const int edges[] = {layout::kPanelWidths[0],
                         layout::kPanelWidths[0] + layout::kPanelWidths[1]};
    SendMessageW(Control(layout::Control::kStatusBar1), SB_SETPARTS, std::size(edges),
                 reinterpret_cast<LPARAM>(edges));
    m_open_dialog.Set_Owner(m_window);
    // Timer2 runs as the window is built; FormCreate stops it.
    SetTimer(m_window, kTimer2, kTimerInterval, nullptr);
}

// ---- Commands, closing, the version window ----

void TForm1::On_Command(int id) {
    switch (id) {
        case static_cast<int>(layout::Control::kDownload):
            m_model.DownloadClick();
            break;
        case static_cast<int>(layout::Control::kCancel):
            SendMessageW(m_window, WM_CLOSE, 0, 0);  // CancelClick
            break;
        case static_cast<int>(layout::Control::kShowTime):
            m_model.ShowTimeClick();
            break;
        case IDM_ENGLISH:
            m_model.EnglishClick();
            break;
        case IDM_CHINESE:
            m_model.ChineseClick();
            break;
        case IDM_ABOUT1:
            About1_oldClick();
            break;
        case IDOK: {
            // Enter (through the dialog keys of the message loop) presses the
            // focused button, as in a dialog box.
            const int focused = GetDlgCtrlID(GetFocus());
            if (focused == static_cast<int>(layout::Control::kDownload) ||
                focused == static_cast<int>(layout::Control::kCancel)) {
                On_Command(focused);
            }
            break;
        }
        default:
            break;
    }
}

void TForm1::FormClose() {
    const auto ask_user = [this](std::string_view question) {
        return Ask_Yes_No(m_window, Wide(question), Wide(layout::kForm1.caption).c_str(), m_fonts);
    };
    if (!m_model.FormClose(ask_user))
        return;
    std::exit(0);
}

void TForm1::Dismiss_Stop_Question() {
    Answer_No_To_Question();
}

void TForm1::About1_oldClick() {
    if (m_form2 != nullptr)
        m_form2->Show();
}

// ---- Main_Window_Face ----

void TForm1::Set_Control_Text(layout::Control control, std::wstring_view text) {
    HWND window = Control(control);
    const std::wstring value(text);
    const HFONT font = m_fonts.For(layout::Of(control).font, value);
    if (reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)) != font)
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowTextW(window, value.c_str());
}

void TForm1::Caption_Shown(layout::Control control, std::string_view caption) {
    Set_Control_Text(control, Wide(caption));
}

void TForm1::Memo_Appended(std::string_view text) {
    const std::wstring appended = With_Crlf(Wide(text));
    HWND memo = Control(layout::Control::kMReceive);
    if (!m_memo_in_han_font && Needs_Han_Font(appended)) {
        m_memo_in_han_font = true;
        SendMessageW(memo, WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts.Han(Font_Role::kMemo)),
                     TRUE);
    }
    const int end = GetWindowTextLengthW(memo);
    SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(appended.c_str()));
}

void TForm1::Memo_Cleared() {
    m_memo_in_han_font = false;
    Set_Control_Text(layout::Control::kMReceive, L"");
}

void TForm1::Field_Shown(Field field, std::string_view text) {
    Set_Control_Text(field == Field::kNewVersion ? layout::Control::kVersionNameEdit
                                                 : layout::Control::kOldVersionNameEdit,
                     Wide(text));
}

void TForm1::Status_Panel_Shown(int panel, std::string_view text) {
    m_panel_text[panel] = Wide(text);
    HWND bar = Control(layout::Control::kStatusBar1);
    const HFONT font = m_fonts.For(Font_Role::kWindow, m_panel_text[0] + m_panel_text[1]);
    if (reinterpret_cast<HFONT>(SendMessageW(bar, WM_GETFONT, 0, 0)) != font)
        SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SendMessageW(bar, SB_SETTEXTW, static_cast<WPARAM>(panel),
                 reinterpret_cast<LPARAM>(m_panel_text[panel].c_str()));
}

void TForm1::Buttons_Enabled(bool enabled) {
    EnableWindow(Control(layout::Control::kDownload), enabled);
    EnableWindow(Control(layout::Control::kCancel), enabled);
    // A disabled control loses the focus to nothing or to the window itself;
    // give the keys their place again.
    const HWND focus = GetFocus();
    if (enabled && GetActiveWindow() == m_window && (focus == nullptr || focus == m_window))
        SetFocus(Control(layout::Control::kDownload));
}

void TForm1::Progress_Shown(int minimum, int maximum, int position) {
    HWND bar = Control(layout::Control::kTeProgressBar1);
    SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TForm1::Progress_Visible(bool visible) {
    ShowWindow(Control(layout::Control::kTeProgressBar1), visible ? SW_SHOWNA : SW_HIDE);
}

void TForm1::Timer1_Running(bool running) {
    if (running)
        SetTimer(m_window, kTimer1, kTimerInterval, nullptr);
    else
        KillTimer(m_window, kTimer1);
}

void TForm1::Timer2_Running(bool running) {
    if (running)
        SetTimer(m_window, kTimer2, kTimerInterval, nullptr);
    else
        KillTimer(m_window, kTimer2);
}

void TForm1::Show_Completion_Box(std::string_view text) {
    ::Show_Completion_Box(m_window, Wide(text), Wide(layout::kApplicationTitle).c_str(), m_fonts);
}
