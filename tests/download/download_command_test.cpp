// The download command from click to idle: its lines in order and in the right
// language, the buttons, Timer1 and the progress bar, the port, the dump file,
// and what reaches the phone, for every way the command can end.
#include "download/download_command.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "download/backup_path.h"
#include "download/texts.h"
#include "tests/support/image_builder.h"
#include "tests/support/scripted_port.h"

namespace {

using test_support::Bytes;
using test_support::Image_Builder;
using test_support::Random_Bytes;
using test_support::Temp_Image_File;

// The window as the command sees it. Every call lands in one log, in order,
// so that tests can check the order of the steps across controls.
class Recording_View final : public DownloadView, public ImageFileChooser, public ProgressBar {
  public:
    // ---- DownloadView ----
    void Button_Control(bool enable) override {
        Log(std::string("buttons ") + (enable ? "on" : "off"));
        buttons_enabled = enable;
    }
    ImageFileChooser& Image_Dialog() override { return *this; }
    ProgressBar& Progress_Bar() override { return *this; }
    void Set_Progress_Visible(bool visible) override {
        Log(std::string("bar ") + (visible ? "shown" : "hidden"));
        bar_visible = visible;
    }
    void Set_Timer1_Enabled(bool enabled) override {
        Log(std::string("timer1 ") + (enabled ? "on" : "off"));
        timer1_on = enabled;
    }
    void Set_Elapsed_Seconds(int seconds) override { Log("elapsed " + std::to_string(seconds)); }
    void Show_Message_Box(std::string_view text) override { Log("box " + std::string(text)); }
    int Language_Flag() const override { return language; }

    // ---- MessageOutput ----
    void Print_Str_to_Memo(std::string_view text) override {
        memo.emplace_back(Until_Zero(text));
        Log("memo " + memo.back());
    }
    void Print_Str_to_Tedit(std::string_view text) override { new_version += Until_Zero(text); }
    void Print_Str_to_OldTedit(std::string_view text) override { old_version += Until_Zero(text); }
    void Print_Str_to_ToolBar(int, std::string_view) override {}
    void Clean_Memo() override {
        memo.clear();
        Log("clean memo");
    }
    void Clean_Tedit() override { new_version.clear(); }
    void Clean_OldTedit() override {
        old_version.clear();
        Log("clean old");
    }

    // ---- ImageFileChooser ----
    std::string Choose_File() override { return file_name; }

    // ---- ProgressBar ----
    int minimum() const override { return bar_min; }
    int maximum() const override { return bar_max; }
    int step() const override { return bar_step; }
    int position() const override { return bar_position; }
    void set_minimum(int value) override { bar_min = value; }
    void set_maximum(int value) override { bar_max = value; }
    void set_step(int value) override { bar_step = value; }
    void set_position(int value) override {
        bar_position = value;
        if (value == 0)
            Log("bar at 0");
    }

    // Index of the first log entry starting with prefix, or -1.
    int Find(std::string_view prefix) const {
        for (std::size_t i = 0; i < log.size(); ++i) {
            if (log[i].starts_with(prefix))
                return static_cast<int>(i);
        }
        return -1;
    }
    int Count(std::string_view prefix) const {
        return static_cast<int>(std::count_if(
            log.begin(), log.end(), [&](const std::string& e) { return e.starts_with(prefix); }));
    }

    std::vector<std::string> log;
    std::vector<std::string> memo;
    std::string new_version, old_version, file_name;
    int language = text::kChinese;
    bool buttons_enabled = true, bar_visible = false, timer1_on = false;
    int bar_min = 0, bar_max = 100, bar_step = 10, bar_position = 37;

  private:
    static std::string Until_Zero(std::string_view text) {
        return std::string(text.substr(0, text.find('\0')));
    }
    void Log(std::string entry) { log.push_back(std::move(entry)); }
};

// A fresh temporary directory per test, also made the system's: the dump file
// lands in it, so parallel tests never share one.
class Private_Temp_Directory {
  public:
    Private_Temp_Directory() {
        std::random_device entropy;
        m_path = std::filesystem::temp_directory_path() /
                 ("flashtool-cmd-" + std::to_string(entropy()) + std::to_string(entropy()));
        std::filesystem::create_directories(m_path);
        if (const char* old = getenv("TMPDIR"))
            m_old = old;
        setenv("TMPDIR", m_path.c_str(), 1);
    }
    ~Private_Temp_Directory() {
        if (m_old.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", m_old.c_str(), 1);
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& Path() const { return m_path; }

  private:
    std::filesystem::path m_path;
    std::string m_old;
};

// An image with the given version text and two regions of pseudo-random bytes.
std::vector<std::uint8_t> Image_File(std::vector<std::uint8_t> version_text,
                                     std::size_t first_length, std::size_t second_length) {
    Image_Builder builder;
    builder.version_text = std::move(version_text);
    builder.first.start = 0x00010000;
    builder.first.data = Random_Bytes(first_length, 11);
    builder.second.start = 0x00200000;
    builder.second.data = Random_Bytes(second_length, 12);
    return builder.Build();
}

boot::Time_Limits Fast_Limits() {
    boot::Time_Limits limits;
    limits.search_pause = 1;
    return limits;
}

// ---------------------------------------------------------------------------
// Ends before any phone is found

TEST(DownloadCommandEarlyEnd, NoImageChosenLeavesAnEmptyMemoAndAnIdleWindow) {
    Private_Temp_Directory temp;
    ScriptedPort scripted;
    CComport port(scripted.Backend(), Make_Fixed_Port_Lister({"/dev/phone"}));
    Recording_View view;
    DownloadCommand command(port, view);

    EXPECT_EQ(command.Run(), Download_Outcome::kImageNotLoaded);

    EXPECT_TRUE(view.memo.empty());
    EXPECT_TRUE(view.buttons_enabled);
    EXPECT_EQ(view.Find("elapsed 0"), 0) << "Elapsed_Seconds is reset first";
    EXPECT_EQ(view.log[1], "buttons off");
    EXPECT_EQ(view.log.back(), "buttons on");
    EXPECT_EQ(view.Count("timer1"), 0);
    EXPECT_EQ(view.Count("bar"), 0) << "the progress bar is not touched";
    EXPECT_TRUE(scripted.events().empty()) << "no port is opened";
}

TEST(DownloadCommandEarlyEnd, PhoneNotFoundFollowsTheLanguageButSearchLinesStayChinese) {
    Private_Temp_Directory temp;
    Temp_Image_File image(Image_File(Bytes("V1"), 10, 10));
    for (const int language : {text::kEnglish, text::kChinese}) {
        ScriptedPort scripted;
        scripted.open_rule = [](const std::string&, int) {
            return ScriptedPort::Open_Outcome::kFails;
        };
        CComport port(scripted.Backend(), Make_Fixed_Port_Lister({"/dev/phone"}));
        port.Set_Time_Limits(Fast_Limits());
        Recording_View view;
        view.language = language;
        view.file_name = image.Path();
        DownloadCommand command(port, view);

        EXPECT_EQ(command.Run(), Download_Outcome::kPhoneNotFound);
        const std::string not_found(language == text::kEnglish ? text::kNotFoundEn
                                                               : text::kNotFoundZh);
        EXPECT_EQ(view.memo, (std::vector<std::string>{std::string(text::kSearching),
                                                       std::string(text::kPleaseWait), not_found}));
        EXPECT_EQ(view.new_version, "V1");
        EXPECT_TRUE(view.buttons_enabled);
        EXPECT_EQ(view.Count("bar"), 0);
        EXPECT_FALSE(command.Image().Loaded()) << "the image's blocks are released";
    }
}

TEST(DownloadCommandEarlyEnd, PortRefusedForLackOfPermissionIsNamedWithTheFix) {
    Private_Temp_Directory temp;
    Temp_Image_File image(Image_File(Bytes("V1"), 10, 10));
    ScriptedPort scripted;
    scripted.open_rule = [](const std::string& name, int) {
        return name == "/dev/ttyACM0" ? ScriptedPort::Open_Outcome::kRefused
                                      : ScriptedPort::Open_Outcome::kFails;
    };
    CComport port(scripted.Backend(), Make_Fixed_Port_Lister({"/dev/ttyS0", "/dev/ttyACM0"}));
    port.Set_Time_Limits(Fast_Limits());
    Recording_View view;
    view.language = text::kEnglish;
    view.file_name = image.Path();
    DownloadCommand command(port, view);

    EXPECT_EQ(command.Run(), Download_Outcome::kPhoneNotFound);
    ASSERT_EQ(view.memo.size(), 4u);
    EXPECT_EQ(view.memo[2], text::kNotFoundEn);
    EXPECT_TRUE(
        view.memo[3].starts_with("No permission to open /dev/ttyACM0: add your user to "
                                 "the group "))
        << view.memo[3];
    EXPECT_NE(view.memo[3].find("sudo usermod -aG "), std::string::npos);
    EXPECT_EQ(view.memo[3].find("ttyS0"), std::string::npos) << "only refused ports are named";
}

TEST(DownloadCommandEarlyEnd, RefusedPortsLineNamesEveryPortOnce) {
    EXPECT_EQ(Refused_Ports_Line({}), "");
    const std::string line = Refused_Ports_Line(
        {{"/nonexistent/ttyACM0", "/nonexistent/ttyACM0", 0}, {"/dev/ttyUSB1", "/dev/ttyUSB1", 0}});
    EXPECT_EQ(line,
              "No permission to open /nonexistent/ttyACM0, /dev/ttyUSB1: add your user to the "
              "group dialout (sudo usermod -aG dialout $USER), then log in again");
}

// ---------------------------------------------------------------------------
// The dump file's place

TEST(BackupPath, FirstWritableCandidateWinsAndAFullFailureFallsToTheLast) {
    Private_Temp_Directory temp;
    const std::string blocked = (temp.Path() / "no-such-dir" / "VANTREL").string();
    const std::string usable = (temp.Path() / "VANTREL").string();
    // A file where a directory should be: not even root can create below it.
    std::ofstream(temp.Path() / "plain-file") << "x";
    const std::string under_file = (temp.Path() / "plain-file" / "VANTREL").string();

    EXPECT_EQ(Choose_Backup_Path({blocked, usable}), usable);
    EXPECT_TRUE(std::filesystem::exists(usable)) << "opening for append creates the file";
    EXPECT_EQ(Choose_Backup_Path({blocked, under_file}), under_file);

    // An existing dump is kept: append mode never truncates.
    std::ofstream(usable, std::ios::binary) << "old dump";
    EXPECT_EQ(Choose_Backup_Path({usable}), usable);
    EXPECT_EQ(std::filesystem::file_size(usable), 8u);

    Remove_Backup_File(usable);
    EXPECT_FALSE(std::filesystem::exists(usable));
    Remove_Backup_File(usable);  // a missing file is no error
}

TEST(BackupPath, OnThisSystemTheDumpGoesToTheTemporaryDirectory) {
    Private_Temp_Directory temp;
    const std::vector<std::string> candidates = Backup_Path_Candidates();
    ASSERT_FALSE(candidates.empty());
    EXPECT_EQ(std::filesystem::path(candidates.back()),
              std::filesystem::temp_directory_path() / "VANTREL");
    EXPECT_EQ(std::filesystem::path(Choose_Backup_Path()), temp.Path() / "VANTREL");
}

}  // namespace
