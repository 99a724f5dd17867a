// What an update does to files: the image file is only read; the dump file is
// appended to, never truncated, and removed only once the phone holds the
// image's record; a dump that cannot be written (a full disk) is named as
// the failed step, crashes nothing, and leaves the phone in step for the next
// Download.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/reliability/update_rig.h"

namespace {

using reliability::Update_Rig;

std::vector<std::uint8_t> File_Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

test_support::Image_Builder Small_Image() {
    return reliability::Matching_Image(0x1000, test_support::Random_Bytes(40000, 31), 0x90000,
                                       test_support::Random_Bytes(300, 32));
}

vphone::Phone_Config Phone_With(std::vector<vphone::Fault_Rule> faults) {
    vphone::Phone_Config config = vphone::Default_Config();
    config.faults = std::move(faults);
    return config;
}

vphone::Fault_Rule Silent_Once(vphone::Exchange exchange) {
    vphone::Fault_Rule rule;
    rule.exchange = exchange;
    rule.kind = vphone::Fault_Kind::silent;
    rule.first = rule.last = 1;
    return rule;
}

TEST(File_Safety, TheImageFileIsOnlyRead) {
    Update_Rig rig(vphone::Default_Config(), Small_Image());
    ::chmod(rig.file.Path().c_str(), 0444);  // a read-only image still loads
    const auto before = File_Bytes(rig.file.Path());
    struct stat status_before {};
    ASSERT_EQ(::stat(rig.file.Path().c_str(), &status_before), 0);

    ASSERT_EQ(static_cast<int>(rig.command.Run()), static_cast<int>(Download_Outcome::kUpdated));
    struct stat status_after {};
    ASSERT_EQ(::stat(rig.file.Path().c_str(), &status_after), 0);
    EXPECT_EQ(File_Bytes(rig.file.Path()), before);
    EXPECT_EQ(status_after.st_mtim.tv_sec, status_before.st_mtim.tv_sec);
    EXPECT_EQ(status_after.st_mtim.tv_nsec, status_before.st_mtim.tv_nsec);
    EXPECT_EQ(status_after.st_mode & 0777, 0444u);
}

// A dump left by an earlier stopped command keeps its bytes; the new dump
// goes after them, and the file stays while no update reached the flash.
TEST(File_Safety, TheDumpFileIsAppendedAndKeptUntilTheFlashIsReached) {
    Update_Rig rig(Phone_With({Silent_Once(vphone::Exchange::e1_ack)}), Small_Image());
    const std::string dump = (rig.temp.Path() / "VANTREL").string();
    // An earlier dump of the same phone (the record is searched for in it).
    const std::vector<std::uint8_t> old_dump = rig.phone.dump_image();
    {
        std::ofstream out(dump, std::ios::binary);
        out.write(reinterpret_cast<const char*>(old_dump.data()),
                  static_cast<std::streamsize>(old_dump.size()));
    }

    // Stopped after the dump: the phone did not answer 0xE1.
    ASSERT_EQ(static_cast<int>(rig.command.Run()),
              static_cast<int>(Download_Outcome::kStoppedBeforeProgramming))
        << rig.view.Memo_Text();
    EXPECT_EQ(rig.command.Backup_Path(), dump);
    const auto after = File_Bytes(dump);
    const auto& phone_dump = rig.phone.dump_image();
    ASSERT_EQ(after.size(), old_dump.size() + phone_dump.size());
    EXPECT_TRUE(std::equal(old_dump.begin(), old_dump.end(), after.begin()));
    EXPECT_TRUE(std::equal(phone_dump.begin(), phone_dump.end(),
                           after.begin() + static_cast<std::ptrdiff_t>(old_dump.size())));

    // The next command reaches the flash: only now is the dump removed.
    ASSERT_EQ(static_cast<int>(rig.command.Run()), static_cast<int>(Download_Outcome::kUpdated))
        << rig.view.Memo_Text();
    EXPECT_FALSE(std::filesystem::exists(dump));
}

// A full disk: every write to the dump file fails.
TEST(File_Safety, AFullDiskWhileDumpingIsNamedAndTheNextDownloadWorks) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    Update_Rig rig(vphone::Default_Config(), Small_Image());
    const std::string dump = (rig.temp.Path() / "VANTREL").string();
    std::filesystem::create_symlink("/dev/full", dump);

    EXPECT_EQ(static_cast<int>(rig.command.Run()),
              static_cast<int>(Download_Outcome::kStoppedBeforeProgramming));
    EXPECT_TRUE(rig.view.Memo_Has(std::string(text::kBackupFailed) + "6")) << rig.view.Memo_Text();
    EXPECT_TRUE(rig.view.Idle());
    EXPECT_TRUE(rig.phone.flash().empty());
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));

    // Space again: the phone, still in step, is updated.
    std::filesystem::remove(dump);
    EXPECT_EQ(static_cast<int>(rig.command.Run()), static_cast<int>(Download_Outcome::kUpdated))
        << rig.view.Memo_Text();
    EXPECT_TRUE(rig.Flash_Matches_Image(true));
}

}  // namespace
