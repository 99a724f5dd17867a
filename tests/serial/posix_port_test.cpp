// The port object over the POSIX backend, on pseudo-terminals: the test plays the
// phone on the master side. Covers the port behaviours the boot-loader
// protocol relies on: exact-count reads under one deadline, the carried-over
// time-out, the purge on open, the port's state rules and large writes; and
// how the port is held and handed back: exclusive while held (a second copy
// is told who holds it), as found after close, never a non-terminal or the
// program's own terminal.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "bootloader/comport.h"
#include "download/download_command.h"
#include "download/message_renderer.h"
#include "tests/support/fake_progress_bar.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_directory.h"

namespace {

// Time limits are only ever checked for "not early" and "late only within a
// generous margin": the test machines are shared.
constexpr long long kLateMarginMs = 1500;

// The system backend with a count of the purges and closes it was asked for.
class Counting_Backend final : public Port_Backend {
  public:
    explicit Counting_Backend(int* purges, int* closes)
        : m_inner(Make_System_Backend()), m_purges(purges), m_closes(closes) {}
    Port_Open_Result Open(const std::string& name) override {
        if (Attached_Stop() != nullptr)
            m_inner->Attach_Stop(*Attached_Stop());
        return m_inner->Open(name);
    }
    void Close() override {
        ++*m_closes;
        m_inner->Close();
    }
    bool Set_Lines(std::int32_t baud) override { return m_inner->Set_Lines(baud); }
    Port_Io_Result Read(std::span<std::uint8_t> buffer, std::uint32_t deadline_ms) override {
        return m_inner->Read(buffer, deadline_ms);
    }
    Port_Io_Result Write(std::span<const std::uint8_t> buffer, std::uint32_t deadline_ms) override {
        return m_inner->Write(buffer, deadline_ms);
    }
    std::uint32_t Bytes_In_Queue() override { return m_inner->Bytes_In_Queue(); }
    bool Purge() override {
        ++*m_purges;
        return m_inner->Purge();
    }
    void Pause(std::int32_t ms) override {
        if (Attached_Stop() != nullptr)
            m_inner->Attach_Stop(*Attached_Stop());
        m_inner->Pause(ms);
    }

  private:
    std::unique_ptr<Port_Backend> m_inner;
    int* m_purges;
    int* m_closes;
};

class PosixPort : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal available";
        port = std::make_unique<Serial_Port>(std::make_unique<Counting_Backend>(&purges, &closes));
    }

    void Send(std::initializer_list<std::uint8_t> bytes) {
        ASSERT_TRUE(pty.Send(std::vector<std::uint8_t>(bytes)));
    }

    // Waits until the port sees count bytes queued (the pty moves bytes to
    // the slave side asynchronously).
    void Wait_For_Queue(std::uint32_t count) {
        const long long deadline = Pty_Pair::Now_Ms() + 2000;
        while (port->Bytes_In_Queue() < count && Pty_Pair::Now_Ms() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    Pty_Pair pty;
    int purges = 0;
    int closes = 0;
    std::unique_ptr<Serial_Port> port;
};

TEST_F(PosixPort, OpensRawEightNOneWithoutFlowControl) {
    // Start from a cooked line, as a freshly plugged device may have.
    termios cooked{};
    ASSERT_EQ(tcgetattr(pty.master_fd(), &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= ICRNL | IXON;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_cflag |= PARENB | CSTOPB;
    ASSERT_EQ(tcsetattr(pty.master_fd(), TCSANOW, &cooked), 0);

    ASSERT_TRUE(port->Open(pty.slave_path()));
    termios line{};
    ASSERT_EQ(tcgetattr(pty.master_fd(), &line), 0);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));

    // Bytes that a cooked line would translate or swallow pass unchanged both ways.
    const std::vector<std::uint8_t> awkward{'\r', '\n', 0x03, 0x11, 0x13, 0x00, 0xFF};
    ASSERT_TRUE(pty.Send(awkward));
    std::vector<std::uint8_t> got(awkward.size());
    ASSERT_TRUE(port->Read(got, 1000));
    EXPECT_EQ(got, awkward);
    ASSERT_TRUE(port->Write(awkward));
    EXPECT_EQ(pty.Receive(awkward.size(), 1000), awkward);
    EXPECT_EQ(port->Bytes_In_Queue(), 0u);  // nothing echoed back
}

TEST_F(PosixPort, ReadWaitsForExactlyTheCountUnderOneDeadline) {
    ASSERT_TRUE(port->Open(pty.slave_path()));

    // Short: 1 of 4 bytes arrives; false, with that byte delivered, and not before the deadline.
    Send({0x5A});
    std::array<std::uint8_t, 4> buffer{};
    long long start = Pty_Pair::Now_Ms();
    EXPECT_FALSE(port->Read(buffer, 300));
    long long elapsed = Pty_Pair::Now_Ms() - start;
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_GE(elapsed, 300);
    EXPECT_LT(elapsed, 300 + kLateMarginMs);

    // Long: 6 arrive for a read of 4; the other 2 stay queued for the next read.
    Send({1, 2, 3, 4, 5, 6});
    Wait_For_Queue(6);
    ASSERT_TRUE(port->Read(buffer, 1000));
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(port->Bytes_In_Queue(), 2u);
    std::array<std::uint8_t, 2> rest{};
    ASSERT_TRUE(port->Read(rest, 1000));
    EXPECT_EQ(rest, (std::array<std::uint8_t, 2>{5, 6}));

    // Bytes arriving in pieces, with gaps, still make one successful read.
    std::thread phone([&] {
        for (std::uint8_t b : {7, 8, 9, 10}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(80));
            pty.Send(std::span<const std::uint8_t>(&b, 1));
        }
    });
    start = Pty_Pair::Now_Ms();
    const bool ok = static_cast<bool>(port->Read(buffer, 3000));
    elapsed = Pty_Pair::Now_Ms() - start;
    phone.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{7, 8, 9, 10}));
    EXPECT_LT(elapsed, 3000);  // returns when complete, not at the deadline
}

TEST_F(PosixPort, ATimeOutStaysInForceForReadsThatPassZero) {
    ASSERT_TRUE(port->Open(pty.slave_path()));
    std::array<std::uint8_t, 1> byte{};
    EXPECT_FALSE(port->Read(byte, 250));
    const long long start = Pty_Pair::Now_Ms();
    EXPECT_FALSE(port->Read(byte, 0));
    const long long elapsed = Pty_Pair::Now_Ms() - start;
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 250 + kLateMarginMs);
}

TEST_F(PosixPort, OpenPurgesOnlyWhenBytesWait) {
    ASSERT_TRUE(port->Open(pty.slave_path()));
    EXPECT_EQ(purges, 0);
    port->Close();

    // Stale bytes from an earlier exchange are waiting when the port opens.
    Send({0xAA, 0xBB, 0xCC});
    ASSERT_TRUE(port->Open(pty.slave_path()));
    EXPECT_EQ(purges, 1);
    EXPECT_EQ(port->Bytes_In_Queue(), 0u);
    std::array<std::uint8_t, 1> byte{};
    EXPECT_FALSE(port->Read(byte, 100));
}

TEST_F(PosixPort, StateRules) {
    // A missing device: false, nothing held, the error kept.
    EXPECT_FALSE(port->Open("/dev/no-such-serial-port"));
    EXPECT_FALSE(port->Is_Open());
    EXPECT_EQ(port->Last_Open_Error(), ENOENT);

    // Everything on a closed port fails quietly.
    std::array<std::uint8_t, 2> buffer{};
    EXPECT_EQ(port->Bytes_In_Queue(), 0u);
    EXPECT_FALSE(port->Read(buffer, 50));
    EXPECT_FALSE(port->Write(buffer));
    EXPECT_FALSE(port->Purge());

    // Open while open releases the held port first, also when the new open fails.
    ASSERT_TRUE(port->Open(pty.slave_path()));
    EXPECT_EQ(port->Last_Open_Error(), 0);
    EXPECT_FALSE(port->Open("/dev/no-such-serial-port"));
    EXPECT_EQ(closes, 1);
    pollfd master{pty.master_fd(), POLLIN, 0};
    ASSERT_EQ(poll(&master, 1, 1000), 1);
    EXPECT_NE(master.revents & POLLHUP, 0) << "the old port is still held";

    // Close twice: the second does nothing.
    ASSERT_TRUE(port->Open(pty.slave_path()));
    port->Close();
    port->Close();
    EXPECT_FALSE(port->Is_Open());
    EXPECT_EQ(closes, 2);

    // A second report is refused.
    CComport com(Make_System_Backend(), Make_Fixed_Port_Lister({}));
    FakeProgressBar first, second;
    Progress_Bar_Renderer first_report(first), second_report(second);
    EXPECT_TRUE(com.Set_Report(&first_report));
    EXPECT_FALSE(com.Set_Report(&second_report));
}

TEST_F(PosixPort, HeldExclusivelyAgainstOtherPrograms) {
    ASSERT_TRUE(port->Open(pty.slave_path()));
    // The superuser passes an exclusive hold, so the other program runs as
    // an ordinary user when the tests run as root.
    ASSERT_EQ(chmod(pty.slave_path().c_str(), 0666), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        const int fd = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd < 0 && errno == EBUSY ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another program could open the held port";
}

// Runs body in a child process and gives its exit code (-1: it did not exit).
int In_Child(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0)
        _exit(body());
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

bool Same_Settings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b) && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// After a run the next program finds the port as this one found it: not held
// exclusively (an ordinary user opens it, and may lock it), with its old line
// settings.
TEST_F(PosixPort, AfterCloseThePortIsHandedBackAsItWasFound) {
    termios cooked{};
    ASSERT_EQ(tcgetattr(pty.master_fd(), &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= ICRNL;
    cfsetspeed(&cooked, B9600);
    ASSERT_EQ(tcsetattr(pty.master_fd(), TCSANOW, &cooked), 0);
    termios found{};
    ASSERT_EQ(tcgetattr(pty.master_fd(), &found), 0);

    ASSERT_TRUE(port->Open(pty.slave_path()));
    termios held{};
    ASSERT_EQ(tcgetattr(pty.master_fd(), &held), 0);
    EXPECT_FALSE(Same_Settings(held, found)) << "raw 115200 while held";
    port->Close();

    termios after{};
    ASSERT_EQ(tcgetattr(pty.master_fd(), &after), 0);
    EXPECT_TRUE(Same_Settings(after, found));
    ASSERT_EQ(chmod(pty.slave_path().c_str(), 0666), 0);
    const int code = In_Child([&] {
        // The superuser passes an exclusive hold: open as an ordinary user.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 2;
        const int fd = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return 1;
        int exclusive = 1;
        if (ioctl(fd, TIOCGEXCL, &exclusive) != 0 || exclusive != 0)
            return 3;
        return flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 4;
    });
    EXPECT_EQ(code, 0) << "1: refused, 3: still exclusive, 4: still locked";

    // The port object opens it again as before.
    ASSERT_TRUE(port->Open(pty.slave_path()));
}

// A second copy, even as root, is refused at once as "in use", and the
// message names the program that holds the port.
TEST_F(PosixPort, ASecondOpenWhileHeldIsRefusedAsInUseNamingTheHolder) {
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        close(ready[0]);
        close(release[1]);  // so that the parent's close ends the wait below
        auto backend = Make_System_Backend();
        const char opened = backend->Open(pty.slave_path()).opened ? 'y' : 'n';
        [[maybe_unused]] const ssize_t put = write(ready[1], &opened, 1);
        char byte = 0;
        [[maybe_unused]] const ssize_t got = read(release[0], &byte, 1);  // until released
        // Handed back as the program does on its way out. (One that dies
        // holding a pseudo-terminal leaves the exclusive mode behind for as
        // long as the other side is open; a USB port drops it with its last
        // holder.)
        backend->Close();
        _exit(0);
    }
    close(release[0]);
    char opened = 0;
    ASSERT_EQ(read(ready[0], &opened, 1), 1);
    ASSERT_EQ(opened, 'y');

    CComport com(Make_System_Backend(), Make_Fixed_Port_Lister({pty.slave_path()}));
    boot::Time_Limits limits;
    limits.search_pause = 1;
    com.Set_Time_Limits(limits);
    const long long start = Pty_Pair::Now_Ms();
    EXPECT_FALSE(com.Find_Phone(nullptr));
    EXPECT_LT(Pty_Pair::Now_Ms() - start, 21 * 100 + kLateMarginMs) << "no handshake was tried";
    EXPECT_EQ(com.Last_Open_Refusal(), Open_Refusal::kInUse);
    ASSERT_EQ(com.Refused_Ports().size(), 1u);
    EXPECT_EQ(com.Refused_Ports()[0].reason, Open_Refusal::kInUse);
    const std::vector<std::string> lines = Refused_Ports_Lines(com.Refused_Ports());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], pty.slave_path() + " is in use by posix_port_test (pid " +
                            std::to_string(holder) + "); close it and try again");

    close(release[1]);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(com.Open(pty.slave_path())) << "free again once the holder is gone";
}

// Another program holds the port exclusively (TIOCEXCL, without a lock):
// refused as in use even as root, whom the kernel lets past the hold, and the
// other program's hold is still in force afterwards.
TEST_F(PosixPort, AnotherProgramsExclusiveHoldIsNeitherPassedNorCleared) {
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        close(ready[0]);
        close(release[1]);
        const int fd = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char held = fd >= 0 && ioctl(fd, TIOCEXCL) == 0 ? 'y' : 'n';
        [[maybe_unused]] const ssize_t put = write(ready[1], &held, 1);
        char byte = 0;
        [[maybe_unused]] const ssize_t got = read(release[0], &byte, 1);  // until released
        int exclusive = 0;
        _exit(ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 1 ? 0 : 1);
    }
    close(ready[1]);
    close(release[0]);
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    ASSERT_EQ(held, 'y');

    const bool opened = port->Open(pty.slave_path());
    port->Close();
    EXPECT_FALSE(opened) << "a port held exclusively by another program was taken";
    EXPECT_EQ(port->Last_Open_Refusal(), Open_Refusal::kInUse);

    close(release[1]);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    close(ready[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other program's hold was cleared";
}

// Only terminal devices are ports, and never the terminal the program runs
// in: raw mode there would leave the user's shell unusable. Nothing of a
// refused path is changed.
TEST_F(PosixPort, RefusesWhatIsNoSerialPortAndItsOwnTerminal) {
    const test_support::Temp_Directory scratch("flashtool-port");
    const std::string file = scratch.File("file");
    const std::string fifo = scratch.File("fifo");
    std::FILE* plain = std::fopen(file.c_str(), "w");
    ASSERT_NE(plain, nullptr);
    std::fputs("text", plain);
    std::fclose(plain);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path :
         {file, fifo, scratch.Path().string(), std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(port->Open(path));
        EXPECT_EQ(port->Last_Open_Refusal(), Open_Refusal::kNotASerialPort);
    }
    struct stat status {};
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 4);

    // A session of its own whose terminal is a fresh pseudo-terminal.
    const int code = In_Child([] {
        // Its terminal hangs up when the pseudo-terminal goes at the end.
        if (setsid() < 0 || signal(SIGHUP, SIG_IGN) == SIG_ERR)
            return 64;
        Pty_Pair own;
        const int terminal = open(own.slave_path().c_str(), O_RDWR);  // becomes the terminal
        termios before{};
        if (terminal < 0 || tcgetsid(terminal) != getpid() || tcgetattr(terminal, &before) != 0)
            return 65;
        int failed = 0;
        auto backend = Make_System_Backend();
        for (const std::string& path : {std::string("/dev/tty"), own.slave_path()}) {
            failed <<= 1;
            const Port_Open_Result opened = backend->Open(path);
            if (opened.opened || opened.refusal != Open_Refusal::kOwnTerminal)
                failed |= 1;
        }
        termios after{};
        if (tcgetattr(terminal, &after) != 0 || !Same_Settings(before, after))
            failed |= 4;
        Pty_Pair other;  // another terminal is a port like any
        if (!backend->Open(other.slave_path()).opened)
            failed |= 8;
        return failed;
    });
    EXPECT_EQ(code, 0) << "2: /dev/tty, 1: its own pts taken; 4: its settings changed; "
                          "8: another pts refused";
}

// Started with standard streams closed, the port may land on descriptor 2:
// it is still a port, not the terminal the program runs in.
TEST_F(PosixPort, APortOnAStandardDescriptorIsNotTakenForTheOwnTerminal) {
    const int code = In_Child([&] {
        close(STDERR_FILENO);
        auto backend = Make_System_Backend();
        const Port_Open_Result opened = backend->Open(pty.slave_path());
        if (!opened.opened)
            return opened.refusal == Open_Refusal::kOwnTerminal ? 1 : 2;
        return fcntl(STDERR_FILENO, F_GETFD) != -1 ? 0 : 3;  // it is the port there
    });
    EXPECT_EQ(code, 0) << "1: refused as the own terminal, 2: refused, 3: not on descriptor 2";
}

// The stop pipe made readable by something else than a stop (here: it landed
// on standard output, and a line was printed into it) is emptied, never spun
// on: a read still sees the phone's byte, and a wait that times out costs
// next to no processor time.
TEST_F(PosixPort, AStopPipeThatTurnsReadableWithoutAStopIsEmptiedNotSpunOn) {
    const int code = In_Child([&] {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
        Serial_Port own(Make_System_Backend());
        if (own.Stop_Request().Wait_Descriptor() != STDIN_FILENO)
            return 64;  // the pipe did not land on the standard streams
        if (!own.Open(pty.slave_path()))
            return 65;
        std::thread phone([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            [[maybe_unused]] const ssize_t put = write(STDOUT_FILENO, "line\n", 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pty.Send(std::vector<std::uint8_t>{0x42});
        });
        std::array<std::uint8_t, 1> byte{};
        const bool got = static_cast<bool>(own.Read(byte, 3000));
        phone.join();
        if (!got || byte[0] != 0x42)
            return 1;
        rusage before{};
        rusage after{};
        getrusage(RUSAGE_SELF, &before);
        [[maybe_unused]] const ssize_t put = write(STDOUT_FILENO, "more\n", 5);
        own.Read(byte, 500);
        own.Delay(500);
        getrusage(RUSAGE_SELF, &after);
        const auto cpu_ms = [](const rusage& usage) {
            return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000LL +
                   (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
        };
        return cpu_ms(after) - cpu_ms(before) < 200 ? 0 : 2;
    });
    EXPECT_EQ(code, 0) << "1: the phone's byte was missed, 2: a wait spun";
}

TEST_F(PosixPort, LargeWriteIsTakenWhole) {
    ASSERT_TRUE(port->Open(pty.slave_path()));
    std::vector<std::uint8_t> block(32768);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<std::uint8_t> received;
    std::thread phone([&] { received = pty.Receive(block.size(), 10000); });
    EXPECT_TRUE(port->Write(block));
    phone.join();
    EXPECT_EQ(received, block);
}

TEST_F(PosixPort, UnpluggedPhoneEndsAWaitingReadPromptly) {
    ASSERT_TRUE(port->Open(pty.slave_path()));
    Send({0x42});
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Close_Master();
    });
    std::array<std::uint8_t, 4> buffer{};
    const long long start = Pty_Pair::Now_Ms();
    EXPECT_FALSE(port->Read(buffer, 5000));
    const long long elapsed = Pty_Pair::Now_Ms() - start;
    unplug.join();
    EXPECT_EQ(buffer[0], 0x42);
    EXPECT_LT(elapsed, 100 + kLateMarginMs);
    EXPECT_TRUE(port->Line_Hung_Up());
    EXPECT_EQ(port->Last_Io_End(), Io_End::kHungUp);
    EXPECT_EQ(port->Write(buffer).end, Io_End::kHungUp);
    // A new open forgets the hang-up.
    Pty_Pair fresh;
    ASSERT_TRUE(port->Open(fresh.slave_path()));
    EXPECT_FALSE(port->Line_Hung_Up());
}

// A stop requested from another thread (the window closing) or from a signal
// handler (Ctrl-C) ends whatever the port waits for well within 200 ms, and
// the bytes of a stopped exchange that must still go out do.
TEST_F(PosixPort, AStopEndsEveryWaitAtOnceButLetsTheLastBytesOut) {
    ASSERT_TRUE(port->Open(pty.slave_path()));
    const std::vector<std::uint8_t> big(4 << 20, 0x55);  // far more than the pty takes
    const std::vector<std::function<Io_End()>> waits = {
        [&] {
            std::array<std::uint8_t, 1> byte{};
            return port->Read(byte, 10000).end;
        },
        [&] { return port->Write(big).end; },
        [&] {
            port->Delay(10000);
            return Io_End::kInterrupted;
        },
    };
    for (std::size_t i = 0; i < waits.size(); ++i) {
        port->Clear_Stop();
        pty.Drain();
        long long requested_at = 0;
        // Taken before the closer starts its 150 ms, however late this
        // thread runs again.
        const long long start = Pty_Pair::Now_Ms();
        std::thread closer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            requested_at = Pty_Pair::Now_Ms();
            port->Request_Stop();
        });
        const Io_End end = waits[i]();
        const long long ended_at = Pty_Pair::Now_Ms();
        closer.join();
        EXPECT_EQ(end, Io_End::kInterrupted) << "wait " << i;
        EXPECT_GE(ended_at - start, 150) << "wait " << i;
        // 200 ms is the goal; a loaded machine gets the usual margin.
        EXPECT_LT(ended_at - requested_at, 200 + kLateMarginMs) << "wait " << i;
    }

    // The stop stays requested: a new wait ends at once, unless the bytes are
    // a stopped exchange's last (the abort and end-of-link bytes).
    pty.Drain();
    std::array<std::uint8_t, 1> byte{};
    EXPECT_EQ(port->Read(byte, 10000).end, Io_End::kInterrupted);
    {
        const Stop_Signal::Unstoppable last_bytes(port->Stop_Request());
        const std::array<std::uint8_t, 2> abort_and_end{0xA5, 0x60};
        EXPECT_TRUE(port->Write(abort_and_end));
    }
    EXPECT_EQ(pty.Receive(2, 1000), (std::vector<std::uint8_t>{0xA5, 0x60}));
}

// A write the other side never takes ends at its deadline, short, instead of
// blocking for good; the port object gives every write twice its wire time at
// the port's speed plus 5 s.
TEST_F(PosixPort, AWriteNobodyTakesEndsAtItsDeadline) {
    auto backend = Make_System_Backend();
    ASSERT_TRUE(backend->Open(pty.slave_path()).opened);
    ASSERT_TRUE(backend->Set_Lines(115200));
    const std::vector<std::uint8_t> big(4 << 20, 0x55);
    const long long start = Pty_Pair::Now_Ms();
    const Port_Io_Result written = backend->Write(big, 300);
    const long long elapsed = Pty_Pair::Now_Ms() - start;
    EXPECT_EQ(written.cause, Io_End::kTimedOut);
    EXPECT_LT(written.count, big.size());
    EXPECT_GE(elapsed, 300);
    EXPECT_LT(elapsed, 300 + kLateMarginMs);
    backend->Close();

    ASSERT_TRUE(port->Open(pty.slave_path()));  // 115200 bit/s: 10 bits a byte
    EXPECT_EQ(port->Write_Deadline_Ms(1), 5001u);
    EXPECT_EQ(port->Write_Deadline_Ms(32768), 5000u + 5689u);
    EXPECT_EQ(port->Write_Deadline_Ms(0), 5000u);
    ASSERT_TRUE(port->Set_Baud_Rate(9600));
    EXPECT_EQ(port->Write_Deadline_Ms(32768), 5000u + 68267u);
}

}  // namespace
