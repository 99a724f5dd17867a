// OpenDialog1 over GetOpenFileNameW.
#include "winapp/open_dialog.h"

#include <commdlg.h>

#include <vector>

std::optional<std::string> Open_Dialog::Choose() {
    std::vector<wchar_t> name(32768, L'\0');
    m_file_name.copy(name.data(), name.size() - 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_owner;
    dialog.lpstrFilter = kFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    // No title, folder or default extension of its own. The working
    // directory stays where the program started: temp.log is written there
    // when the window closes.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&dialog))
        return std::nullopt;
    m_file_name = name.data();
    return Path_For_C_Runtime(m_file_name);
}

namespace {

// The text in the ANSI code page, or false when a character has no place there.
bool To_Ansi(const std::wstring& text, std::string& ansi) {
    BOOL lossy = FALSE;
    const int size = static_cast<int>(text.size());
    const int count = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr,
                                          0, nullptr, &lossy);
    if (count <= 0 || lossy)
        return false;
    ansi.assign(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, ansi.data(), count,
                        nullptr, &lossy);
    return !lossy;
}

}  // namespace

std::string Path_For_C_Runtime(const std::wstring& path) {
    std::string ansi;
    if (path.empty() || To_Ansi(path, ansi))
        return ansi;
    std::vector<wchar_t> short_name(32768, L'\0');
    const DWORD length =
        GetShortPathNameW(path.c_str(), short_name.data(), static_cast<DWORD>(short_name.size()));
    if (length > 0 && length < short_name.size() &&
        To_Ansi(std::wstring(short_name.data(), length), ansi)) {
        return ansi;
    }
    // Nothing the narrow functions can open: the load fails as for a missing
    // file.
    To_Ansi(path, ansi);
    return ansi;
}
