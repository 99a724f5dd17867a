// Files on Linux and other POSIX systems.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files.h"

namespace platform {
namespace {

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

}  // namespace

bool Seek_To(std::FILE* file, std::uint64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t File_Size(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0)
        return -1;
    const std::int64_t size = ftello(file);
    if (size < 0 || !Seek_To(file, 0))
        return -1;
    return size;
}

bool Can_Open_Read_Only(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

File_Handle Open_Regular_File(const std::string& path) {
    // Non-blocking, so that a FIFO without a writer is looked at, not waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    File_Handle file(::fdopen(fd, "rb"));
    if (!file)
        ::close(fd);
    return file;
}

std::string Runtime_Directory() {
    return Absolute_Directory("XDG_RUNTIME_DIR");
}

std::string Cache_Directory() {
    std::string cache = Absolute_Directory("XDG_CACHE_HOME");
    if (cache.empty()) {
        if (const std::string home = Home_Directory(); !home.empty())
            cache = home + "/.cache";
    }
    return cache;
}

std::string Device_Group(const std::string& device_path) {
    struct stat status {};
    if (::stat(device_path.c_str(), &status) == 0) {
        if (const group* owner = ::getgrgid(status.st_gid); owner != nullptr && owner->gr_name)
            return owner->gr_name;
    }
    return "dialout";
}

Quiet_Drive_Errors::Quiet_Drive_Errors() = default;
Quiet_Drive_Errors::~Quiet_Drive_Errors() = default;

}  // namespace platform
