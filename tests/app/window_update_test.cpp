// The window drives a real update: Form1 built offscreen, an image file handed
// to its open dialog, the virtual phone's pseudo-terminal as the only port, a
// click on Download, the completion box accepted.
//   - Run twice on one phone: the first run dumps the boot loader for the
//     phone's record, the second does not.
//   - The window's event loop keeps running while the phone takes its time.
//   - A cancelled file dialog after an update loads nothing and writes
//     nothing to the phone.
//   - Closing: before the phone is at risk the window ends at once; while it
//     is at risk the user is asked, and "No" leaves the update to complete,
//     "Yes" stops it with the abort and end-of-link bytes and ends. A
//     question that the update's end made pointless goes away by itself.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/termination_signal.h"
#include "download/texts.h"
#include "serial/port_list.h"
#include "tests/support/image_builder.h"
#include "tests/support/virtual_phone_process.h"

namespace {

constexpr char kMarker[] = "CVLbootloaderVC_";
constexpr char kPhoneTail[] = "M418ZHTWA00100";                    // in the phone's boot loader
constexpr char kImageText[] = "CVLbootloaderVC_M418ZHTWA00101";    // the image's record
constexpr char kOlderRecord[] = "CVLbootloaderVC_M418ZHTWA00100";  // a phone updated before
constexpr std::size_t kFirstLength = 40000;                        // two blocks
constexpr std::size_t kSecondLength = 300;

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

using Clock = std::chrono::steady_clock;

double Ms_Between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

int Count_Log_Lines(const std::string& log, const std::string& text) {
    const auto lines = Read_Log_Lines(log);
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find(text) != std::string::npos;
    }));
}

// Index of the first log line at or after from that contains text, or -1.
int Log_Line_Index(const std::string& log, const std::string& text, int from = 0) {
    const auto lines = Read_Log_Lines(log);
    for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i) {
        if (lines[static_cast<std::size_t>(i)].find(text) != std::string::npos)
            return i;
    }
    return -1;
}

test_support::Image_Builder Test_Image() {
    test_support::Image_Builder builder;
    builder.version_text = test_support::Bytes(kImageText);
    builder.first.start = 0x00010000;
    builder.first.data = test_support::Random_Bytes(kFirstLength, 21);
    builder.second.start = 0x00200000;
    builder.second.data = test_support::Random_Bytes(kSecondLength, 22);
    return builder;
}

// Whether the phone's flash holds exactly the image's two regions.
bool Flash_Holds_Image(const std::string& flash_path, const test_support::Image_Builder& image) {
    const auto flash = Read_Flash_File(flash_path);
    return flash.has_value() && flash->size() == 2 && (*flash)[0].start == image.first.start &&
           (*flash)[0].bytes == image.first.data && (*flash)[1].start == image.second.start &&
           (*flash)[1].bytes == image.second.data;
}

// The user's choices without dialogs: this image, this phone's port.
void Point_At(TForm1& form, const test_support::Temp_Image_File& image,
              const Virtual_Phone_Process& phone) {
    form.OpenDialog1().Set_Show_Function(
        [path = Q(image.Path())](const QString&) { return std::optional<QString>(path); });
    form.Comport().Set_Port_Lister(Make_Fixed_Port_Lister({phone.device_path()}));
}

// What a close did: the questions asked and when the program would have
// ended.
struct Close_Record {
    QStringList questions;
    int exits = 0;
    Clock::time_point answered;
    Clock::time_point exited;
};

// Answers the stop question with answer (after the nested part, if any) and
// records it; the exit seam records the end instead of ending the test.
void Record_Closing(TForm1& form, Close_Record& record, bool answer,
                    std::function<void()> while_asked = {}) {
    form.Set_Stop_Question([&record, answer, while_asked](const QString& text) {
        record.questions << text;
        if (while_asked)
            while_asked();
        record.answered = Clock::now();
        return answer;
    });
    form.Set_Exit_Function([&record] {
        ++record.exits;
        record.exited = Clock::now();
    });
}

// Ends a test function with the phone's verdict on the host: stopped, it
// found no deviation from the protocol.
class Host_Verdict {
  public:
    Host_Verdict(Virtual_Phone_Process& phone, const Virtual_Phone_Files& files)
        : m_phone(phone), m_files(files) {}
    ~Host_Verdict() {
        m_phone.stop();
        const std::string deviations = Host_Deviations(m_files.deviations);
        if (!deviations.empty())
            QTest::qFail(deviations.c_str(), __FILE__, __LINE__);
    }
    Host_Verdict(const Host_Verdict&) = delete;
    Host_Verdict& operator=(const Host_Verdict&) = delete;

  private:
    Virtual_Phone_Process& m_phone;
    const Virtual_Phone_Files& m_files;
};

}  // namespace

class Window_Update_Test : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void first_run_then_next_run_update_the_phone();
    void event_loop_runs_while_the_phone_takes_its_time();
    void close_before_the_phone_is_at_risk_ends_at_once_data();
    void close_before_the_phone_is_at_risk_ends_at_once();
    void close_at_risk_answered_no_leaves_the_update_to_complete();
    void close_at_risk_answered_yes_stops_the_update();
    void question_goes_when_the_update_ends_under_it();

  private:
    // Clicks Download and checks what every completed run leaves; memo gets
    // the message area's lines (CR LF split; the time texts' line feeds too).
    void Run_Completed_Update(TForm1& form, const QString& expected_box, QStringList& memo);

    QTemporaryDir m_temp;
    QStringList m_boxes;
    bool m_timer1_ran_during_box = false;
};

void Window_Update_Test::initTestCase() {
    QVERIFY(m_temp.isValid());
    // The dump file (in the user's runtime directory) and every other
    // temporary file of this test stay here.
    qputenv("TMPDIR", m_temp.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", m_temp.path().toLocal8Bit());
}

void Window_Update_Test::Run_Completed_Update(TForm1& form, const QString& expected_box,
                                              QStringList& memo) {
    m_boxes.clear();
    auto* download = form.findChild<QPushButton*>("Download");
    auto* cancel = form.findChild<QPushButton*>("Cancel");
    auto* bar = form.findChild<QProgressBar*>("TeProgressBar1");
    QVERIFY(download != nullptr && cancel != nullptr && bar != nullptr);
    QTest::mouseClick(download, Qt::LeftButton);
    // The update runs on its own thread; the window's event loop shows it.
    QTRY_VERIFY_WITH_TIMEOUT(!form.Runner().Running(), 60000);

    QCOMPARE_EQ(m_boxes, QStringList{expected_box});
    QVERIFY(m_timer1_ran_during_box);
    QVERIFY(!form.Timer1().isActive());
    QVERIFY(download->isEnabled());
    QVERIFY(cancel->isEnabled());
    QVERIFY(!form.Comport().Is_Open());
    QVERIFY(bar->isHidden());
    QCOMPARE_EQ(bar->minimum(), 0);
    QCOMPARE_EQ(bar->maximum(), static_cast<int>(kFirstLength + kSecondLength));
    QCOMPARE_EQ(bar->value(), 0);  // set back as the last block was accepted
    // A completed update leaves no dump behind.
    const std::filesystem::path dumps =
        std::filesystem::path(m_temp.path().toStdString()) / "flashtool";
    if (std::filesystem::exists(dumps)) {
        for (const auto& entry : std::filesystem::directory_iterator(dumps))
            QVERIFY2(!entry.path().filename().string().starts_with("VANTREL"),
                     entry.path().c_str());
    }
    memo = Q(form.Memo_Text()).split("\r\n");
}

void Window_Update_Test::first_run_then_next_run_update_the_phone() {
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    Host_Verdict verdict(phone, files);
    std::string error;
    QVERIFY2(phone.start(files.args({"--tail-text", kPhoneTail}), &error), error.c_str());

    const test_support::Image_Builder builder = Test_Image();
    test_support::Temp_Image_File image(builder.Build());
    QVERIFY(image.Ok());

    TForm1 form;
    form.show();
    Point_At(form, image, phone);
    form.Set_Message_Box([&](const QString& text) {
        m_boxes << text;
        m_timer1_ran_during_box = form.Timer1().isActive();
    });
    auto* new_version = form.findChild<QLineEdit*>("VersionNameEdit");
    auto* old_version = form.findChild<QLineEdit*>("OldVersionNameEdit");
    QVERIFY(new_version != nullptr && old_version != nullptr);

    const QStringList found_lines = {Q(text::kSearching),
                                     Q(text::kPleaseWait),
                                     "",
                                     Q(text::kFoundPort) + Q(phone.device_path()),
                                     Q(text::kReadyToUpdate),
                                     ""};
    const QRegularExpression time_line(
        "^[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}$");

    // First run, in Chinese: the phone's record is erased.
    QStringList memo;
    Run_Completed_Update(form, Q(text::kUpdateOkZh), memo);
    if (QTest::currentTestFailed())
        return;
    QStringList expected = found_lines;
    expected << Q(notice::kFirstRun);
    QCOMPARE_EQ(memo.size(), expected.size() + 5);
    QCOMPARE_EQ(memo.mid(0, expected.size()), expected);
    QVERIFY(memo[7].startsWith(Q(text::kStartAtZh)));
    QVERIFY(time_line.match(memo[7].mid(Q(text::kStartAtZh).size())).hasMatch());
    QCOMPARE_EQ(memo[8], ".");
    QVERIFY(memo[9].startsWith(Q(text::kEndAtZh)));
    QCOMPARE_EQ(memo[10], ".");
    QCOMPARE_EQ(memo[11], "");  // the last line's own CR LF
    QCOMPARE_EQ(new_version->text(), QString(kImageText));
    QCOMPARE_EQ(old_version->text(), QString(kMarker) + kPhoneTail);  // from the dump

    QVERIFY(Wait_For_Log(files.log, "final-ack-sent", 5000));
    const auto flash = Read_Flash_File(files.flash);
    QVERIFY(flash.has_value());
    QCOMPARE_EQ(flash->size(), std::size_t{2});
    QCOMPARE_EQ((*flash)[0].start, builder.first.start);
    QVERIFY((*flash)[0].bytes == builder.first.data);
    QCOMPARE_EQ((*flash)[1].start, builder.second.start);
    QVERIFY((*flash)[1].bytes == builder.second.data);
    QCOMPARE_EQ(Count_Log_Lines(files.log, "dump-sent"), 1);

    // Cancelled in the dialog, which starts on the file chosen before:
    // nothing is loaded, the phone hears nothing, and the window is idle.
    QString started_on;
    int dialogs = 0;
    form.OpenDialog1().Set_Show_Function([&](const QString& current) {
        started_on = current;
        ++dialogs;
        return std::optional<QString>();
    });
    const std::size_t phone_lines = Read_Log_Lines(files.log).size();
    m_boxes.clear();
    QTest::mouseClick(form.findChild<QPushButton*>("Download"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Runner().Running(), 10000);
    QCOMPARE(dialogs, 1);
    QCOMPARE(started_on, Q(image.Path()));
    QCOMPARE(form.Runner().Last_Outcome(), Download_Outcome::kImageNotLoaded);
    QCOMPARE(form.Memo_Text(), std::string());
    QVERIFY(m_boxes.isEmpty());
    QVERIFY(form.findChild<QPushButton*>("Download")->isEnabled());
    QTest::qWait(300);
    QCOMPARE(Read_Log_Lines(files.log).size(), phone_lines);
    Point_At(form, image, phone);

    // Second run: the phone now holds the image's record.
    Run_Completed_Update(form, Q(text::kUpdateOkZh), memo);
    if (QTest::currentTestFailed())
        return;
    expected = found_lines;
    expected << Q(notice::kSameVersion);
    QCOMPARE_EQ(memo.mid(0, expected.size()), expected);
    QCOMPARE_EQ(memo.size(), expected.size() + 5);
    QCOMPARE_EQ(old_version->text(), QString(kImageText));
    QCOMPARE_EQ(Count_Log_Lines(files.log, "dump-sent"), 1);  // no second dump
    QVERIFY(Wait_For_Log(files.log, "final-ack-sent", 5000));
    QCOMPARE_EQ(Count_Log_Lines(files.log, "block-accepted"), 6);  // 3 blocks, twice
}

// A first run, paced at 115200 baud, on a phone that sends a dump block 15 s
// late and acknowledges the transfer 30 s late: a 20 ms timer on the window's
// thread keeps ticking throughout. The bound is generous for a loaded machine;
// the figure itself is printed.
void Window_Update_Test::event_loop_runs_while_the_phone_takes_its_time() {
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    Host_Verdict verdict(phone, files);
    std::string error;
    QVERIFY2(phone.start(files.args({"--baud", "115200", "--tail-text", kPhoneTail, "--fault",
                                     "dump-block@1:delay:15000", "--fault", "final:delay:30000"}),
                         &error),
             error.c_str());
    const test_support::Image_Builder builder = Test_Image();
    test_support::Temp_Image_File image(builder.Build());
    QVERIFY(image.Ok());
    TForm1 form;
    form.show();
    Point_At(form, image, phone);
    m_boxes.clear();
    form.Set_Message_Box([&](const QString& text) { m_boxes << text; });

    QEventLoop loop;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(20);
    Clock::time_point last_tick;
    double largest_gap_ms = 0;
    int ticks = 0;
    connect(&ticker, &QTimer::timeout, &loop, [&] {
        const Clock::time_point now = Clock::now();
        largest_gap_ms = std::max(largest_gap_ms, Ms_Between(last_tick, now));
        last_tick = now;
        ++ticks;
        if (!form.Runner().Running())
            loop.quit();
    });
    QTimer::singleShot(240000, &loop, &QEventLoop::quit);  // a hung update

    const Clock::time_point started = Clock::now();
    last_tick = started;
    ticker.start();
    QTest::mouseClick(form.findChild<QPushButton*>("Download"), Qt::LeftButton);
    loop.exec();
    ticker.stop();
    const double whole_s = Ms_Between(started, Clock::now()) / 1000;
    qInfo("largest gap between ticks of the 20 ms timer: %.1f ms (%d ticks in %.1f s)",
          largest_gap_ms, ticks, whole_s);

    QVERIFY(!form.Runner().Running());
    QCOMPARE_EQ(m_boxes, QStringList{Q(text::kUpdateOkZh)});
    QVERIFY(Flash_Holds_Image(files.flash, builder));
    // The phone did take its time, and the elapsed time counted it.
    QVERIFY(Log_Contains(files.log, "fault exchange=dump-block kind=delay"));
    QVERIFY(Log_Contains(files.log, "fault exchange=final kind=delay"));
    QVERIFY(whole_s >= 45);
    QVERIFY2(form.Panel().Elapsed_Seconds() >= 30,
             qPrintable(QString::number(form.Panel().Elapsed_Seconds())));
    QVERIFY2(largest_gap_ms <= 1000, qPrintable(QString("%1 ms").arg(largest_gap_ms)));
}

void Window_Update_Test::close_before_the_phone_is_at_risk_ends_at_once_data() {
    QTest::addColumn<QStringList>("phone_args");
    QTest::addColumn<QString>("wait_for_log");
    // A port that never answers: the search goes on pass after pass.
    QTest::newRow("phone search") << QStringList{"--appear-after", "600000"} << QString();
    // First run: the dump's first block comes 15 s late.
    QTest::newRow("boot-loader dump")
        << QStringList{"--tail-text", kPhoneTail, "--fault", "dump-block@1:delay:15000"}
        << QString("fault exchange=dump-block kind=delay");
}

// No question: the update stops within the port's stop latency, the program
// ends (temp.log, port closed) and the phone's record is untouched.
void Window_Update_Test::close_before_the_phone_is_at_risk_ends_at_once() {
    QFETCH(QStringList, phone_args);
    QFETCH(QString, wait_for_log);
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    Host_Verdict verdict(phone, files);
    std::vector<std::string> args = files.args();
    for (const QString& arg : phone_args)
        args.push_back(arg.toStdString());
    std::string error;
    QVERIFY2(phone.start(args, &error), error.c_str());
    test_support::Temp_Image_File image(Test_Image().Build());
    QVERIFY(image.Ok());
    TForm1 form;
    form.show();
    Point_At(form, image, phone);
    Close_Record record;
    Record_Closing(form, record, true);

    QTest::mouseClick(form.findChild<QPushButton*>("Download"), Qt::LeftButton);
    if (wait_for_log.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(Q(form.Memo_Text()).contains(Q(text::kPleaseWait)), 10000);
        QTest::qWait(1500);  // well into the search's passes
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(Log_Contains(files.log, wait_for_log.toStdString()), 20000);
    }
    QVERIFY(form.Runner().Running());
    QFile::remove("temp.log");

    const Clock::time_point asked = Clock::now();
    QVERIFY(form.close());
    const double ended_ms = Ms_Between(asked, record.exited);
    qInfo("close to program end: %.1f ms", ended_ms);
    QCOMPARE(record.exits, 1);
    QVERIFY(record.questions.isEmpty());
    QVERIFY2(ended_ms <= 200 + 1500, qPrintable(QString("%1 ms").arg(ended_ms)));
    QVERIFY(!form.Runner().Running());
    QVERIFY(!form.Comport().Is_Open());
    QVERIFY(QFileInfo("temp.log").isFile());
    QCOMPARE(QFileInfo("temp.log").size(), 0);
    QVERIFY(!Log_Contains(files.log, "record-written"));
}

// While a block's answer is awaited, closing asks in the window's language.
// Further close requests while the question is on screen (the close button,
// a termination signal) are refused; "No" leaves the update to complete, and
// a later close ends the program without asking.
void Window_Update_Test::close_at_risk_answered_no_leaves_the_update_to_complete() {
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    Host_Verdict verdict(phone, files);
    std::string error;
    // The phone keeps its half of the exchange however long the host waits.
    QVERIFY2(phone.start(files.args({"--record-text", kOlderRecord, "--idle-reset-ms", "600000",
                                     "--fault", "block@1:delay:4000"}),
                         &error),
             error.c_str());
    const test_support::Image_Builder builder = Test_Image();
    test_support::Temp_Image_File image(builder.Build());
    QVERIFY(image.Ok());
    TForm1 form;
    form.show();
    form.EnglishClick();
    Point_At(form, image, phone);
    m_boxes.clear();
    form.Set_Message_Box([&](const QString& text) { m_boxes << text; });
    const Close_On_Termination_Signal signals_close(form);
    QVERIFY(signals_close.Installed());
    bool signal_handled_while_asked = false;
    Close_Record record;
    Record_Closing(form, record, false, [&] {
        form.close();
        ::kill(::getpid(), SIGTERM);
        signal_handled_while_asked =
            QTest::qWaitFor([&] { return signals_close.Requests_Made() == 1; }, 10000);
    });

    QTest::mouseClick(form.findChild<QPushButton*>("Download"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Log_Contains(files.log, "fault exchange=block kind=delay"), 20000);
    QVERIFY(form.Runner().Stop_Would_Harm_Phone());
    QVERIFY(!form.close());
    QCOMPARE(record.questions, QStringList{Q(text::kStopQuestionEn)});
    QVERIFY(signal_handled_while_asked);
    QCOMPARE(record.exits, 0);
    QVERIFY(form.isVisible());

    QTRY_VERIFY_WITH_TIMEOUT(!form.Runner().Running(), 30000);
    QCOMPARE_EQ(m_boxes, QStringList{Q(text::kUpdateOkEn)});
    QVERIFY(Wait_For_Log(files.log, "final-ack-sent", 5000));
    QVERIFY(Flash_Holds_Image(files.flash, builder));
    QVERIFY(!Log_Contains(files.log, "transfer-aborted"));
    QCOMPARE(record.questions.size(), 1);
    QCOMPARE(record.exits, 0);

    QVERIFY(form.close());
    QCOMPARE(record.exits, 1);
    QCOMPARE(record.questions.size(), 1);
}

// A termination signal while the phone waits to be asked for a block again:
// the question comes (in Chinese), "Yes" stops the update at once. The
// exchange is cut short where the protocol has no byte to end it, so the host
// writes nothing more: the port is closed, temp.log written and the program
// ended, and the phone saw no byte of the host's that the protocol forbids.
void Window_Update_Test::close_at_risk_answered_yes_stops_the_update() {
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    Host_Verdict verdict(phone, files);
    std::string error;
    QVERIFY2(phone.start(
                 files.args({"--record-text", kOlderRecord, "--idle-reset-ms", "600000", "--fault",
                             "block@1:ask-again", "--fault", "resend-ack:delay:8000"}),
                 &error),
             error.c_str());
    test_support::Temp_Image_File image(Test_Image().Build());
    QVERIFY(image.Ok());
    TForm1 form;
    form.show();
    Point_At(form, image, phone);
    const Close_On_Termination_Signal signals_close(form);
    QVERIFY(signals_close.Installed());
    Close_Record record;
    Record_Closing(form, record, true);

    QTest::mouseClick(form.findChild<QPushButton*>("Download"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Log_Contains(files.log, "fault exchange=resend-ack kind=delay"),
                             20000);
    QVERIFY(form.Runner().Stop_Would_Harm_Phone());
    QFile::remove("temp.log");
    const int waiting_line = Log_Line_Index(files.log, "fault exchange=resend-ack");
    ::kill(::getpid(), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(record.exits, 1, 10000);

    const double stop_ms = Ms_Between(record.answered, record.exited);
    qInfo("answer \"yes\" to program end: %.1f ms", stop_ms);
    QCOMPARE(record.questions, QStringList{Q(text::kStopQuestionZh)});
    QVERIFY2(stop_ms <= 200 + 1500, qPrintable(QString("%1 ms").arg(stop_ms)));
    QCOMPARE(signals_close.Requests_Made(), 1);
    QVERIFY(!form.Runner().Running());
    QVERIFY(!form.Comport().Is_Open());
    QVERIFY(QFileInfo("temp.log").isFile());
    QCOMPARE(QFileInfo("temp.log").size(), 0);
    // Nothing after the stop: no abort, no closing byte, no transfer's end.
    QTest::qWait(500);
    QCOMPARE(Log_Line_Index(files.log, "transfer-aborted", waiting_line), -1);
    QCOMPARE(Log_Line_Index(files.log, "link-closed", waiting_line), -1);
    QVERIFY(!Log_Contains(files.log, "final-ack-sent"));
}

// The user closes the window while the phone is at risk and leaves the real
// question open; the update completes under it. The question goes away as
// "no", the completion box shows alone, and the window stays open.
void Window_Update_Test::question_goes_when_the_update_ends_under_it() {
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    Host_Verdict verdict(phone, files);
    std::string error;
    QVERIFY2(phone.start(files.args({"--record-text", kOlderRecord, "--idle-reset-ms", "600000",
                                     "--fault", "block@1:delay:3000"}),
                         &error),
             error.c_str());
    const test_support::Image_Builder builder = Test_Image();
    test_support::Temp_Image_File image(builder.Build());
    QVERIFY(image.Ok());
    TForm1 form;
    form.show();
    Point_At(form, image, phone);
    const auto question_shows = [] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(top) != nullptr && top->isVisible())
                return true;
        }
        return false;
    };
    QStringList boxes;
    bool question_under_box = true;
    form.Set_Message_Box([&](const QString& text) {
        boxes << text;
        question_under_box = question_shows();
    });
    Close_Record record;
    form.Set_Exit_Function([&record] { ++record.exits; });
    // The question's own event loop runs the update's calls; watch from there.
    bool question_seen = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, &form,
            [&] { question_seen = question_seen || question_shows(); });
    watch.start(20);

    QTest::mouseClick(form.findChild<QPushButton*>("Download"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Log_Contains(files.log, "fault exchange=block kind=delay"), 20000);
    QVERIFY(form.Runner().Stop_Would_Harm_Phone());
    QTimer::singleShot(0, &form, [&form] { form.close(); });
    QTRY_VERIFY_WITH_TIMEOUT(!form.Runner().Running(), 30000);
    QTRY_VERIFY(!question_shows());
    watch.stop();

    QVERIFY(question_seen);
    QCOMPARE(boxes, QStringList{Q(text::kUpdateOkZh)});
    QVERIFY(!question_under_box);
    QCOMPARE(record.exits, 0);
    QVERIFY(form.isVisible());
    QVERIFY(Wait_For_Log(files.log, "final-ack-sent", 5000));
    QVERIFY(Flash_Holds_Image(files.flash, builder));
    // Nothing at risk now: a close ends the program without asking.
    QVERIFY(form.close());
    QCOMPARE(record.exits, 1);
}

QTEST_MAIN(Window_Update_Test)
#include "window_update_test.moc"
