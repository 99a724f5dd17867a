// Where the first-run dump goes on Linux and other POSIX systems, and how it
// is created: in a directory of the user's own that no one else may enter,
// as a new file that nothing planted at its name beforehand can stand in for.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "serial/platform.h"

namespace platform {
namespace {

constexpr char kDirectoryName[] = "flashtool";
constexpr char kFileName[] = "VANTREL";

// A directory named by the environment; relative ones are ignored, as the
// XDG rules say.
std::string Absolute_Directory(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] == '/' ? value : std::string();
}

std::string Home_Directory() {
    std::string home = Absolute_Directory("HOME");
    if (home.empty()) {
        const passwd* entry = ::getpwuid(::geteuid());
        if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/')
            home = entry->pw_dir;
    }
    return home;
}

// Checked through a descriptor of the directory itself, so that a link put
// in its place is refused rather than followed.
bool Is_Own_Private_Directory(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid();
    if (ok && (status.st_mode & 077) != 0)
        ok = ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return ok;
}

bool Is_Name_Character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

}  // namespace

std::vector<std::string> Dump_Directories() {
    std::vector<std::string> directories;
    if (const std::string runtime = Absolute_Directory("XDG_RUNTIME_DIR"); !runtime.empty())
        directories.push_back(runtime + "/" + kDirectoryName);
    std::string cache = Absolute_Directory("XDG_CACHE_HOME");
    if (cache.empty()) {
        if (const std::string home = Home_Directory(); !home.empty())
            cache = home + "/.cache";
    }
    if (!cache.empty())
        directories.push_back(cache + "/" + kDirectoryName);
    return directories;
}

bool Prepare_Dump_Directory(const std::string& directory) {
    // The cache directory itself may not exist yet on a fresh account.
    if (const std::size_t slash = directory.rfind('/'); slash != 0 && slash != std::string::npos)
        ::mkdir(directory.substr(0, slash).c_str(), 0700);
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return Is_Own_Private_Directory(directory);
}

std::string Dump_File_Name(const std::string& device_path) {
    std::string port = device_path.starts_with("/dev/") ? device_path.substr(5) : device_path;
    for (char& c : port) {
        if (!Is_Name_Character(c))
            c = c == '/' ? '-' : '_';
    }
    return port.empty() ? std::string(kFileName) : std::string(kFileName) + "-" + port;
}

std::FILE* Create_New_File(const std::string& path) {
    // O_EXCL with O_CREAT fails on anything already at the name, a link
    // included; the checks after it hold even on a file system that bends
    // those rules.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
        status.st_nlink != 1) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "w+b");  // "w+" on a descriptor truncates nothing
    if (file == nullptr)
        ::close(fd);
    return file;
}

}  // namespace platform
