// The station window as the program builds it, on a station without
// phones: events sent from a station's thread become rows with their
// progress bars, Stop asks about the phones being rewritten, and the
// journal's records go to the line's server its settings name.
#include <libpq-fe.h>
#include <unistd.h>
#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <thread>

#include "app/station/station_settings_dialog.h"
#include "app/station/station_window.h"
#include "journal/journal_service.h"
#include "platform/shared_file.h"
#include "tests/reliability/update_rig.h"
#include "tests/support/fake_station.h"
#include "tests/support/image_builder.h"
#include "tests/support/postgres_server.h"

namespace {

using namespace test_support;

QPushButton* Button(Station_Window& window, const char* name) {
    return window.findChild<QPushButton*>(QString::fromLatin1(name));
}

// The sessions a line's server holds; -1 when it cannot be asked.
int Sessions_On(const std::string& conninfo) {
    PGconn* connection = PQconnectdb(conninfo.c_str());
    int count = -1;
    if (PQstatus(connection) == CONNECTION_OK) {
        PGresult* result = PQexec(connection, "SELECT count(*) FROM flashtool_sessions");
        if (PQresultStatus(result) == PGRES_TUPLES_OK)
            count = std::atoi(PQgetvalue(result, 0, 0));
        PQclear(result);
    }
    PQfinish(connection);
    return count;
}

// A phone's session, begun and ended, as a station's journal writes it.
void Journal_Phone(Journal_Writer& writer, int number) {
    Journal_Record record;
    record.id = New_Session_Id();
    record.started = "2026-12-10T07:00:00.000Z";
    record.host = platform::Host_Name();
    record.pid = getpid();
    record.process_start = platform::Process_Start_Token(record.pid);
    record.usb_serial = "SN-" + std::to_string(number);
    writer.Start(record);
    record.ended = "2026-12-10T07:00:06.000Z";
    record.result = "updated";
    writer.End(record);
}

}  // namespace

class Station_Window_Test : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void Rows_Show_The_Events_And_Stop_Asks();
    void A_Cancelled_Dialog_Leaves_Start_Off();
    void A_No_Keeps_Taking_Phones_And_The_Logs_Are_Where_Settings_Say();
    void The_Settings_Dialog_Chooses_The_Ports_And_Is_Remembered();
    void The_Journal_Goes_To_The_Server_Set_And_Waiting_Records_Are_Shown();

  private:
    QTemporaryDir m_home;  // the user's settings and data, for these tests alone
};

void Station_Window_Test::initTestCase() {
    QVERIFY(m_home.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("data"))));
}

void Station_Window_Test::Rows_Show_The_Events_And_Stop_Asks() {
    const Image_Builder image = reliability::Matching_Image(0x00010000, Random_Bytes(2000, 3),
                                                            0x00200000, Random_Bytes(200, 4));
    Temp_Image_File file(image.Build());
    auto shared = std::make_shared<Fake_Station::Shared>();
    Station_Window window(Fake_Station::Factory(shared), {});
    window.OpenDialog().Set_Show_Function([&file](const QString&) {
        return std::optional<QString>(QString::fromStdString(file.Path()));
    });
    window.show();

    QVERIFY(!Button(window, "Start")->isEnabled());
    QTest::mouseClick(Button(window, "OpenImage"), Qt::LeftButton);
    QVERIFY(Button(window, "Start")->isEnabled());
    QTest::mouseClick(Button(window, "Start"), Qt::LeftButton);
    QCOMPARE(shared->made, 1);
    QVERIFY(Button(window, "Stop")->isEnabled());
    QVERIFY(!Button(window, "OpenImage")->isEnabled());

    // As a station sends them: from its own thread, while the window runs.
    std::thread station([&shared] {
        shared->sink(Arrived(1, "/dev/ttyACM0", "SN-1"));
        shared->sink(Arrived(2, "/dev/ttyACM1", "SN-2"));
        shared->sink(Phase(2, Station_Phase::kRewriting, 2));
        shared->sink(Progress(2, 1100, 2200, 3));
        shared->sink(Phase(1, Station_Phase::kRewriting, 2));
        shared->sink(Progress(1, 2200, 2200, 4));
        shared->sink(Line(1, "更新完成!"));
        shared->sink(Finished(1, Download_Outcome::kUpdated));
    });
    station.join();
    QTableWidget& table = window.Table();
    QTRY_COMPARE(table.item(0, Station_Window::kResult) != nullptr &&
                     table.item(0, Station_Window::kResult)->text() == QStringLiteral("更新完成"),
                 true);
    QCOMPARE(table.rowCount(), 2);
    QCOMPARE(table.item(1, Station_Window::kPort)->text(), QStringLiteral("/dev/ttyACM1"));
    QCOMPARE(table.item(1, Station_Window::kIdentity)->text(), QStringLiteral("1d6b:0104 SN-2"));
    auto* bar = qobject_cast<QProgressBar*>(table.cellWidget(1, Station_Window::kProgress));
    QVERIFY(bar != nullptr);
    QCOMPARE(bar->value(), 50);
    QCOMPARE(qobject_cast<QProgressBar*>(table.cellWidget(0, Station_Window::kProgress))->value(),
             100);
    QVERIFY(window.Status_Text().contains(QStringLiteral("更新完成: 1  失敗: 0  進行中: 1")));
    // The selected phone's own messages, and a line that comes for it later.
    table.setCurrentCell(0, Station_Window::kPort);
    QCOMPARE(window.Phone_Log_Text(), QStringLiteral("更新完成!\n"));
    shared->sink(Line(1, "unplug it"));
    QTRY_COMPARE(window.Phone_Log_Text(), QStringLiteral("更新完成!\nunplug it\n"));
    table.setCurrentCell(1, Station_Window::kPort);
    QCOMPARE(window.Phone_Log_Text(), QString());

    // Stop while phone 2 is rewritten: the question names its port; "no"
    // keeps it going, and so does a close.
    shared->rewriting = {2};
    QStringList questions;
    bool answer = false;
    window.Set_Stop_Question([&](const QString& text) {
        questions << text;
        return answer;
    });
    QTest::mouseClick(Button(window, "Stop"), Qt::LeftButton);
    QCOMPARE(questions.size(), 1);
    QVERIFY(questions[0].contains(QStringLiteral("/dev/ttyACM1")));
    QVERIFY(!questions[0].contains(QStringLiteral("/dev/ttyACM0")));
    QCOMPARE(shared->stops, 0);
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QCOMPARE(questions.size(), 2);
    answer = true;
    QVERIFY(window.close());
    QCOMPARE(shared->stops, 1);
}

void Station_Window_Test::A_Cancelled_Dialog_Leaves_Start_Off() {
    auto shared = std::make_shared<Fake_Station::Shared>();
    Station_Window window(Fake_Station::Factory(shared), {.language = Language::kEnglish});
    int shown = 0;
    window.OpenDialog().Set_Show_Function([&shown](const QString&) {
        ++shown;
        return std::optional<QString>();
    });
    QCOMPARE(Button(window, "Start")->text(), QStringLiteral("Start"));
    QTest::mouseClick(Button(window, "OpenImage"), Qt::LeftButton);
    QCOMPARE(shown, 1);
    QVERIFY(!Button(window, "Start")->isEnabled());
    QVERIFY(!window.Model().Image_Loaded());
    QCOMPARE(shared->made, 0);
    QVERIFY(window.Status_Text().contains(QStringLiteral("No image chosen")));
}

// The log folder comes from the user's settings, else one in the user's
// data folder that is then remembered; Start says where the logs go. A "no"
// to the close question keeps the window open and the station taking
// phones, as its message area says.
void Station_Window_Test::A_No_Keeps_Taking_Phones_And_The_Logs_Are_Where_Settings_Say() {
    auto shared = std::make_shared<Fake_Station::Shared>();
    {
        QSettings().remove(QLatin1String(Station_Window::kLogFolderKey));
        Station_Window fresh(Fake_Station::Factory(shared), {});
        QVERIFY(fresh.Log_Folder().endsWith(QStringLiteral("/station-logs")));
        QVERIFY(fresh.Log_Folder().startsWith(m_home.filePath(QStringLiteral("data"))));
        QCOMPARE(QSettings().value(QLatin1String(Station_Window::kLogFolderKey)).toString(),
                 fresh.Log_Folder());
    }
    const QString logs = m_home.filePath(QStringLiteral("chosen-logs"));
    QSettings().setValue(QLatin1String(Station_Window::kLogFolderKey), logs);

    const Image_Builder image = reliability::Matching_Image(0x00010000, Random_Bytes(2000, 5),
                                                            0x00200000, Random_Bytes(200, 6));
    Temp_Image_File file(image.Build());
    Station_Window window(Fake_Station::Factory(shared), {});
    QCOMPARE(window.Log_Folder(), logs);
    window.OpenDialog().Set_Show_Function([&file](const QString&) {
        return std::optional<QString>(QString::fromStdString(file.Path()));
    });
    window.show();
    QTest::mouseClick(Button(window, "OpenImage"), Qt::LeftButton);
    QTest::mouseClick(Button(window, "Start"), Qt::LeftButton);
    QVERIFY(window.Message_Text().contains(QStringLiteral("記錄與摘要寫入 ") + logs));
    QCOMPARE(shared->observers.size(), std::size_t{1});

    std::thread station([&shared] {
        shared->sink(Arrived(1, "/dev/ttyACM0"));
        shared->sink(Phase(1, Station_Phase::kRewriting, 1));
    });
    station.join();
    QTRY_COMPARE(window.Table().rowCount(), 1);
    shared->rewriting = {1};
    window.Set_Stop_Question([](const QString&) { return false; });
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QCOMPARE(shared->harmless_stops, 0);
    QCOMPARE(shared->stops, 0);
    QVERIFY(window.Message_Text().contains(QStringLiteral("更新站仍會接受新手機")));
    QVERIFY(Button(window, "Stop")->isEnabled());
    shared->sink(Arrived(2, "/dev/ttyACM1"));
    QTRY_COMPARE(window.Table().rowCount(), 2);
}

// The settings dialog as a user fills it: a match that is no VID:PID keeps
// it open with the reason in the message area; a good choice reaches the next
// station, is remembered for the user, and the button is off while a station
// runs.
void Station_Window_Test::The_Settings_Dialog_Chooses_The_Ports_And_Is_Remembered() {
    const QString slots_path = m_home.filePath(QStringLiteral("slots_path.txt"));
    {
        QFile file(slots_path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1-1.3 = A3\n");
    }
    auto shared = std::make_shared<Fake_Station::Shared>();
    const Image_Builder image = reliability::Matching_Image(0x00010000, Random_Bytes(2000, 7),
                                                            0x00200000, Random_Bytes(200, 8));
    Temp_Image_File file(image.Build());
    {
        Station_Window window(Fake_Station::Factory(shared), {});
        window.show();
        bool stayed_open = false;
        QTimer::singleShot(0, &window, [&] {
            auto* dialog =
                qobject_cast<Station_Settings_Dialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog != nullptr);
            dialog->findChild<QLineEdit*>(QStringLiteral("Match"))
                ->setText(QStringLiteral("1d6b:0104, 0525:xyz"));
            dialog->accept();
            stayed_open = dialog->isVisible();
            dialog->findChild<QLineEdit*>(QStringLiteral("Match"))
                ->setText(QStringLiteral("1d6b:0104, 0525:*"));
            dialog->findChild<QLineEdit*>(QStringLiteral("SlotsFile"))->setText(slots_path);
            dialog->findChild<QCheckBox*>(QStringLiteral("OnlySlots"))->setChecked(true);
            dialog->accept();
        });
        QTest::mouseClick(Button(window, "Settings"), Qt::LeftButton);
        QVERIFY(stayed_open);
        QVERIFY(window.Message_Text().contains(QStringLiteral("0525:xyz")));
        QCOMPARE(window.Model().Port_Choice().match.size(), std::size_t{2});
    }
    Station_Window window(Fake_Station::Factory(shared), {});
    const Station_Port_Choice& remembered = window.Model().Port_Choice();
    QCOMPARE(remembered.match, (std::vector<std::string>{"1d6b:0104", "0525:*"}));
    QCOMPARE(QString::fromStdString(remembered.slots_file), slots_path);
    QVERIFY(remembered.only_slots);
    window.OpenDialog().Set_Show_Function([&file](const QString&) {
        return std::optional<QString>(QString::fromStdString(file.Path()));
    });
    QTest::mouseClick(Button(window, "OpenImage"), Qt::LeftButton);
    QTest::mouseClick(Button(window, "Start"), Qt::LeftButton);
    QCOMPARE(shared->made, 1);
    QCOMPARE(shared->options.filter.sockets.size(), std::size_t{1});
    QVERIFY(shared->options.filter.only_slots);
    QVERIFY(!Button(window, "Settings")->isEnabled());
}

void Station_Window_Test::The_Journal_Goes_To_The_Server_Set_And_Waiting_Records_Are_Shown() {
    test_support::Postgres_Server server;
    QVERIFY2(server.Running(), server.Error().c_str());
    std::shared_ptr<Journal_Service> journal = Journal_Service::Open(
        QFile::encodeName(m_home.filePath(QStringLiteral("line.sqlite"))).toStdString(),
        [](const std::string& line) { QFAIL(line.c_str()); });
    QVERIFY(journal != nullptr);
    auto shared = std::make_shared<Fake_Station::Shared>();
    Station_Window window(Fake_Station::Factory(shared), {});
    window.Follow_Journal(journal);
    window.show();

    // An address that is none is refused with the reason and never shown
    // with its password; the server then named is followed and remembered.
    const std::string conninfo = server.Conninfo();
    bool stayed_open = false;
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = qobject_cast<Station_Settings_Dialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("JournalServer"));
        QVERIFY(field != nullptr);
        field->setText(QStringLiteral("postgresql://line:s3cret@[::1/db"));
        dialog->accept();
        stayed_open = dialog->isVisible();
        field->setText(QString::fromStdString(conninfo));
        dialog->accept();
    });
    QTest::mouseClick(Button(window, "Settings"), Qt::LeftButton);
    QVERIFY(stayed_open);
    QVERIFY(window.Message_Text().contains(QStringLiteral("not a server address")));
    QVERIFY(!window.Message_Text().contains(QStringLiteral("s3cret")));
    QCOMPARE(QSettings().value(QLatin1String(Station_Window::kJournalServerKey)).toString(),
             QString::fromStdString(conninfo));

    for (int phone = 0; phone < 3; ++phone)
        Journal_Phone(journal->Writer(), phone);
    QTRY_COMPARE_WITH_TIMEOUT(Sessions_On(conninfo), 3, 20000);

    // The server goes away: the phones' records wait, the status line counts
    // them and the loss is said; when it is back, the next record takes them.
    server.Stop();
    Journal_Phone(journal->Writer(), 3);
    Journal_Phone(journal->Writer(), 4);
    QTRY_VERIFY_WITH_TIMEOUT(window.Status_Text().contains(QStringLiteral("2 筆記錄等待傳送")),
                             20000);
    QVERIFY(window.Message_Text().contains(QStringLiteral("cannot be reached")));
    QVERIFY(server.Start());
    Journal_Phone(journal->Writer(), 5);
    QTRY_COMPARE_WITH_TIMEOUT(Sessions_On(conninfo), 6, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!window.Status_Text().contains(QStringLiteral("筆記錄等待傳送")),
                             20000);
    QTRY_VERIFY(window.Message_Text().contains(QStringLiteral("is reached again")));
}

QTEST_MAIN(Station_Window_Test)
#include "station_window_test.moc"
