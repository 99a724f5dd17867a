// What doctor asks of the system about a port's device beyond opening it:
// whether the device file is there, who may open it, and what the error of
// a failed open means. devices_*.cpp implement it.
#pragma once

#include <string>

namespace platform {

// Whether ports are files under /dev that can be looked at before they are
// opened (POSIX), rather than names the system maps to drivers (Windows).
bool Ports_Are_Device_Files();

struct Device_File {
    bool present = false;
    std::string absent_because;  // why not present: "No such file or directory"
    bool character_device = false;
};
// Whether the system gives each USB serial device a port number of its own,
// by its serial number, and keeps it (Windows' COM numbers): every new phone
// then comes as a new, higher port.
bool Port_Numbers_Follow_Serial_Numbers();

Device_File Look_At_Device(const std::string& device_path);

// Where this user stands with the group that may open the device.
enum class Group_Standing {
    kMember,           // this login session carries the group
    kAddedAfterLogin,  // the group lists the user, the session does not have it yet
    kNotMember,
};
Group_Standing Device_Group_Standing(const std::string& device_path);
// The name of the user this program runs as.
std::string User_Name();

// What the platform's error code of a failed port open (errno, GetLastError)
// says.
enum class Open_Error {
    kNone,
    kNoSuchDevice,  // no such device exists (it may have gone)
    kAccessDenied,  // refused: another program holds it (Windows)
    kDeviceFailed,  // attached, but the device does not work (Windows)
    kOther,
};
Open_Error Open_Error_Kind(int error);
// The error as the system words it: "Permission denied", "Windows error 87".
std::string Open_Error_Text(int error);

}  // namespace platform
