// bench_usb: the region transfer through the kernel's cdc_acm driver, inside
// the USB guest (scripts/bench runs it there with scripts/lib/usb-guest.sh).
// One gadget carries every figure, in the same run and in turns:
//   - the port object announcing and sending an image's two regions (the
//     update's own calls: Set_Regions, Progress_Init, Download_Regions) to a
//     minimal responder on the gadget's side (minimal_responder.c), with the
//     progress going to a front end the way the command-line tool's does;
//   - the reference: the same bytes written raw to the PC's side in blocks of
//     32 KiB, each followed by its 2-byte sum in a write of its own and
//     answered by one byte from a reader on the gadget's side that does
//     nothing else (the protocol's shape without the program);
//   - the same transfer to the virtual phone, whose own work under the
//     emulated processor hides the host's cost (for scale);
//   - the same bytes one way with no answers at all (for scale).
// The ratio reference / transfer has the goal 0.97. Then the system calls per
// block of the transfer's thread and of the raw client, counted by strace.
// Prints Markdown on standard output.
//
//   bench_usb [--rounds N] [--mib N] [--no-phone]
//   bench_usb --count transfer|raw --mib N --pc TTY --gadget TTY   (under strace)
//   bench_usb --pty   (the responder over a pseudo-terminal: a test)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/update/bench_process.h"
#include "bench/update/result_table.h"
#include "bootloader/comport.h"
#include "download/message_renderer.h"
#include "download/queued_view.h"
#include "download/view_call_queue.h"
#include "serial/port_backend.h"
#include "serial/port_list.h"
#include "tests/support/image_builder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/recording_view.h"
#include "tests/support/virtual_phone_process.h"
#include "usb_gadget.h"

namespace {

using bench::Clock;
using bench::Seconds_Since;
using test_support::Bytes;
using test_support::Image_Builder;
using test_support::Random_Bytes;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kBlock = 32768;
// The phone holds a record of ours one number lower: no first-run dump.
constexpr const char* kPhoneRecord = "CVLbootloaderVC_M418ZHTWA00100";
constexpr const char* kImageVersion = "CVLbootloaderVC_M418ZHTWA00101";
// The sizes the system calls are counted at: their difference leaves out
// what a run costs once (loading, opening, the announcement).
constexpr std::size_t kCountSmallMiB = 1;
constexpr std::size_t kCountLargeMiB = 4;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

Image_Builder Make_Image(std::size_t bytes) {
    Image_Builder image;
    image.version_text = Bytes(kImageVersion);
    image.first.start = 0x00010000;
    image.first.data = Random_Bytes(bytes - bytes / 4, 21);
    image.second.start = 0x02000000;
    image.second.data = Random_Bytes(bytes / 4, 22);
    return image;
}

std::size_t Blocks_Of(std::size_t bytes) {
    return (bytes + kBlock - 1) / kBlock;
}

// Raw and blocking; as_port: set as the port object sets its line
// (non-blocking, VMIN 0, DTR and RTS off).
int Open_Raw(const std::string& path, bool as_port = false) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | (as_port ? O_NONBLOCK : 0));
    termios line{};
    if (fd >= 0 && tcgetattr(fd, &line) == 0) {
        cfmakeraw(&line);
        line.c_cflag |= CLOCAL | CREAD;
        line.c_cc[VMIN] = as_port ? 0 : 1;
        line.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &line);
        int lines = TIOCM_DTR | TIOCM_RTS;
        if (as_port)
            ioctl(fd, TIOCMBIC, &lines);
    }
    return fd;
}

bool Write_All(int fd, const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t done = 0; done < count;) {
        const ssize_t put = write(fd, bytes + done, count - done);
        if (put < 0 && errno == EAGAIN) {
            pollfd room{fd, POLLOUT, 0};
            if (poll(&room, 1, 10000) != 1)
                return false;
            continue;
        }
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool Read_Exactly(int fd, std::size_t count) {
    std::uint8_t buffer[4096];
    for (std::size_t got = 0; got < count;) {
        const ssize_t part = read(fd, buffer, std::min(sizeof buffer, count - got));
        if (part <= 0)
            return false;
        got += static_cast<std::size_t>(part);
    }
    return true;
}

// The minimal responder on the gadget's side, from its start (once its tty
// is open and raw) until it is stopped.
class Responder_Process {
  public:
    ~Responder_Process() { Stop(); }

    // tty: the line's path, or "-" for line_fd, given as its standard input.
    bool Start(const std::string& tty, int line_fd = -1) {
        int ready[2];
        if (pipe(ready) != 0)
            return false;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(ready[1], STDOUT_FILENO);
            if (line_fd >= 0)
                dup2(line_fd, STDIN_FILENO);
            close(ready[0]);
            close(ready[1]);
            execl(MINIMAL_RESPONDER_PATH, MINIMAL_RESPONDER_PATH, tty.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        char line[8] = {};
        const bool started =
            m_pid > 0 && read(ready[0], line, 6) == 6 && std::strncmp(line, "ready\n", 6) == 0;
        close(ready[0]);
        if (!started)
            Stop();
        return started;
    }

    void Stop() {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

  private:
    pid_t m_pid = -1;
};

// How the raw client sends: one way only; each block answered; or each
// block answered with the port object's extra system calls made beside the
// same writes and read (a clock reading before each write, two before the
// read and one for the progress, and a poll of the line and a stop pipe
// before the read), or each block's sum computed as the port object does
// (not zeros), to tell how much of the transfer's time either is.
// kAnsweredAsPort: those calls on a line set as the port object sets it.
enum class Raw_Shape {
    kOneWay,
    kAnswered,
    kAnsweredWithPortCalls,
    kAnsweredAsPort,
    kAnsweredWithSums
};

// Who answers on the gadget's side: a reader thread in this process that
// does nothing else, or the minimal responder (a process of its own, as for
// the transfer), to which the raw client first speaks the announcement, the
// download command and the block size with plain writes and reads.
enum class Gadget_Side { kReaderThread, kResponder };

void Read_Clock() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
}

// One byte, waiting for it first (the line may be non-blocking).
bool Read_One(int fd, std::uint8_t& byte) {
    pollfd line{fd, POLLIN, 0};
    return poll(&line, 1, 10000) == 1 && read(fd, &byte, 1) == 1;
}

bool Exchange(int fd, const std::vector<std::uint8_t>& bytes) {
    std::uint8_t answer = 0;
    return Write_All(fd, bytes.data(), bytes.size()) && Read_One(fd, answer) && answer == 0x5A;
}

void Put_32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The image's bytes from the PC's side to the gadget's in blocks of each
// region, unless one way each followed by a 2-byte sum (zeros) in a write of
// its own and answered by one byte. Seconds, 0 on failure.
double Raw_Copy(const std::string& pc_side, const std::string& gadget_side,
                const Image_Builder& image, Raw_Shape shape, Gadget_Side side) {
    const bool answer_each = shape != Raw_Shape::kOneWay;
    const bool port_calls =
        shape == Raw_Shape::kAnsweredWithPortCalls || shape == Raw_Shape::kAnsweredAsPort;
    const std::vector<std::uint8_t>* regions[] = {&image.first.data, &image.second.data};
    Responder_Process responder;
    if (side == Gadget_Side::kResponder && (!answer_each || !responder.Start(gadget_side)))
        return 0;
    int stop[2] = {-1, -1};
    if (port_calls && pipe(stop) != 0)
        return 0;
    const int gadget = side == Gadget_Side::kReaderThread ? Open_Raw(gadget_side) : -1;
    const int pc = Open_Raw(pc_side, shape == Raw_Shape::kAnsweredAsPort);
    const auto close_all = [&] {
        for (const int fd : {gadget, pc, stop[0], stop[1]}) {
            if (fd >= 0)
                close(fd);
        }
    };
    if (pc < 0 || (side == Gadget_Side::kReaderThread && gadget < 0)) {
        close_all();
        return 0;
    }
    bool reader_ok = true;
    const auto start = Clock::now();
    std::thread reader;
    if (side == Gadget_Side::kReaderThread) {
        reader = std::thread([&] {
            for (const auto* region : regions) {
                for (std::size_t done = 0; done < region->size() && reader_ok;) {
                    const std::size_t want = std::min(kBlock, region->size() - done);
                    const std::uint8_t accepted = 0x69;
                    reader_ok = Read_Exactly(gadget, want + (answer_each ? 2 : 0)) &&
                                (!answer_each || write(gadget, &accepted, 1) == 1);
                    done += want;
                }
            }
        });
    }
    bool ok = true;
    if (side == Gadget_Side::kResponder) {
        std::vector<std::uint8_t> announcement{0xDD, 0x02};
        Put_32(announcement, image.first.start);
        Put_32(announcement, image.first.End());
        Put_32(announcement, image.second.start);
        Put_32(announcement, image.second.End());
        std::vector<std::uint8_t> size;
        Put_32(size, kBlock);
        ok = Exchange(pc, announcement) && Exchange(pc, {0xDE}) && Exchange(pc, size);
    }
    std::uint8_t sum[2] = {0, 0};
    for (const auto* region : regions) {
        for (std::size_t done = 0; ok && done < region->size();) {
            const std::size_t block = std::min(kBlock, region->size() - done);
            if (port_calls)
                Read_Clock();
            ok = Write_All(pc, region->data() + done, block);
            if (shape == Raw_Shape::kAnsweredWithSums) {
                std::uint16_t total = 0;
                for (std::size_t i = done; i < done + block; ++i)
                    total = static_cast<std::uint16_t>(total + (*region)[i]);
                sum[0] = static_cast<std::uint8_t>(total >> 8);
                sum[1] = static_cast<std::uint8_t>(total);
            }
            if (ok && answer_each) {
                if (port_calls)
                    Read_Clock();
                ok = Write_All(pc, sum, 2);
                if (ok && port_calls) {
                    Read_Clock();
                    Read_Clock();
                    pollfd line[2] = {{pc, POLLIN, 0}, {stop[0], POLLIN, 0}};
                    ok = poll(line, 2, 10000) == 1;
                }
                std::uint8_t reply = 0;
                ok = ok && read(pc, &reply, 1) == 1;
                if (port_calls)
                    Read_Clock();
            }
            done += block;
        }
    }
    if (side == Gadget_Side::kResponder) {
        std::uint8_t final_ack = 0;
        ok = ok && Read_One(pc, final_ack) && final_ack == 0x5A;
    } else {
        reader.join();
    }
    const double seconds = Seconds_Since(start);
    close_all();
    return ok && reader_ok ? seconds : 0;
}

// The update's progress as the command-line tool's flash receives it: the
// download command's report (a fan-out to Message_Renderer) drawing on a
// Queued_View, whose calls a front-end thread runs as Update_Runner::Wait
// does. The transfer's thread only stores the latest position for it.
class Front_End {
  public:
    Front_End()
        : m_thread([this] {
              while (!m_done.load())
                  m_queue.Wait_And_Run(std::chrono::milliseconds(100));
          }) {
        m_report.Add(&m_renderer);
    }
    ~Front_End() {
        m_done.store(true);
        m_queue.Close();
        m_thread.join();
    }
    Front_End(const Front_End&) = delete;
    Front_End& operator=(const Front_End&) = delete;

    report::Update_Observer& Report() { return m_report; }

  private:
    Recording_View m_window;
    View_Call_Queue m_queue;
    Queued_View m_queued{m_window, m_queue};
    Message_Renderer m_renderer{m_queued};
    report::Update_Fan_Out m_report;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

struct Transfer_Cost {
    double seconds = 0;  // 0: it failed
    double host_cpu = 0, phone_cpu = 0;
};

double Process_Cpu_Seconds() {
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
}

// The update's calls for the transfer on an open port: Set_Regions,
// Progress_Init, Download_Regions, timed from the announcement to the final
// acknowledgement.
double Send_Regions(CComport& port, const Image_Builder& image) {
    const Image_Region first{image.first.start, image.first.End(),
                             static_cast<std::uint32_t>(image.first.data.size())};
    const Image_Region second{image.second.start, image.second.End(),
                              static_cast<std::uint32_t>(image.second.data.size())};
    const auto start = Clock::now();
    const bool sent = boot::Code(port.Set_Regions(first, second)) == 0 &&
                      port.Progress_Init(first.Length + second.Length) &&
                      boot::Code(port.Download_Regions(
                          first, second, {image.first.data.data(), image.second.data.data()})) == 0;
    const double seconds = Seconds_Since(start);
    return sent ? seconds : 0;
}

// The transfer to the minimal responder on the gadget's side (Start's
// gadget_side and line_fd). Seconds, 0 on failure.
// Without a front end no report is attached, for scale.
double Responder_Transfer(const std::string& pc_side, const std::string& gadget_side,
                          const Image_Builder& image, int line_fd = -1,
                          bool with_front_end = true) {
    Responder_Process responder;
    if (!responder.Start(gadget_side, line_fd))
        return 0;
    std::optional<Front_End> front_end;
    CComport port(Make_System_Backend(), Make_Fixed_Port_Lister({pc_side}));
    if (with_front_end)
        port.Set_Report(&front_end.emplace().Report());
    if (!port.Open(pc_side))
        return 0;
    const double seconds = Send_Regions(port, image);
    port.End_Link();
    port.Close();
    return seconds;
}

// The transfer to the virtual phone, which serves the gadget's side unpaced,
// after the search and the version record as an update makes them; with the
// CPU time this program and the phone spent in the transfer.
Transfer_Cost Phone_Transfer(const std::string& pc_side, const std::string& gadget_side,
                             const Image_Builder& image) {
    Transfer_Cost cost;
    // No --flash: the phone would rewrite its whole flash file after every
    // block (a test's bookkeeping, quadratic in the image), and under an
    // emulated processor that alone costs more than the transfer. The phone
    // checks every block's sum before it accepts it.
    Virtual_Phone_Process phone;
    if (!phone.start({"--tty", gadget_side, "--record-text", kPhoneRecord}))
        return cost;
    Front_End front_end;
    CComport port(Make_System_Backend(), Make_Fixed_Port_Lister({pc_side}));
    port.Set_Report(&front_end.Report());
    Version_Record image_version{};
    std::memcpy(image_version.data(), kImageVersion, std::strlen(kImageVersion));
    Version_Record phone_version{};
    Port_Candidate found;
    if (!port.Find_Phone(&found) || boot::Code(port.Read_Phone_Version(phone_version)) != 0 ||
        boot::Code(port.Write_Phone_Version(image_version)) != 0)
        return cost;
    const double host_cpu = Process_Cpu_Seconds();
    const double phone_cpu = phone.cpu_seconds();
    cost.seconds = Send_Regions(port, image);
    cost.host_cpu = Process_Cpu_Seconds() - host_cpu;
    cost.phone_cpu = phone.cpu_seconds() - phone_cpu;
    port.End_Link();
    port.Close();
    phone.stop();
    return cost;
}

// ---- System calls per block ----

// The calls of one run, by name, from strace -c's summary.
using Call_Counts = std::map<std::string, long>;

Call_Counts Read_Strace_Summary(const std::string& path) {
    Call_Counts counts;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        // "% time  seconds  usecs/call  calls  [errors]  syscall"
        if (words.size() < 5 || words[0] == "%" || words[0][0] == '-' || words.back() == "total")
            continue;
        counts[words.back()] += std::atol(words[3].c_str());
    }
    return counts;
}

// Where a --count run leaves its strace summary, and its seconds.
std::string Summary_File(const std::string& what, std::size_t mib) {
    return "/tmp/bench_usb." + what + "." + std::to_string(mib);
}
std::string Seconds_File(const std::string& what, std::size_t mib) {
    return Summary_File(what, mib) + ".seconds";
}

double Read_Seconds(const std::string& what, std::size_t mib) {
    double seconds = 0;
    std::ifstream(Seconds_File(what, mib)) >> seconds;
    return seconds;
}

// Runs this program's --count mode under strace -c: the initial thread
// alone is traced (no -f), the one that makes the transfer or the raw
// client's calls; the front end's thread, the raw copy's reader and the
// responder are not. Empty when strace is missing or the run failed.
Call_Counts Count_Calls(const std::string& self, const char* what, std::size_t mib,
                        const std::string& pc_side, const std::string& gadget_side) {
    const std::string out = Summary_File(what, mib);
    const std::string size = std::to_string(mib);
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("strace", "strace", "-c", "-o", out.c_str(), self.c_str(), "--count", what, "--mib",
               size.c_str(), "--pc", pc_side.c_str(), "--gadget", gadget_side.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return {};
    return Read_Strace_Summary(out);
}

struct Per_Block {
    double writes = 0, reads = 0, polls = 0, futex = 0;
    std::map<std::string, double> others;  // the other calls by name
};

Per_Block Calls_Per_Block(const Call_Counts& small, const Call_Counts& large, std::size_t blocks) {
    Per_Block per;
    Call_Counts names = small;
    names.insert(large.begin(), large.end());
    for (const auto& [name, unused] : names) {
        const auto count = [&](const Call_Counts& counts) {
            const auto at = counts.find(name);
            return at == counts.end() ? 0L : at->second;
        };
        const double each = static_cast<double>(count(large) - count(small)) / blocks;
        if (name == "write" || name == "writev")
            per.writes += each;
        else if (name == "read" || name == "readv")
            per.reads += each;
        else if (name == "poll" || name == "ppoll" || name == "select" || name == "pselect6")
            per.polls += each;
        else if (name == "futex")
            per.futex += each;
        else if (each != 0)
            per.others[name] = each;
    }
    return per;
}

std::string Number_Text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// The other calls, in all and by name: "2.00 (ioctl 1.00, lseek 1.00)".
std::string Others_Text(const Per_Block& per) {
    double sum = 0;
    std::string names;
    for (const auto& [name, each] : per.others) {
        sum += each;
        names += (names.empty() ? "" : ", ") + name + " " + Number_Text(each);
    }
    return Number_Text(sum) + (names.empty() ? "" : " (" + names + ")");
}

// The table of calls per block, program against raw client; a line saying
// why when they could not be counted.
void Print_Calls_Per_Block(const std::string& pc_side, const std::string& gadget_side) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return;
    const std::size_t blocks = Blocks_Of(kCountLargeMiB * kMiB) - Blocks_Of(kCountSmallMiB * kMiB);
    std::vector<Per_Block> columns;
    for (const char* what : {"transfer", "raw"}) {
        const Call_Counts small = Count_Calls(self, what, kCountSmallMiB, pc_side, gadget_side);
        const Call_Counts large = Count_Calls(self, what, kCountLargeMiB, pc_side, gadget_side);
        if (small.empty() || large.empty()) {
            std::printf(
                "\nSystem calls per block: not counted (strace missing or the %s run "
                "failed under it).\n",
                what);
            return;
        }
        columns.push_back(Calls_Per_Block(small, large, blocks));
    }
    const std::size_t large_blocks = Blocks_Of(kCountLargeMiB * kMiB);
    std::printf(
        "\nSystem calls per block on the sending thread (strace -c of that thread "
        "alone, a %zu MiB run less a %zu MiB run, over the %zu blocks between):\n\n",
        kCountLargeMiB, kCountSmallMiB, blocks);
    std::printf(
        "| Calls per block | region transfer (port object) | raw client, sum written "
        "separately |\n|---|---|---|\n");
    const std::pair<const char*, double Per_Block::*> rows[] = {
        {"write", &Per_Block::writes},
        {"read", &Per_Block::reads},
        {"poll", &Per_Block::polls},
        {"futex", &Per_Block::futex},
    };
    for (const auto& [name, member] : rows)
        std::printf("| %s | %s | %s |\n", name, Number_Text(columns[0].*member).c_str(),
                    Number_Text(columns[1].*member).c_str());
    std::printf("| other | %s | %s |\n", Others_Text(columns[0]).c_str(),
                Others_Text(columns[1]).c_str());
    std::printf(
        "\nA difference of two runs is exact for calls made once a block; calls made "
        "once a run may differ by one between the runs (a hundredth a block). The "
        "transfer's futex calls are the progress bar's posts to the front end, at most "
        "one each 50 ms, so their count per block follows a block's time: under strace "
        "a block took %.1f ms (the raw client's %.1f ms).\n",
        Read_Seconds("transfer", kCountLargeMiB) * 1000 / large_blocks,
        Read_Seconds("raw", kCountLargeMiB) * 1000 / large_blocks);
}

// --pty: the transfer to the responder over a pseudo-terminal, outside the
// guest: whether the responder and the port object agree on the protocol
// (the test bench.usb_responder.pty). The first region ends in a block of one
// byte, which a region's length taken one short would leave out.
int Pty_Check() {
    Pty_Pair line;
    if (!line.ok())
        return 1;
    const double seconds =
        Responder_Transfer(line.slave_path(), "-", Make_Image(kMiB + 1), line.master_fd());
    std::printf("region transfer to the minimal responder over %s: %s\n", line.slave_path().c_str(),
                seconds > 0 ? "done" : "FAILED");
    return seconds > 0 ? 0 : 1;
}

// --count: one run of the transfer or of the raw client and nothing else.
// Its seconds go to the file Seconds_File names.
int Count_Run(const std::string& what, std::size_t mib, const std::string& pc_side,
              const std::string& gadget_side) {
    const Image_Builder image = Make_Image(mib * kMiB);
    double seconds = 0;
    if (what == "transfer")
        seconds = Responder_Transfer(pc_side, gadget_side, image);
    else if (what == "raw")
        seconds =
            Raw_Copy(pc_side, gadget_side, image, Raw_Shape::kAnswered, Gadget_Side::kResponder);
    std::ofstream(Seconds_File(what, mib)) << seconds << "\n";
    return seconds > 0 ? 0 : 1;
}

std::string Rate_Text(double seconds, std::size_t bytes) {
    char text[64];
    if (seconds <= 0)
        return "FAILED";
    std::snprintf(text, sizeof text, "%.3f s (%.1f MiB/s)", seconds,
                  static_cast<double>(bytes) / seconds / kMiB);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 3;
    std::size_t mib = 4;
    bool with_phone = true;
    bool pty = false;
    std::string count, pc_side, gadget_side;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--no-phone" || option == "--pty") {
            with_phone = with_phone && option != "--no-phone";
            pty = pty || option == "--pty";
            continue;
        }
        if (option == "--rounds")
            rounds = std::max(1, std::atoi(value));
        else if (option == "--mib")
            mib = static_cast<std::size_t>(std::max(1, std::atoi(value)));
        else if (option == "--count")
            count = value;
        else if (option == "--pc")
            pc_side = value;
        else if (option == "--gadget")
            gadget_side = value;
        ++i;
    }
    if (!count.empty())
        return Count_Run(count, mib, pc_side, gadget_side);
    if (pty)
        return Pty_Check();

    usb_rig::Usb_Gadget gadget{usb_rig::Gadget_Spec{}};
    if (!gadget.Made() || !gadget.Plug()) {
        std::fprintf(stderr, "bench_usb: no gadget: %s\n", gadget.Error().c_str());
        return 1;
    }
    pc_side = gadget.Wait_For_Host_Tty();
    gadget_side = gadget.Phone_Tty();
    if (pc_side.empty()) {
        std::fprintf(stderr, "bench_usb: cdc_acm made no tty\n");
        return 1;
    }

    const std::size_t bytes = mib * kMiB;
    const Image_Builder image = Make_Image(bytes);

    std::vector<double> transfer, answered, by_thread, phone, one_way, with_calls, as_port,
        with_sums, unreported;
    Transfer_Cost last;
    for (int round = 0; round < rounds; ++round) {
        std::fprintf(stderr, "bench_usb: round %d of %d\n", round + 1, rounds);
        // The goal's pair back to back, each first in every other round.
        const auto reference = [&] {
            answered.push_back(Raw_Copy(pc_side, gadget_side, image, Raw_Shape::kAnswered,
                                        Gadget_Side::kResponder));
        };
        const auto measured = [&] {
            transfer.push_back(Responder_Transfer(pc_side, gadget_side, image));
        };
        if (round % 2 == 0) {
            reference();
            measured();
        } else {
            measured();
            reference();
        }
        with_calls.push_back(Raw_Copy(pc_side, gadget_side, image,
                                      Raw_Shape::kAnsweredWithPortCalls, Gadget_Side::kResponder));
        as_port.push_back(Raw_Copy(pc_side, gadget_side, image, Raw_Shape::kAnsweredAsPort,
                                   Gadget_Side::kResponder));
        unreported.push_back(Responder_Transfer(pc_side, gadget_side, image, -1, false));
        with_sums.push_back(Raw_Copy(pc_side, gadget_side, image, Raw_Shape::kAnsweredWithSums,
                                     Gadget_Side::kResponder));
        by_thread.push_back(Raw_Copy(pc_side, gadget_side, image, Raw_Shape::kAnswered,
                                     Gadget_Side::kReaderThread));
        if (with_phone) {
            last = Phone_Transfer(pc_side, gadget_side, image);
            phone.push_back(last.seconds);
        }
        one_way.push_back(
            Raw_Copy(pc_side, gadget_side, image, Raw_Shape::kOneWay, Gadget_Side::kReaderThread));
    }
    const double transfer_s = Median(transfer);
    const double answered_s = Median(answered);
    const bool ok = transfer_s > 0 && answered_s > 0 &&
                    std::find(transfer.begin(), transfer.end(), 0.0) == transfer.end();
    // The host's load moves a whole round: each ratio is the median of the
    // rounds' own ratios.
    const auto ratio_to = [&](const std::vector<double>& seconds) {
        std::vector<double> ratios;
        for (std::size_t i = 0; i < seconds.size() && i < answered.size(); ++i) {
            if (seconds[i] <= 0 || answered[i] <= 0)
                return 0.0;
            ratios.push_back(answered[i] / seconds[i]);
        }
        return Median(ratios);
    };
    const double goal_ratio = ratio_to(transfer);

    bench::Result_Table table;
    const std::string size = std::to_string(mib) + " MiB";
    table.Add({"region transfer " + size +
                   " through cdc_acm to the minimal responder (port object, progress to a "
                   "front end)",
               ok ? Rate_Text(transfer_s, bytes) : "FAILED",
               "raw client in 32 KiB blocks, the 2-byte sum written separately, each answered "
               "by one byte, to the same responder on the same gadget: " +
                   Rate_Text(answered_s, bytes),
               ok ? Number_Text(goal_ratio) : "-", ">= 0.97 (throughput)",
               ok && goal_ratio >= 0.97});
    const auto for_scale = [&](const std::string& name, const std::vector<double>& seconds) {
        const double median = Median(seconds);
        const double ratio = ratio_to(seconds);
        table.Add({name, Rate_Text(median, bytes), "the raw client above",
                   ratio > 0 ? Number_Text(ratio) : "-", "(for scale)", std::nullopt});
    };
    for_scale("the same region transfer with no report attached (no front end)", unreported);
    for_scale(
        "the raw client with the port object's extra calls per block beside its own (5 "
        "clock readings, 1 poll)",
        with_calls);
    for_scale(
        "the same on a line set as the port object sets it (non-blocking, VMIN 0, DTR "
        "and RTS off)",
        as_port);
    for_scale("the raw client computing each block's sum as the port object does", with_sums);
    for_scale("the raw client to a reader thread in this program instead of the responder",
              by_thread);
    if (with_phone)
        for_scale("region transfer " + size + " to the virtual phone (its own CPU included)",
                  phone);
    for_scale("raw copy " + size + " one way to a reader thread, no answers", one_way);
    if (with_phone)
        table.Note(
            "CPU time during the last round's transfer to the virtual phone: the "
            "program " +
            Number_Text(last.host_cpu) + " s, the virtual phone " + Number_Text(last.phone_cpu) +
            " s.");
    table.Note(
        "Inside the USB guest: one emulated processor (QEMU without KVM), the gadget on "
        "dummy_hcd, the gadget's side on /dev/ttyGS0 (minimal responder, raw reader or "
        "virtual phone) and the program on /dev/ttyACM0; " +
        std::to_string(rounds) +
        " rounds in turns, median times; each ratio is the median of the rounds' own "
        "ratios.");
    char per_block[160];
    std::snprintf(per_block, sizeof per_block,
                  "A block (32 KiB and its sum) took %.2f ms in the transfer, %.2f ms in the "
                  "raw client.",
                  transfer_s * 1000 / Blocks_Of(bytes), answered_s * 1000 / Blocks_Of(bytes));
    table.Note(per_block);
    table.Note(
        "The guest's clock is the HPET (scripts/lib/usb-guest.sh) and the vDSO "
        "does not read it: every clock reading here is a system call, as the table of "
        "calls below shows; on a host whose clock is the TSC it is none.");
    table.Note(
        "The progress goes as in flashtool-cli flash: the download command's "
        "Message_Renderer over a Queued_View, its calls run by a front-end thread "
        "waiting as Update_Runner::Wait does.");
    table.Print(stdout);
    Print_Calls_Per_Block(pc_side, gadget_side);
    return table.Any_Failed() ? 1 : 0;
}
