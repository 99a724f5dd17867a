// What an update does to files: the image file is only read; every first run
// dumps into a new file of its own, whatever an attacker or an earlier run
// left at its name, and takes the record from it alone; a dump that cannot be
// written (a full disk) is named as the failed step, crashes nothing, and
// leaves the phone in step for the next Download.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "download/image_loader.h"
#include "download/texts.h"

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

vphone::Fault_Rule Silent_Once(vphone::Exchange exchange, std::uint32_t occurrence) {
    vphone::Fault_Rule rule;
    rule.exchange = exchange;
    rule.kind = vphone::Fault_Kind::silent;
    rule.first = rule.last = occurrence;
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

// A chosen "image" that is no file to read (a FIFO nobody writes, a
// directory, a device) is refused at once: nothing waits, nothing is loaded.
TEST(File_Safety, AnImageThatIsNoRegularFileIsRefusedWithoutWaiting) {
    const std::string fifo =
        std::string(::testing::TempDir()) + "image-fifo-" + std::to_string(::getpid());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/tmp"), std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        Firmware_Image image;
        Silent_Output output;
        Image_Region first, second;
        EXPECT_EQ(Initial_Array(image, output, path, first, second), Image_Load_Result::kNotOpened);
        Fixed_Image_File chooser(path);
        EXPECT_EQ(Parse_File(image, output, chooser), Image_Load_Result::kNotOpened);
        EXPECT_FALSE(image.Loaded());
    }
    ::unlink(fifo.c_str());
}

// A full disk: every write to the dump file past its first bytes fails (the
// file-size limit stands in for the disk).
TEST(File_Safety, AFullDiskWhileDumpingIsNamedAndTheNextDownloadWorks) {
    Update_Rig rig(vphone::Default_Config(), Small_Image());
    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old_limit;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Download_Outcome outcome = rig.command.Run();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(static_cast<int>(outcome),
              static_cast<int>(Download_Outcome::kFailedBeforeProgramming));
    EXPECT_TRUE(rig.view.Memo_Has(std::string(text::kDumpFailed) + "6")) << rig.view.Memo_Text();
    EXPECT_TRUE(rig.view.Idle());
    EXPECT_TRUE(rig.phone.flash().empty());

    // Space again: the phone, still in step, is updated.
    EXPECT_EQ(static_cast<int>(rig.command.Run()), static_cast<int>(Download_Outcome::kUpdated))
        << rig.view.Memo_Text();
    EXPECT_TRUE(rig.Flash_Matches_Image(true));
}

// ---------------------------------------------------------------------------
// What may lie at the dump's name when a first run starts, and what a phone
// may announce: each row is whole first updates against the in-process phone.
// Whatever lay there is moved aside, never opened, and named once; the record
// is taken from this run's dump alone.

namespace fs = std::filesystem;

constexpr std::string_view kOtherLanguageTail = "M418ENUSA00100";

struct Dump_Case {
    const char* name;
    bool needs_root;
    // The phone's configuration, from the default.
    std::function<void(vphone::Phone_Config&)> phone;
    // Puts something at the dump's name (or runs an earlier command) before
    // the run the row is about.
    std::function<void(Update_Rig&, const fs::path& dump)> before;
    Download_Outcome outcome;
    std::vector<std::string> lines;  // in the memo of that run
    std::function<void(Update_Rig&, const fs::path& dump)> after;
};

std::string Moved_Line(const fs::path& dump, int number) {
    return std::string(text::kDumpMovedEn) + dump.string() + "." + std::to_string(number);
}

[[maybe_unused]] void PrintTo(const Dump_Case& c, std::ostream* out) {
    *out << c.name;
}

std::vector<Dump_Case> Dump_Cases() {
    const auto no_change = [](vphone::Phone_Config&) {};
    const auto outside = [](const fs::path& dump) { return dump.parent_path().parent_path(); };
    return {
        {"SymlinkToAFile",
         false,
         no_change,
         [=](Update_Rig&, const fs::path& dump) {
             std::ofstream(outside(dump) / "victim") << "the user's file";
             fs::create_directory(dump.parent_path());
             fs::create_symlink(outside(dump) / "victim", dump);
         },
         Download_Outcome::kUpdated,
         {},
         [=](Update_Rig& rig, const fs::path& dump) {
             EXPECT_TRUE(rig.view.Memo_Has(Moved_Line(dump, 1))) << rig.view.Memo_Text();
             EXPECT_TRUE(fs::is_symlink(dump.string() + ".1"));
             std::ifstream victim(outside(dump) / "victim");
             EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "the user's file");
         }},
        {"SymlinkToNothing",
         false,
         no_change,
         [=](Update_Rig&, const fs::path& dump) {
             fs::create_directory(dump.parent_path());
             fs::create_symlink(outside(dump) / "made-through-the-link", dump);
         },
         Download_Outcome::kUpdated,
         {},
         [=](Update_Rig&, const fs::path& dump) {
             EXPECT_FALSE(fs::exists(outside(dump) / "made-through-the-link"));
         }},
        // Another user's file holding a record that matches the image, on a
        // phone of another language: the record must not be taken from it.
        {"ForgedFileOfAnotherUser",
         true,
         [](vphone::Phone_Config& config) {
             std::copy(kOtherLanguageTail.begin(), kOtherLanguageTail.end(),
                       config.original_record_tail.begin());
         },
         [](Update_Rig&, const fs::path& dump) {
             fs::create_directory(dump.parent_path());
             std::string forged(8192, '\0');
             forged.replace(0x200, reliability::kPhoneRecordText.size(),
                            reliability::kPhoneRecordText);
             std::ofstream(dump, std::ios::binary) << forged;
             ::chmod(dump.c_str(), 0644);
             ASSERT_EQ(::chown(dump.c_str(), 65534, 65534), 0);
         },
         Download_Outcome::kFailedBeforeProgramming,
         {std::string(notice::kLanguageMismatch)},
         [](Update_Rig& rig, const fs::path& dump) {
             struct stat status {};
             ASSERT_EQ(::stat((dump.string() + ".1").c_str(), &status), 0);
             EXPECT_EQ(status.st_uid, 65534u);
             EXPECT_EQ(status.st_size, 8192);
             EXPECT_TRUE(rig.view.Memo_Has(std::string(text::kDumpKeptEn) + dump.string()));
         }},
        {"Fifo",
         false,
         no_change,
         [](Update_Rig&, const fs::path& dump) {
             fs::create_directory(dump.parent_path());
             ASSERT_EQ(::mkfifo(dump.c_str(), 0666), 0);
         },
         Download_Outcome::kUpdated,
         {},
         [](Update_Rig&, const fs::path& dump) { EXPECT_TRUE(fs::is_fifo(dump.string() + ".1")); }},
        // An earlier first run stopped half-way through the dump (the phone
        // fell silent): its dump is kept and named; the next first run dumps
        // afresh and is not held up by it.
        {"DumpCutShortByAStoppedRun",
         false,
         [](vphone::Phone_Config& config) {
             config.faults = {Silent_Once(vphone::Exchange::dump_block, 2)};
         },
         [](Update_Rig& rig, const fs::path& dump) {
             EXPECT_EQ(static_cast<int>(rig.command.Run()),
                       static_cast<int>(Download_Outcome::kFailedBeforeProgramming));
             EXPECT_TRUE(rig.view.Memo_Has(std::string(text::kDumpFailed) + "5"));
             EXPECT_TRUE(rig.view.Memo_Has(std::string(text::kDumpKeptEn) + dump.string()))
                 << rig.view.Memo_Text();
             if (rig.phone.mid_exchange())
                 rig.phone.plug_back_in();
         },
         Download_Outcome::kUpdated,
         {},
         [](Update_Rig& rig, const fs::path& dump) {
             EXPECT_TRUE(rig.view.Memo_Has(Moved_Line(dump, 1))) << rig.view.Memo_Text();
             EXPECT_EQ(fs::file_size(dump.string() + ".1"), 1024u) << "the first block only";
         }},
        // 16 MiB + 1: refused before a byte is written; no file is left.
        {"AnnouncesMoreThan16MiB",
         false,
         [](vphone::Phone_Config& config) {
             config.dump_blocks = 24929;
             config.dump_block_size = 673;
         },
         [](Update_Rig&, const fs::path&) {},
         Download_Outcome::kFailedBeforeProgramming,
         {std::string(text::kDumpFailed) + "9"},
         [](Update_Rig&, const fs::path& dump) { EXPECT_TRUE(fs::is_empty(dump.parent_path())); }},
    };
}

class Dump_File_Safety : public testing::TestWithParam<Dump_Case> {};

TEST_P(Dump_File_Safety, TheRecordComesFromThisRunsOwnDump) {
    const Dump_Case& c = GetParam();
    if (c.needs_root && ::geteuid() != 0)
        GTEST_SKIP() << "another user's file needs root to plant";
    vphone::Phone_Config config = vphone::Default_Config();
    c.phone(config);
    Update_Rig rig(config, Small_Image());
    const fs::path dump = rig.Dump_Path();
    c.before(rig, dump);

    const Download_Outcome outcome = rig.command.Run();
    EXPECT_EQ(static_cast<int>(outcome), static_cast<int>(c.outcome)) << rig.view.Memo_Text();
    for (const std::string& line : c.lines)
        EXPECT_TRUE(rig.view.Memo_Has(line)) << line << " not in " << rig.view.Memo_Text();
    EXPECT_TRUE(rig.view.Idle());
    EXPECT_TRUE(rig.Flash_Matches_Image(c.outcome == Download_Outcome::kUpdated));
    if (c.outcome == Download_Outcome::kUpdated) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(dump))) << "this run's dump is removed";
    }
    c.after(rig, dump);
}

INSTANTIATE_TEST_SUITE_P(AtTheDumpsName, Dump_File_Safety, testing::ValuesIn(Dump_Cases()),
                         [](const testing::TestParamInfo<Dump_Case>& info) {
                             return std::string(info.param.name);
                         });

// The dump directory is swapped for another (a link to a directory of the
// attacker's, holding a file at the dump's name) once the phone was dumped:
// the run goes on in the directory it checked, deletes its own dump
// there, and touches nothing in the other.
TEST(File_Safety, ADumpDirectorySwappedDuringTheRunIsNotTheOneUsed) {
    Update_Rig rig(vphone::Default_Config(), Small_Image());
    const fs::path dump = rig.Dump_Path();
    const fs::path checked = dump.parent_path();
    const fs::path moved = checked.string() + "-moved";
    const fs::path other = checked.string() + "-other";
    // The second check's notice: the dump is written and not yet deleted.
    rig.view.on_memo_line = [&](const std::string& line) {
        if (line != notice::kSameVersion)
            return;
        fs::rename(checked, moved);
        fs::create_directory(other);
        std::ofstream(other / dump.filename()) << "not the dump";
        fs::create_directory_symlink(other, checked);
    };
    ASSERT_EQ(static_cast<int>(rig.command.Run()), static_cast<int>(Download_Outcome::kUpdated))
        << rig.view.Memo_Text();
    EXPECT_TRUE(rig.Flash_Matches_Image(true));
    std::ifstream planted(other / dump.filename());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(planted), {}), "not the dump");
    EXPECT_EQ(std::distance(fs::directory_iterator(other), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::is_empty(moved)) << "the run's own dump is deleted where it was made";
}

// Two copies updating two phones at once, in the same directory: each dumps
// into a file named after its port and takes its own phone's record, also
// while an earlier dump of the other phone lies there.
TEST(File_Safety, TwoPhonesAtOnceNeverShareADump) {
    vphone::Phone_Config english = vphone::Default_Config();
    std::copy(kOtherLanguageTail.begin(), kOtherLanguageTail.end(),
              english.original_record_tail.begin());
    english.faults = {Silent_Once(vphone::Exchange::e1_ack, 1)};
    test_support::Image_Builder english_image = Small_Image();
    english_image.version_text = test_support::Bytes("CVLbootloaderVC_M418ENUSA00100");
    Update_Rig a(english, english_image, "/dev/ttyVPHONE0");
    Update_Rig b(vphone::Default_Config(), Small_Image(), "/dev/ttyVPHONE1");
    // The rig made last gives both its directory.
    const fs::path a_dump = b.Dump_Path().parent_path() / a.Dump_Path().filename();

    // A stops after its dump, which stays.
    ASSERT_EQ(static_cast<int>(a.command.Run()),
              static_cast<int>(Download_Outcome::kFailedBeforeProgramming))
        << a.view.Memo_Text();
    ASSERT_TRUE(fs::exists(a_dump));

    Download_Outcome outcome_a{}, outcome_b{};
    std::thread thread_a([&] { outcome_a = a.command.Run(); });
    std::thread thread_b([&] { outcome_b = b.command.Run(); });
    thread_a.join();
    thread_b.join();
    EXPECT_EQ(static_cast<int>(outcome_a), static_cast<int>(Download_Outcome::kUpdated))
        << a.view.Memo_Text();
    EXPECT_EQ(static_cast<int>(outcome_b), static_cast<int>(Download_Outcome::kUpdated))
        << b.view.Memo_Text();
    EXPECT_TRUE(a.Flash_Matches_Image(true));
    EXPECT_TRUE(b.Flash_Matches_Image(true));
    EXPECT_EQ(fs::path(a.command.Dump_Path()), a_dump);
    EXPECT_EQ(fs::path(b.command.Dump_Path()), b.Dump_Path());
    EXPECT_TRUE(fs::exists(a_dump.string() + ".1")) << "A's stopped dump is kept";
}

}  // namespace
