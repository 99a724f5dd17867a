// A directory of the user's own on Windows: used by its name, since a
// drive's root and the user's own temporary directory are not places another
// user can swap; its new files are made as new, never taken over.
#include <windows.h>

#include <cstdio>
#include <filesystem>

#include "platform/files.h"
#include "platform/private_directory.h"

namespace platform {

// Whether a directory takes the file is decided by creating it.
std::unique_ptr<Private_Directory> Private_Directory::Open(const std::string& path) {
    return std::unique_ptr<Private_Directory>(new Private_Directory(path, -1));
}

namespace {

std::string Path_In(const std::string& directory, const std::string& name) {
    return (std::filesystem::path(directory) / name).string();
}

}  // namespace

Private_Directory::~Private_Directory() = default;

Private_Directory::Rename Private_Directory::Rename_No_Replace(const std::string& from,
                                                               const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails on anything at `to`.
    if (MoveFileExA(Path_In(m_path, from).c_str(), Path_In(m_path, to).c_str(), 0))
        return Rename::kDone;
    switch (GetLastError()) {
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            return Rename::kTargetTaken;
        case ERROR_FILE_NOT_FOUND:
            return Rename::kNothingThere;
        default:
            return Rename::kFailed;
    }
}

std::FILE* Private_Directory::Create_New_File(const std::string& name) {
    return platform::Create_New_File(Path_In(m_path, name));
}

// A link or junction at the name is refused, as on POSIX; who may write the
// file is left to the folder's permissions.
std::FILE* Private_Directory::Open_Own_File_To_Append(const std::string& name) {
    const std::string path = Path_In(m_path, name);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return nullptr;
    return std::fopen(path.c_str(), "a+b");
}

void Private_Directory::Remove(const std::string& name) {
    std::remove(Path_In(m_path, name).c_str());
}

}  // namespace platform
