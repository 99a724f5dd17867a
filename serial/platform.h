// The few things the update does differently per operating system, behind
// one small interface so that no layer above this one needs an #ifdef:
// 64-bit file positions, the low-level open, local time, where a dump may go,
// and what a refused port means. platform_posix.cpp and platform_win32.cpp
// implement it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

// Moves to offset, counted from the start; beyond 2 GiB too.
bool Seek_To(std::FILE* file, std::uint64_t offset);
// The file's size in bytes, or -1 when it cannot be measured (not a seekable
// file). Leaves the position at the start.
std::int64_t File_Size(std::FILE* file);
// Whether the C library's low-level read-only open takes the file.
bool Can_Open_Read_Only(const std::string& path);

// The local time of a calendar time.
std::tm Local_Time(std::time_t time);

// Directories where the first-run dump may go before the temporary
// directory, most preferred first (drive D's root on Windows).
std::vector<std::string> Preferred_Dump_Directories();

// What it means when the system refuses to open a serial port: on Windows
// another program holds it; elsewhere the user lacks the device's group.
bool Refused_Port_Is_In_Use();
// The group that may open the device ("dialout" on most systems); empty
// where ports have no group.
std::string Device_Group(const std::string& device_path);

// While it lives, a drive with no medium (an empty card reader as D) fails
// file calls quietly instead of stopping the program with the system's box.
class Quiet_Drive_Errors {
  public:
    Quiet_Drive_Errors();
    ~Quiet_Drive_Errors();
    Quiet_Drive_Errors(const Quiet_Drive_Errors&) = delete;
    Quiet_Drive_Errors& operator=(const Quiet_Drive_Errors&) = delete;

  private:
    unsigned long m_previous = 0;
};

}  // namespace platform
