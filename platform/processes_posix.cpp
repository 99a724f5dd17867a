// This program's standard streams, and the other programs: which hold a
// serial port open, from /proc/<pid>/fd (named to a user whose port is in
// use, and by the command-line tool's doctor); and, for the doctor, what a
// process really is: the program it runs, the service it belongs to.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>

#include "platform/processes.h"

namespace platform {
namespace {

bool Is_Number(std::string_view text) {
    if (text.empty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

std::string Process_Name(const std::string& pid) {
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "?" : name;
}

bool Has_Open(const std::string& pid, const char* resolved) {
    const std::string fd_dir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(fd_dir.c_str());
    if (fds == nullptr)
        return false;  // another user's process, or gone
    bool found = false;
    while (const dirent* fd = ::readdir(fds)) {
        if (!Is_Number(fd->d_name))
            continue;
        char target[PATH_MAX];
        const std::string link = fd_dir + "/" + fd->d_name;
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0)
            continue;
        target[length] = '\0';
        if (std::strcmp(target, resolved) == 0) {
            found = true;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

}  // namespace

void Fill_Closed_Standard_Streams() {
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(stream, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor: this one, the lower ones being open.
        const int null = ::open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != stream) {
            ::dup2(null, stream);
            ::close(null);
        }
    }
}

std::vector<std::string> Port_Holders(const std::string& device_path) {
    std::vector<std::string> holders;
    char resolved[PATH_MAX];
    if (::realpath(device_path.c_str(), resolved) == nullptr) {
        // Gone from /dev (a USB device unplugged): a descriptor still open on
        // it reads as the old name, marked deleted.
        const std::string gone = device_path + " (deleted)";
        if (gone.size() >= sizeof resolved)
            return holders;
        std::memcpy(resolved, gone.c_str(), gone.size() + 1);
    }
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return holders;
    while (const dirent* process = ::readdir(proc)) {
        const std::string pid = process->d_name;
        if (Is_Number(pid) && pid != self && Has_Open(pid, resolved))
            holders.push_back(Process_Name(pid) + " (pid " + pid + ")");
    }
    ::closedir(proc);
    return holders;
}

}  // namespace platform

namespace platform {

bool Processes_Are_Listed() {
    return true;
}

std::vector<std::string> Processes_Named(std::string_view name) {
    std::vector<std::string> pids;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return pids;
    while (const dirent* process = ::readdir(proc)) {
        const std::string pid = process->d_name;
        if (Is_Number(pid) && Process_Name(pid) == name)
            pids.push_back(pid);
    }
    ::closedir(proc);
    return pids;
}

std::string Process_Program(const std::string& pid) {
    char target[PATH_MAX];
    const std::string link = "/proc/" + pid + "/exe";
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0)
        return {};  // another user's process, or gone
    std::string program(target, static_cast<std::size_t>(length));
    // A program replaced on disk while it runs (an upgrade) is still itself.
    constexpr std::string_view kDeleted = " (deleted)";
    if (program.ends_with(kDeleted))
        program.resize(program.size() - kDeleted.size());
    return program;
}

std::string Process_Service(const std::string& pid) {
    // systemd puts each system service in a control group of its own,
    // "/system.slice/NAME.service", which every user may read.
    std::ifstream groups("/proc/" + pid + "/cgroup");
    constexpr std::string_view kSystemSlice = "/system.slice/";
    for (std::string line; std::getline(groups, line);) {
        const std::size_t path = line.find(':', line.find(':') + 1);
        if (path == std::string::npos)
            continue;
        const std::string_view group = std::string_view(line).substr(path + 1);
        if (!group.starts_with(kSystemSlice))
            continue;
        const std::string_view unit = group.substr(kSystemSlice.size());
        if (unit.ends_with(".service") && unit.find('/') == std::string_view::npos)
            return std::string(unit);
    }
    return {};
}

}  // namespace platform
