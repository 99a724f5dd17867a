// The shared file's checks and the process's marks on POSIX systems: lstat
// for the path (a link is refused, never followed), /proc for when a
// process started.
#include "platform/shared_file.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

std::string Absolute_Variable(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] == '/' ? value : std::string();
}

}  // namespace

std::string Shared_File_Problem(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? std::string() : std::strerror(errno);
    if (S_ISLNK(info.st_mode))
        return "it is a symbolic link";
    if (S_ISDIR(info.st_mode))
        return "it is a directory";
    if (S_ISFIFO(info.st_mode))
        return "it is a FIFO, not a file";
    if (!S_ISREG(info.st_mode))
        return "it is a device or socket, not a file";
    if (info.st_uid != geteuid())
        return "it belongs to another user";
    if (info.st_nlink > 1)
        return "it has other names (hard links)";
    return {};
}

std::string Data_Directory() {
    std::string data = Absolute_Variable("XDG_DATA_HOME");
    if (!data.empty())
        return data;
    std::string home = Absolute_Variable("HOME");
    if (home.empty()) {
        const passwd* entry = ::getpwuid(::geteuid());
        if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/')
            home = entry->pw_dir;
    }
    return home.empty() ? std::string() : home + "/.local/share";
}

char Path_Separator() {
    return '/';
}

std::string Host_Name() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

long long Process_Id() {
    return static_cast<long long>(getpid());
}

std::string Process_Start_Token(long long pid) {
    // The 22nd field of /proc/PID/stat, after the name in parentheses (which
    // may hold spaces and parentheses itself: the last ')' ends it).
    std::ifstream stat_file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat_file, line))
        return {};
    const std::size_t name_end = line.rfind(')');
    if (name_end == std::string::npos)
        return {};
    std::istringstream fields(line.substr(name_end + 1));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index == 22)
            return field;
    }
    return {};
}

bool Process_Still_Runs(long long pid, const std::string& start_token) {
    if (pid <= 0)
        return false;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        return false;
    // The id is taken: by the same process only if it started when it did.
    const std::string now = Process_Start_Token(pid);
    return now.empty() || start_token.empty() || now == start_token;
}

}  // namespace platform
