// The few things the update does differently per operating system, behind
// one small interface so that no layer above this one needs an #ifdef:
// 64-bit file positions, the low-level open, local time, where a dump may go
// and how it is created, and who holds a port. platform_*.cpp, dump_file_*.cpp
// and port_holders_posix.cpp implement it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "serial/file_handle.h"

namespace platform {

// Moves to offset, counted from the start; beyond 2 GiB too.
bool Seek_To(std::FILE* file, std::uint64_t offset);
// The file's size in bytes, or -1 when it cannot be measured (not a seekable
// file). Leaves the position at the start.
std::int64_t File_Size(std::FILE* file);
// Whether the C library's low-level read-only open takes the file.
bool Can_Open_Read_Only(const std::string& path);
// The file at path opened for binary reading, or null when it cannot be
// opened or is no regular file: a FIFO, a device or a directory is refused
// without waiting for a writer or reading a byte.
File_Handle Open_Regular_File(const std::string& path);

// Puts /dev/null on each of the standard descriptors 0 to 2 that is closed,
// so that no file the program opens later lands there: the stop pipe would
// take every line written to standard output for a stop, and a port on one
// of them would look like the program's own terminal. Called first thing in
// main; nothing to do on Windows.
void Fill_Closed_Standard_Streams();

// The local time of a calendar time.
std::tm Local_Time(std::time_t time);

// Where the first-run dump may go, most preferred first. On Windows the root
// of drive D, then the temporary directory; elsewhere a directory of the
// user's own: $XDG_RUNTIME_DIR/flashtool, else $XDG_CACHE_HOME/flashtool or
// ~/.cache/flashtool.
std::vector<std::string> Dump_Directories();
// Readies a directory of Dump_Directories for a dump. On POSIX it is made
// with mode 0700 when missing, and refused unless it is a directory (not a
// link to one) of this user's; one that others may enter is narrowed to 0700.
bool Prepare_Dump_Directory(const std::string& directory);
// The dump's file name for the port at device_path: "VANTREL" on Windows;
// elsewhere it names the port ("VANTREL-ttyACM0"), so that two copies of the
// program updating two phones never share one file.
std::string Dump_File_Name(const std::string& device_path);
// Creates a new, empty file at path for writing and reading. Fails when
// anything is there already: a link is never followed, a FIFO or device
// never opened, another user's file never taken. Null on failure.
std::FILE* Create_New_File(const std::string& path);

// Programs other than this one that hold the device open, as
// "minicom (pid 4242)"; only those this user may inspect, and none where the
// system does not say. A device gone from /dev (unplugged) is still found
// open in the programs that hold it.
std::vector<std::string> Port_Holders(const std::string& device_path);
// The process ids of the running programs of that name (none where the
// system does not tell). A name is no proof of what runs: any program can
// take one.
std::vector<std::string> Processes_Named(std::string_view name);
// The path of the program a process runs; empty where the system does not
// tell this user.
std::string Process_Program(const std::string& pid);
// The system service a process belongs to, as the service manager names it
// ("ModemManager.service"); empty when it belongs to none, or where the
// system does not tell.
std::string Process_Service(const std::string& pid);
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
