// TStation_Form: the Win32 controls of the station window, bound to its model.
#include "winapp/station/station_form.h"

#include "winapp/form_procedure.h"
#include "winapp/message_box.h"
#include "winapp/resource_ids.h"
#include "winapp/station/station_settings_dialog.h"
#include "winapp/wide_text.h"

namespace {

constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickInterval = 1000;
// Pixels of the layout: the window grows the table and the phone's messages.
constexpr int kMargin = 8;
constexpr int kButtonWidth = 120;
constexpr int kButtonHeight = 28;
constexpr int kMessagesHeight = 90;
constexpr int kStatusHeight = 20;

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
    window_class.lpszClassName = TStation_Form::kClassName;
    RegisterClassExW(&window_class);
}

}  // namespace

TStation_Form::TStation_Form(HINSTANCE instance, const Font_Set& fonts, Station_Factory factory,
                             Station_Options options, const std::wstring& log_folder)
    : m_instance(instance),
      m_fonts(fonts),
      m_log_folder(log_folder),
      // On a station's thread: have the window's thread apply the events.
      m_own_model(std::make_unique<Station_Window_Model>(
          Face(), [this] { PostMessageW(m_window, kRunPendingCalls, 0, 0); }, std::move(factory),
          std::move(options))) {
    m_model = m_own_model.get();
    m_model->Set_Log_Folder(Path_For_C_Runtime(log_folder));
    Create_Window();
}

TStation_Form::TStation_Form(HINSTANCE instance, const Font_Set& fonts)
    : m_instance(instance), m_fonts(fonts) {
    Create_Window();
}

void TStation_Form::Create_Window() {
    Register_Class(m_instance, Form_Window_Procedure<TStation_Form>);
    CreateWindowExW(0, kClassName, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                    CW_USEDEFAULT, 1180, 640, nullptr, nullptr, m_instance, this);
}

TStation_Form::~TStation_Form() {
    if (m_window != nullptr && IsWindow(m_window))
        DestroyWindow(m_window);
}

LRESULT TStation_Form::Handle_Message(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_CREATE:
            Create_Controls();
            if (m_own_model)
                m_own_model->FormCreate();  // a bound model is shown by its maker
            m_tick = SetTimer(m_window, kTickTimer, kTickInterval, nullptr);
            return 0;
        case WM_SIZE:
            Place_Controls(LOWORD(l), HIWORD(l));
            return 0;
        case WM_GETMINMAXINFO: {
            auto& limits = *reinterpret_cast<MINMAXINFO*>(l);
            limits.ptMinTrackSize = {640, 420};
            return 0;
        }
        case WM_COMMAND:
            if (HIWORD(w) == BN_CLICKED && m_model != nullptr) {
                switch (LOWORD(w)) {
                    case IDC_STATION_OPEN_IMAGE:
                        m_model->OpenImageClick();
                        break;
                    case IDC_STATION_START:
                        m_model->StartClick();
                        break;
                    case IDC_STATION_STOP:
                        m_model->StopClick();
                        break;
                    case IDC_STATION_SETTINGS:
                        SettingsClick();
                        break;
                    default:
                        break;
                }
            }
            return 0;
        case WM_NOTIFY:
            return On_Notify(*reinterpret_cast<const NMHDR*>(l));
        case kRunPendingCalls:
            m_model->Run_Pending_Calls();
            return 0;
        case WM_TIMER:
            if (w == kTickTimer && m_model != nullptr)
                m_model->Tick();
            return 0;
        case WM_CLOSE:
            // The same question as Stop while phones are being rewritten.
            if (m_model == nullptr || m_model->May_Close())
                DestroyWindow(m_window);
            return 0;
        case WM_DESTROY:
            if (m_tick != 0)
                KillTimer(m_window, kTickTimer);
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(m_window, message, w, l);
}

void TStation_Form::Create_Controls() {
    const auto make = [this](const wchar_t* window_class, DWORD style, DWORD ex_style, int id) {
        HWND control = CreateWindowExW(
            ex_style, window_class, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, m_window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance, nullptr);
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(m_fonts.Latin(Font_Role::kWindow)), FALSE);
        return control;
    };
    make(L"Button", BS_PUSHBUTTON | WS_TABSTOP, 0, IDC_STATION_OPEN_IMAGE);
    make(L"Button", BS_PUSHBUTTON | WS_TABSTOP, 0, IDC_STATION_START);
    make(L"Button", BS_PUSHBUTTON | WS_TABSTOP, 0, IDC_STATION_STOP);
    make(L"Button", BS_PUSHBUTTON | WS_TABSTOP, 0, IDC_STATION_SETTINGS);
    m_list.Create(m_window, IDC_STATION_PHONES, m_instance);
    SendMessageW(m_list.Handle(), WM_SETFONT,
                 reinterpret_cast<WPARAM>(m_fonts.Latin(Font_Role::kWindow)), FALSE);
    const DWORD log_style = WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                            ES_AUTOHSCROLL | ES_READONLY | ES_NOHIDESEL;
    for (const int id : {IDC_STATION_PHONE_LOG, IDC_STATION_MESSAGES}) {
        HWND edit = make(L"Edit", log_style, WS_EX_CLIENTEDGE, id);
        SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);  // no limit but the control's
    }
    make(L"Static", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, IDC_STATION_STATUS);
    m_open_dialog.Set_Owner(m_window);
    RECT client;
    GetClientRect(m_window, &client);
    Place_Controls(client.right, client.bottom);
}

void TStation_Form::Place_Controls(int width, int height) {
    const auto place = [this](int id, int x, int y, int w, int h) {
        MoveWindow(Control(id), x, y, std::max(w, 0), std::max(h, 0), TRUE);
    };
    int x = kMargin;
    for (const int id :
         {IDC_STATION_OPEN_IMAGE, IDC_STATION_START, IDC_STATION_STOP, IDC_STATION_SETTINGS}) {
        place(id, x, kMargin, kButtonWidth, kButtonHeight);
        x += kButtonWidth + kMargin;
    }
    const int inner = width - 2 * kMargin;
    const int top = 2 * kMargin + kButtonHeight;
    const int status_top = height - kMargin - kStatusHeight;
    const int messages_top = status_top - kMargin / 2 - kMessagesHeight;
    // The table three quarters of what is left, the phone's messages the rest.
    const int left = messages_top - kMargin / 2 - top;
    const int table = left * 3 / 4;
    place(IDC_STATION_PHONES, kMargin, top, inner, table);
    place(IDC_STATION_PHONE_LOG, kMargin, top + table + kMargin / 2, inner,
          left - table - kMargin / 2);
    place(IDC_STATION_MESSAGES, kMargin, messages_top, inner, kMessagesHeight);
    place(IDC_STATION_STATUS, kMargin, status_top, inner, kStatusHeight);
}

LRESULT TStation_Form::On_Notify(const NMHDR& header) {
    if (header.hwndFrom == m_list.Tip_Window() && header.code == TTN_GETDISPINFOW) {
        m_list.Tip_Text(*reinterpret_cast<NMTTDISPINFOW*>(const_cast<NMHDR*>(&header)));
        return 0;
    }
    if (header.idFrom != IDC_STATION_PHONES)
        return 0;
    if (header.code == NM_CUSTOMDRAW) {
        // The list's own NMLVCUSTOMDRAW, which the notification's header begins.
        auto& draw = *reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(&header));
        return m_list.Custom_Draw(draw);
    }
    if (header.code == LVN_ITEMCHANGED) {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if ((change.uChanged & LVIF_STATE) &&
            ((change.uNewState ^ change.uOldState) & LVIS_SELECTED))
            Show_Phone_Log(m_list.Selected());
    }
    return 0;
}

void TStation_Form::Show_Phone_Log(int index) {
    HWND log = Control(IDC_STATION_PHONE_LOG);
    SetWindowTextW(log, L"");
    if (m_model == nullptr || index < 0 ||
        static_cast<std::size_t>(index) >= m_model->Rows().size())
        return;
    std::string text;
    for (const std::string& line : m_model->Lines(static_cast<std::size_t>(index)))
        text += line + "\n";
    Append(log, text);
}

void TStation_Form::SettingsClick() {
    Station_Settings current = Read_Station_Settings();
    current.log_folder = m_log_folder;
    Show_Station_Settings_Dialog(m_window, m_instance, m_fonts, m_model->Window_Language(), current,
                                 [this](const Station_Settings& chosen, std::wstring& reason) {
                                     return Apply_Settings(chosen, reason);
                                 });
}

bool TStation_Form::Apply_Settings(const Station_Settings& chosen, std::wstring& reason) {
    Station_Port_Choice choice;
    choice.match = Match_Words(chosen.match);
    choice.slots_file = Path_For_C_Runtime(chosen.slots_file);
    choice.only_slots = chosen.only_slots;
    m_collected.clear();
    m_collecting = true;
    const bool taken = m_model->Set_Port_Choice(choice);
    m_collecting = false;
    if (!taken) {
        reason = Wide(m_collected);
        while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r'))
            reason.pop_back();
        return false;
    }
    Station_Settings kept = chosen;
    if (!chosen.log_folder.empty() && chosen.log_folder != m_log_folder) {
        m_log_folder = chosen.log_folder;
        m_model->Set_Log_Folder(Path_For_C_Runtime(m_log_folder));
    } else {
        kept.log_folder.clear();  // the registry's stays
    }
    Write_Station_Settings(kept);
    return true;
}

void TStation_Form::Set_Text(HWND control, const std::wstring& text) {
    const HFONT font = m_fonts.For(Font_Role::kWindow, text);
    if (reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)) != font)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SetWindowTextW(control, text.c_str());
}

void TStation_Form::Append(HWND edit, std::string_view text) {
    const std::wstring appended = With_Crlf(Wide(text));
    const HFONT han = m_fonts.Han(Font_Role::kWindow);
    if (Needs_Han_Font(appended) &&
        reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)) != han)
        SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(han), TRUE);
    const int end = GetWindowTextLengthW(edit);
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(appended.c_str()));
}

// ---- Station_Window_Face ----

void TStation_Form::Caption_Shown(Station_Caption caption, std::string_view text) {
    switch (caption) {
        case Station_Caption::kTitle:
            m_title = Wide(text);
            SetWindowTextW(m_window, m_title.c_str());
            break;
        case Station_Caption::kOpenImage:
            Set_Text(Control(IDC_STATION_OPEN_IMAGE), Wide(text));
            break;
        case Station_Caption::kStart:
            Set_Text(Control(IDC_STATION_START), Wide(text));
            break;
        case Station_Caption::kStop:
            Set_Text(Control(IDC_STATION_STOP), Wide(text));
            break;
        case Station_Caption::kSettings:
            Set_Text(Control(IDC_STATION_SETTINGS), Wide(text));
            break;
    }
}

void TStation_Form::Column_Headers_Shown(const std::vector<std::string>& headers) {
    std::vector<std::wstring> wide;
    std::wstring all;
    for (const std::string& header : headers) {
        wide.push_back(Wide(header));
        all += wide.back();
    }
    // One font draws the whole list: the language's, which the headers show.
    const HFONT font = m_fonts.For(Font_Role::kWindow, all);
    if (reinterpret_cast<HFONT>(SendMessageW(m_list.Handle(), WM_GETFONT, 0, 0)) != font)
        SendMessageW(m_list.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    m_list.Set_Headers(wide);
}

void TStation_Form::Buttons_Enabled(bool open_image, bool start, bool stop) {
    EnableWindow(Control(IDC_STATION_OPEN_IMAGE), open_image);
    EnableWindow(Control(IDC_STATION_START), start);
    EnableWindow(Control(IDC_STATION_STOP), stop);
    // Not while a station runs: its ports were chosen at its start.
    EnableWindow(Control(IDC_STATION_SETTINGS), open_image);
}

void TStation_Form::Row_Shown(std::size_t index, const Station_Row& row) {
    Phone_List::Row shown;
    shown.cells = {
        Wide(row.port_text),   Wide(row.identity),
        Wide(row.phase_text),  std::to_wstring(row.percent) + L"%",
        Wide(row.rate_text),   Wide(row.elapsed_text),
        Wide(row.result_text), Wide(row.advice_text.empty() ? row.last_line : row.advice_text)};
    shown.percent = row.percent;
    shown.state = State_Of(row);
    m_list.Show_Row(index, shown);
}

void TStation_Form::Rows_Cleared() {
    m_list.Clear();
    SetWindowTextW(Control(IDC_STATION_PHONE_LOG), L"");
}

void TStation_Form::Phone_Failed(std::size_t) {
    MessageBeep(MB_ICONHAND);
}

void TStation_Form::Row_Line_Appended(std::size_t index, std::string_view line) {
    if (static_cast<int>(index) == m_list.Selected())
        Append(Control(IDC_STATION_PHONE_LOG), line);
}

void TStation_Form::Status_Shown(std::string_view text) {
    Set_Text(Control(IDC_STATION_STATUS), Wide(text));
}

void TStation_Form::Message_Appended(std::string_view text) {
    if (m_collecting)
        m_collected += text;
    Append(Control(IDC_STATION_MESSAGES), text);
}

bool TStation_Form::Ask_Stop_Question(std::string_view question) {
    return Ask_Yes_No(m_window, Wide(question), m_title.c_str(), m_fonts);
}

void TStation_Form::Dismiss_Stop_Question() {
    Answer_No_To_Question();
}

void TStation_Form::Stop_Question_Changed(std::string_view question) {
    Change_Question_Text(Wide(question));
}
