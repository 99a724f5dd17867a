// The window model without a toolkit: one phone's panel updating the
// in-process phone through its own worker, seen through a face that records
// what a window would show. What both windows get from it: the texts of both
// languages in the language of the moment, escapes in the version fields,
// one state of the bar after every update, a cancel that loads nothing, and
// the close policy with its question taken away when the update ends under
// it.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "download/texts.h"
#include "tests/reliability/update_rig.h"
#include "tests/support/virtual_phone_process.h"
#include "window_model/main_window_model.h"
#include "window_model/phone_panel.h"

namespace {

using reliability::Matching_Image;
using reliability::Runtime_Directory;
using test_support::Random_Bytes;

// What the window shows, as the model told it.
struct Recording_Face final : Main_Window_Face {
    void Memo_Appended(std::string_view text) override {
        memo += text;
        if (on_memo)
            on_memo(text);
    }
    void Memo_Cleared() override { memo.clear(); }
    void Field_Shown(Field field, std::string_view text) override {
        (field == Field::kNewVersion ? new_version : old_version).emplace_back(text);
    }
    void Buttons_Enabled(bool enabled) override { buttons = enabled; }
    void Progress_Shown(int minimum, int maximum, int position) override {
        bar = {minimum, maximum, position};
        if (on_progress)
            on_progress(position);
    }
    void Progress_Visible(bool visible) override {
        bar_visible = visible;
        bar_shown = bar_shown || visible;
    }
    void Timer1_Running(bool running) override { timer1 = running; }
    std::optional<std::string> Choose_Image_File() override {
        ++dialogs;
        return chosen;
    }
    void Show_Completion_Box(std::string_view text) override {
        boxes.emplace_back(text);
        box_over_question = box_over_question || question_shows;
    }
    void Dismiss_Stop_Question() override {
        question_shows = false;
        ++dismissed;
    }
    void Caption_Shown(layout::Control control, std::string_view caption) override {
        captions[control] = caption;
    }
    void Status_Panel_Shown(int panel, std::string_view text) override { panels[panel] = text; }
    void Timer2_Running(bool running) override { timer2 = running; }

    struct Bar {
        int minimum = 0, maximum = 0, position = 0;
        bool operator==(const Bar&) const = default;
    };
    std::string memo;
    std::vector<std::string> new_version, old_version, boxes;
    std::map<layout::Control, std::string> captions;
    std::string panels[2];
    Bar bar;
    bool buttons = true, bar_visible = false, bar_shown = false, timer1 = false, timer2 = true;
    std::optional<std::string> chosen;
    int dialogs = 0;
    bool question_shows = false, box_over_question = false;
    int dismissed = 0;
    std::function<void(int position)> on_progress;
    std::function<void(std::string_view text)> on_memo;
};

// One phone's panel on the in-process phone, with an image that passes its
// version check.
struct Panel_Bench {
    explicit Panel_Bench(vphone::Phone_Config config = vphone::Default_Config())
        : phone(std::move(config)),
          line(phone),
          image(
              Matching_Image(0x00010000, Random_Bytes(70000, 5), 0x00200000, Random_Bytes(300, 6))),
          file(image.Build()),
          panel(face, {},
                std::make_unique<CComport>(line.make_backend(),
                                           Make_Fixed_Port_Lister({line.port_name()}))) {
        face.chosen = file.Path();
    }
    ~Panel_Bench() { EXPECT_EQ(Host_Deviations(phone), ""); }

    // One click on Download, the window's thread running the view's calls
    // until the update has ended.
    Download_Outcome Update() {
        panel.DownloadClick();
        return panel.Runner().Wait();
    }

    Runtime_Directory temp;
    vphone::Phone_Model phone;
    Simulated_Phone_Line line;
    test_support::Image_Builder image;
    test_support::Temp_Image_File file;
    Recording_Face face;
    Phone_Panel panel;
};

TEST(PhonePanel, TextsOfBothLanguagesAreShownInTheLanguageOfTheMoment) {
    Recording_Face face;
    Phone_Panel panel(face, {});
    panel.Print_Bilingual_to_Memo({"Update OK!", "更新完成!"});
    panel.Set_Language(Language::kEnglish);
    panel.Print_Bilingual_to_Memo({"Update OK!", "更新完成!"});
    panel.Show_Message_Box({"Update OK!", "更新完成!"});
    EXPECT_EQ(face.memo, "更新完成!\nUpdate OK!\n");
    EXPECT_EQ(face.boxes, std::vector<std::string>{"Update OK!"});
    // A zero byte ends a line with its line break; a stray byte still shows.
    panel.Clean_Memo();
    panel.Print_Str_to_Memo(std::string_view("ab\0cd", 5));
    panel.Print_Str_to_Memo("e\xFF");
    EXPECT_EQ(face.memo, "abe\xC3\xBF\n");
    EXPECT_EQ(panel.Memo(), face.memo);
}

// The bar as every window shows it: inside its range, and full for an
// empty range (equal bounds would make some bars a busy indicator).
TEST(PhonePanel, TheBarShowsInsideItsRangeAndAnEmptyRangeFull) {
    Recording_Face face;
    Phone_Panel panel(face, {});
    ProgressBar& bar = panel.Progress_Bar();
    bar.Set_Range(0, 65536);
    bar.Set_Position(32768);
    EXPECT_EQ(face.bar, (Recording_Face::Bar{0, 65536, 32768}));
    bar.Set_Position(70000);  // past the end: a full bar, not the old value
    EXPECT_EQ(face.bar, (Recording_Face::Bar{0, 65536, 65536}));
    bar.Set_Position(-5);
    EXPECT_EQ(face.bar, (Recording_Face::Bar{0, 65536, 0}));
    bar.Set_Range(0, 0);
    EXPECT_EQ(face.bar, (Recording_Face::Bar{0, 1, 1}));
}

// A first run on a phone with an erased record: the old-version field shows
// the 32 bytes of 0xFF as escapes, as the command-line tool does, then the
// record from the dump.
TEST(PhonePanel, AnErasedRecordShowsAsEscapesThenTheRecordFromTheDump) {
    Panel_Bench bench;
    EXPECT_EQ(bench.Update(), Download_Outcome::kUpdated) << bench.panel.Memo();
    std::string erased;
    for (int i = 0; i < 32; ++i)
        erased += "\\xff";
    EXPECT_EQ(
        bench.face.old_version,
        (std::vector<std::string>{"", erased, "", std::string(reliability::kPhoneRecordText)}));
    EXPECT_EQ(bench.face.new_version.back(), reliability::kPhoneRecordText);
}

// However an update ends, the window is left with the bar hidden and empty
// and the buttons enabled.
TEST(PhonePanel, EveryUpdateLeavesTheBarHiddenAndEmpty) {
    struct Case {
        const char* name;
        std::optional<vphone::Fault_Rule> fault;
        Download_Outcome outcome;
    };
    const auto fault = [](vphone::Exchange exchange, vphone::Fault_Kind kind,
                          std::optional<std::uint32_t> arg = {}) {
        vphone::Fault_Rule rule;
        rule.exchange = exchange;
        rule.kind = kind;
        rule.arg = arg;
        return rule;
    };
    const Case cases[] = {
        {"completed", std::nullopt, Download_Outcome::kUpdated},
        {"record not read", fault(vphone::Exchange::e0_ack, vphone::Fault_Kind::silent),
         Download_Outcome::kFailedBeforeProgramming},
        {"record not taken", fault(vphone::Exchange::e1_ack, vphone::Fault_Kind::wrong),
         Download_Outcome::kFailedBeforeProgramming},
        {"block refused", fault(vphone::Exchange::block, vphone::Fault_Kind::refuse, 0x06),
         Download_Outcome::kProgrammingFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vphone::Phone_Config config = vphone::Default_Config();
        if (c.fault)
            config.faults.push_back(*c.fault);
        Panel_Bench bench(std::move(config));
        EXPECT_EQ(bench.Update(), c.outcome) << bench.panel.Memo();
        EXPECT_TRUE(bench.face.bar_shown);
        EXPECT_FALSE(bench.face.bar_visible);
        EXPECT_EQ(bench.face.bar.position, bench.face.bar.minimum);
        EXPECT_TRUE(bench.face.buttons);
        EXPECT_FALSE(bench.face.timer1);
    }
}

// A cancelled dialog loads nothing: after a completed update, a cancel opens
// no port, so the phone hears nothing.
TEST(PhonePanel, ACancelledDialogAfterAnUpdateWritesNothing) {
    Panel_Bench bench;
    ASSERT_EQ(bench.Update(), Download_Outcome::kUpdated);
    const std::size_t events = bench.line.events().size();
    bench.face.chosen.reset();
    EXPECT_EQ(bench.Update(), Download_Outcome::kImageNotLoaded);
    EXPECT_EQ(bench.face.dialogs, 2);
    EXPECT_EQ(bench.line.events().size(), events);
    EXPECT_EQ(bench.face.memo, "");
    EXPECT_TRUE(bench.face.buttons);
}

// A close request while the phone's flash is being rewritten asks first; a
// request while the question shows is refused. The question's answer
// decides, unless the update ends under it: then it is taken away before
// the completion box, and the window stays open. The virtual phone answers
// the first block 3 s late, so that the phone is at risk while the window's
// thread handles the start line.
TEST(PhonePanel, ClosingAtRiskAsksAndAQuestionTheUpdateEndedGoesAway) {
    struct Case {
        const char* name;
        std::optional<bool> answer;  // nothing: the update ends under the question
        bool closes;
        Download_Outcome outcome;
    };
    const Case cases[] = {
        {"yes", true, true, Download_Outcome::kStopped},
        {"no", false, false, Download_Outcome::kUpdated},
        {"not answered", std::nullopt, false, Download_Outcome::kUpdated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Runtime_Directory temp;
        Virtual_Phone_Files files;
        Virtual_Phone_Process phone;
        std::string error;
        ASSERT_TRUE(
            phone.start(files.args({"--record-text", std::string(reliability::kPhoneRecordText),
                                    "--idle-reset-ms", "600000", "--fault", "block@1:delay:3000"}),
                        &error))
            << error;
        const test_support::Temp_Image_File image(
            Matching_Image(0x00010000, Random_Bytes(40000, 7), 0x00200000, Random_Bytes(300, 8))
                .Build());
        Recording_Face face;
        face.chosen = image.Path();
        Phone_Panel panel(
            face, {},
            std::make_unique<CComport>(Make_System_Backend(),
                                       Make_Fixed_Port_Lister({phone.device_path()})));
        panel.Set_Language(Language::kEnglish);

        std::optional<bool> closed;
        std::vector<std::string> asked;
        bool asked_again_while_shown = true;
        bool clicked = false;
        face.on_memo = [&](std::string_view line) {
            // The start line is out: the user closes the window.
            if (!line.starts_with(text::kStartAtEn) || clicked)
                return;
            clicked = true;
            EXPECT_TRUE(panel.Runner().Stop_Would_Harm_Phone());
            closed = panel.May_Close([&](std::string_view question) {
                asked.emplace_back(question);
                face.question_shows = true;
                asked_again_while_shown = panel.May_Close([](std::string_view) {
                    ADD_FAILURE() << "asked twice";
                    return true;
                });
                if (c.answer) {
                    face.question_shows = false;
                    return *c.answer;
                }
                // The question stays open while the update goes on to its end.
                panel.Runner().Wait();
                return true;  // too late: "yes" to a question that was taken away
            });
        };
        panel.DownloadClick();
        EXPECT_EQ(panel.Runner().Wait(), c.outcome) << panel.Memo();
        phone.stop();
        EXPECT_EQ(Host_Deviations(files.deviations), "");
        EXPECT_TRUE(clicked);
        EXPECT_EQ(asked, std::vector<std::string>{std::string(text::kStopQuestionEn)});
        EXPECT_FALSE(asked_again_while_shown);
        EXPECT_EQ(closed, c.closes);
        EXPECT_FALSE(face.box_over_question);
        EXPECT_EQ(face.dismissed, c.answer ? 0 : 1);
        EXPECT_EQ(face.boxes.size(), c.outcome == Download_Outcome::kUpdated ? 1u : 0u);
        EXPECT_FALSE(face.bar_visible);
        EXPECT_TRUE(face.buttons);
    }
}

// Without an update, or before the phone is at risk, a close needs no answer.
TEST(PhonePanel, ClosingWithoutRiskAsksNothing) {
    Recording_Face face;
    Phone_Panel panel(face, {});
    EXPECT_TRUE(panel.May_Close([](std::string_view) {
        ADD_FAILURE() << "asked without an update";
        return false;
    }));
}

TEST(MainWindowModel, StartsInChineseAndTheLanguageRecaptions) {
    Recording_Face face;
    Main_Window_Model model(face, {});
    model.FormCreate();
    EXPECT_FALSE(face.timer1);
    EXPECT_FALSE(face.timer2);
    EXPECT_EQ(face.captions[layout::Control::kDownload], "更新韌體");
    EXPECT_EQ(face.captions[layout::Control::kLabel1], "舊版本");
    model.Panel().Print_Str_to_Memo("x");
    model.EnglishClick();
    EXPECT_EQ(face.captions[layout::Control::kDownload], "Download");
    EXPECT_EQ(face.captions[layout::Control::kShowTime], "Show time");
    EXPECT_EQ(face.memo, "");
    EXPECT_EQ(model.Panel().Language_Flag(), Language::kEnglish);

    // The clock: its own captions, panel 1 emptied when it stops.
    model.ShowTimeClick();
    EXPECT_TRUE(face.timer2);
    EXPECT_EQ(face.captions[layout::Control::kShowTime], "Don't Show");
    model.Timer2Timer();
    EXPECT_TRUE(face.panels[1].starts_with("The system time is ")) << face.panels[1];
    EXPECT_EQ(face.panels[1].find('\n'), std::string::npos) << "a panel is one line";
    EXPECT_TRUE(model.Panel_Text(1).ends_with("\n."));
    model.ShowTimeClick();
    EXPECT_FALSE(face.timer2);
    EXPECT_EQ(face.captions[layout::Control::kShowTime], "Show Time ");
    EXPECT_EQ(face.panels[1], "");
}

}  // namespace
