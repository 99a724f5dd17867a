// The ports a user names: one reading of a COM port's name on Windows, the
// device behind a path elsewhere.
#include <filesystem>

#include "serial/com_port_listing.h"
#include "serial/port_list.h"

#ifdef _WIN32

Port_Candidate Named_Port(const std::string& name) {
    if (std::optional<Port_Candidate> com = Com_Port_From_Name(name))
        return *com;
    return {name, name, 0};
}

bool Same_Port(const std::string& first, const std::string& second) {
    return Named_Port(first).device_path == Named_Port(second).device_path;
}

namespace serial {
Port_Identity Port_Identity_Of(const std::string&) {
    return {};
}
}  // namespace serial

#else

#include <sys/stat.h>

Port_Candidate Named_Port(const std::string& name) {
    return {name, name, 0};
}

bool Same_Port(const std::string& first, const std::string& second) {
    struct stat first_info {};
    struct stat second_info {};
    if (::stat(first.c_str(), &first_info) == 0 && ::stat(second.c_str(), &second_info) == 0) {
        // One device node or two nodes of one device: the device decides.
        if (S_ISCHR(first_info.st_mode) && S_ISCHR(second_info.st_mode))
            return first_info.st_rdev == second_info.st_rdev;
        return first_info.st_dev == second_info.st_dev && first_info.st_ino == second_info.st_ino;
    }
    // A port not plugged in yet: the same path, however written.
    const auto normal = [](const std::string& path) {
        return std::filesystem::path(path).lexically_normal();
    };
    return normal(first) == normal(second);
}

#endif
