// The dump file's location: drive D on Windows when it is writable, else the
// temporary directory.
#include "download/backup_path.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "serial/platform.h"

namespace {

constexpr char kBackupFileName[] = "VANTREL";

std::string Temp_Directory_Path() {
    std::error_code error;
    std::filesystem::path directory = std::filesystem::temp_directory_path(error);
    if (error)
        directory = ".";
    return (directory / kBackupFileName).string();
}

// True when path can be opened for appending; the file is created if absent.
bool Can_Append(const std::string& path) {
    [[maybe_unused]] const platform::Quiet_Drive_Errors quiet;
    std::FILE* file = std::fopen(path.c_str(), "ab+");
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

}  // namespace

std::vector<std::string> Backup_Path_Candidates() {
    std::vector<std::string> candidates;
    for (const std::string& directory : platform::Preferred_Dump_Directories())
        candidates.push_back(directory + kBackupFileName);
    candidates.push_back(Temp_Directory_Path());
    return candidates;
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
    [[maybe_unused]] const platform::Quiet_Drive_Errors quiet;
    std::remove(path.c_str());
}
