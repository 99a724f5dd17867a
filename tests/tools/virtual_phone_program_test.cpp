// The virtual-phone program on a real pseudo-terminal, driven with raw bytes
// the way a host would: whole updates, files kept between runs, the line
// opened and closed many times, idle cost, and the switches that change the
// line's behaviour (silence, unplugging, late power-on, pacing, late replies).
// Each test ends with the phone's list of the host's deviations as expected:
// empty, unless the raw host leaves the protocol on purpose.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_pair.h"
#include "tests/support/virtual_phone_process.h"

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// The host side of the line: the pty slave in raw mode.
class Raw_Host {
  public:
    explicit Raw_Host(const std::string& path) {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd >= 0) {
            termios line{};
            tcgetattr(m_fd, &line);
            cfmakeraw(&line);
            tcsetattr(m_fd, TCSANOW, &line);
        }
    }
    ~Raw_Host() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    bool ok() const { return m_fd >= 0; }

    bool write_all(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t put = write(m_fd, bytes.data() + done, bytes.size() - done);
            if (put <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(put);
        }
        return true;
    }

    // Up to count bytes, whatever arrives within the limit. hung_up tells
    // whether the line went dead (the phone was unplugged).
    Bytes read_for(std::size_t count, int limit_ms, bool* hung_up = nullptr) {
        Bytes got;
        const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
        while (got.size() < count) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd fd{m_fd, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            std::uint8_t buffer[4096];
            ssize_t n = read(m_fd, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) {
                if (hung_up) {
                    *hung_up = true;
                }
                break;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    bool sync_cycle() {
        return write_all({0x58}) && read_for(1, 1000) == Bytes{0x58} && write_all({0xA3}) &&
               read_for(1, 3000) == Bytes{0x5C} && write_all({0xA5, 0x55}) &&
               read_for(1, 1000) == Bytes{0xAA};
    }

    bool handshake() {
        for (int cycle = 0; cycle < 20; ++cycle) {
            if (!sync_cycle()) {
                return false;
            }
        }
        return true;
    }

    // Handshake, record read and record write: ready for the announcement.
    bool link(const std::string& record) {
        return handshake() && write_all({0xE0}) && read_for(33, 2000).size() == 33 &&
               write_all({0xE1}) && read_for(1, 2000) == Bytes{0x5A} &&
               write_all(Bytes(record.begin(), record.end()));
    }

    bool send_block(const Bytes& data) {
        unsigned sum = std::accumulate(data.begin(), data.end(), 0u);
        Bytes bytes = data;
        bytes.push_back(static_cast<std::uint8_t>(sum >> 8));
        bytes.push_back(static_cast<std::uint8_t>(sum));
        return write_all(bytes);
    }

  private:
    int m_fd = -1;
};

Bytes Le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

Bytes Announcement(std::uint32_t start1, std::uint32_t length1, std::uint32_t start2,
                   std::uint32_t length2) {
    Bytes bytes = {0xDD, 0x02};
    for (std::uint32_t v : {start1, start1 + length1 - 1, start2, start2 + length2 - 1}) {
        Bytes field = Le32(v);
        bytes.insert(bytes.end(), field.begin(), field.end());
    }
    return bytes;
}

Bytes Pattern(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 31 + seed) ^ (i >> 9));
    }
    return bytes;
}

int Run_Status(const std::string& arguments) {
    std::string command =
        Virtual_Phone_Process::Executable_Path() + " " + arguments + " >/dev/null 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class VirtualPhoneProgram : public testing::Test {
  protected:
    void TearDown() override {
        phone.stop();
        EXPECT_EQ(Host_Deviations(files.deviations), expected_deviations);
    }

    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    std::string expected_deviations;
};

}  // namespace

TEST_F(VirtualPhoneProgram, WholeUpdateLandsInTheFlashFileAndTheRecordOutlivesTheRun) {
    const Bytes first = Pattern(70000, 1);  // three blocks, the last one short
    const Bytes second = Pattern(5000, 2);
    const std::string record = "CVLbootloaderVC_M418ZHTWA00200..";
    {
        ASSERT_TRUE(phone.start(files.args()));
        Raw_Host host(phone.device_path());
        ASSERT_TRUE(host.ok());
        ASSERT_TRUE(host.handshake());
        ASSERT_TRUE(host.write_all({0xE0}));
        Bytes answer = host.read_for(33, 2000);
        ASSERT_EQ(answer.size(), 33u);
        EXPECT_EQ(answer[0], 0x5A);

        ASSERT_TRUE(host.write_all({0xD6}));
        Bytes header = host.read_for(9, 2000);
        ASSERT_EQ(header, (Bytes{0x5A, 0, 0, 0, 8, 0, 0, 4, 0}));
        Bytes dump = host.read_for(8 * 1024, 5000);
        ASSERT_EQ(dump.size(), 8u * 1024);
        std::string text(dump.begin(), dump.begin() + 4096);
        EXPECT_NE(text.find("CVLbootloaderVC_M418ZHTWA00100"), std::string::npos);

        ASSERT_TRUE(host.write_all({0xE1}));
        ASSERT_EQ(host.read_for(1, 2000), Bytes{0x5A});
        ASSERT_TRUE(host.write_all(Bytes(record.begin(), record.end())));

        ASSERT_TRUE(host.write_all(Announcement(0x20000, 70000, 0x900000, 5000)));
        ASSERT_EQ(host.read_for(1, 200), Bytes{0x5A});
        ASSERT_TRUE(host.write_all({0xDE}));
        ASSERT_EQ(host.read_for(1, 2000), Bytes{0x5A});
        ASSERT_TRUE(host.write_all({0x00, 0x80, 0x00, 0x00}));
        ASSERT_EQ(host.read_for(1, 1000), Bytes{0x5A});
        for (const Bytes* region : {&first, &second}) {
            for (std::size_t offset = 0; offset < region->size(); offset += 32768) {
                auto end = std::min(region->size(), offset + 32768);
                ASSERT_TRUE(host.send_block(Bytes(region->begin() + static_cast<long>(offset),
                                                  region->begin() + static_cast<long>(end))));
                ASSERT_EQ(host.read_for(1, 10000), Bytes{0x69});
            }
        }
        ASSERT_EQ(host.read_for(1, 5000), Bytes{0x5A});
        ASSERT_TRUE(host.write_all({0x60}));
        ASSERT_TRUE(Wait_For_Log(files.log, "link-closed", 2000));
        EXPECT_EQ(phone.stop(), 0);
    }
    auto flash = Read_Flash_File(files.flash);
    ASSERT_TRUE(flash);
    ASSERT_EQ(flash->size(), 2u);
    EXPECT_EQ((*flash)[0].start, 0x20000u);
    EXPECT_EQ((*flash)[0].length, 70000u);
    EXPECT_EQ((*flash)[0].bytes, first);
    EXPECT_EQ((*flash)[1].start, 0x900000u);
    EXPECT_EQ((*flash)[1].bytes, second);

    // A new run with the same state file answers with the record written before.
    ASSERT_TRUE(phone.start(files.args()));
    Raw_Host host(phone.device_path());
    ASSERT_TRUE(host.handshake());
    ASSERT_TRUE(host.write_all({0xE0}));
    Bytes answer = host.read_for(33, 2000);
    ASSERT_EQ(answer.size(), 33u);
    EXPECT_EQ(std::string(answer.begin() + 1, answer.end()), record);
}

// Started with standard input and error closed and told to log to standard
// error, the phone keeps its pseudo-terminal off those descriptors: no log
// line travels the line as bytes of the host's or of the phone's.
TEST_F(VirtualPhoneProgram, ClosedStandardStreamsAreNotTakenByItsPseudoTerminal) {
    phone.closed_streams = {STDIN_FILENO, STDERR_FILENO};
    ASSERT_TRUE(phone.start(files.args({"--log", "-"})));
    Raw_Host host(phone.device_path());
    ASSERT_TRUE(host.ok());
    EXPECT_TRUE(host.handshake());
    EXPECT_TRUE(host.read_for(1, 300).empty()) << "bytes nobody asked for";
}

TEST_F(VirtualPhoneProgram, SurvivesTheHostOpeningAndClosingTheLineFiftyTimes) {
    ASSERT_TRUE(phone.start(files.args()));
    for (int i = 0; i < 50; ++i) {
        Raw_Host host(phone.device_path());
        ASSERT_TRUE(host.ok()) << "open " << i;
        if (i % 5 == 0) {
            ASSERT_TRUE(host.sync_cycle()) << "open " << i;
        }
    }
    Raw_Host host(phone.device_path());
    EXPECT_TRUE(host.sync_cycle());
}

TEST_F(VirtualPhoneProgram, IdlePhoneUsesAlmostNoCpu) {
    ASSERT_TRUE(phone.start(files.args()));
    {
        Raw_Host host(phone.device_path());  // opened and closed once, as a search does
        ASSERT_TRUE(host.sync_cycle());
    }
    const double before = phone.cpu_seconds();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(phone.cpu_seconds() - before, 0.2);
}

TEST_F(VirtualPhoneProgram, SilentEchoOnceThenAnsweringAgain) {
    ASSERT_TRUE(phone.start(files.args({"--fault", "sync-echo@1:silent"})));
    Raw_Host host(phone.device_path());
    ASSERT_TRUE(host.write_all({0x58}));
    EXPECT_TRUE(host.read_for(1, 300).empty());
    EXPECT_TRUE(host.sync_cycle());
    EXPECT_TRUE(Log_Contains(files.log, "fault exchange=sync-echo kind=silent"));
}

TEST_F(VirtualPhoneProgram, UnpluggedPhoneHangsUpTheLineAndComesBackOnANewDevice) {
    ASSERT_TRUE(
        phone.start(files.args({"--fault", "hangup:after-bytes:2", "--replug-after", "200"})));
    const std::string first_path = phone.device_path();
    {
        Raw_Host host(first_path);
        ASSERT_TRUE(host.write_all({0x58}));
        ASSERT_EQ(host.read_for(1, 1000), Bytes{0x58});
        ASSERT_TRUE(host.write_all({0xA3}));
        bool hung_up = false;
        EXPECT_TRUE(host.read_for(1, 2000, &hung_up).empty());
        EXPECT_TRUE(hung_up);
    }
    auto second_path = phone.next_device_path(3000);
    ASSERT_TRUE(second_path);
    Raw_Host host(*second_path);
    EXPECT_TRUE(host.sync_cycle());
    EXPECT_TRUE(Log_Contains(files.log, "hung-up"));
}

TEST_F(VirtualPhoneProgram, PhoneSwitchedOnLaterIgnoresTheHostUntilThen) {
    // The phone counts from its own start, some time between these two.
    const auto before = Clock::now();
    ASSERT_TRUE(phone.start(files.args({"--appear-after", "700"})));
    const auto after = Clock::now();
    Raw_Host host(phone.device_path());
    ASSERT_TRUE(host.write_all({0x58}));
    // Read while still switched off, the byte is dropped (and logged); read
    // only after switching on (a busy machine), it is answered.
    Bytes echo;
    const auto deadline = Clock::now() + 5s;
    while (echo.empty() && !Log_Contains(files.log, "not switched on yet") &&
           Clock::now() < deadline) {
        echo = host.read_for(1, 20);
    }
    if (echo.empty()) {
        ASSERT_TRUE(Log_Contains(files.log, "not switched on yet"));
        EXPECT_TRUE(host.read_for(1, 100).empty());  // dropped for good
        std::this_thread::sleep_until(after + 800ms);
        EXPECT_TRUE(host.sync_cycle());
    } else {
        EXPECT_EQ(echo, Bytes{0x58});
        EXPECT_GE(Clock::now() - before, 700ms) << "answered before it was switched on";
        EXPECT_TRUE(host.write_all({0xA3}) && host.read_for(1, 3000) == Bytes{0x5C} &&
                    host.write_all({0xA5, 0x55}) && host.read_for(1, 1000) == Bytes{0xAA});
    }
}

TEST_F(VirtualPhoneProgram, PacedLineIsNeverFasterThanItsBaudRate) {
    ASSERT_TRUE(phone.start(
        files.args({"--baud", "9600", "--dump-blocks", "1", "--dump-block-size", "1024"})));
    Raw_Host host(phone.device_path());
    const auto started = Clock::now();
    ASSERT_TRUE(host.write_all({0xD6}));
    Bytes dump = host.read_for(9 + 1024, 20000);
    const auto elapsed = Clock::now() - started;
    ASSERT_EQ(dump.size(), 9u + 1024);
    // 1033 bytes of 10 bits at 9600 baud take 1.076 s.
    EXPECT_GE(elapsed, 1000ms);
    // The dump was asked for without a handshake; the phone says so in its file.
    expected_deviations =
        "host byte 1, handshake: expected 0x58 (handshake cycle 1 of 20), came 0xD6\n";
}

TEST_F(VirtualPhoneProgram, LateFinalAcknowledgementArrivesLateButArrives) {
    ASSERT_TRUE(phone.start(files.args({"--fault", "final:late:600"})));
    Raw_Host host(phone.device_path());
    ASSERT_TRUE(host.link(std::string(32, 'R')));
    ASSERT_TRUE(host.write_all(Announcement(0, 16, 0x100, 0)));
    ASSERT_EQ(host.read_for(1, 1000), Bytes{0x5A});
    ASSERT_TRUE(host.write_all({0xDE}));
    ASSERT_EQ(host.read_for(1, 2000), Bytes{0x5A});
    ASSERT_TRUE(host.write_all({0x00, 0x80, 0x00, 0x00}));
    ASSERT_EQ(host.read_for(1, 1000), Bytes{0x5A});
    // Timed from the block's sending: the phone's 600 ms start no sooner,
    // however late this process reads the block's 0x69.
    const auto sent = Clock::now();
    ASSERT_TRUE(host.send_block(Pattern(16, 3)));
    ASSERT_EQ(host.read_for(1, 2000), Bytes{0x69});
    ASSERT_EQ(host.read_for(1, 5000), Bytes{0x5A});
    EXPECT_GE(Clock::now() - sent, 600ms);
}

TEST_F(VirtualPhoneProgram, RejectsBadSwitchesAndExitsAfterTheLastSession) {
    EXPECT_EQ(Run_Status("--help"), 0);
    EXPECT_EQ(Run_Status("--fault block:explode"), 2);
    EXPECT_EQ(Run_Status("--baud fast"), 2);
    EXPECT_EQ(Run_Status("--record-hex 12"), 2);

    ASSERT_TRUE(phone.start(files.args({"--sessions", "1"})));
    Raw_Host host(phone.device_path());
    ASSERT_TRUE(host.handshake());
    ASSERT_TRUE(host.write_all({0x60}));
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 500 && done == 0; ++i) {  // up to 5 s on a busy machine
        std::this_thread::sleep_for(10ms);
        done = waitpid(phone.pid(), &status, WNOHANG);
    }
    EXPECT_EQ(done, phone.pid());
}

// --tty: the phone on a terminal device that something else provides (here
// the slave of the test's own pty; in the USB guest a gadget's /dev/ttyGS0).
// Raw from the first byte, and a hang-up of the line is waited out quietly.
TEST_F(VirtualPhoneProgram, ServesAnExistingTtyAndWaitsOutItsHangUpWithoutSpinning) {
    Pty_Pair line;
    ASSERT_TRUE(line.ok());
    {
        // Cooked with echo, as a gadget's tty starts: the phone must make it raw.
        const int slave = open(line.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(slave, 0);
        termios cooked{};
        ASSERT_EQ(tcgetattr(slave, &cooked), 0);
        cooked.c_lflag |= ICANON | ECHO;
        ASSERT_EQ(tcsetattr(slave, TCSANOW, &cooked), 0);
        close(slave);
    }
    // Through a link of the test's own, taken away before the master is
    // closed: the phone, trying the line again, then never opens another
    // program's pty that gets the freed number (tests run side by side).
    const std::string link = files.directory.File("tty");
    ASSERT_EQ(symlink(line.slave_path().c_str(), link.c_str()), 0);
    ASSERT_TRUE(phone.start(files.args({"--tty", link})));
    EXPECT_EQ(phone.device_path(), link);
    const auto exchange = [&](Bytes sent, std::size_t answer, int limit_ms = 2000) {
        return line.Send(sent) ? line.Receive(answer, limit_ms) : Bytes{};
    };
    // The phone's echo alone (the line echoes nothing), well within the
    // phone's patience with a half-done exchange.
    EXPECT_EQ(exchange({0x58}, 2, 500), Bytes{0x58});
    EXPECT_EQ(exchange({0xA3}, 1), Bytes{0x5C});
    EXPECT_EQ(exchange({0xA5, 0x55}, 1), Bytes{0xAA});

    ASSERT_EQ(unlink(link.c_str()), 0);
    line.Close_Master();  // the provider pulls the cable: the device goes
    ASSERT_TRUE(Wait_For_Log(files.log, "line hung up", 5000));
    const double cpu_before = phone.cpu_seconds();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(phone.cpu_seconds() - cpu_before, 0.1);
    EXPECT_TRUE(Log_Contains(files.log, "cannot open the line"));

    // The phone cannot pull a cable it does not own.
    EXPECT_EQ(Run_Status("--tty /dev/null --fault block:hangup"), 2);
    EXPECT_EQ(Run_Status("--tty /dev/null --fault hangup:after-bytes:3"), 2);
    EXPECT_EQ(Run_Status("--tty /dev/null --replug-after 100"), 2);
    EXPECT_EQ(Run_Status("--tty /dev/null --unplugged"), 2);
    EXPECT_EQ(Run_Status("--tty /nonexistent/tty --exit-after 100"), 1);
}
