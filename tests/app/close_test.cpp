// The real program started and asked to close: it leaves an empty temp.log
// in its working directory and exits with code 0, and when temp.log cannot be
// created it says so on standard output and still exits with 0.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {

// True once the process catches SIGTERM, i.e. the program has reached the
// point where a termination signal becomes a close request of its window.
bool Catches_Sigterm(qint64 pid) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("SigCgt:"))
            continue;
        bool ok = false;
        const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
        return ok && (mask & (1ULL << (SIGTERM - 1))) != 0;
    }
    return false;
}

struct Run_Result {
    int exit_code = -1;
    QProcess::ExitStatus exit_status = QProcess::CrashExit;
    QByteArray standard_output;
};

// Starts flashtool in dir, waits for its window, asks it to close.
Run_Result Run_And_Close(const QString& dir) {
    QProcess program;
    program.setWorkingDirectory(dir);
    program.setProcessChannelMode(QProcess::SeparateChannels);
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

QTEST_MAIN(Close_Test)
#include "close_test.moc"
