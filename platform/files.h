// Files as the update needs them from the operating system, behind one small
// interface so that no layer above needs an #ifdef: 64-bit file positions,
// the low-level open, regular files only, new files only, the user's own
// directories, and drives that fail quietly. files_*.cpp implement it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/file_handle.h"

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
// Creates a new, empty file at path for writing and reading. Fails when
// anything is there already: a link is never followed, a FIFO or device
// never opened, another user's file never taken. Null on failure.
std::FILE* Create_New_File(const std::string& path);

// The user's directory for files that live while the user is logged in
// ($XDG_RUNTIME_DIR), and for files kept between runs ($XDG_CACHE_HOME, else
// ~/.cache). Empty where the system has none (an unset or relative variable,
// no home; Windows).
std::string Runtime_Directory();
std::string Cache_Directory();

// The group that may open the device ("dialout" on most systems); empty
// where ports have no group.
std::string Device_Group(const std::string& device_path);

// While it lives, a drive with no medium (an empty card reader) fails file
// calls quietly instead of stopping the program with the system's box.
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
