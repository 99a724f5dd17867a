// Drives a window program from outside, as a person at the screen would, but
// through window messages: starts it, finds its windows, reads their texts
// (also those that live in the program's own memory, such as a status bar's
// panels), and waits for what it shows. For the Wine tests of flashtool.exe.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace window_driver {

using namespace std::chrono_literals;

// Waits until done() holds, polling; false when the time ran out. The limits
// given by the tests are generous: a busy machine only makes them wait longer.
inline bool Wait_Until(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// A window's text through WM_GETTEXT, which the system carries across
// processes.
inline std::wstring Text_Of(HWND window) {
    // A busy program (its first paint loads the Chinese font) answers late,
    // not never.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 60000, &length))
        return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_NORMAL, 60000, &copied);
    text.resize(copied);
    return text;
}

inline std::wstring Class_Of(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// The window's rectangle in its parent's client coordinates.
inline RECT Rect_In_Parent(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

inline SIZE Client_Size(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    return {client.right - client.left, client.bottom - client.top};
}

// Lines of a text whose lines end in CR LF (the last one may not).
inline std::vector<std::wstring> Lines_Of(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The program's top-level windows of a class (and title, when given).
inline std::vector<HWND> Top_Windows(DWORD process_id, const std::wstring& window_class,
                                     const std::wstring* title = nullptr) {
    struct Search {
        DWORD process_id;
        const std::wstring& window_class;
        const std::wstring* title;
        std::vector<HWND> found;
    } search{process_id, window_class, title, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(context);
            DWORD owner_process = 0;
            GetWindowThreadProcessId(window, &owner_process);
            if (owner_process == s.process_id && Class_Of(window) == s.window_class &&
                (s.title == nullptr || Text_Of(window) == *s.title)) {
                s.found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A block of memory inside another process, for the control messages whose
// answer is written through a pointer (the system copies only the standard
// messages' buffers between processes).
class Remote_Buffer {
  public:
    Remote_Buffer(HANDLE process, std::size_t size)
        : m_process(process),
          m_size(size),
          m_address(
              VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~Remote_Buffer() {
        if (m_address != nullptr)
            VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
    }
    Remote_Buffer(const Remote_Buffer&) = delete;
    Remote_Buffer& operator=(const Remote_Buffer&) = delete;

    LPARAM Address() const { return reinterpret_cast<LPARAM>(m_address); }
    std::vector<char> Read() const {
        std::vector<char> bytes(m_size);
        SIZE_T got = 0;
        ReadProcessMemory(m_process, m_address, bytes.data(), m_size, &got);
        bytes.resize(got);
        return bytes;
    }

  private:
    HANDLE m_process;
    std::size_t m_size;
    void* m_address;
};

inline std::wstring Status_Panel_Text(HANDLE process, HWND bar, int panel) {
    const auto info = static_cast<DWORD>(SendMessageW(bar, SB_GETTEXTLENGTHW, panel, 0));
    const std::size_t length = LOWORD(info);
    Remote_Buffer buffer(process, (length + 1) * sizeof(wchar_t));
    SendMessageW(bar, SB_GETTEXTW, panel, buffer.Address());
    const std::vector<char> bytes = buffer.Read();
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), length);
}

inline std::vector<int> Status_Panel_Edges(HANDLE process, HWND bar) {
    Remote_Buffer buffer(process, 16 * sizeof(int));
    const auto count = static_cast<int>(SendMessageW(bar, SB_GETPARTS, 16, buffer.Address()));
    const std::vector<char> bytes = buffer.Read();
    const auto* edges = reinterpret_cast<const int*>(bytes.data());
    return std::vector<int>(edges, edges + count);
}

// A list view's rows, and the text of one cell, read through a block in the
// program's memory that holds the LVITEMW and the text it points to.
inline int List_Rows(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}
inline std::wstring List_Cell(HANDLE process, HWND list, int row, int column) {
    constexpr std::size_t kChars = 1024;
    Remote_Buffer buffer(process, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.cchTextMax = static_cast<int>(kChars);
    cell.pszText = reinterpret_cast<wchar_t*>(buffer.Address() + sizeof(LVITEMW));
    WriteProcessMemory(process, reinterpret_cast<void*>(buffer.Address()), &cell, sizeof cell,
                       nullptr);
    const auto length = static_cast<std::size_t>(
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), buffer.Address()));
    const std::vector<char> bytes = buffer.Read();
    if (bytes.size() < sizeof(LVITEMW) + length * sizeof(wchar_t))
        return L"<unread>";
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + sizeof(LVITEMW)),
                        std::min(length, kChars - 1));
}
// A list view's column headers.
inline std::vector<std::wstring> List_Headers(HANDLE process, HWND list) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const auto count = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    std::vector<std::wstring> headers;
    for (int column = 0; column < count; ++column) {
        constexpr std::size_t kChars = 256;
        Remote_Buffer buffer(process, sizeof(LVCOLUMNW) + kChars * sizeof(wchar_t));
        LVCOLUMNW item{};
        item.mask = LVCF_TEXT;
        item.cchTextMax = static_cast<int>(kChars);
        item.pszText = reinterpret_cast<wchar_t*>(buffer.Address() + sizeof(LVCOLUMNW));
        WriteProcessMemory(process, reinterpret_cast<void*>(buffer.Address()), &item, sizeof item,
                           nullptr);
        SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column), buffer.Address());
        const std::vector<char> bytes = buffer.Read();
        if (bytes.size() < sizeof(LVCOLUMNW) + sizeof(wchar_t)) {
            headers.emplace_back(L"<unread>");
            continue;
        }
        headers.emplace_back(reinterpret_cast<const wchar_t*>(bytes.data() + sizeof(LVCOLUMNW)));
    }
    return headers;
}

// A running program with its standard output in a file.
class Program {
  public:
    // Starts it with its arguments in working_directory; false (with a test
    // failure) when it could not be started.
    bool Start(const std::wstring& executable, const std::wstring& working_directory,
               const std::wstring& output_file) {
        return Start(executable, L"", working_directory, output_file);
    }
    bool Start(const std::wstring& executable, const std::wstring& arguments,
               const std::wstring& working_directory, const std::wstring& output_file) {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        HANDLE output = CreateFileW(output_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                    &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::wstring command = L"\"" + executable + L"\"";
        if (!arguments.empty())
            command += L" " + arguments;
        const BOOL started =
            CreateProcessW(executable.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                           working_directory.c_str(), &startup, &m_info);
        CloseHandle(output);
        EXPECT_TRUE(started) << "cannot start the program, error " << GetLastError();
        return started != FALSE;
    }
    ~Program() {
        if (m_info.hProcess == nullptr)
            return;
        if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_info.hProcess, 99);
        CloseHandle(m_info.hProcess);
        CloseHandle(m_info.hThread);
    }

    HANDLE Process() const { return m_info.hProcess; }
    DWORD Id() const { return m_info.dwProcessId; }
    // The exit code once the program ended within the limit.
    std::optional<DWORD> Wait_For_Exit(std::chrono::milliseconds limit = 60s) const {
        if (WaitForSingleObject(m_info.hProcess, static_cast<DWORD>(limit.count())) !=
            WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD code = 0;
        GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }
    // The program's first visible top-level window of the class, once the
    // program waits for input (it has painted and handled what was queued).
    HWND Wait_For_Window(const std::wstring& window_class,
                         std::chrono::milliseconds limit = 120s) const {
        HWND found = nullptr;
        Wait_Until(
            [&] {
                for (HWND window : Top_Windows(Id(), window_class)) {
                    if (IsWindowVisible(window)) {
                        found = window;
                        return true;
                    }
                }
                return false;
            },
            limit);
        if (found != nullptr)
            WaitForInputIdle(m_info.hProcess, static_cast<DWORD>(limit.count()));
        return found;
    }

  private:
    PROCESS_INFORMATION m_info{};
};

// The program's visible dialog box owned by owner that holds a control with
// this id (a message box's text is 0xFFFF; a file dialog's Open button is
// IDOK and it has a file name box), or null.
inline HWND Owned_Dialog_With(DWORD process_id, HWND owner, int control_id) {
    for (HWND dialog : Top_Windows(process_id, L"#32770")) {
        if (IsWindowVisible(dialog) && GetWindow(dialog, GW_OWNER) == owner &&
            GetDlgItem(dialog, control_id) != nullptr) {
            return dialog;
        }
    }
    return nullptr;
}

}  // namespace window_driver
