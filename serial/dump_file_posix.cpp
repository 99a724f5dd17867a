// Where the first-run dump goes on Linux and other POSIX systems, and how it
// is created: in a directory of the user's own that no one else may enter or
// swap, held open while the dump lives so that every step acts on the
// directory that was checked, as a new file that nothing planted at its name
// beforehand can stand in for.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "serial/platform.h"

namespace platform {
namespace {

constexpr char kDirectoryName[] = "flashtool";
constexpr char kFileName[] = "VANTREL";
// The port's part of a dump name, at most: with the hash and a numbered
// copy's ".999" the name stays far below any file system's limit.
constexpr std::size_t kMaxReadablePart = 64;

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

// Whether the group is this user's own: the user's primary group, named as
// the user, with no other members (the private group most systems give
// every account, which a umask of 002 leaves directories writable by).
bool Is_Private_Group(gid_t gid) {
    const passwd* user = ::getpwuid(::geteuid());
    if (user == nullptr || user->pw_name == nullptr || user->pw_gid != gid)
        return false;
    const std::string user_name = user->pw_name;
    const group* entry = ::getgrgid(gid);
    if (entry == nullptr || entry->gr_name == nullptr || user_name != entry->gr_name)
        return false;
    for (char** member = entry->gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (user_name != *member)
            return false;
    }
    return true;
}

// Whether no one but this user and root can rename or delete the entries of
// the open directory: whoever can may swap the dump directory for another.
// A sticky directory (as /tmp) lets others write but not touch our entries,
// unless they own it.
bool Only_Ours_To_Change(int directory) {
    struct stat status {};
    if (::fstat(directory, &status) != 0 || !S_ISDIR(status.st_mode))
        return false;
    if (status.st_uid != ::geteuid() && status.st_uid != 0)
        return false;
    if ((status.st_mode & S_ISVTX) != 0)
        return true;
    if ((status.st_mode & S_IWOTH) != 0)
        return false;
    return (status.st_mode & S_IWGRP) == 0 || Is_Private_Group(status.st_gid);
}

bool Is_Name_Character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// Characters of a plain device name, kept as they are. Neither '-' nor '.'
// is one, so a plain name can never look like a hashed one or like a
// numbered copy.
bool Is_Plain_Character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// FNV-1a, 64 bits: a fixed, short fingerprint of the whole path.
std::uint64_t Path_Hash(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string Hex_Of(std::uint64_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(16, '0');
    for (std::size_t i = hex.size(); i-- > 0; value >>= 4)
        hex[i] = kDigits[value & 0xF];
    return hex;
}

// The checks after an exclusive creation, which hold even on a file system
// that bends its rules.
std::FILE* Checked_New_File(int fd) {
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

// O_EXCL with O_CREAT fails on anything already at the name, a link
// included.
constexpr int kNewFileFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

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

std::string Dump_File_Name(const std::string& device_path) {
    if (device_path.empty())
        return kFileName;
    const std::string_view port = std::string_view(device_path).starts_with("/dev/")
                                      ? std::string_view(device_path).substr(5)
                                      : std::string_view(device_path);
    if (device_path.starts_with("/dev/") && !port.empty() && port.size() <= kMaxReadablePart &&
        std::all_of(port.begin(), port.end(), Is_Plain_Character)) {
        return std::string(kFileName) + "-" + std::string(port);
    }
    // Any other path loses characters or length on its way into a name; the
    // hash of the whole path keeps two such ports apart.
    std::string readable(port.substr(0, kMaxReadablePart));
    for (char& c : readable) {
        if (!Is_Name_Character(c))
            c = c == '/' ? '-' : '_';
    }
    return std::string(kFileName) + "-" + readable + "-" + Hex_Of(Path_Hash(device_path));
}

std::FILE* Create_New_File(const std::string& path) {
    return Checked_New_File(::open(path.c_str(), kNewFileFlags, 0600));
}

std::unique_ptr<Dump_Directory> Dump_Directory::Open(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size())
        return nullptr;
    const std::string parent_path = slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    // The cache directory itself may not exist yet on a fresh account.
    ::mkdir(parent_path.c_str(), 0700);
    const int parent = ::open(parent_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0)
        return nullptr;
    int fd = -1;
    if (Only_Ours_To_Change(parent) &&
        (::mkdirat(parent, name.c_str(), 0700) == 0 || errno == EEXIST)) {
        // A link put in the directory's place is refused rather than followed.
        fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    ::close(parent);
    if (fd < 0)
        return nullptr;
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid();
    if (ok && (status.st_mode & 077) != 0)
        ok = ::fchmod(fd, 0700) == 0;
    if (!ok) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<Dump_Directory>(new Dump_Directory(path, fd));
}

Dump_Directory::~Dump_Directory() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

Dump_Directory::Rename Dump_Directory::Rename_No_Replace(const std::string& from,
                                                         const std::string& to) {
    const auto outcome = [](int error) {
        if (error == 0)
            return Rename::kDone;
        if (error == EEXIST)
            return Rename::kTargetTaken;
        return error == ENOENT ? Rename::kNothingThere : Rename::kFailed;
    };
    if (::renameat2(m_descriptor, from.c_str(), m_descriptor, to.c_str(), RENAME_NOREPLACE) == 0)
        return Rename::kDone;
    if (errno != EINVAL && errno != ENOSYS)
        return outcome(errno);
    // A file system without the flag: a second name, which fails on anything
    // at `to`, then the first name goes.
    if (::linkat(m_descriptor, from.c_str(), m_descriptor, to.c_str(), 0) != 0)
        return outcome(errno);
    return outcome(::unlinkat(m_descriptor, from.c_str(), 0) == 0 ? 0 : errno);
}

std::FILE* Dump_Directory::Create_New_File(const std::string& name) {
    return Checked_New_File(::openat(m_descriptor, name.c_str(), kNewFileFlags, 0600));
}

void Dump_Directory::Remove(const std::string& name) {
    ::unlinkat(m_descriptor, name.c_str(), 0);
}

}  // namespace platform
