// Files on Linux and other POSIX systems, and the checks of the files a user
// names: regular files only, and no file of the running system's.
#include <fcntl.h>
#include <grp.h>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>

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

// "it is a FIFO, not a file": why a path of this type is no file to read or write.
std::string Not_A_File(mode_t mode) {
    if (S_ISDIR(mode))
        return "it is a directory";
    if (S_ISFIFO(mode))
        return "it is a FIFO, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device, not a file";
    if (S_ISSOCK(mode))
        return "it is a socket, not a file";
    if (S_ISLNK(mode))
        return "it is a symbolic link";
    return "it is not a regular file";
}

constexpr const char* kSystemFiles =
    "it is a file of the running system (/proc or /sys), not a place for a trace";

// The kernel's own file systems, whose files are settings and reports of the
// running system rather than files.
bool Is_System_File_System(const struct statfs& info) {
    static constexpr unsigned long kKernelFileSystems[] = {
        PROC_SUPER_MAGIC,   SYSFS_MAGIC,         DEBUGFS_MAGIC,  TRACEFS_MAGIC, SECURITYFS_MAGIC,
        CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, EFIVARFS_MAGIC, BPF_FS_MAGIC};
    const auto type = static_cast<unsigned long>(info.f_type);
    return std::find(std::begin(kKernelFileSystems), std::end(kKernelFileSystems), type) !=
           std::end(kKernelFileSystems);
}

bool Is_System_File(int fd) {
    struct statfs info {};
    return fstatfs(fd, &info) == 0 && Is_System_File_System(info);
}

// Whether path, or the directory a new file of that name would go into, is
// on one of the kernel's file systems.
bool In_System_Files(const std::string& path) {
    struct statfs info {};
    if (statfs(path.c_str(), &info) == 0)
        return Is_System_File_System(info);
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : path.substr(0, slash);
    return statfs(directory.c_str(), &info) == 0 && Is_System_File_System(info);
}

File_Identity Identity_Of(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
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

std::int64_t Bytes_Stored(std::FILE* file, std::uint64_t from, std::uint64_t to) {
    if (to <= from)
        return 0;
    const int fd = ::fileno(file);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0)
        return -1;
    const auto wanted = static_cast<std::int64_t>(to - from);
#ifdef SEEK_DATA
    // The data's map: each stretch of data from SEEK_DATA to the hole after
    // it. The descriptor's offset moves, and is put back for the stream.
    const off_t saved = ::lseek(fd, 0, SEEK_CUR);
    std::int64_t stored = 0;
    auto at = static_cast<off_t>(from);
    bool mapped = saved >= 0;
    while (mapped && static_cast<std::uint64_t>(at) < to) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) {
            mapped = errno == ENXIO;  // no data after at: the rest is a hole
            break;
        }
        if (static_cast<std::uint64_t>(data) >= to)
            break;
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) {
            mapped = false;
            break;
        }
        stored += static_cast<std::int64_t>(std::min<std::uint64_t>(hole, to) -
                                            static_cast<std::uint64_t>(data));
        at = hole;
    }
    if (saved >= 0)
        ::lseek(fd, saved, SEEK_SET);
    if (mapped)
        return stored;
#endif
    // Without a map: the blocks the whole file takes, which bound its data.
    const std::int64_t blocks = static_cast<std::int64_t>(status.st_blocks) * 512;
    return std::min(wanted, blocks);
}

bool Can_Open_Read_Only(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::string Regular_File_Problem(const std::string& path, File_Identity& identity,
                                 File_Handle* opened) {
    // Links are followed: a file reached through one is still the file.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return Not_A_File(info.st_mode);
    // Non-blocking, in case a FIFO took the file's place since the check.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    const auto refuse = [fd](std::string why) {
        close(fd);
        return why;
    };
    if (fstat(fd, &info) != 0)
        return refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return refuse(Not_A_File(info.st_mode));
    identity = Identity_Of(info);
    if (opened == nullptr)
        return refuse({});
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        return refuse(std::strerror(errno));
    opened->reset(fdopen(fd, "rb"));
    if (!*opened)
        return refuse(std::strerror(errno));
    return {};
}

File_Handle Open_Regular_File(const std::string& path) {
    File_Identity identity;
    File_Handle file;
    if (!Regular_File_Problem(path, identity, &file).empty())
        return nullptr;
    return file;
}

std::FILE* Open_Output_File(const std::string& path, const std::optional<File_Identity>& keep,
                            std::string& problem) {
    const auto refused = [&](std::string why) -> std::FILE* {
        problem = std::move(why);
        return nullptr;
    };
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return refused(Not_A_File(info.st_mode));
    // Writing there would change the running system, and keep no trace.
    if (In_System_Files(path))
        return refused(kSystemFiles);
    // A new file is created for its owner alone: the trace holds the phone's
    // boot loader, as the dump does. An existing one is opened without being
    // truncated yet, since it may turn out to be the image. O_NOFOLLOW and
    // O_NONBLOCK keep a link or a FIFO put in its place meanwhile from being
    // followed or from blocking the open.
    constexpr int kFlags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    bool created = true;
    int fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = open(path.c_str(), kFlags);
    }
    if (fd < 0)
        return refused(errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
    const auto refuse = [&](std::string why) -> std::FILE* {
        close(fd);
        return refused(std::move(why));
    };
    if (fstat(fd, &info) != 0)
        return refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return refuse(Not_A_File(info.st_mode));
    if (keep && Identity_Of(info) == *keep)
        return refuse("it is the image file");
    if (Is_System_File(fd))
        return refuse(kSystemFiles);
    if (!created) {
        // Root may open anyone's file: a file of another user's, or a name
        // of a file that has others, may be a victim planted for the trace
        // to overwrite.
        if (info.st_uid != geteuid())
            return refuse("it belongs to another user");
        if (info.st_nlink > 1)
            return refuse("it has other names (hard links)");
        if ((info.st_mode & 077) != 0 && fchmod(fd, 0600) != 0)
            return refuse(std::strerror(errno));
    }
    if (ftruncate(fd, 0) != 0 || fcntl(fd, F_SETFL, 0) != 0)
        return refuse(std::strerror(errno));
    std::FILE* file = fdopen(fd, "w");
    if (file == nullptr)
        return refuse(std::strerror(errno));
    return file;
}

std::FILE* Temporary_File() {
    return std::tmpfile();
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
