// TForm1: start state, message output, language, clock, closing.
#include "winapp/form1.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "download/captions.h"
#include "download/clock_text.h"
#include "download/temp_log.h"
#include "download/texts.h"
#include "introduction_text.h"
#include "winapp/form1_layout.h"
#include "winapp/form2.h"
#include "winapp/message_box.h"
#include "winapp/resource_ids.h"
#include "winapp/wide_text.h"

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT_PTR kTimer2 = 2;
constexpr UINT kTimerInterval = 1000;

const form1::Control& Layout_Of(int id) {
    for (const form1::Control& control : form1::kControls) {
        if (control.id == id)
            return control;
    }
    return form1::kControls[0];
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
    window_class.lpszClassName = form1::kClassName;
    RegisterClassExW(&window_class);
}

}  // namespace

TForm1::TForm1(HINSTANCE instance, const Font_Set& fonts)
    : m_instance(instance), m_fonts(fonts), m_download(*this), m_menu(instance) {
    Register_Class(instance, Window_Procedure);
    RECT frame{0, 0, form1::kClientSize.cx, form1::kClientSize.cy};
    AdjustWindowRectEx(&frame, form1::kStyle, FALSE, 0);
    CreateWindowExW(0, form1::kClassName, form1::kCaption, form1::kStyle, form1::kPosition.x,
                    form1::kPosition.y, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                    nullptr, instance, this);
}

TForm1::~TForm1() {
    if (m_window != nullptr)
        DestroyWindow(m_window);
}

LRESULT CALLBACK TForm1::Window_Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        form->m_window = window;
        form->m_download.Attach(window);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
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

LRESULT TForm1::Handle_Message(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_CREATE:
            Create_Controls();
            FormCreate();
            return 0;
        case WM_COMMAND:
            // Button clicks (BN_CLICKED) and menu items both come with code 0.
            if (HIWORD(w) == 0)
                On_Command(LOWORD(w));
            return 0;
        case Window_Download::kRunPendingCalls:
            m_download.Run_Pending_Calls();
            return 0;
        case WM_TIMER:
            if (w == kTimer1)
                Timer1Timer();
            else if (w == kTimer2)
                Timer2Timer();
            return 0;
        case WM_SYSCOMMAND:
            if ((w & 0xFFF0) == SC_KEYMENU && m_menu.On_Key_Menu(m_window, l))
                return 0;
            break;
        case WM_ACTIVATE:
            // Keep the focused control across a switch to another window;
            // the system then gives the window the focus (WM_SETFOCUS).
            if (LOWORD(w) == WA_INACTIVE)
                m_focus = GetFocus();
            break;
        case WM_SETFOCUS:
            SetFocus(m_focus != nullptr && IsWindowEnabled(m_focus) ? m_focus
                                                                    : Control(IDC_DOWNLOAD));
            return 0;
        case WM_CLOSE:
            FormClose();
            return 0;
        case WM_DESTROY:
            FormDestroy();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(m_window, message, w, l);
}

void TForm1::Create_Controls() {
    for (const form1::Control& layout : form1::kControls) {
        const std::wstring caption = layout.id == IDC_TEMEMO1 ? With_Crlf(Wide(kIntroductionText))
                                                              : std::wstring(layout.caption);
        HWND control = CreateWindowExW(
            layout.ex_style, layout.window_class, caption.c_str(), WS_CHILD | layout.style,
            layout.x, layout.y, layout.width, layout.height, m_window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), m_instance, nullptr);
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(m_fonts.For(layout.font, caption)), FALSE);
    }
    // No length limit of their own beyond the control's.
    SendMessageW(Control(IDC_MRECEIVE), EM_SETLIMITTEXT, 0, 0);
    SendMessageW(Control(IDC_TEMEMO1), EM_SETLIMITTEXT, 0, 0);
    SendMessageW(Control(IDC_STATUSBAR1), SB_SETPARTS, form1::kPanelEdges.size(),
                 reinterpret_cast<LPARAM>(form1::kPanelEdges.data()));
    m_progress.Attach(Control(IDC_TEPROGRESSBAR1));
    m_progress.set_step(1);
    m_open_dialog.Set_Owner(m_window);
    // Timer2 runs as the window is built; FormCreate stops it.
    SetTimer(m_window, kTimer2, kTimerInterval, nullptr);
}

// ---- Start, close, destroy ----

void TForm1::FormCreate() {
    m_elapsed_seconds = 0;
    m_elapsed.Set(0);
    KillTimer(m_window, kTimer1);
    KillTimer(m_window, kTimer2);
    m_timer2_running = false;
    m_language_flag = Language::kChinese;
    Set_Captions(m_language_flag);
    Clean_Memo();
}

void TForm1::FormClose() {
    // A close request ends the program, also in the middle of an update; but
    // while the phone's flash is being rewritten the user is asked first,
    // since stopping then leaves a phone that cannot start.
    if (!m_download.May_Close([this] { return Ask_Stop_Update(); }))
        return;
    m_download.Finish_Before_Exit();  // the worker ends within the port's stop latency
    Write_Temp_Log_Or_Exit();
    m_download.Comport().Close();
    std::fflush(stdout);
    std::exit(0);
}

bool TForm1::Ask_Stop_Update() {
    const std::wstring question =
        Wide(text::By_Language(m_language_flag, text::kStopQuestionEn, text::kStopQuestionZh));
    return Ask_Yes_No(m_window, question, form1::kCaption, m_fonts);
}

void TForm1::FormDestroy() {
    // The log once more; the port is left as it is.
    Write_Temp_Log_Or_Exit();
    PostQuitMessage(0);
}

// ---- Message output ----

void TForm1::Print_Str_to_Memo(std::string_view text) {
    // The joined text ends at a zero byte, the line break included.
    const std::string_view kept = text::Up_To_Zero(text);
    std::wstring appended = With_Crlf(Display_Text(kept));
    if (kept.size() == text.size())
        appended += L"\r\n";
    HWND memo = Control(IDC_MRECEIVE);
    if (!m_memo_in_han_font && Needs_Han_Font(appended)) {
        m_memo_in_han_font = true;
        SendMessageW(memo, WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts.Han(Font_Role::kMemo)),
                     TRUE);
    }
    const int end = GetWindowTextLengthW(memo);
    SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(appended.c_str()));
}

void TForm1::Print_Str_to_Tedit(std::string_view text) {
    m_new_version += text::Up_To_Zero(text);
    Show_Version_Field(IDC_VERSIONNAMEEDIT, m_new_version);
}

void TForm1::Print_Str_to_OldTedit(std::string_view text) {
    m_old_version += text::Up_To_Zero(text);
    Show_Version_Field(IDC_OLDVERSIONNAMEEDIT, m_old_version);
}

void TForm1::Show_Version_Field(int id, const std::string& bytes) {
    Set_Control_Text(id, Display_Text(bytes, Incomplete_Tail::kHold));
}

void TForm1::Print_Str_to_ToolBar(int panel, std::string_view text) {
    if (panel != 0 && panel != 1)
        return;  // the status bar has two panels
    // A panel is one line: the line feed that ends a time text is not drawn.
    m_panel_text[panel] = Without_Line_Breaks(Display_Text(text::Up_To_Zero(text)));
    HWND bar = Control(IDC_STATUSBAR1);
    const HFONT font = m_fonts.For(Font_Role::kWindow, m_panel_text[0] + m_panel_text[1]);
    if (reinterpret_cast<HFONT>(SendMessageW(bar, WM_GETFONT, 0, 0)) != font)
        SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SendMessageW(bar, SB_SETTEXTW, static_cast<WPARAM>(panel),
                 reinterpret_cast<LPARAM>(m_panel_text[panel].c_str()));
}

void TForm1::Clean_Memo() {
    m_memo_in_han_font = false;
    Set_Control_Text(IDC_MRECEIVE, L"");
}

void TForm1::Clean_Tedit() {
    m_new_version.clear();
    Set_Control_Text(IDC_VERSIONNAMEEDIT, L"");
}

void TForm1::Clean_OldTedit() {
    m_old_version.clear();
    Set_Control_Text(IDC_OLDVERSIONNAMEEDIT, L"");
}

void TForm1::Set_Control_Text(int id, std::wstring_view text) {
    HWND control = Control(id);
    const std::wstring value(text);
    const HFONT font = m_fonts.For(Layout_Of(id).font, value);
    if (reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)) != font)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowTextW(control, value.c_str());
}

// ---- The download command's view ----

void TForm1::Button_Control(bool enable) {
    EnableWindow(Control(IDC_DOWNLOAD), enable);
    EnableWindow(Control(IDC_CANCEL), enable);
    // A disabled control loses the focus to nothing or to the window itself;
    // give the keys their place again.
    const HWND focus = GetFocus();
    if (enable && GetActiveWindow() == m_window && (focus == nullptr || focus == m_window))
        SetFocus(Control(IDC_DOWNLOAD));
}

void TForm1::Set_Progress_Visible(bool visible) {
    ShowWindow(Control(IDC_TEPROGRESSBAR1), visible ? SW_SHOWNA : SW_HIDE);
}

void TForm1::Set_Timer1_Enabled(bool enabled) {
    if (enabled) {
        m_elapsed.Start();
        SetTimer(m_window, kTimer1, kTimerInterval, nullptr);
    } else {
        KillTimer(m_window, kTimer1);
        m_elapsed.Stop();
    }
}

void TForm1::Set_Elapsed_Seconds(int seconds) {
    m_elapsed_seconds = seconds;
    m_elapsed.Set(seconds);
}

void TForm1::Show_Message_Box(std::string_view text) {
    Show_Completion_Box(m_window, Wide(text), form1::kApplicationTitle, m_fonts);
}

// ---- Buttons and menu ----

void TForm1::On_Command(int id) {
    switch (id) {
        case IDC_DOWNLOAD:
            DownloadClick();
            break;
        case IDC_CANCEL:
            CancelClick();
            break;
        case IDC_SHOWTIME:
            ShowTimeClick();
            break;
        case IDM_ENGLISH:
            EnglishClick();
            break;
        case IDM_CHINESE:
            ChineseClick();
            break;
        case IDM_ABOUT1:
            About1_oldClick();
            break;
        case IDOK: {
            // Enter (through the dialog keys of the message loop) presses the
            // focused button, as in a dialog box.
            const int focused = GetDlgCtrlID(GetFocus());
            if (focused == IDC_DOWNLOAD || focused == IDC_CANCEL)
                On_Command(focused);
            break;
        }
        default:
            break;
    }
}

void TForm1::DownloadClick() {
    m_download.Start();
}

void TForm1::CancelClick() {
    SendMessageW(m_window, WM_CLOSE, 0, 0);
}

void TForm1::About1_oldClick() {
    if (m_form2 != nullptr)
        m_form2->Show();
}

// ---- Language ----

void TForm1::Set_Captions(Language language) {
    Set_Control_Text(IDC_DOWNLOAD, Wide(caption::kDownload.For(language)));
    Set_Control_Text(IDC_CANCEL, Wide(caption::kCancel.For(language)));
    Set_Control_Text(IDC_SHOWTIME, Wide(caption::kShowTime.For(language)));
    Set_Control_Text(IDC_LABEL2, Wide(caption::kNewVersion.For(language)));
    Set_Control_Text(IDC_LABEL1, Wide(caption::kOldVersion.For(language)));
}

void TForm1::EnglishClick() {
    m_language_flag = Language::kEnglish;
    Set_Captions(m_language_flag);
    Clean_Memo();
}

void TForm1::ChineseClick() {
    m_language_flag = Language::kChinese;
    Set_Captions(m_language_flag);
    Clean_Memo();
}

// ---- Clock ----

void TForm1::Timer1Timer() {
    // Real seconds since Timer1 started, however late this tick came (a
    // WM_TIMER waits behind every other message).
    m_elapsed_seconds = static_cast<int>(m_elapsed.Seconds());
    Print_Str_to_ToolBar(0, clock_text::Elapsed_Text(m_elapsed_seconds));
}

void TForm1::Timer2Timer() {
    Print_Str_to_ToolBar(1, clock_text::Clock_Line(m_language_flag, text::Time_Text_Now()));
}

void TForm1::ShowTimeClick() {
    if (m_timer2_running) {
        KillTimer(m_window, kTimer2);
        m_timer2_running = false;
        Set_Control_Text(IDC_SHOWTIME, Wide(caption::kClockOff.For(m_language_flag)));
        Print_Str_to_ToolBar(1, "");
    } else {
        // The first tick, one interval from now, fills the panel.
        SetTimer(m_window, kTimer2, kTimerInterval, nullptr);
        m_timer2_running = true;
        Set_Control_Text(IDC_SHOWTIME, Wide(caption::kClockOn.For(m_language_flag)));
    }
}
