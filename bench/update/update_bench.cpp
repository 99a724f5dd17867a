// bench_update: what a whole update costs, end to end, through the virtual
// phone, each figure set against a reference measured in the same run:
//   - flashtool-cli updating a 256 KiB and a 1 MiB image over a line paced at
//     115200 baud, against the wire time of the image bytes (bytes x 10 / baud);
//   - the same unpaced, against a raw copy of the same bytes through a pty;
//   - the port object's own session (search, version, regions, blocks) over
//     the same line, timed per phase, with the bytes on the wire counted both
//     ways so the protocol's own share of the paced time can be read off;
//   - the phone search with no phone (a silent port, and no port at all),
//     against the bound that 21 passes and their time limits make;
//   - the search finding a phone on its first pass, against its floor;
//   - flashtool-cli's peak resident memory while updating a 16 MiB image.
// Prints one Markdown table (and notes) on standard output; progress on
// standard error.
//
//   bench_update [--quick] [--paced-256k-only] [--rounds N] [--cli PATH]
//
// --quick leaves out the two runs that take longest (the paced 1 MiB update,
// about 91 s, and the silent-port search, about 25 s).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bench/update/bench_process.h"
#include "bench/update/result_table.h"
#include "bootloader/comport.h"
#include "serial/port_backend.h"
#include "serial/port_list.h"
#include "tests/support/image_builder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/virtual_phone_process.h"

namespace {

using bench::Clock;
using bench::Load_Average;
using bench::Seconds_Since;
using test_support::Bytes;
using test_support::Image_Builder;
using test_support::Random_Bytes;
using test_support::Temp_Image_File;

constexpr double kBaud = 115200;
constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;
// The phone already holds a record of ours one number lower than the image's:
// the version check passes without the first-run dump of the boot loader.
constexpr const char* kPhoneRecord = "CVLbootloaderVC_M418ZHTWA00100";
constexpr const char* kImageVersion = "CVLbootloaderVC_M418ZHTWA00101";
// Waits the protocol makes whatever the line: the search's delay before its
// first pass and the settling time after the port is opened.
constexpr double kSearchDelayS = 0.100;
constexpr double kOpenSettleS = 0.100;
constexpr double kEchoLimitS = 1.000;
constexpr int kSearchPasses = 21;
constexpr int kHandshakeCycles = 20;
// Bytes in one handshake cycle, one after the other on the line: 0x58, its
// echo, 0xA3, 0x5C, 0xA5, 0x55, 0xAA.
constexpr int kBytesPerCycle = 7;

struct Options {
    bool quick = false;
    bool paced_only = false;  // only the paced 256 KiB update, to compare phone builds
    int rounds = 3;
    std::string cli = FLASHTOOL_CLI_PATH;
};

double Wire_Seconds(std::size_t bytes) {
    return static_cast<double>(bytes) * 10.0 / kBaud;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void Progress(const char* what) {
    std::fprintf(stderr, "bench_update: %s (load %s)\n", what, Load_Average().c_str());
}

// An image whose two regions hold `bytes` bytes in all, three quarters in the first.
Image_Builder Image_Of(std::size_t bytes) {
    Image_Builder image;
    image.version_text = Bytes(kImageVersion);
    image.first.start = 0x00010000;
    image.first.data = Random_Bytes(bytes - bytes / 4, 21);
    image.second.start = 0x02000000;
    image.second.data = Random_Bytes(bytes / 4, 22);
    return image;
}

std::vector<std::uint8_t> Image_Bytes(const Image_Builder& image) {
    std::vector<std::uint8_t> all = image.first.data;
    all.insert(all.end(), image.second.data.begin(), image.second.data.end());
    return all;
}

// The reference for an unpaced line: the same bytes written into the slave
// side of a raw pty while the other end drains it in 4 KiB reads, as the
// virtual phone reads.
double Raw_Pty_Copy(std::span<const std::uint8_t> bytes) {
    Pty_Pair pty;
    if (!pty.ok())
        return 0;
    const int slave = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return 0;
    const auto start = Clock::now();
    std::thread reader([&] {
        std::uint8_t buffer[4096];
        std::size_t total = 0;
        while (total < bytes.size()) {
            const ssize_t got = read(pty.master_fd(), buffer, sizeof buffer);
            if (got <= 0)
                return;
            total += static_cast<std::size_t>(got);
        }
    });
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t chunk = std::min<std::size_t>(32768, bytes.size() - done);
        const ssize_t put = write(slave, bytes.data() + done, chunk);
        if (put <= 0)
            break;
        done += static_cast<std::size_t>(put);
    }
    reader.join();
    const double seconds = Seconds_Since(start);
    close(slave);
    return seconds;
}

// The protocol's shape on the bare pty, without the program or the phone
// model: the same bytes in blocks of 32 KiB plus a 2-byte sum, each answered
// by one byte from a reader that does nothing else.
double Raw_Pty_Round_Trips(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kBlock = 32768;
    Pty_Pair pty;
    if (!pty.ok())
        return 0;
    const int slave = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return 0;
    const auto start = Clock::now();
    std::thread reader([&] {
        std::uint8_t buffer[4096];
        for (std::size_t done = 0; done < bytes.size();) {
            const std::size_t want = std::min(kBlock, bytes.size() - done) + 2;
            for (std::size_t got = 0; got < want;) {
                const ssize_t part =
                    read(pty.master_fd(), buffer, std::min(sizeof buffer, want - got));
                if (part <= 0)
                    return;
                got += static_cast<std::size_t>(part);
            }
            done += want - 2;
            const std::uint8_t accepted = 0x69;
            if (write(pty.master_fd(), &accepted, 1) != 1)
                return;
        }
    });
    const std::uint8_t sum[2] = {0, 0};
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t block = std::min(kBlock, bytes.size() - done);
        bool ok = true;
        for (std::size_t put = 0; ok && put < block;) {
            const ssize_t part = write(slave, bytes.data() + done + put, block - put);
            ok = part > 0;
            put += ok ? static_cast<std::size_t>(part) : 0;
        }
        std::uint8_t reply = 0;
        if (!ok || write(slave, sum, 2) != 2 || read(slave, &reply, 1) != 1)
            break;
        done += block;
    }
    reader.join();
    const double seconds = Seconds_Since(start);
    close(slave);
    return seconds;
}

class Phone {
  public:
    // The phone ready on its pty, optionally paced; false with a note on failure.
    bool Start(bool paced) {
        std::vector<std::string> args = {"--record-text", kPhoneRecord};
        if (paced) {
            args.push_back("--baud");
            args.push_back("115200");
        }
        std::string error;
        if (!m_process.start(args, &error)) {
            std::fprintf(stderr, "bench_update: virtual phone did not start: %s\n", error.c_str());
            return false;
        }
        return true;
    }
    const std::string& Device() const { return m_process.device_path(); }
    double Cpu_Seconds() const { return m_process.cpu_seconds(); }

  private:
    Virtual_Phone_Process m_process;
};

struct Cli_Update {
    bool ok = false;
    double seconds = 0;
    long peak_rss_kib = 0;
    std::string out;
};

// One whole update by flashtool-cli against a fresh phone.
Cli_Update Update_With_Cli(const Options& options, const Temp_Image_File& image, bool paced,
                           double time_limit_s) {
    Cli_Update result;
    Phone phone;
    if (!phone.Start(paced))
        return result;
    const bench::Program_Run run = bench::Run_Program(
        {options.cli, "flash", image.Path(), "--port", phone.Device(), "--lang", "en"},
        time_limit_s);
    result.seconds = run.seconds;
    result.peak_rss_kib = run.peak_rss_kib;
    result.out = run.out;
    result.ok = run.exit_code == 0 && run.out.find("Update OK!") != std::string::npos;
    if (!result.ok) {
        std::fprintf(stderr, "bench_update: flashtool-cli failed (exit %d):\n%s\n", run.exit_code,
                     run.out.c_str());
    }
    return result;
}

// Counts the bytes the port object moves each way.
class Counting_Trace final : public TraceSink {
  public:
    void bytes(std::string_view, Trace_Direction direction,
               std::span<const std::uint8_t> data) override {
        (direction == Trace_Direction::kToPhone ? to_phone : from_phone) += data.size();
    }
    void event(std::string_view, Trace_Event, std::string_view) override {}
    std::uint64_t to_phone = 0;
    std::uint64_t from_phone = 0;
};

struct Session_Times {
    bool ok = false;
    double search = 0;    // Find_Phone
    double version = 0;   // read, compare, write the version record
    double transfer = 0;  // Set_Regions and Download_Regions
    double total = 0;     // from the search to the closing byte
    std::uint64_t to_phone = 0, from_phone = 0;
    std::uint64_t transfer_to_phone = 0;
    // CPU time spent during the region transfer by this process and by the phone.
    double transfer_host_cpu = 0, transfer_phone_cpu = 0;
};

double Process_Cpu_Seconds() {
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
}

Version_Record Record_Of(const char* text) {
    Version_Record record{};
    std::memcpy(record.data(), text, std::min(std::strlen(text), record.size()));
    return record;
}

// The download command's exchanges, driven directly on the port object, with
// each phase timed: what the program's own code costs, without process start
// or image loading.
Session_Times Session_With_Port(const Image_Builder& image, bool paced) {
    Session_Times times;
    Phone phone;
    if (!phone.Start(paced))
        return times;
    Counting_Trace trace;
    CComport port(Make_System_Backend(), Make_Fixed_Port_Lister({phone.Device()}));
    port.Set_Trace(&trace);
    const Image_Region first{image.first.start, image.first.End(),
                             static_cast<std::uint32_t>(image.first.data.size())};
    const Image_Region second{image.second.start, image.second.End(),
                              static_cast<std::uint32_t>(image.second.data.size())};
    const Version_Record image_version = Record_Of(kImageVersion);
    Version_Record phone_version{};

    const auto start = Clock::now();
    Port_Candidate found;
    if (!port.Find_Phone(&found))
        return times;
    times.search = Seconds_Since(start);
    const auto version_start = Clock::now();
    if (boot::Code(port.Read_Phone_Version(phone_version)) != 0 ||
        boot::Code(port.Compare_Version(image_version, phone_version)) != 0 ||
        boot::Code(port.Write_Phone_Version(image_version)) != 0) {
        port.Close();
        return times;
    }
    times.version = Seconds_Since(version_start);
    const std::uint64_t before_transfer = trace.to_phone;
    const auto transfer_start = Clock::now();
    const double host_cpu_start = Process_Cpu_Seconds();
    const double phone_cpu_start = phone.Cpu_Seconds();
    port.Progress_Init(static_cast<int>(first.Length + second.Length));
    const int announced = boot::Code(port.Set_Regions(first, second));
    const int sent = announced == 0
                         ? boot::Code(port.Download_Regions(
                               first, second, {image.first.data.data(), image.second.data.data()}))
                         : -1;
    times.transfer = Seconds_Since(transfer_start);
    times.transfer_host_cpu = Process_Cpu_Seconds() - host_cpu_start;
    times.transfer_phone_cpu = phone.Cpu_Seconds() - phone_cpu_start;
    times.transfer_to_phone = trace.to_phone - before_transfer;
    port.End_Link();
    times.total = Seconds_Since(start);
    port.Close();
    times.to_phone = trace.to_phone;
    times.from_phone = trace.from_phone;
    times.ok = sent == 0;
    if (!times.ok)
        std::fprintf(stderr, "bench_update: session failed (%d, %d)\n", announced, sent);
    return times;
}

std::string Seconds_Text(double seconds) {
    char text[64];
    if (seconds < 1)
        std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000);
    else
        std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

std::string Number_Text(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Size_Text(std::size_t bytes) {
    return bytes >= kMiB ? std::to_string(bytes / kMiB) + " MiB"
                         : std::to_string(bytes / kKiB) + " KiB";
}

void Paced_Update(const Options& options, std::size_t bytes, bench::Result_Table& table) {
    Progress(("paced update, " + Size_Text(bytes)).c_str());
    const Image_Builder image = Image_Of(bytes);
    const Temp_Image_File file(image.Build());
    const double wire = Wire_Seconds(bytes);
    const Cli_Update run = Update_With_Cli(options, file, true, wire * 2 + 60);
    const double ratio = run.seconds / wire;
    table.Add({"update " + Size_Text(bytes) + ", paced 115200 baud (flashtool-cli)",
               run.ok ? Seconds_Text(run.seconds) : "FAILED",
               "wire time of the image bytes " + Seconds_Text(wire), Number_Text("%.4f", ratio),
               "<= 1.02", run.ok && ratio <= 1.02});
}

void Unpaced_Updates(const Options& options, std::size_t bytes, bench::Result_Table& table) {
    Progress(("unpaced update, " + Size_Text(bytes)).c_str());
    const Image_Builder image = Image_Of(bytes);
    const std::vector<std::uint8_t> all = Image_Bytes(image);
    const Temp_Image_File file(image.Build());
    std::vector<double> raw, round_trips, cli, transfer;
    bool ok = true;
    Session_Times last;
    // Alternate the three so that a change in the machine's load hits all alike.
    for (int round = 0; round < options.rounds; ++round) {
        raw.push_back(Raw_Pty_Copy(all));
        round_trips.push_back(Raw_Pty_Round_Trips(all));
        const Cli_Update run = Update_With_Cli(options, file, false, 120);
        ok = ok && run.ok;
        cli.push_back(run.seconds);
        last = Session_With_Port(image, false);
        ok = ok && last.ok;
        transfer.push_back(last.transfer);
    }
    const double raw_s = Median(raw);
    const double cli_s = Median(cli);
    const double transfer_s = Median(transfer);
    const double round_trips_s = Median(round_trips);
    const std::string reference = "raw pty copy " + Seconds_Text(raw_s) + " (" +
                                  Number_Text("%.0f", all.size() / raw_s / kMiB) + " MiB/s)";
    table.Add({"update " + Size_Text(bytes) + ", unpaced, whole flashtool-cli run",
               ok ? Seconds_Text(cli_s) : "FAILED", reference, Number_Text("%.3f", raw_s / cli_s),
               ">= 0.80 (throughput)", ok && raw_s / cli_s >= 0.8});
    table.Add({"update " + Size_Text(bytes) + ", unpaced, region transfer only (port object)",
               ok ? Seconds_Text(transfer_s) : "FAILED", reference,
               Number_Text("%.3f", raw_s / transfer_s), ">= 0.80 (throughput)",
               ok && raw_s / transfer_s >= 0.8});
    table.Add(
        {"update " + Size_Text(bytes) +
             ", unpaced, region transfer only, against the protocol's round trips",
         ok ? Seconds_Text(transfer_s) : "FAILED",
         "raw pty copy in 32 KiB blocks, each answered by one byte: " + Seconds_Text(round_trips_s),
         Number_Text("%.3f", round_trips_s / transfer_s), "none set (explains the above)",
         std::nullopt});
    if (!last.ok)
        return;
    // What the protocol adds to the image bytes, counted by the port object.
    const double extra_to_phone = static_cast<double>(last.to_phone - bytes);
    const double fixed_waits = kSearchDelayS + kOpenSettleS;
    table.Note("Bytes on the wire for a " + Size_Text(bytes) +
               " update (counted by the port object): " + std::to_string(last.to_phone) +
               " to the phone (image + " + Number_Text("%.0f", extra_to_phone) + "), " +
               std::to_string(last.from_phone) + " from the phone. The protocol's own bytes add " +
               Number_Text("%.3f", 100 * extra_to_phone / bytes) +
               " % to the host's wire time, and the search's delay and the port's settling time "
               "add a fixed " +
               Seconds_Text(fixed_waits) + " (" +
               Number_Text("%.2f", 100 * fixed_waits / Wire_Seconds(bytes)) +
               " % of this image's wire time at 115200 baud); the replies to the 32 KiB blocks "
               "cost one byte time each on the way back.");
    table.Note("Unpaced session phases (port object, median round's last run): search " +
               Seconds_Text(last.search) + ", version record " + Seconds_Text(last.version) +
               ", region transfer " + Seconds_Text(last.transfer) + ", whole session " +
               Seconds_Text(last.total) +
               ". The whole flashtool-cli run also pays process "
               "start, image loading and the 200 ms of fixed waits, which no line speed removes; "
               "without those waits its throughput ratio would be " +
               Number_Text("%.3f", raw_s / (cli_s - fixed_waits)) + ".");
}

void Search_Found(const Options& options, bench::Result_Table& table) {
    Progress("search, phone present, paced");
    // A small image: only the search's time is used here.
    const Image_Builder image = Image_Of(4 * kKiB);
    std::vector<double> found;
    for (int round = 0; round < options.rounds; ++round) {
        const Session_Times times = Session_With_Port(image, true);
        if (times.ok)
            found.push_back(times.search);
    }
    const double floor = kSearchDelayS + kOpenSettleS +
                         Wire_Seconds(static_cast<std::size_t>(kHandshakeCycles * kBytesPerCycle));
    const bool ok = found.size() == static_cast<std::size_t>(options.rounds);
    const double measured = Median(found);
    table.Add({"search finds the phone on the first pass, paced 115200 baud",
               ok ? Seconds_Text(measured) : "FAILED",
               "floor: 100 ms delay + 100 ms settling + 140 byte times = " + Seconds_Text(floor),
               Number_Text("%.3f", measured / floor), "first pass (< 1 pass bound 1.2 s)",
               ok && measured < kSearchDelayS + kOpenSettleS + kEchoLimitS});
}

void Search_Without_Phone(const Options& options, bench::Result_Table& table) {
    if (!options.quick) {
        Progress("search, silent port");
        Pty_Pair silent;  // a port that opens but where nothing answers
        const double bound = kSearchPasses * (kSearchDelayS + kOpenSettleS + kEchoLimitS);
        const bench::Program_Run run = bench::Run_Program(
            {options.cli, "read-version", "--port", silent.slave_path()}, bound * 2 + 30);
        const double ratio = run.seconds / bound;
        const bool ok = run.exit_code == 3;
        table.Add(
            {"search with no phone, one silent port (flashtool-cli read-version)",
             ok ? Seconds_Text(run.seconds) : "FAILED (exit " + std::to_string(run.exit_code) + ")",
             "21 x (100 ms delay + 100 ms settling + 1000 ms echo limit) = " + Seconds_Text(bound),
             Number_Text("%.4f", ratio), "1.00 .. 1.05", ok && ratio >= 1.0 && ratio <= 1.05});
    }
    Progress("search, no port");
    const double bound = kSearchPasses * kSearchDelayS;
    const bench::Program_Run run = bench::Run_Program(
        {options.cli, "read-version", "--port", "/dev/bench-no-such-port"}, bound * 2 + 30);
    const double ratio = run.seconds / bound;
    const bool ok = run.exit_code == 3;
    table.Add(
        {"search with no phone, port absent (flashtool-cli read-version)",
         ok ? Seconds_Text(run.seconds) : "FAILED (exit " + std::to_string(run.exit_code) + ")",
         "21 x 100 ms delay = " + Seconds_Text(bound), Number_Text("%.4f", ratio), "1.00 .. 1.05",
         ok && ratio >= 1.0 && ratio <= 1.05});
}

void Cli_Peak_Memory(const Options& options, bench::Result_Table& table) {
    Progress("peak memory, 16 MiB");
    const std::size_t bytes = 16 * kMiB;
    const Image_Builder image = Image_Of(bytes);
    const Temp_Image_File file(image.Build());
    const Cli_Update run = Update_With_Cli(options, file, false, 300);
    const double peak_mib = run.peak_rss_kib / 1024.0;
    const double limit_mib = 1.2 * 16 + 20;
    table.Add({"peak memory of flashtool-cli updating a 16 MiB image (unpaced)",
               run.ok ? Number_Text("%.1f MiB", peak_mib) : "FAILED",
               "image 16 MiB; limit 1.2 x image + 20 MiB = " + Number_Text("%.1f MiB", limit_mib),
               Number_Text("%.3f", peak_mib / limit_mib) + " of limit", "< 1.00 of limit",
               run.ok && peak_mib < limit_mib});
    // Where an unpaced transfer's time goes: long enough for the CPU clocks,
    // and less at the mercy of one scheduler hiccup than 1 MiB.
    const double raw_s = Raw_Pty_Copy(Image_Bytes(image));
    const Session_Times session = Session_With_Port(image, false);
    table.Add({"update 16 MiB, unpaced, region transfer only (port object)",
               session.ok ? Seconds_Text(session.transfer) : "FAILED",
               "raw pty copy " + Seconds_Text(raw_s) + " (" +
                   Number_Text("%.0f", bytes / raw_s / kMiB) + " MiB/s)",
               Number_Text("%.3f", raw_s / session.transfer), ">= 0.80 (throughput)",
               session.ok && raw_s / session.transfer >= 0.8});
    table.Note("The 16 MiB update took " + Seconds_Text(run.seconds) +
               " unpaced with flashtool-cli. Its region transfer alone, by the port object: " +
               Seconds_Text(session.transfer) + " (" +
               Number_Text("%.0f", bytes / session.transfer / kMiB) + " MiB/s), with " +
               Seconds_Text(session.transfer_host_cpu) + " of CPU in the host and " +
               Seconds_Text(session.transfer_phone_cpu) + " in the virtual phone.");
}

std::optional<Options> Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--paced-256k-only") {
            options.paced_only = true;
        } else if (arg == "--rounds" && i + 1 < argc) {
            options.rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--cli" && i + 1 < argc) {
            options.cli = argv[++i];
        } else {
            std::fprintf(
                stderr,
                "usage: bench_update [--quick] [--paced-256k-only] [--rounds N] [--cli PATH]\n");
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = Parse(argc, argv);
    if (!options)
        return 2;
    const std::string load_before = Load_Average();
    bench::Result_Table table;
    Paced_Update(*options, 256 * kKiB, table);
    if (options->paced_only) {
        table.Print(stdout);
        return table.Any_Failed() ? 1 : 0;
    }
    if (!options->quick)
        Paced_Update(*options, 1 * kMiB, table);
    Unpaced_Updates(*options, 1 * kMiB, table);
    Search_Found(*options, table);
    Search_Without_Phone(*options, table);
    Cli_Peak_Memory(*options, table);
    table.Note("Load average (1, 5, 15 min) before: " + load_before + "; after: " + Load_Average() +
               ". Medians of " + std::to_string(options->rounds) +
               " alternating rounds where rounds are noted; single runs otherwise.");
    table.Print(stdout);
    // Missed goals are results, not errors: only a run that failed is.
    return table.Any_Failed() ? 1 : 0;
}
