// The station window's model without phones: events sent as a station
// sends them, from many threads at once, and what the table, the counters,
// the buttons and the stop question make of them. Built natively against the
// recording alone, and in the Windows build against the Win32 window too
// (tests/support/recording_station_face.h).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/update_rig.h"
#include "tests/support/fake_station.h"
#include "tests/support/image_builder.h"
#include "tests/support/recording_station_face.h"
#include "tests/support/temp_directory.h"
#include "window_model/station_window_model.h"

namespace {

using namespace test_support;

// A window on a fake station, its image loaded and the station started.
struct Station_Bench {
    Station_Bench()
        : view(Make_Station_View_Under_Test()),
          image(reliability::Matching_Image(0x00010000, Random_Bytes(3000, 1), 0x00200000,
                                            Random_Bytes(300, 2))),
          file(image.Build()),
          shared(std::make_shared<Fake_Station::Shared>()),
          model(
              face, [this] { ++wakes; }, Fake_Station::Factory(shared)) {
        if (view) {
            face.view = &view->Face();
            view->Bind(model);
        }
        model.FormCreate();
    }
    // Whatever a row asserted, the window shows what the model said.
    ~Station_Bench() { Check_View(); }
    Station_Bench(const Station_Bench&) = delete;
    Station_Bench& operator=(const Station_Bench&) = delete;
    void Check_View() {
        if (view)
            view->Check_Shows(face);
    }
    void Load_And_Start() {
        face.chosen = file.Path();
        model.OpenImageClick();
        model.StartClick();
    }
    // On the station's thread, as a station calls its sink.
    void Send(const Station_Event& event) { shared->sink(event); }
    void Apply(std::initializer_list<Station_Event> events) {
        for (const Station_Event& event : events)
            Send(event);
        model.Run_Pending_Calls();
        Check_View();
    }

    std::unique_ptr<Station_View_Under_Test> view;  // outlives the model
    Image_Builder image;
    Temp_Image_File file;
    std::shared_ptr<Fake_Station::Shared> shared;
    Recording_Station_Face face;
    std::atomic<int> wakes{0};
    Station_Window_Model model;
};

TEST(StationWindowModel, EventsFromManyThreadsReachTheirRowsInOrder) {
    Station_Bench bench;
    bench.Load_And_Start();
    ASSERT_EQ(bench.shared->made, 1);
    constexpr int kPhones = 8;
    constexpr std::uint64_t kBlocks = 200, kBlock = 1024;
    std::vector<std::thread> sessions;
    std::mutex one_at_a_time;  // a station's sink is called one event at a time
    for (int phone = 1; phone <= kPhones; ++phone) {
        sessions.emplace_back([&bench, &one_at_a_time, phone] {
            const auto send = [&](const Station_Event& event) {
                const std::lock_guard<std::mutex> lock(one_at_a_time);
                bench.Send(event);
            };
            send(Arrived(phone, "/dev/ttyACM" + std::to_string(phone - 1)));
            send(Phase(phone, Station_Phase::kRewriting, 1));
            for (std::uint64_t block = 1; block <= kBlocks; ++block)
                send(Progress(phone, block * kBlock, kBlocks * kBlock, 1 + block * 0.01));
            send(Line(phone, "block " + std::to_string(kBlocks)));
            send(Finished(
                phone,
                phone == 3 ? Download_Outcome::kProgrammingFailed : Download_Outcome::kUpdated,
                phone == 3 ? 7 : 0));
        });
    }
    // The window's thread applies what has come while the sessions still send.
    while (bench.model.Working() > 0 || bench.model.Rows().size() < kPhones) {
        bench.model.Run_Pending_Calls();
        std::this_thread::yield();
    }
    for (std::thread& session : sessions)
        session.join();
    bench.model.Run_Pending_Calls();

    EXPECT_GT(bench.wakes.load(), 0);
    ASSERT_EQ(bench.face.rows.size(), static_cast<std::size_t>(kPhones));
    for (const Station_Row& row : bench.face.rows) {
        SCOPED_TRACE(row.phone);
        EXPECT_EQ(row.port, "/dev/ttyACM" + std::to_string(row.phone - 1));
        EXPECT_EQ(row.last_line, "block 200");
        EXPECT_EQ(row.bytes_done, kBlocks * kBlock);
        // Every progress event was shown, none out of order.
        const std::vector<int>& shown = bench.face.percents[row.phone];
        EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
        EXPECT_EQ(shown.back(), 100);
        EXPECT_EQ(row.result_text, row.phone == 3 ? "失敗 (7)" : "更新完成");
        EXPECT_FALSE(row.rate_text.empty());
    }
    EXPECT_EQ(bench.model.Updated(), kPhones - 1);
    EXPECT_EQ(bench.model.Failed(), 1);
    EXPECT_EQ(bench.model.Working(), 0);
    EXPECT_NE(bench.face.status.find("更新完成: 7  失敗: 1  進行中: 0"), std::string::npos)
        << bench.face.status;
}

// A row stays one phone: the same port again, or the same phone on another
// port, is a new arrival and a new row; a phone unplugged before it finished
// counts as failed.
TEST(StationWindowModel, EachArrivalIsARowAndCountersFollowTheirEnds) {
    Station_Bench bench;
    bench.Load_And_Start();
    bench.Apply({Arrived(1, "/dev/ttyACM0", "SN-1"), Phase(1, Station_Phase::kRewriting),
                 Finished(1, Download_Outcome::kUpdated), Departed(1),
                 Arrived(2, "/dev/ttyACM0", "SN-2"), Arrived(3, "/dev/ttyACM1", "SN-1"),
                 Phase(3, Station_Phase::kHandshake), Departed(3), Arrived(4, "/dev/ttyACM2")});
    ASSERT_EQ(bench.face.rows.size(), 4U);
    EXPECT_EQ(bench.face.rows[0].identity, "1d6b:0104 SN-1");
    EXPECT_EQ(bench.face.rows[0].phase_text, "已拔除");
    EXPECT_EQ(bench.face.rows[0].result_text, "更新完成");  // unplugged after it finished
    EXPECT_EQ(bench.face.rows[1].port, "/dev/ttyACM0");
    EXPECT_EQ(bench.face.rows[1].identity, "1d6b:0104 SN-2");
    EXPECT_EQ(bench.face.rows[2].result_text, "中途拔除");
    EXPECT_EQ(bench.model.Updated(), 1);
    EXPECT_EQ(bench.model.Failed(), 1);
    EXPECT_EQ(bench.model.Working(), 2);

    // Between events the elapsed time of the working phones goes on; the
    // finished and the gone keep theirs.
    bench.model.Tick(bench.face.rows[3].event_time + std::chrono::seconds(65));
    EXPECT_EQ(bench.face.rows[3].elapsed_text, "0:1:5");
    EXPECT_EQ(bench.face.rows[0].elapsed_text, "0:0:0");
    EXPECT_EQ(bench.face.rows[2].elapsed_text, "0:0:0");

    // The language changes the texts of rows already shown.
    bench.model.Set_Language(Language::kEnglish);
    EXPECT_EQ(bench.face.rows[0].result_text, "updated");
    EXPECT_EQ(bench.face.rows[2].result_text, "unplugged");
    EXPECT_NE(bench.face.status.find("Updated: 1  Failed: 1  Running: 2"), std::string::npos);
    EXPECT_EQ(bench.face.headers.front(), "Port");

    // A device's own texts are shown escaped.
    bench.Apply({Arrived(5, "/dev/ttyACM3", "SN\x1b[2J"), Line(5, "bad\x07line")});
    EXPECT_EQ(bench.face.rows[4].identity, "1d6b:0104 SN\\x1b[2J");
    EXPECT_EQ(bench.face.rows[4].last_line, "bad\\x07line");
    // Each phone keeps its own lines.
    bench.Apply({Line(1, "first"), Line(5, "other"), Line(1, "second")});
    EXPECT_EQ(bench.face.row_lines[0], "first\nsecond\n");
    EXPECT_EQ(bench.model.Lines(4), (std::deque<std::string>{"bad\\x07line", "other"}));

    // A port that is no phone's has a row that says so and is in no
    // counter; a phone in a labelled socket shows the label before its port,
    // and its whole device (where on the bus too) for a tooltip.
    const int working = bench.model.Working();
    Station_Event skipped = Arrived(0, "/dev/ttyS0");
    skipped.kind = Station_Event::Kind::kSkipped;
    skipped.text = "not a USB device";
    Station_Event slotted = Arrived(6, "/dev/ttyACM4", "SN-6");
    slotted.slot = "A3";
    slotted.port.identity.usb_path = "1-1.3:1.0";
    bench.Apply({skipped, slotted, Line(6, "hello")});
    ASSERT_EQ(bench.face.rows.size(), 7U);
    EXPECT_EQ(bench.face.rows[5].phase_text, "skipped");
    EXPECT_EQ(bench.face.rows[5].result_text, "skipped: not a phone port (not a USB device)");
    EXPECT_EQ(bench.face.rows[6].port_text, "A3  /dev/ttyACM4");
    EXPECT_NE(bench.face.rows[6].identity_text.find("at usb 1-1.3:1.0"), std::string::npos);
    EXPECT_EQ(bench.model.Working(), working + 1);
    bench.model.Tick(bench.face.rows[5].event_time + std::chrono::seconds(65));
    EXPECT_EQ(bench.face.rows[5].elapsed_text, "");
}

// Stop and close ask the same question while phones are being rewritten:
// it names them (and no other), "no" keeps them going, "yes" stops them.
TEST(StationWindowModel, TheStopQuestionNamesThePhonesBeingRewritten) {
    Station_Bench bench;
    bench.Load_And_Start();
    bench.Apply({Arrived(1, "/dev/ttyACM0"), Arrived(2, "/dev/ttyACM1", "SN-2"),
                 Phase(2, Station_Phase::kRewriting), Arrived(3, "/dev/ttyACM2"),
                 Phase(3, Station_Phase::kWritingRecord)});
    EXPECT_TRUE(bench.face.stop_on);
    EXPECT_FALSE(bench.face.start_on);
    EXPECT_FALSE(bench.face.open_on);
    bench.shared->rewriting = {2, 3};

    bench.model.StopClick();
    ASSERT_EQ(bench.face.questions.size(), 1U);
    const std::string& question = bench.face.questions[0];
    EXPECT_NE(question.find("/dev/ttyACM1  (1d6b:0104 SN-2)"), std::string::npos) << question;
    EXPECT_NE(question.find("/dev/ttyACM2"), std::string::npos);
    EXPECT_EQ(question.find("/dev/ttyACM0"), std::string::npos);
    EXPECT_EQ(bench.shared->stops, 0);  // "no": they go on
    EXPECT_TRUE(bench.model.Running());

    EXPECT_FALSE(bench.model.May_Close());  // close asks the same, "no" again
    EXPECT_EQ(bench.face.questions.size(), 2U);
    EXPECT_EQ(bench.shared->stops, 0);

    bench.face.answer_yes = true;
    EXPECT_TRUE(bench.model.May_Close());
    EXPECT_EQ(bench.shared->stops, 1);
    bench.Apply({Finished(2, Download_Outcome::kStopped), Finished(3, Download_Outcome::kStopped),
                 Ended()});
    EXPECT_FALSE(bench.model.Running());
    EXPECT_TRUE(bench.face.start_on);
    EXPECT_TRUE(bench.model.May_Close());  // nothing runs: no question
    EXPECT_EQ(bench.face.questions.size(), 3U);

    // With nobody at risk a stop asks nothing.
    Station_Bench calm;
    calm.Load_And_Start();
    calm.Apply({Arrived(1, "/dev/ttyACM0"), Phase(1, Station_Phase::kHandshake)});
    calm.model.StopClick();
    EXPECT_TRUE(calm.face.questions.empty());
    EXPECT_EQ(calm.shared->stops, 1);
}

// The phones a question names finish while it is on screen: it is taken
// away, and the stop goes on without asking again.
TEST(StationWindowModel, AQuestionThePhonesOutranIsTakenAway) {
    Station_Bench bench;
    bench.Load_And_Start();
    bench.Apply({Arrived(1, "/dev/ttyACM0"), Phase(1, Station_Phase::kRewriting)});
    bench.shared->rewriting = {1};
    bench.face.while_asked = [&bench] {
        bench.shared->rewriting.clear();
        bench.Apply({Finished(1, Download_Outcome::kUpdated)});
    };
    bench.model.StopClick();
    EXPECT_EQ(bench.face.dismissed, 1);
    EXPECT_EQ(bench.face.questions.size(), 1U);
    EXPECT_EQ(bench.shared->stops, 1);
}

// "No" stops nothing: no phone, not even the harmless ones, and the station
// goes on taking phones, as the message area says. Only a phone the rows
// did not show at risk yet, found by the station, leaves a station that
// takes no new phone, and the message says that instead.
TEST(StationWindowModel, ANoStopsNothingAndTheStationGoesOn) {
    Station_Bench bench;
    bench.Load_And_Start();
    bench.Apply({Arrived(1, "/dev/ttyACM0"), Phase(1, Station_Phase::kHandshake),
                 Arrived(2, "/dev/ttyACM1"), Phase(2, Station_Phase::kRewriting)});
    bench.shared->rewriting = {2};
    bench.model.StopClick();
    EXPECT_FALSE(bench.model.May_Close());
    ASSERT_EQ(bench.face.questions.size(), 2U);
    EXPECT_EQ(bench.shared->harmless_stops, 0) << "the handshake of phone 1 was stopped";
    EXPECT_EQ(bench.shared->stops, 0);
    EXPECT_TRUE(bench.model.Running());
    EXPECT_NE(bench.face.messages.find("沒有停止任何手機:更新繼續進行,更新站仍會接受新手機。"),
              std::string::npos)
        << bench.face.messages;
    bench.Apply({Arrived(3, "/dev/ttyACM2")});
    EXPECT_EQ(bench.face.rows.size(), 3U);

    // The station finds phone 3 at risk before its row says so.
    bench.shared->rewriting = {3};
    bench.Apply({Finished(2, Download_Outcome::kUpdated)});
    bench.model.Set_Language(Language::kEnglish);
    bench.model.StopClick();
    ASSERT_EQ(bench.face.questions.size(), 3U);
    EXPECT_NE(bench.face.questions[2].find("/dev/ttyACM2"), std::string::npos);
    EXPECT_EQ(bench.shared->harmless_stops, 1);
    EXPECT_EQ(bench.shared->stops, 0);
    EXPECT_NE(bench.face.messages.find("the station takes no new phone"), std::string::npos);

    // "Yes" to a question names every phone that is then stopped: one that
    // came at risk while it showed is asked about before the stop.
    bench.face.answer_yes = true;
    bench.shared->rewriting = {3};
    bench.face.while_asked = [&bench] {
        if (bench.face.questions.size() != 4)
            return;
        bench.shared->rewriting = {3, 4};
        bench.Apply({Arrived(4, "/dev/ttyACM3"), Phase(4, Station_Phase::kWritingRecord)});
    };
    EXPECT_TRUE(bench.model.May_Close());
    ASSERT_EQ(bench.face.questions.size(), 5U);
    EXPECT_NE(bench.face.questions[4].find("/dev/ttyACM3"), std::string::npos);
    EXPECT_EQ(bench.shared->stops, 1);
}

// The question follows the phones it names: one that finishes leaves it
// (the rest still named), and once none is left it goes away and the stop
// it was asked for goes on.
TEST(StationWindowModel, TheQuestionFollowsThePhonesAsTheyFinish) {
    Station_Bench bench;
    bench.Load_And_Start();
    bench.Apply({Arrived(1, "/dev/ttyACM0"), Phase(1, Station_Phase::kRewriting),
                 Arrived(2, "/dev/ttyACM1"), Phase(2, Station_Phase::kWritingRecord)});
    bench.shared->rewriting = {1, 2};
    bench.face.while_asked = [&bench] {
        bench.Apply({Line(1, "block"), Finished(1, Download_Outcome::kUpdated)});
        ASSERT_EQ(bench.face.changed_questions.size(), 1U);
        EXPECT_EQ(bench.face.changed_questions[0].find("/dev/ttyACM0"), std::string::npos);
        EXPECT_NE(bench.face.changed_questions[0].find("/dev/ttyACM1"), std::string::npos);
        EXPECT_TRUE(bench.face.question_shows);
        bench.shared->rewriting.clear();
        bench.Apply({Departed(2)});  // unplugged: no longer one to ask about
        EXPECT_FALSE(bench.face.question_shows);
    };
    bench.model.StopClick();
    EXPECT_EQ(bench.face.questions.size(), 1U);
    EXPECT_EQ(bench.face.dismissed, 1);
    EXPECT_EQ(bench.shared->stops, 1);
}

// A phone left unable to start says so in its result cell, as soon as it
// is unplugged while at risk and once it has ended, and in the message area.
TEST(StationWindowModel, APhoneLeftUnableToStartSaysSo) {
    Station_Bench bench;
    bench.Load_And_Start();
    Station_Event failed = Finished(1, Download_Outcome::kProgrammingFailed, 6);
    failed.phone_touched = true;
    Station_Event before = Finished(3, Download_Outcome::kFailedBeforeProgramming, 2);
    bench.Apply({Arrived(1, "/dev/ttyACM0"), Phase(1, Station_Phase::kRewriting), Departed(1),
                 Arrived(2, "/dev/ttyACM1"), Phase(2, Station_Phase::kHandshake), Departed(2),
                 Arrived(3, "/dev/ttyACM2"), before});
    EXPECT_EQ(bench.face.rows[0].result_text, "中途拔除,無法開機");
    EXPECT_EQ(bench.face.rows[1].result_text, "中途拔除");
    bench.Apply({failed});
    EXPECT_EQ(bench.face.rows[0].result_text, "失敗 (6),無法開機");
    EXPECT_EQ(bench.face.rows[2].result_text, "失敗 (2)");
    EXPECT_NE(bench.face.messages.find("/dev/ttyACM0:手機在再次更新之前將無法開機"),
              std::string::npos)
        << bench.face.messages;
    EXPECT_EQ(bench.face.messages.find("/dev/ttyACM2:"), std::string::npos);
    bench.model.Set_Language(Language::kEnglish);
    EXPECT_EQ(bench.face.rows[0].result_text, "failed (6), will not start");
}

// Start after Stop hands the next station the ports the last one handled
// that are still plugged in, and says which are left alone.
TEST(StationWindowModel, TheNextStationLeavesThePhonesHandledBefore) {
    Station_Bench bench;
    bench.Load_And_Start();
    EXPECT_TRUE(bench.shared->options.handled_ports.empty());
    Port_Candidate handled;
    handled.device_path = handled.display_name = "/dev/ttyACM0";
    bench.shared->handled = {handled};
    bench.model.StopClick();
    bench.Apply({Ended()});
    bench.model.StartClick();
    ASSERT_EQ(bench.shared->made, 2);
    ASSERT_EQ(bench.shared->options.handled_ports.size(), 1U);
    EXPECT_EQ(bench.shared->options.handled_ports[0].device_path, "/dev/ttyACM0");
    EXPECT_NE(bench.face.messages.find("已處理且仍接著,不再更新(要再次更新請拔除後重新接上): "
                                       "/dev/ttyACM0"),
              std::string::npos)
        << bench.face.messages;
}

// The window writes what the command writes in its log folder: a log per
// phone and the summaries, and says where; a folder it cannot use is said,
// and the station runs without logs.
TEST(StationWindowModel, TheLogsAndSummariesGoToTheLogFolder) {
    Temp_Directory temp("flashtool-station-window-logs");
    const std::string folder = (temp.Path() / "logs" / "today").string();
    Station_Bench bench;
    bench.model.Set_Log_Folder(folder);
    bench.Load_And_Start();
    EXPECT_NE(bench.face.messages.find("記錄與摘要寫入 " + folder), std::string::npos)
        << bench.face.messages;
    bench.Apply(
        {Arrived(1, "/dev/ttyACM0"), Line(1, "hello"), Finished(1, Download_Outcome::kUpdated)});
    bench.model.StopClick();
    bench.Apply({Ended()});
    EXPECT_TRUE(std::filesystem::exists(folder + "/phone-001-ttyACM0.log")) << folder;
    EXPECT_TRUE(std::filesystem::exists(folder + "/summary.csv"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/summary.json"));
    const std::string summary = (std::filesystem::path(folder) / "summary.csv").string();
    EXPECT_NE(bench.face.messages.find("摘要: " + summary), std::string::npos)
        << bench.face.messages;

    Station_Bench blocked;
    const std::string file = (temp.Path() / "a-file").string();
    std::FILE* made = std::fopen(file.c_str(), "w");
    ASSERT_NE(made, nullptr);
    std::fclose(made);
    blocked.model.Set_Log_Folder(file);
    blocked.Load_And_Start();
    EXPECT_TRUE(blocked.model.Running());
    EXPECT_NE(blocked.face.messages.find("不會寫入記錄:無法使用此資料夾: " + file),
              std::string::npos)
        << blocked.face.messages;
    EXPECT_TRUE(blocked.shared->observers.empty());
}

// The settings choose which ports the next station takes, as the command's
// --match, --slots and --only-slots do: a bad match or slots file is refused
// with its reason and changes nothing, the slots file is read again at each
// start, and a start whose file went bad leaves the window as it was.
TEST(StationWindowModel, ThePortChoiceReachesTheNextStationAndABadOneIsSaid) {
    Temp_Directory temp("flashtool-station-window-slots");
    const std::string slots = (temp.Path() / "slots.txt").string();
    const auto write = [&slots](const char* text) {
        std::FILE* file = std::fopen(slots.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(text, file);
        std::fclose(file);
    };
    write("1-1.3 = A3\n1-1.4 = A4\n");
    Station_Bench bench;
    bench.Load_And_Start();
    EXPECT_TRUE(bench.shared->options.filter.usb_only);
    EXPECT_TRUE(bench.shared->options.filter.match.empty());
    EXPECT_NE(bench.face.messages.find("接受手機的通訊埠: 所有 USB 序列埠"), std::string::npos)
        << bench.face.messages;
    bench.model.StopClick();
    bench.Apply({Ended()});

    EXPECT_FALSE(bench.model.Set_Port_Choice({.match = {"1d6b:0104", "zz:1"}}));
    EXPECT_NE(bench.face.messages.find("不是 USB VID:PID(例如 1d6b:0104 或 1d6b:*): zz:1"),
              std::string::npos)
        << bench.face.messages;
    EXPECT_FALSE(bench.model.Set_Port_Choice({.slots_file = slots + ".missing"}));
    EXPECT_TRUE(bench.model.Port_Choice().match.empty());

    bench.model.Set_Language(Language::kEnglish);
    ASSERT_TRUE(bench.model.Set_Port_Choice(
        {.match = {"1D6B:*", "0525:a4a7"}, .slots_file = slots, .only_slots = true}));
    bench.model.StartClick();
    ASSERT_EQ(bench.shared->made, 2);
    const Port_Filter& filter = bench.shared->options.filter;
    ASSERT_EQ(filter.match.size(), 2U);
    EXPECT_EQ(filter.match[0].vendor_id, "1d6b");
    EXPECT_EQ(filter.match[0].product_id, "");
    EXPECT_EQ(filter.match[1].product_id, "a4a7");
    ASSERT_EQ(filter.sockets.size(), 2U);
    EXPECT_EQ(filter.sockets[1].label, "A4");
    EXPECT_TRUE(filter.only_slots);
    EXPECT_NE(bench.face.messages.find("Phones are taken from: USB devices 1d6b:*, 0525:a4a7; only "
                                       "the slots file's sockets; 2 sockets named in " +
                                       slots),
              std::string::npos)
        << bench.face.messages;
    bench.model.StopClick();
    bench.Apply({Ended()});

    // Edited between two starts: the new sockets, or no start at all.
    write("1-1.3 = B1\n");
    bench.model.StartClick();
    ASSERT_EQ(bench.shared->made, 3);
    ASSERT_EQ(bench.shared->options.filter.sockets.size(), 1U);
    EXPECT_EQ(bench.shared->options.filter.sockets[0].label, "B1");
    bench.Apply({Arrived(1, "/dev/ttyACM0")});
    bench.model.StopClick();
    bench.Apply({Ended()});
    write("1-1.3 = B1\n1-1.3 = B2\n");
    bench.model.StartClick();
    EXPECT_EQ(bench.shared->made, 3);
    EXPECT_FALSE(bench.model.Running());
    EXPECT_EQ(bench.face.rows.size(), 1U);  // the last station's row stays
    EXPECT_NE(bench.face.messages.find("The slots file cannot be used: " + slots + " line 2: "),
              std::string::npos)
        << bench.face.messages;
    EXPECT_NE(bench.face.messages.find("The station did not start."), std::string::npos);
}

// The title names the tool in the window's language, and follows it.
TEST(StationWindowModel, TheTitleFollowsTheLanguage) {
    Station_Bench bench;
    EXPECT_EQ(bench.face.captions[Station_Caption::kTitle], "Vantrel Tool 多機更新站");
    bench.model.Set_Language(Language::kEnglish);
    EXPECT_EQ(bench.face.captions[Station_Caption::kTitle], "Vantrel Tool station");
    bench.model.Set_Language(Language::kChinese);
    EXPECT_EQ(bench.face.captions[Station_Caption::kTitle], "Vantrel Tool 多機更新站");
}

// The image is chosen once: a cancel loads nothing and Start stays off; a
// refused file says why and keeps what was held; a station gets the image
// and the window's language.
TEST(StationWindowModel, TheImageIsChosenOnceAndACancelLoadsNothing) {
    Station_Bench bench;
    EXPECT_TRUE(bench.face.open_on);
    EXPECT_FALSE(bench.face.start_on);
    EXPECT_FALSE(bench.face.stop_on);
    bench.model.OpenImageClick();  // cancelled
    EXPECT_EQ(bench.face.dialogs, 1);
    EXPECT_FALSE(bench.model.Image_Loaded());
    EXPECT_FALSE(bench.face.start_on);
    bench.model.StartClick();
    EXPECT_EQ(bench.shared->made, 0);

    Image_Builder broken = bench.image;
    broken.truncate_to = 40;
    Temp_Image_File broken_file(broken.Build());
    bench.face.chosen = broken_file.Path();
    bench.model.OpenImageClick();
    EXPECT_FALSE(bench.model.Image_Loaded());
    EXPECT_NE(bench.face.messages.find("You choose the wrong bin!"), std::string::npos)
        << bench.face.messages;
    EXPECT_FALSE(bench.face.start_on);

    bench.face.chosen = bench.file.Path() + ".missing";
    bench.model.OpenImageClick();
    EXPECT_NE(bench.face.messages.find("無法開啟映像檔"), std::string::npos);

    bench.face.chosen = bench.file.Path();
    bench.model.OpenImageClick();
    EXPECT_TRUE(bench.model.Image_Loaded());
    EXPECT_TRUE(bench.face.start_on);
    bench.face.chosen = broken_file.Path();
    bench.model.OpenImageClick();
    EXPECT_TRUE(bench.model.Image_Loaded());  // the sound image stays

    bench.model.Set_Language(Language::kEnglish);
    bench.model.StartClick();
    ASSERT_EQ(bench.shared->made, 1);
    ASSERT_NE(bench.shared->image, nullptr);
    EXPECT_EQ(bench.shared->image->First_Region.Length, 3000U);
    EXPECT_EQ(bench.shared->options.language, Language::kEnglish);
    EXPECT_TRUE(bench.shared->options.system_ports);
    bench.model.OpenImageClick();  // not while it runs
    EXPECT_EQ(bench.face.dialogs, 5);

    // A station that cannot watch the ports says so and leaves Start on.
    Station_Bench blind;
    blind.shared->start_result = false;
    blind.Load_And_Start();
    EXPECT_FALSE(blind.model.Running());
    EXPECT_TRUE(blind.face.start_on);
    EXPECT_NE(blind.face.messages.find("無法監看通訊埠"), std::string::npos);
}

}  // namespace
