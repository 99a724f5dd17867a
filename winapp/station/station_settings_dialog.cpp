// The settings dialog: the resource's template, its texts and fonts set as
// it opens, the Browse buttons and the OK that the window's model judges.
#include "winapp/station/station_settings_dialog.h"

#include <shlobj.h>

#include <vector>

#include "winapp/resource_ids.h"
#include "winapp/wide_text.h"
#include "window_model/station_texts.h"

namespace {

struct Dialog_State {
    const Font_Set& fonts;
    Language language;
    const Station_Settings& current;
    const Station_Settings_Accept& accept;
};

std::wstring Item_Text(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
    const std::size_t first = text.find_first_not_of(L" \t");
    const std::size_t last = text.find_last_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

// Only the sockets of a file: without one the box means nothing.
void Follow_Slots_File(HWND dialog) {
    EnableWindow(GetDlgItem(dialog, IDC_SETTINGS_ONLY_SLOTS),
                 !Item_Text(dialog, IDC_SETTINGS_SLOTS).empty());
}

void Browse_File(HWND dialog) {
    std::vector<wchar_t> name(32768, L'\0');
    Item_Text(dialog, IDC_SETTINGS_SLOTS).copy(name.data(), name.size() - 1);
    OPENFILENAMEW chooser{};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = dialog;
    chooser.lpstrFilter = L"*.*\0*.*\0";
    chooser.lpstrFile = name.data();
    chooser.nMaxFile = static_cast<DWORD>(name.size());
    chooser.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
    if (GetOpenFileNameW(&chooser))
        SetDlgItemTextW(dialog, IDC_SETTINGS_SLOTS, name.data());
}

void Browse_Folder(HWND dialog, const std::wstring& title) {
    BROWSEINFOW browse{};
    browse.hwndOwner = dialog;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderW(&browse);
    if (chosen == nullptr)
        return;
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(chosen, path))
        SetDlgItemTextW(dialog, IDC_SETTINGS_LOG_FOLDER, path);
    CoTaskMemFree(chosen);
}

void Open(HWND dialog, const Dialog_State& state) {
    using namespace station_text;
    const Language language = state.language;
    const auto text = [language](const Pair& pair) { return Wide(pair.For(language)); };
    SetWindowTextW(dialog, text(kSettingsTitle).c_str());
    const struct {
        int id;
        const Pair& words;
    } captions[] = {
        {IDC_SETTINGS_MATCH_LABEL, kMatchLabel},
        {IDC_SETTINGS_SLOTS_LABEL, kSlotsLabel},
        {IDC_SETTINGS_SLOTS_BROWSE, kBrowse},
        {IDC_SETTINGS_ONLY_SLOTS, kOnlySlotsLabel},
        {IDC_SETTINGS_LOG_LABEL, kLogFolderLabel},
        {IDC_SETTINGS_LOG_BROWSE, kBrowse},
        {IDOK, kOk},
        {IDCANCEL, kCancel},
    };
    // One font for every control: the language's, which the labels need.
    const HFONT font = state.fonts.For(Font_Role::kWindow, text(kMatchLabel));
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM font) {
            SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(font));
    for (const auto& caption : captions)
        SetDlgItemTextW(dialog, caption.id, text(caption.words).c_str());
    SetDlgItemTextW(dialog, IDC_SETTINGS_MATCH, state.current.match.c_str());
    SetDlgItemTextW(dialog, IDC_SETTINGS_SLOTS, state.current.slots_file.c_str());
    CheckDlgButton(dialog, IDC_SETTINGS_ONLY_SLOTS,
                   state.current.only_slots ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(dialog, IDC_SETTINGS_LOG_FOLDER, state.current.log_folder.c_str());
    Follow_Slots_File(dialog);
}

void Ok(HWND dialog, const Dialog_State& state) {
    Station_Settings chosen;
    chosen.match = Item_Text(dialog, IDC_SETTINGS_MATCH);
    chosen.slots_file = Item_Text(dialog, IDC_SETTINGS_SLOTS);
    chosen.only_slots = !chosen.slots_file.empty() &&
                        IsDlgButtonChecked(dialog, IDC_SETTINGS_ONLY_SLOTS) == BST_CHECKED;
    chosen.log_folder = Item_Text(dialog, IDC_SETTINGS_LOG_FOLDER);
    std::wstring reason;
    if (state.accept(chosen, reason)) {
        EndDialog(dialog, IDOK);
        return;
    }
    HWND shown = GetDlgItem(dialog, IDC_SETTINGS_REASON);
    SendMessageW(shown, WM_SETFONT,
                 reinterpret_cast<WPARAM>(state.fonts.For(Font_Role::kWindow, reason)), TRUE);
    SetWindowTextW(shown, reason.c_str());
}

INT_PTR CALLBACK Dialog_Procedure(HWND dialog, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, l);
        Open(dialog, *reinterpret_cast<const Dialog_State*>(l));
        return TRUE;  // the first control of the tab order takes the focus
    }
    const auto* state = reinterpret_cast<const Dialog_State*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (state == nullptr || message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(w)) {
        case IDOK:
            Ok(dialog, *state);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDC_SETTINGS_SLOTS:
            if (HIWORD(w) == EN_CHANGE)
                Follow_Slots_File(dialog);
            return TRUE;
        case IDC_SETTINGS_SLOTS_BROWSE:
            Browse_File(dialog);
            return TRUE;
        case IDC_SETTINGS_LOG_BROWSE:
            Browse_Folder(dialog, Wide(station_text::kLogFolderLabel.For(state->language)));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool Show_Station_Settings_Dialog(HWND owner, HINSTANCE instance, const Font_Set& fonts,
                                  Language language, const Station_Settings& current,
                                  const Station_Settings_Accept& accept) {
    const Dialog_State state{fonts, language, current, accept};
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_STATION_SETTINGS), owner,
                           Dialog_Procedure, reinterpret_cast<LPARAM>(&state)) == IDOK;
}
