// Files as the update needs them from the operating system, behind one small
// interface so that no layer above needs an #ifdef: 64-bit file positions,
// the low-level open, regular files only, new files only, the user's own
// directories, and drives that fail quietly. files_*.cpp implement it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/file_handle.h"

namespace platform {

// Moves to offset, counted from the start; beyond 2 GiB too.
bool Seek_To(std::FILE* file, std::uint64_t offset);
// The file's size in bytes, or -1 when it cannot be measured (not a seekable
// file). Leaves the position at the start.
std::int64_t File_Size(std::FILE* file);
// How many of the bytes from offset `from` up to `to` the file holds on its
// disk, the rest being holes (a file made by seeking past its end, or
// truncated longer): read from the system's map of the file's data where it
// has one, else from the blocks the file takes. -1 when the system cannot
// say. Leaves the file's position where it was.
std::int64_t Bytes_Stored(std::FILE* file, std::uint64_t from, std::uint64_t to);
// Whether the C library's low-level read-only open takes the file.
bool Can_Open_Read_Only(const std::string& path);

// Which file a path names, whatever the path: the same file reached through a
// link or another path has the same identity.
struct File_Identity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    bool operator==(const File_Identity&) const = default;
};

// Whether path can be read as a regular file, decided before the file is
// read: a FIFO, a directory or a device is refused without opening it for
// reading, so without waiting for a writer. Empty when it can be read
// (identity filled, and the file open for binary reading in *opened when
// asked for); else why not ("it is a FIFO, not a file", "No such file or
// directory").
std::string Regular_File_Problem(const std::string& path, File_Identity& identity,
                                 File_Handle* opened = nullptr);
// The file at path opened for binary reading, or null when it cannot be
// opened or is no regular file (Regular_File_Problem's checks).
File_Handle Open_Regular_File(const std::string& path);

// Opens path for writing from its start, creating it if needed, as a regular
// file only: an existing path that is a link, a FIFO, a directory or a device
// is refused, and so is the file `keep` names (the image). On POSIX a new
// file is made for its owner alone (0600), an existing one is narrowed to
// that, and another user's file, a file of several names and the system's
// own files (/proc, /sys) are refused too. Null, with why in problem, when
// refused or when it cannot be opened.
std::FILE* Open_Output_File(const std::string& path, const std::optional<File_Identity>& keep,
                            std::string& problem);
// Creates a new, empty file at path for writing and reading. Fails when
// anything is there already: a link is never followed, a FIFO or device
// never opened, another user's file never taken. Null on failure.
std::FILE* Create_New_File(const std::string& path);
// A new file for writing and reading that is gone once closed, in the user's
// temporary folder (the C library's own on Windows would be made in the
// drive's root, which a user may not write). Null on failure.
std::FILE* Temporary_File();

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
