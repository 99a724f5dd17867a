// Devices on Windows: COM ports are names the system maps, not files to look
// at; what a failed open means comes from CreateFileA's error codes.
#include <windows.h>

#include "platform/devices.h"

namespace platform {

bool Ports_Are_Device_Files() {
    return false;
}

bool Port_Numbers_Follow_Serial_Numbers() {
    return true;
}

Device_File Look_At_Device(const std::string&) {
    return {true, {}, true};
}

Group_Standing Device_Group_Standing(const std::string&) {
    return Group_Standing::kMember;
}

std::string User_Name() {
    return {};
}

Open_Error Open_Error_Kind(int error) {
    switch (error) {
        case 0:
            return Open_Error::kNone;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return Open_Error::kNoSuchDevice;
        case ERROR_ACCESS_DENIED:
            return Open_Error::kAccessDenied;
        case ERROR_GEN_FAILURE:
            return Open_Error::kDeviceFailed;
        default:
            return Open_Error::kOther;
    }
}

std::string Open_Error_Text(int error) {
    return "Windows error " + std::to_string(error);
}

}  // namespace platform
