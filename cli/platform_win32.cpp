// Windows: the console control handler for Ctrl-C and Ctrl-Break, the
// console's UTF-8 output, the checks of the image and trace files, the COMn
// port names, and doctor's reading of CreateFileA's error codes.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli/platform.h"
#include "cli/port_name.h"

namespace cli {
namespace {

std::atomic<Stop_Signal*> g_stop_target{nullptr};
std::atomic<Stop_Signal*> g_asking_target{nullptr};
std::atomic<int> g_stop_signal{0};
std::atomic<int> g_stop_count{0};

// Runs on a thread of its own, which the system starts for the event.
BOOL WINAPI On_Console_Control(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (Stop_Signal* asking = g_asking_target.load()) {
        g_stop_signal.store(type == CTRL_C_EVENT ? SIGINT : SIGBREAK);
        g_stop_count.fetch_add(1);
        asking->Request();
        return TRUE;
    }
    Stop_Signal* target = g_stop_target.load();
    if (target == nullptr || g_stop_signal.load() != 0)
        return FALSE;  // the default handler ends the program
    g_stop_signal.store(type == CTRL_C_EVENT ? SIGINT : SIGBREAK);
    target->Request();  // breaks into the port call that blocks
    return TRUE;
}

std::string Open_Error_Text(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::strerror(ENOENT);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return std::strerror(EACCES);
        default:
            return "Windows error " + std::to_string(error);
    }
}

// What an open handle is: empty for a regular file (identity filled), else
// why it is no file to read or write.
std::string Handle_Problem(HANDLE handle, File_Identity& identity) {
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_CHAR)
        return "it is a device, not a file";
    if (type == FILE_TYPE_PIPE)
        return "it is a pipe, not a file";
    BY_HANDLE_FILE_INFORMATION info{};
    if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info))
        return "it is not a regular file";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "it is a directory";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return "it is a symbolic link";
    identity = {info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return {};
}

// Opens path for querying only, the link itself when follow_links is off.
HANDLE Query_Open(const std::string& path, bool follow_links) {
    return CreateFileA(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

}  // namespace

void Install_Stop_Handlers() {
    SetConsoleCtrlHandler(On_Console_Control, TRUE);
}

void Set_Stop_Target(Stop_Signal* stop) {
    g_stop_target.store(stop);
}

void Set_Asking_Stop_Target(Stop_Signal* stop) {
    g_asking_target.store(stop);
}

int Stop_Signal_Count() {
    return g_stop_count.load();
}

int Stop_Signal_Number() {
    return g_stop_signal.load();
}

std::string Stop_Signal_Name(int signal_number) {
    switch (signal_number) {
        case SIGINT:
            return "Ctrl-C";
        case SIGBREAK:
            return "Ctrl-Break";
        default:
            return "signal " + std::to_string(signal_number);
    }
}

bool Is_Terminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

namespace {
HANDLE Console_Of(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}
}  // namespace

int Terminal_Columns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(Console_Of(stream), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

int Terminal_Rows(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(Console_Of(stream), &info))
        return 0;
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}

bool Enable_Cursor_Moves(std::FILE* stream) {
    const HANDLE console = Console_Of(stream);
    DWORD mode = 0;
    if (!GetConsoleMode(console, &mode))
        return false;
    return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void Prepare_Console() {
    SetConsoleOutputCP(CP_UTF8);
}

std::string Image_File_Problem(const std::string& path, File_Identity& identity,
                               File_Handle* opened) {
    const HANDLE handle = Query_Open(path, true);
    if (handle == INVALID_HANDLE_VALUE)
        return Open_Error_Text(GetLastError());
    std::string problem = Handle_Problem(handle, identity);
    CloseHandle(handle);
    if (!problem.empty())
        return problem;
    File_Handle file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return std::strerror(errno);
    // What is read is the file that opened: its identity is the one given.
    const auto read_handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())));
    problem = Handle_Problem(read_handle, identity);
    if (problem.empty() && opened != nullptr)
        *opened = std::move(file);
    return problem;
}

std::FILE* Open_Output_File(const std::string& path, const std::optional<File_Identity>& keep,
                            std::string& problem) {
    File_Identity identity;
    if (const HANDLE existing = Query_Open(path, false); existing != INVALID_HANDLE_VALUE) {
        problem = Handle_Problem(existing, identity);
        CloseHandle(existing);
        if (!problem.empty())
            return nullptr;
    }
    // Not truncated yet: the file may turn out to be the image.
    const HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        problem = Open_Error_Text(GetLastError());
        return nullptr;
    }
    problem = Handle_Problem(handle, identity);
    if (problem.empty() && keep && identity == *keep)
        problem = "it is the image file";
    if (problem.empty() && !SetEndOfFile(handle))
        problem = Open_Error_Text(GetLastError());
    if (!problem.empty()) {
        CloseHandle(handle);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT);
    std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, "w");
    if (file == nullptr) {
        problem = std::strerror(errno);
        if (fd < 0)
            CloseHandle(handle);
        else
            _close(fd);
    }
    return file;
}

Port_Candidate Named_Port(const std::string& name) {
    if (std::optional<Port_Candidate> com = Com_Port_From_Name(name))
        return *com;
    return {name, name, 0};
}

bool Is_No_Such_Device(int open_error) {
    return open_error == ERROR_FILE_NOT_FOUND || open_error == ERROR_PATH_NOT_FOUND;
}

Port_Diagnosis Diagnose_Port(const Port_Candidate& candidate, CComport& port) {
    Port_Diagnosis diagnosis;
    const bool opened = port.Open(candidate.device_path);
    const int error = opened ? 0 : port.Last_Open_Error();
    port.Close();
    if (opened) {
        diagnosis.usable = true;
        diagnosis.lines.push_back("opens and takes the line settings: the phone search can use it");
    } else if (error == ERROR_ACCESS_DENIED) {
        diagnosis.lines.push_back("present, but another program holds the port: close it first");
    } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        diagnosis.lines.push_back("not present: is the phone plugged in with key 1 held?");
    } else if (error == ERROR_GEN_FAILURE) {
        diagnosis.lines.push_back("attached, but the device does not work: unplug and replug it");
    } else if (error != 0) {
        diagnosis.lines.push_back("open failed: Windows error " + std::to_string(error));
    } else {
        diagnosis.lines.push_back("opened, but could not be set up as a serial port (115200 8N1)");
    }
    return diagnosis;
}

std::vector<std::string> Diagnose_System() {
    return {};
}

}  // namespace cli
