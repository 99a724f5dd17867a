// Files on Windows.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/files.h"

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

File_Handle Open_Regular_File(const std::string& path) {
    File_Handle file(std::fopen(path.c_str(), "rb"));
    struct _stat64 status {};
    if (file && (_fstat64(_fileno(file.get()), &status) != 0 || (status.st_mode & _S_IFREG) == 0))
        file.reset();
    return file;
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

std::string Runtime_Directory() {
    return {};
}

std::string Cache_Directory() {
    return {};
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
