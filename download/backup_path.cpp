// The dump file's location: drive D on Windows when it is writable, else the
// temporary directory.
#include "download/backup_path.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr char kBackupFileName[] = "VANTREL";

std::string Temp_Directory_Path() {
    std::error_code error;
    std::filesystem::path directory = std::filesystem::temp_directory_path(error);
    if (error)
        directory = ".";
    return (directory / kBackupFileName).string();
}

#ifdef _WIN32
// An empty card reader or optical drive as D would otherwise stop the update
// with the system's "no disk" box; this turns that into a plain failure.
class Quiet_Drive_Errors {
  public:
    Quiet_Drive_Errors() { SetThreadErrorMode(SEM_FAILCRITICALERRORS, &m_previous); }
    ~Quiet_Drive_Errors() { SetThreadErrorMode(m_previous, nullptr); }
    Quiet_Drive_Errors(const Quiet_Drive_Errors&) = delete;
    Quiet_Drive_Errors& operator=(const Quiet_Drive_Errors&) = delete;

  private:
    DWORD m_previous = 0;
};
#else
struct Quiet_Drive_Errors {};
#endif

// True when path can be opened for appending; the file is created if absent.
bool Can_Append(const std::string& path) {
    [[maybe_unused]] const Quiet_Drive_Errors quiet;
    std::FILE* file = std::fopen(path.c_str(), "ab+");
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

}  // namespace

std::vector<std::string> Backup_Path_Candidates() {
#ifdef _WIN32
    return {"d:\\VANTREL", Temp_Directory_Path()};
#else
    return {Temp_Directory_Path()};
#endif
}

std::string Choose_Backup_Path(const std::vector<std::string>& candidates) {
    for (const std::string& path : candidates) {
        if (Can_Append(path))
            return path;
    }
    return candidates.empty() ? std::string() : candidates.back();
}

std::string Choose_Backup_Path() {
    return Choose_Backup_Path(Backup_Path_Candidates());
}

void Remove_Backup_File(const std::string& path) {
    [[maybe_unused]] const Quiet_Drive_Errors quiet;
    std::remove(path.c_str());
}
