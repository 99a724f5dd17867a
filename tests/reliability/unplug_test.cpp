// The phone unplugged mid-update, over a real pseudo-terminal with the
// virtual-phone program and real time: during the search, during the
// boot-loader dump and in the middle of a flash block. The command reports
// the failure, waits without spinning (its CPU time stays a small share of
// the wall time), and the next Download finds the phone again once it is back
// and updates it completely.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/reliability/update_rig.h"
#include "tests/support/virtual_phone_process.h"

namespace {

double Cpu_Seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The window, the port on the phone's stable link name, and the image.
class Unplug_Bench {
  public:
    explicit Unplug_Bench(std::initializer_list<std::string> faults)
        : image(reliability::Matching_Image(0x00020000, test_support::Random_Bytes(70000, 21),
                                            0x00900000, test_support::Random_Bytes(5000, 22))),
          file(image.Build()),
          link((temp.Path() / "phone").string()),
          port(Make_System_Backend(), Make_Fixed_Port_Lister({link})),
          command(port, view) {
        view.file_name = file.Path();
        view.language = Language::kEnglish;
        std::vector<std::string> args = files.args(
            {"--link", link, "--tail-text", std::string(reliability::kPhoneRecordText.substr(16))});
        args.insert(args.end(), faults.begin(), faults.end());
        started = phone.start(args);
    }
    ~Unplug_Bench() {
        phone.stop();
        EXPECT_EQ(Host_Deviations(files.deviations), "");
    }

    // Runs one Download and measures it.
    Download_Outcome Run() {
        const double cpu_before = Cpu_Seconds();
        const auto wall_before = std::chrono::steady_clock::now();
        const Download_Outcome outcome = command.Run();
        wall_seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
        cpu_seconds = Cpu_Seconds() - cpu_before;
        return outcome;
    }

    // The phone writes its flash file after it answers, so the file may
    // trail the host by a moment: give it up to three seconds.
    bool Flash_Is_Image() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (;;) {
            const auto flash = Read_Flash_File(files.flash);
            if (flash && flash->size() == 2 && (*flash)[0].bytes == image.first.data &&
                (*flash)[1].bytes == image.second.data)
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    reliability::Runtime_Directory temp;
    test_support::Image_Builder image;
    test_support::Temp_Image_File file;
    Virtual_Phone_Files files;
    std::string link;
    Virtual_Phone_Process phone;
    bool started = false;
    Recording_View view;
    CComport port;
    Download_Command command;
    double wall_seconds = 0, cpu_seconds = 0;
};

// Waiting on a gone phone must not burn the processor.
void Expect_Waited_Calmly(const Unplug_Bench& bench) {
    EXPECT_LT(bench.cpu_seconds, 0.25 * bench.wall_seconds + 0.3)
        << bench.cpu_seconds << " s CPU in " << bench.wall_seconds << " s";
}

TEST(Unplugged, DuringTheSearchTheSearchFindsThePhoneWhenItIsBack) {
    Unplug_Bench bench({"--fault", "sync-echo@1:hangup", "--replug-after", "800"});
    ASSERT_TRUE(bench.started);
    EXPECT_EQ(static_cast<int>(bench.Run()), static_cast<int>(Download_Outcome::kUpdated))
        << bench.view.Memo_Text();
    EXPECT_TRUE(bench.Flash_Is_Image());
    EXPECT_TRUE(bench.view.Idle());
    Expect_Waited_Calmly(bench);
}

TEST(Unplugged, ForGoodTheSearchGivesUpWithinItsPasses) {
    Unplug_Bench bench({"--fault", "sync-echo@1:hangup"});
    ASSERT_TRUE(bench.started);
    EXPECT_EQ(static_cast<int>(bench.Run()), static_cast<int>(Download_Outcome::kPhoneNotFound));
    EXPECT_TRUE(bench.view.Memo_Has(text::kNotFoundEn)) << bench.view.Memo_Text();
    EXPECT_TRUE(bench.view.Idle());
    // 21 passes of a 100 ms pause and a failed open, plus the first handshake.
    EXPECT_LT(bench.wall_seconds, 21 * 0.1 + 1.0 + 5.0);
    Expect_Waited_Calmly(bench);
}

TEST(Unplugged, DuringTheDumpReportsTheDumpAndTheNextDownloadWorks) {
    Unplug_Bench bench({"--fault", "dump-block@3:hangup", "--replug-after", "300"});
    ASSERT_TRUE(bench.started);
    EXPECT_EQ(static_cast<int>(bench.Run()),
              static_cast<int>(Download_Outcome::kFailedBeforeProgramming));
    // The dump is named as the failed step (which read noticed the hang-up
    // first depends on the pseudo-terminal's timing).
    EXPECT_TRUE(
        std::any_of(bench.view.memo.begin(), bench.view.memo.end(),
                    [](const std::string& line) { return line.starts_with(text::kDumpFailed); }))
        << bench.view.Memo_Text();
    EXPECT_TRUE(bench.view.Idle());
    Expect_Waited_Calmly(bench);

    EXPECT_EQ(static_cast<int>(bench.Run()), static_cast<int>(Download_Outcome::kUpdated))
        << bench.view.Memo_Text();
    EXPECT_TRUE(bench.Flash_Is_Image());
}

TEST(Unplugged, InTheMiddleOfABlockReportsTheTransferAndTheNextDownloadWorks) {
    // Handshake 80 bytes, 0xE0 1, 0xD6 1, 0xE1 and record 33, announcement 18,
    // 0xDE and block size 5, first block and sum 32770: then 1000 bytes into
    // the second block.
    Unplug_Bench bench({"--fault", "hangup:after-bytes:33908", "--replug-after", "300"});
    ASSERT_TRUE(bench.started);
    EXPECT_EQ(static_cast<int>(bench.Run()),
              static_cast<int>(Download_Outcome::kProgrammingFailed));
    EXPECT_TRUE(bench.view.Memo_Has(std::string(text::kDownloadFailed) + "8"))
        << bench.view.Memo_Text();
    EXPECT_TRUE(bench.view.Idle());
    EXPECT_FALSE(bench.port.Is_Open());
    Expect_Waited_Calmly(bench);
    // What the phone took before it went is the image's first block.
    const auto partial = Read_Flash_File(bench.files.flash);
    ASSERT_TRUE(partial && partial->size() == 2);
    EXPECT_EQ((*partial)[0].bytes.size(), kPhoneModel.block_size);
    EXPECT_TRUE(std::equal((*partial)[0].bytes.begin(), (*partial)[0].bytes.end(),
                           bench.image.first.data.begin()));

    EXPECT_EQ(static_cast<int>(bench.Run()), static_cast<int>(Download_Outcome::kUpdated))
        << bench.view.Memo_Text();
    EXPECT_TRUE(bench.Flash_Is_Image());
}

}  // namespace
