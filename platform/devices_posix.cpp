// Devices on Linux and other POSIX systems: stat, the group database and
// errno.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/devices.h"

namespace platform {
namespace {

// Whether this process carries the group (its login session has it).
bool Process_Has_Group(gid_t gid) {
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int filled = getgroups(count, groups.data());
    for (int i = 0; i < filled; ++i) {
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    }
    return false;
}

// Whether the group database lists the user as a member (it may have been
// added after this login session started).
bool Group_Lists_User(gid_t gid, const std::string& user) {
    const group* entry = getgrgid(gid);
    if (entry == nullptr)
        return false;
    for (char** member = entry->gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (user == *member)
            return true;
    }
    const passwd* account = getpwnam(user.c_str());
    return account != nullptr && account->pw_gid == gid;
}

}  // namespace

bool Ports_Are_Device_Files() {
    return true;
}

bool Port_Numbers_Follow_Serial_Numbers() {
    return false;
}

Device_File Look_At_Device(const std::string& device_path) {
    Device_File device;
    struct stat info {};
    if (stat(device_path.c_str(), &info) != 0) {
        device.absent_because = std::strerror(errno);
        return device;
    }
    device.present = true;
    device.character_device = S_ISCHR(info.st_mode);
    return device;
}

Group_Standing Device_Group_Standing(const std::string& device_path) {
    struct stat info {};
    if (stat(device_path.c_str(), &info) != 0)
        return Group_Standing::kNotMember;
    if (Process_Has_Group(info.st_gid))
        return Group_Standing::kMember;
    if (Group_Lists_User(info.st_gid, User_Name()))
        return Group_Standing::kAddedAfterLogin;
    return Group_Standing::kNotMember;
}

std::string User_Name() {
    const passwd* entry = getpwuid(geteuid());
    return entry != nullptr ? entry->pw_name : std::to_string(geteuid());
}

Open_Error Open_Error_Kind(int error) {
    if (error == 0)
        return Open_Error::kNone;
    if (error == ENOENT || error == ENOTDIR)
        return Open_Error::kNoSuchDevice;
    return Open_Error::kOther;
}

std::string Open_Error_Text(int error) {
    return std::strerror(error);
}

}  // namespace platform
