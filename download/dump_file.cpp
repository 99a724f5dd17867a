// The dump file's place and its fresh start on every first run.
#include "download/dump_file.h"

#include <filesystem>

#include "download/dump_places.h"
#include "platform/files.h"

namespace {

std::string Path_In(const std::string& directory, const std::string& name) {
    return (std::filesystem::path(directory) / name).string();
}

// Numbered names beyond this many mean something is wrong with the place.
constexpr int kMaxKeptDumps = 999;

}  // namespace

bool Move_Aside(platform::Private_Directory& directory, const std::string& name,
                std::string& moved_to) {
    using Rename = platform::Private_Directory::Rename;
    moved_to.clear();
    // Each rename refuses a name that is taken, so no check can go stale
    // before it: another copy of the program moving its own dump aside in
    // the same directory takes the next number.
    for (int number = 1; number <= kMaxKeptDumps; ++number) {
        const std::string candidate = name + "." + std::to_string(number);
        switch (directory.Rename_No_Replace(name, candidate)) {
            case Rename::kNothingThere:
                return true;
            case Rename::kDone:
                moved_to = Path_In(directory.Path(), candidate);
                return true;
            case Rename::kTargetTaken:
                continue;
            case Rename::kFailed:
                return false;
        }
    }
    return false;
}

Dump_File Start_Named_Dump(const std::string& name, const std::vector<std::string>& directories) {
    [[maybe_unused]] const platform::Quiet_Drive_Errors quiet;
    Dump_File dump;
    dump.name = name;
    for (const std::string& path : directories) {
        dump.path = Path_In(path, dump.name);
        std::unique_ptr<platform::Private_Directory> directory =
            platform::Private_Directory::Open(path);
        if (!directory)
            continue;
        std::string moved_to;
        const bool free = Move_Aside(*directory, dump.name, moved_to);
        if (!moved_to.empty())
            dump.moved_aside = moved_to;
        if (!free)
            continue;
        dump.file.reset(directory->Create_New_File(dump.name));
        if (dump.file) {
            dump.directory = std::move(directory);
            return dump;
        }
    }
    return dump;
}

Dump_File Start_Dump(const std::string& device_path, const std::vector<std::string>& directories) {
    return Start_Named_Dump(Dump_File_Name(device_path), directories);
}

Dump_File Start_Dump(const std::string& device_path) {
    return Start_Dump(device_path, Dump_Directories());
}

void Dump_File::Remove() {
    if (!directory)
        return;
    [[maybe_unused]] const platform::Quiet_Drive_Errors quiet;
    directory->Remove(name);
}
