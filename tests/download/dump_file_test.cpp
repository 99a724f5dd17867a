// Where the first-run dump goes, and that every first run gets a new file of
// its own: what lies at the name is moved aside, never opened; a directory
// that is not the user's own is passed over; a file is only ever created.
#include "download/dump_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "download/dump_places.h"
#include "platform/files.h"
#include "platform/private_directory.h"
#include "tests/support/temp_directory.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#endif

namespace {

namespace fs = std::filesystem;

using test_support::Scoped_Environment;
using test_support::Temp_Directory;

std::string Read_All(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Leftovers of earlier runs are kept under the first free number; the new
// dump is an empty file of its own, and removal tolerates a missing file.
TEST(DumpFile, EachDumpStartsAFreshFileAndEarlierOnesAreKeptNumbered) {
    Temp_Directory scratch("flashtool-dump");
    const std::string directory = scratch.Path().string();
    const fs::path path = scratch.Path() / Dump_File_Name("/dev/ttyACM0");

    Dump_File first = Start_Dump("/dev/ttyACM0", {directory});
    ASSERT_TRUE(first.file);
    EXPECT_EQ(fs::path(first.path), path);
    EXPECT_EQ(first.moved_aside, "");
    std::fputs("first dump", first.file.get());
    first.file.reset();

    std::ofstream(path.string() + ".1") << "older still";
    Dump_File second = Start_Dump("/dev/ttyACM0", {directory});
    ASSERT_TRUE(second.file);
    EXPECT_EQ(second.path, first.path);
    EXPECT_EQ(second.moved_aside, path.string() + ".2");
    EXPECT_EQ(fs::file_size(path), 0u) << "a new, empty file";
    EXPECT_EQ(Read_All(path.string() + ".2"), "first dump");
    EXPECT_EQ(Read_All(path.string() + ".1"), "older still");

    second.file.reset();
    second.Remove();
    EXPECT_FALSE(fs::exists(path));
    second.Remove();
}

// The first place that takes a file wins; when none does, there is no file
// and the last place is named.
TEST(DumpFile, APlaceThatTakesNoFileIsPassedOver) {
    Temp_Directory scratch("flashtool-dump");
    std::ofstream(scratch.Path() / "plain-file") << "x";
    const std::string under_file = (scratch.Path() / "plain-file").string();
    const std::string usable = scratch.Path().string();

    const Dump_File dump = Start_Dump("/dev/ttyUSB1", {under_file, usable});
    ASSERT_TRUE(dump.file);
    EXPECT_EQ(fs::path(dump.path).parent_path(), scratch.Path());

    const Dump_File none = Start_Dump("/dev/ttyUSB1", {under_file});
    EXPECT_FALSE(none.file);
    EXPECT_EQ(fs::path(none.path).parent_path(), fs::path(under_file));
}

#ifdef _WIN32
TEST(DumpFile, WindowsKeepsDriveDAndTheTemporaryDirectory) {
    const std::vector<std::string> directories = Dump_Directories();
    ASSERT_EQ(directories.size(), 2u);
    EXPECT_EQ(directories.front(), "d:\\");
    EXPECT_EQ(fs::path(directories.back()), fs::temp_directory_path());
    EXPECT_EQ(Dump_File_Name("\\\\.\\COM5"), "VANTREL");
}
#else

TEST(DumpFile, LinuxUsesTheUsersOwnDirectoriesAndNamesThePort) {
    Scoped_Environment environment;
    environment.Set("XDG_RUNTIME_DIR", "/run/user/1000");
    environment.Set("XDG_CACHE_HOME", "/home/u/.cache");
    EXPECT_EQ(Dump_Directories(),
              (std::vector<std::string>{"/run/user/1000/flashtool", "/home/u/.cache/flashtool"}));
    environment.Set("XDG_RUNTIME_DIR", "");
    environment.Set("XDG_CACHE_HOME", "relative/is/ignored");
    environment.Set("HOME", "/home/u");
    EXPECT_EQ(Dump_Directories(), std::vector<std::string>{"/home/u/.cache/flashtool"});

    EXPECT_EQ(Dump_File_Name("/dev/ttyACM0"), "VANTREL-ttyACM0");
    EXPECT_EQ(Dump_File_Name("/dev/pts/3"), "VANTREL-pts-3-b990cbb0e658cb8d");
}

// Two ports never share a dump name, nor one port's name another's kept
// dump (NAME.1): names that differ only in the characters a file name cannot
// hold, or beyond the length it can, stay apart. A long port path still
// gives a name the directory takes, with room for the numbered copies.
TEST(DumpFile, EveryPortHasADumpNameOfItsOwnThatTheDirectoryTakes) {
    const std::string long_path = "/dev/serial/by-path/" + std::string(300, 'x');
    const std::vector<std::string> ports = {
        "/dev/ttyACM0", "/dev/ttyACM0.1", "p:1",           "p_1",     "/dev/pts/3",    "/dev/pts-3",
        "/dev/pts//3",  "/tmp/a b/../c",  "/tmp/a_b/../c", long_path, long_path + "y", "",
    };
    std::vector<std::string> taken;
    for (const std::string& port : ports) {
        SCOPED_TRACE(port);
        const std::string name = Dump_File_Name(port);
        EXPECT_LE(name.size() + 4, std::size_t{NAME_MAX}) << "room for \".999\"";
        for (const std::string& other : taken) {
            EXPECT_NE(name, other);
            EXPECT_NE(name, other + ".1");
            EXPECT_NE(name + ".1", other);
        }
        taken.push_back(name);
    }
    Temp_Directory scratch("flashtool-backup");
    const Dump_File dump = Start_Dump(long_path, {scratch.Path().string()});
    EXPECT_TRUE(dump.file) << dump.path;
}

// What may stand where the dump directory goes, and what becomes of it.
struct Directory_Case {
    const char* name;
    std::function<bool(const fs::path& directory, const fs::path& elsewhere)> plant;  // false: skip
    bool taken;
};

bool Is_Root() {
    return geteuid() == 0;
}

TEST(DumpFile, OnlyADirectoryOfTheUsersOwnIsTakenAndOthersMayNotEnterIt) {
    const std::vector<Directory_Case> cases = {
        {"missing: made 0700", [](const fs::path&, const fs::path&) { return true; }, true},
        {"the user's own, open to all: narrowed to 0700",
         [](const fs::path& d, const fs::path&) {
             return mkdir(d.c_str(), 0777) == 0 && chmod(d.c_str(), 0777) == 0;
         },
         true},
        {"a link to a directory: refused, not followed",
         [](const fs::path& d, const fs::path& elsewhere) {
             fs::create_directory(elsewhere);
             fs::create_directory_symlink(elsewhere, d);
             return true;
         },
         false},
        {"a file: refused",
         [](const fs::path& d, const fs::path&) { return bool(std::ofstream(d) << "x"); }, false},
        {"another user's directory: refused",
         [](const fs::path& d, const fs::path&) {
             return Is_Root() && mkdir(d.c_str(), 0777) == 0 && chown(d.c_str(), 65534, 65534) == 0;
         },
         false},
        // Whoever may rename entries of the parent could swap the directory
        // under a run: a parent others may write to is refused, unless it is
        // sticky (as /tmp) and so keeps them from renaming what is ours.
        {"in a parent others may write to: refused",
         [](const fs::path& d, const fs::path&) {
             return chmod(d.parent_path().c_str(), 0777) == 0;
         },
         false},
        {"in a parent its group may write to: refused",
         [](const fs::path& d, const fs::path&) {
             return chown(d.parent_path().c_str(), geteuid(), 65534) == 0 &&
                    chmod(d.parent_path().c_str(), 0770) == 0;
         },
         false},
        {"in a sticky parent others may write to: taken",
         [](const fs::path& d, const fs::path&) {
             return chmod(d.parent_path().c_str(), 01777) == 0;
         },
         true},
        {"in another user's parent: refused",
         [](const fs::path& d, const fs::path&) {
             return Is_Root() && chown(d.parent_path().c_str(), 65534, 65534) == 0 &&
                    chmod(d.parent_path().c_str(), 0755) == 0;
         },
         false},
    };
    for (const Directory_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Temp_Directory scratch("flashtool-backup");
        const fs::path directory = scratch.Path() / "flashtool";
        const fs::path elsewhere = scratch.Path() / "elsewhere";
        if (!c.plant(directory, elsewhere))
            continue;  // another user needs root to plant
        EXPECT_EQ(platform::Private_Directory::Open(directory.string()) != nullptr, c.taken);
        const Dump_File dump = Start_Dump("/dev/ttyACM0", {directory.string()});
        EXPECT_EQ(static_cast<bool>(dump.file), c.taken);
        struct stat status {};
        if (c.taken) {
            ASSERT_EQ(lstat(directory.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0700u);
            ASSERT_EQ(stat(dump.path.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0600u);
            EXPECT_EQ(status.st_uid, geteuid());
        }
        if (fs::exists(elsewhere)) {
            EXPECT_TRUE(fs::is_empty(elsewhere)) << "nothing created through the link";
        }
    }
}

// The creation itself takes nothing that is already there, whatever it is.
TEST(DumpFile, ANewFileIsNeverOneThatWasThere) {
    Temp_Directory scratch("flashtool-dump");
    const fs::path target = scratch.Path() / "target";
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)> > > planted = {
        {"a file", [](const fs::path& p) { std::ofstream(p) << "planted"; }},
        {"a link to a file",
         [&](const fs::path& p) {
             std::ofstream(target) << "target";
             fs::create_symlink(target, p);
         }},
        {"a link to nothing",
         [&](const fs::path& p) { fs::create_symlink(scratch.Path() / "nothing", p); }},
        {"a FIFO", [](const fs::path& p) { mkfifo(p.c_str(), 0666); }},
    };
    for (const auto& [name, plant] : planted) {
        SCOPED_TRACE(name);
        const fs::path path = scratch.Path() / "VANTREL";
        plant(path);
        EXPECT_EQ(platform::Create_New_File(path.string()), nullptr);
        fs::remove(path);
    }
    EXPECT_EQ(Read_All(target), "target");
    EXPECT_FALSE(fs::exists(scratch.Path() / "nothing"));
}

#endif

}  // namespace
