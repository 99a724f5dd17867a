// The window drives a real update: Form1 built offscreen, an image file handed
// to its open dialog, the virtual phone's pseudo-terminal as the only port, a
// click on Download, the completion box accepted. Run twice on one phone: the
// first run dumps the boot loader for the phone's record, the second does not.
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "bootloader/notices.h"
#include "download/texts.h"
#include "serial/port_list.h"
#include "tests/support/image_builder.h"
#include "tests/support/virtual_phone_process.h"

namespace {

constexpr char kMarker[] = "CVLbootloaderVC_";
constexpr char kPhoneTail[] = "M418ZHTWA00100";                  // in the phone's boot loader
constexpr char kImageText[] = "CVLbootloaderVC_M418ZHTWA00101";  // the image's record
constexpr std::size_t kFirstLength = 40000;                      // two blocks
constexpr std::size_t kSecondLength = 300;

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int Count_Log_Lines(const std::string& log, const std::string& text) {
    const auto lines = Read_Log_Lines(log);
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find(text) != std::string::npos;
    }));
}

}  // namespace

class Window_Update_Test : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void first_run_then_next_run_update_the_phone();

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
    // The dump file and every other temporary file of this test stay here.
    qputenv("TMPDIR", m_temp.path().toLocal8Bit());
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
    QVERIFY(
        !std::filesystem::exists(std::filesystem::path(m_temp.path().toStdString()) / "VANTREL"));
    memo = Q(form.Memo_Text()).split("\r\n");
}

void Window_Update_Test::first_run_then_next_run_update_the_phone() {
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    std::string error;
    QVERIFY2(phone.start(files.args({"--tail-text", kPhoneTail}), &error), error.c_str());

    test_support::Image_Builder builder;
    builder.version_text = test_support::Bytes(kImageText);
    builder.first.start = 0x00010000;
    builder.first.data = test_support::Random_Bytes(kFirstLength, 21);
    builder.second.start = 0x00200000;
    builder.second.data = test_support::Random_Bytes(kSecondLength, 22);
    test_support::Temp_Image_File image(builder.Build());
    QVERIFY(image.Ok());

    TForm1 form;
    form.show();
    form.OpenDialog1().Set_Show_Function(
        [&](const QString&) { return std::optional<QString>(Q(image.Path())); });
    form.Comport().Set_Port_Lister(Make_Fixed_Port_Lister({phone.device_path()}));
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
    phone.stop();
    const std::string deviations = Host_Deviations(files.deviations);
    QVERIFY2(deviations.empty(), deviations.c_str());
}

QTEST_MAIN(Window_Update_Test)
#include "window_update_test.moc"
