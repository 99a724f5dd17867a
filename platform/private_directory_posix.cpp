// A directory of the user's own on Linux and other POSIX systems: one that
// no one else may enter or swap, held open while its files live so that every
// step acts on the directory that was checked, and new files in it that
// nothing planted at their name beforehand can stand in for.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/private_directory.h"

namespace platform {
namespace {

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
// the open directory: whoever can may swap the directory for another.
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

std::FILE* Create_New_File(const std::string& path) {
    return Checked_New_File(::open(path.c_str(), kNewFileFlags, 0600));
}

std::unique_ptr<Private_Directory> Private_Directory::Open(const std::string& path) {
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
    return std::unique_ptr<Private_Directory>(new Private_Directory(path, fd));
}

Private_Directory::~Private_Directory() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

Private_Directory::Rename Private_Directory::Rename_No_Replace(const std::string& from,
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

std::FILE* Private_Directory::Create_New_File(const std::string& name) {
    return Checked_New_File(::openat(m_descriptor, name.c_str(), kNewFileFlags, 0600));
}

std::FILE* Private_Directory::Open_Own_File_To_Append(const std::string& name) {
    const int fd = ::openat(m_descriptor, name.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
        status.st_nlink != 1 || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "a+b");
    if (file == nullptr)
        ::close(fd);
    return file;
}

void Private_Directory::Remove(const std::string& name) {
    ::unlinkat(m_descriptor, name.c_str(), 0);
}

}  // namespace platform
