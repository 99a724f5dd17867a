// The shared file's checks and the process's marks on Windows: the file's
// attributes (a reparse point is refused), the process's creation time.
#include "platform/shared_file.h"

#include <windows.h>

#include <cstdlib>

namespace platform {

std::string Shared_File_Problem(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {};
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return "it is a symbolic link";
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "it is a directory";
    return {};
}

std::string Data_Directory() {
    const char* value = std::getenv("LOCALAPPDATA");
    return value != nullptr ? value : std::string();
}

char Path_Separator() {
    return '\\';
}

std::string Host_Name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size) || size == 0)
        return "localhost";
    return name;
}

long long Process_Id() {
    return static_cast<long long>(GetCurrentProcessId());
}

std::string Process_Start_Token(long long pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return {};
    FILETIME created{}, exited{}, kernel{}, user{};
    const bool known = GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
    CloseHandle(process);
    if (!known)
        return {};
    const unsigned long long ticks =
        (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return std::to_string(ticks);
}

bool Process_Still_Runs(long long pid, const std::string& start_token) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) != 0 && code == STILL_ACTIVE;
    CloseHandle(process);
    if (!running)
        return false;
    const std::string now = Process_Start_Token(pid);
    return now.empty() || start_token.empty() || now == start_token;
}

}  // namespace platform
