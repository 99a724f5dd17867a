// The platform interface on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "serial/platform.h"

namespace platform {

bool Seek_To(std::FILE* file, std::uint64_t offset) {
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::int64_t File_Size(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return -1;
    const std::int64_t size = _ftelli64(file);
    if (size < 0 || !Seek_To(file, 0))
        return -1;
    return size;
}

bool Can_Open_Read_Only(const std::string& path) {
    const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        return false;
    _close(fd);
    return true;
}

std::tm Local_Time(std::time_t time) {
    std::tm local{};
    localtime_s(&local, &time);
    return local;
}

// The dump has always gone to the root of drive D.
std::vector<std::string> Preferred_Dump_Directories() {
    return {"d:\\"};
}

bool Refused_Port_Is_In_Use() {
    return true;
}

std::string Device_Group(const std::string&) {
    return {};
}

Quiet_Drive_Errors::Quiet_Drive_Errors() {
    DWORD previous = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous);
    m_previous = previous;
}

Quiet_Drive_Errors::~Quiet_Drive_Errors() {
    SetThreadErrorMode(static_cast<DWORD>(m_previous), nullptr);
}

}  // namespace platform
