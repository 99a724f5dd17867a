// The dump file's place and its fresh start on every first run.
#include "download/backup_path.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "serial/platform.h"

namespace {

namespace fs = std::filesystem;

// Numbered names beyond this many mean something is wrong with the place.
constexpr int kMaxKeptDumps = 999;

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

}  // namespace

bool Move_Aside(const std::string& path, std::string& moved_to) {
    moved_to.clear();
    if (!Exists(path))
        return true;
    // Only this program writes these names, and the port it is named after is
    // held for the run, so the free name stays free until the rename.
    for (int number = 1; number <= kMaxKeptDumps; ++number) {
        const std::string candidate = path + "." + std::to_string(number);
        if (Exists(candidate))
            continue;
        std::error_code error;
        fs::rename(path, candidate, error);  // renames a link itself, never its target
        if (error)
            return false;
        moved_to = candidate;
        return true;
    }
    return false;
}

Dump_File Start_Dump(const std::string& device_path, const std::vector<std::string>& directories) {
    [[maybe_unused]] const platform::Quiet_Drive_Errors quiet;
    Dump_File dump;
    const std::string name = platform::Dump_File_Name(device_path);
    for (const std::string& directory : directories) {
        dump.path = (fs::path(directory) / name).string();
        if (!platform::Prepare_Dump_Directory(directory))
            continue;
        std::string moved_to;
        const bool free = Move_Aside(dump.path, moved_to);
        if (!moved_to.empty())
            dump.moved_aside = moved_to;
        if (!free)
            continue;
        dump.file.reset(platform::Create_New_File(dump.path));
        if (dump.file)
            return dump;
    }
    return dump;
}

Dump_File Start_Dump(const std::string& device_path) {
    return Start_Dump(device_path, platform::Dump_Directories());
}

void Remove_Backup_File(const std::string& path) {
    [[maybe_unused]] const platform::Quiet_Drive_Errors quiet;
    std::remove(path.c_str());
}
