// Where the first-run dump goes on Windows, and how it is created: as it
// always was, "d:\VANTREL", or "VANTREL" in the temporary directory where
// drive D takes no file; always as a new file, never one found there.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "serial/platform.h"

namespace platform {

std::vector<std::string> Dump_Directories() {
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    return {"d:\\", error ? std::string(".") : temp.string()};
}

// Whether a directory takes the file is decided by creating it.
bool Prepare_Dump_Directory(const std::string&) {
    return true;
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

}  // namespace platform
