// Where the first-run dump goes on Windows, and how it is created: as it
// always was, "d:\VANTREL", or "VANTREL" in the temporary directory where
// drive D takes no file; always as a new file, never one found there. The
// directory is used by its name: a drive's root and the user's own
// temporary directory are not places another user can swap.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "serial/platform.h"

namespace platform {

std::vector<std::string> Dump_Directories() {
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    return {"d:\\", error ? std::string(".") : temp.string()};
}

std::string Dump_File_Name(const std::string&) {
    return "VANTREL";
}

std::FILE* Create_New_File(const std::string& path) {
    const int fd = _open(path.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "w+b");
    if (file == nullptr)
        _close(fd);
    return file;
}

// Whether a directory takes the file is decided by creating it.
std::unique_ptr<Dump_Directory> Dump_Directory::Open(const std::string& path) {
    return std::unique_ptr<Dump_Directory>(new Dump_Directory(path, -1));
}

namespace {

std::string Path_In(const std::string& directory, const std::string& name) {
    return (std::filesystem::path(directory) / name).string();
}

}  // namespace

Dump_Directory::~Dump_Directory() = default;

Dump_Directory::Rename Dump_Directory::Rename_No_Replace(const std::string& from,
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

std::FILE* Dump_Directory::Create_New_File(const std::string& name) {
    return platform::Create_New_File(Path_In(m_path, name));
}

void Dump_Directory::Remove(const std::string& name) {
    std::remove(Path_In(m_path, name).c_str());
}

}  // namespace platform
