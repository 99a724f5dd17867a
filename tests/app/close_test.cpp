// The real program started and asked to close: it leaves an empty temp.log
// in its working directory and exits with code 0, and when temp.log cannot be
// created it says so on standard output and still exits with 0. Started
// under nohup or with its standard streams closed, it keeps SIGHUP ignored
// and puts /dev/null on the closed streams.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <functional>

namespace {

struct Run_Result {
    int exit_code = -1;
    QProcess::ExitStatus exit_status = QProcess::CrashExit;
    QByteArray standard_output;
};

// The signals /proc/<pid>/status lists in a mask ("SigIgn:", "SigCgt:").
qulonglong Signal_Mask(qint64 pid, const QByteArray& mask_name) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(mask_name))
            return line.mid(mask_name.size()).trimmed().toULongLong(nullptr, 16);
    }
    return 0;
}

// True once the process catches SIGTERM, i.e. the program has reached the
// point where a termination signal becomes a close request of its window.
bool Catches_Sigterm(qint64 pid) {
    return (Signal_Mask(pid, "SigCgt:") & (1ULL << (SIGTERM - 1))) != 0;
}

// Starts flashtool in dir, waits for its window, asks it to close. prepare
// runs in the child just before the program starts (a signal ignored, a
// stream closed); while_open runs once the window is up.
Run_Result Run_And_Close(const QString& dir, const std::function<void()>& prepare = {},
                         const std::function<void(QProcess&)>& while_open = {}) {
    QProcess program;
    program.setWorkingDirectory(dir);
    program.setProcessChannelMode(QProcess::SeparateChannels);
    if (prepare)
        program.setChildProcessModifier(prepare);
    program.start(FLASHTOOL_BINARY, QStringList{});
    Run_Result result;
    if (!program.waitForStarted(30000))
        return result;
    QElapsedTimer waited;
    waited.start();
    while (!Catches_Sigterm(program.processId()) && waited.elapsed() < 60000 &&
           program.state() == QProcess::Running) {
        QTest::qWait(20);
    }
    // Give the event loop time to show the window before the request.
    QTest::qWait(300);
    if (while_open)
        while_open(program);
    // A program that has ended already has no id: kill(0) would hit this test.
    if (program.processId() <= 0)
        return result;
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    if (!program.waitForFinished(60000)) {
        program.kill();
        program.waitForFinished();
        return result;
    }
    result.exit_code = program.exitCode();
    result.exit_status = program.exitStatus();
    result.standard_output = program.readAllStandardOutput();
    return result;
}

}  // namespace

class Close_Test : public QObject {
    Q_OBJECT
  private slots:
    void close_leaves_an_empty_temp_log();
    void uncreatable_temp_log_is_reported_and_exit_is_0();
    void hang_up_ignored_at_start_stays_ignored();
    void closed_standard_streams_are_given_dev_null();
};

void Close_Test::close_leaves_an_empty_temp_log() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile old_log(dir.filePath("temp.log"));
    QVERIFY(old_log.open(QIODevice::WriteOnly));
    old_log.write("left over from an earlier run\n");
    old_log.close();

    const Run_Result result = Run_And_Close(dir.path());
    QCOMPARE(result.exit_status, QProcess::NormalExit);
    QCOMPARE(result.exit_code, 0);
    QCOMPARE(result.standard_output, QByteArray());
    QFileInfo log(dir.filePath("temp.log"));
    QVERIFY(log.isFile());
    QCOMPARE(log.size(), 0);
}

void Close_Test::uncreatable_temp_log_is_reported_and_exit_is_0() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A directory of that name stops fopen even for root.
    QVERIFY(QDir(dir.path()).mkdir("temp.log"));

    const Run_Result result = Run_And_Close(dir.path());
    QCOMPARE(result.exit_status, QProcess::NormalExit);
    QCOMPARE(result.exit_code, 0);
    QCOMPARE(result.standard_output, QByteArray("File create failure.\n"));
    QVERIFY(QFileInfo(dir.filePath("temp.log")).isDir());
}

// Started under nohup, the window leaves SIGHUP ignored: the terminal going
// away does not close it. SIGTERM still does.
void Close_Test::hang_up_ignored_at_start_stays_ignored() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    bool ran_on = false;
    bool still_ignored = false;
    const Run_Result result = Run_And_Close(
        dir.path(), [] { ::signal(SIGHUP, SIG_IGN); },
        [&](QProcess& program) {
            const auto pid = static_cast<pid_t>(program.processId());
            if (pid <= 0)
                return;
            ::kill(pid, SIGHUP);
            ran_on = !program.waitForFinished(1000);
            still_ignored =
                (Signal_Mask(program.processId(), "SigIgn:") & (1ULL << (SIGHUP - 1))) != 0;
        });
    QVERIFY2(ran_on, "SIGHUP closed the window");
    QVERIFY(still_ignored);
    QCOMPARE(result.exit_status, QProcess::NormalExit);
    QCOMPARE(result.exit_code, 0);
}

// Started with its standard streams closed, the window puts /dev/null there
// before anything else can take those descriptors (and have the lines meant
// for standard output written into it).
void Close_Test::closed_standard_streams_are_given_dev_null() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList targets;
    const Run_Result result = Run_And_Close(
        dir.path(),
        [] {
            for (const int stream : {0, 1, 2})
                ::close(stream);
        },
        [&](QProcess& program) {
            for (const int stream : {0, 1, 2}) {
                targets << QFileInfo(QString("/proc/%1/fd/%2").arg(program.processId()).arg(stream))
                               .symLinkTarget();
            }
        });
    QCOMPARE(targets, (QStringList{"/dev/null", "/dev/null", "/dev/null"}));
    QCOMPARE(result.exit_status, QProcess::NormalExit);
    QCOMPARE(result.exit_code, 0);
}

QTEST_MAIN(Close_Test)
#include "close_test.moc"
