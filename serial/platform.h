// The few things the update does differently per operating system, behind
// one small interface so that no layer above this one needs an #ifdef:
// 64-bit file positions, the low-level open, local time, where a dump may go
// and how it is created, and who holds a port. platform_*.cpp, dump_file_*.cpp
// and port_holders_posix.cpp implement it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
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
// The dump's file name for the port at device_path: "VANTREL" on Windows;
// elsewhere it names the port, so that two copies of the program updating
// two phones never share one file: "VANTREL-ttyACM0" for a plain device
// name, else a readable part and a hash of the whole path
// ("VANTREL-pts-3-b990cbb0e658cb8d"). No two ports share a name, no name is
// another's numbered copy (NAME.1), and every name fits a directory.
std::string Dump_File_Name(const std::string& device_path);
// Creates a new, empty file at path for writing and reading. Fails when
// anything is there already: a link is never followed, a FIFO or device
// never opened, another user's file never taken. Null on failure.
std::FILE* Create_New_File(const std::string& path);

// A directory of Dump_Directories, readied for a dump and held while the
// dump lives: on POSIX through a descriptor of the directory that was
// checked, so that every step (moving aside, creating, deleting) acts there,
// whatever is renamed or put in its place meanwhile. On Windows by its name.
class Dump_Directory {
  public:
    // Readies path for a dump. On POSIX it is made with mode 0700 when
    // missing, and refused unless it is a directory (not a link to one) of
    // this user's, in a parent that no one else may change (writable by
    // this user or root alone, or sticky); one that others may enter is
    // narrowed to 0700. On Windows whether it takes a file is decided by
    // creating one. Null when refused.
    static std::unique_ptr<Dump_Directory> Open(const std::string& path);
    ~Dump_Directory();
    Dump_Directory(const Dump_Directory&) = delete;
    Dump_Directory& operator=(const Dump_Directory&) = delete;

    const std::string& Path() const { return m_path; }

    enum class Rename { kDone, kTargetTaken, kNothingThere, kFailed };
    // Renames the entry from (a link itself, never its target) to `to`,
    // never replacing what is at `to`.
    Rename Rename_No_Replace(const std::string& from, const std::string& to);
    // Creates the entry name as Create_New_File does. Null on failure.
    std::FILE* Create_New_File(const std::string& name);
    // Deletes the entry name if there is one; a missing one is no error.
    void Remove(const std::string& name);

  private:
    Dump_Directory(std::string path, int descriptor)
        : m_path(std::move(path)), m_descriptor(descriptor) {}
    std::string m_path;
    int m_descriptor;  // the directory, open; -1 where it is used by name
};

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
