// Which programs hold a serial port open, from /proc/<pid>/fd: named to a
// user whose port is in use, and by the command-line tool's doctor.
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>

#include "serial/platform.h"

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

}  // namespace platform
