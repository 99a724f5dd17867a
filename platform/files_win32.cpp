// Files on Windows, and the checks of the files a user names: regular files
// only, told by their handles.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace platform {
namespace {

std::string Open_Error_Text(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::strerror(ENOENT);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return std::strerror(EACCES);
        default:
            return "Windows error " + std::to_string(error);
    }
}

// What an open handle is: empty for a regular file (identity filled), else
// why it is no file to read or write.
std::string Handle_Problem(HANDLE handle, File_Identity& identity) {
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_CHAR)
        return "it is a device, not a file";
    if (type == FILE_TYPE_PIPE)
        return "it is a pipe, not a file";
    BY_HANDLE_FILE_INFORMATION info{};
    if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info))
        return "it is not a regular file";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "it is a directory";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return "it is a symbolic link";
    identity = {info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return {};
}

// Opens path for querying only, the link itself when follow_links is off.
HANDLE Query_Open(const std::string& path, bool follow_links) {
    return CreateFileA(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

}  // namespace

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

std::int64_t Bytes_Stored(std::FILE*, std::uint64_t from, std::uint64_t to) {
    // NTFS has sparse files only where a program asked for them; an image
    // the size limit lets through is held in memory whole anyway.
    return to <= from ? 0 : -1;
}

bool Can_Open_Read_Only(const std::string& path) {
    const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        return false;
    _close(fd);
    return true;
}

std::string Regular_File_Problem(const std::string& path, File_Identity& identity,
                                 File_Handle* opened) {
    const HANDLE handle = Query_Open(path, true);
    if (handle == INVALID_HANDLE_VALUE)
        return Open_Error_Text(GetLastError());
    std::string problem = Handle_Problem(handle, identity);
    CloseHandle(handle);
    if (!problem.empty())
        return problem;
    File_Handle file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return std::strerror(errno);
    // What is read is the file that opened: its identity is the one given.
    const auto read_handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())));
    problem = Handle_Problem(read_handle, identity);
    if (problem.empty() && opened != nullptr)
        *opened = std::move(file);
    return problem;
}

File_Handle Open_Regular_File(const std::string& path) {
    File_Handle file(std::fopen(path.c_str(), "rb"));
    struct _stat64 status {};
    if (file && (_fstat64(_fileno(file.get()), &status) != 0 || (status.st_mode & _S_IFREG) == 0))
        file.reset();
    return file;
}

std::FILE* Open_Output_File(const std::string& path, const std::optional<File_Identity>& keep,
                            std::string& problem) {
    File_Identity identity;
    if (const HANDLE existing = Query_Open(path, false); existing != INVALID_HANDLE_VALUE) {
        problem = Handle_Problem(existing, identity);
        CloseHandle(existing);
        if (!problem.empty())
            return nullptr;
    }
    // Not truncated yet: the file may turn out to be the image.
    const HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        problem = Open_Error_Text(GetLastError());
        return nullptr;
    }
    problem = Handle_Problem(handle, identity);
    if (problem.empty() && keep && identity == *keep)
        problem = "it is the image file";
    if (problem.empty() && !SetEndOfFile(handle))
        problem = Open_Error_Text(GetLastError());
    if (!problem.empty()) {
        CloseHandle(handle);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT);
    std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, "w");
    if (file == nullptr) {
        problem = std::strerror(errno);
        if (fd < 0)
            CloseHandle(handle);
        else
            _close(fd);
    }
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

std::FILE* Temporary_File() {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"ft", 0, path) == 0)
        return nullptr;
    // "D": the file is deleted when closed; GetTempFileNameW made it empty.
    std::FILE* file = _wfopen(path, L"w+bD");
    if (file == nullptr)
        DeleteFileW(path);
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
