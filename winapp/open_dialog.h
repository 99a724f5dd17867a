// OpenDialog1: the file-open dialog in which the user picks the firmware
// image (GetOpenFileNameW).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

class Open_Dialog final {
  public:
    // One entry: hex and binary images, and through *.* every file.
    static constexpr wchar_t kFilter[] = L"INTEL HEX (*.hex) Binary (*.bin)\0*.HEX;*.BIN;*.*\0";

    void Set_Owner(HWND owner) { m_owner = owner; }

    // Shows the dialog on the name chosen last: the name chosen, in the
    // system's code page as the C runtime opens files, or nothing when the
    // user cancelled.
    std::optional<std::string> Choose();

    const std::wstring& File_Name() const { return m_file_name; }

  private:
    HWND m_owner = nullptr;
    std::wstring m_file_name;
};

// A path the C runtime's narrow file functions can open: the name in the
// system's ANSI code page, or, for a name with characters that code page
// lacks, its short (8.3) form when the volume keeps one. Empty stays empty.
std::string Path_For_C_Runtime(const std::wstring& path);
