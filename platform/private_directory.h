// A directory for files of this user's alone, readied and then held while
// its files live: on POSIX through a descriptor of the directory that was
// checked, so that every step (moving aside, creating, deleting) acts there,
// whatever is renamed or put in its place meanwhile; on Windows by its name.
// private_directory_*.cpp implement it.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

namespace platform {

class Private_Directory {
  public:
    // Readies path. On POSIX it is made with mode 0700 when missing, and
    // refused unless it is a directory (not a link to one) of this user's, in
    // a parent that no one else may change (writable by this user or root
    // alone, or sticky); one that others may enter is narrowed to 0700. On
    // Windows whether it takes a file is decided by creating one. Null when
    // refused.
    static std::unique_ptr<Private_Directory> Open(const std::string& path);
    ~Private_Directory();
    Private_Directory(const Private_Directory&) = delete;
    Private_Directory& operator=(const Private_Directory&) = delete;

    const std::string& Path() const { return m_path; }

    enum class Rename { kDone, kTargetTaken, kNothingThere, kFailed };
    // Renames the entry from (a link itself, never its target) to `to`,
    // never replacing what is at `to`.
    Rename Rename_No_Replace(const std::string& from, const std::string& to);
    // Creates the entry name as Create_New_File (files.h) does. Null on failure.
    std::FILE* Create_New_File(const std::string& name);
    // Opens the existing entry name for adding to its end ("a+": it may be
    // read from its start), only when it is a regular file of this user's
    // that no one else may write and that has no other name (never through
    // a link). Null otherwise, or when there is none.
    std::FILE* Open_Own_File_To_Append(const std::string& name);
    // Deletes the entry name if there is one; a missing one is no error.
    void Remove(const std::string& name);

  private:
    Private_Directory(std::string path, int descriptor)
        : m_path(std::move(path)), m_descriptor(descriptor) {}
    std::string m_path;
    int m_descriptor;  // the directory, open; -1 where it is used by name
};

}  // namespace platform
