// How much the port object costs over the bare system calls: 1-byte round
// trips and 1 MiB transfers both ways through a pseudo-terminal, once through
// CComport with the POSIX backend and once with plain read/write on the slave,
// in the same run. Prints a table with the ratio port / plain.
//
//   serial_bench [round_trips] [repeats]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "bootloader/comport.h"
#include "tests/support/pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMiB = 1024 * 1024;

double Seconds_Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The far end: echoes every byte it gets until the pty closes.
void Echo(int master) {
    std::uint8_t buffer[256];
    for (;;) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            return;
        if (::write(master, buffer, static_cast<std::size_t>(got)) != got)
            return;
    }
}

// Two ways to reach the slave side: the port object, and plain calls.
struct Line {
    std::function<bool(std::span<const std::uint8_t>)> write;
    std::function<bool(std::span<std::uint8_t>)> read;
};

bool Plain_Write(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool Plain_Read(int fd, std::span<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// Runs body on the slave side of pty, through the port object or plainly,
// and closes the slave side again (which ends a blocked read on the master).
bool With_Line(const Pty_Pair& pty, bool through_port, const std::function<bool(Line&)>& body) {
    if (!pty.ok())
        return false;
    if (through_port) {
        CComport port;
        if (!port.Open(pty.slave_path()))
            return false;
        Line line{[&](auto bytes) { return static_cast<bool>(port.Write(bytes)); },
                  [&](auto bytes) { return static_cast<bool>(port.Read(bytes, 20000)); }};
        const bool ok = body(line);
        port.Close();
        return ok;
    }
    const int fd = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    Line line{[fd](auto bytes) { return Plain_Write(fd, bytes); },
              [fd](auto bytes) { return Plain_Read(fd, bytes); }};
    const bool ok = body(line);
    ::close(fd);
    return ok;
}

// Microseconds per 1-byte round trip (median of repeats); negative on failure.
double Round_Trip_Us(bool through_port, int trips, int repeats) {
    std::vector<double> runs;
    for (int r = 0; r < repeats; ++r) {
        Pty_Pair pty;
        double seconds = -1;
        std::thread echo(Echo, pty.master_fd());  // ends when the slave closes
        const bool ok = With_Line(pty, through_port, [&](Line& line) {
            std::uint8_t out = 0x55;
            std::uint8_t in = 0;
            const auto start = Clock::now();
            for (int i = 0; i < trips; ++i, ++out) {
                if (!line.write(std::span<const std::uint8_t>(&out, 1)) ||
                    !line.read(std::span<std::uint8_t>(&in, 1)) || in != out) {
                    return false;
                }
            }
            seconds = Seconds_Since(start);
            return true;
        });
        if (!ok)
            pty.Close_Master();  // the slave never opened: end the echo
        echo.join();
        if (!ok)
            return -1;
        runs.push_back(seconds * 1e6 / trips);
    }
    return Median(runs);
}

// MiB/s for 1 MiB sent to the far end (to_phone) or received from it;
// negative on failure.
double Throughput(bool through_port, bool to_phone, int repeats) {
    std::vector<std::uint8_t> data(kMiB);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 31);
    std::vector<double> runs;
    for (int r = 0; r < repeats; ++r) {
        Pty_Pair pty;
        double seconds = -1;
        const bool ok = With_Line(pty, through_port, [&](Line& line) {
            std::vector<std::uint8_t> got(kMiB);
            bool far_ok = false;
            const auto start = Clock::now();
            std::thread far([&] {
                far_ok = to_phone ? Plain_Read(pty.master_fd(), got)
                                  : Plain_Write(pty.master_fd(), data);
            });
            const bool near_ok = to_phone ? line.write(data) : line.read(got);
            far.join();
            seconds = Seconds_Since(start);
            return near_ok && far_ok && got == data;
        });
        if (!ok)
            return -1;
        runs.push_back(1.0 / seconds);
    }
    return Median(runs);
}

// One measure taken alternately through the port and plainly, so that both
// see the same load on a shared machine; medians of the values and of the
// per-pair ratios.
struct Row {
    const char* what;
    const char* unit;
    double port = -1;
    double plain = -1;
    double ratio = -1;
};

Row Measure(const char* what, const char* unit, int repeats,
            const std::function<double(bool through_port)>& once) {
    std::vector<double> port, plain, ratio;
    for (int r = 0; r < repeats; ++r) {
        const double a = once(true);
        const double b = once(false);
        if (a <= 0 || b <= 0)
            return {what, unit};
        port.push_back(a);
        plain.push_back(b);
        ratio.push_back(a / b);
    }
    return {what, unit, Median(port), Median(plain), Median(ratio)};
}

}  // namespace

int main(int argc, char** argv) {
    const int trips = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 9;
    if (trips <= 0 || repeats <= 0) {
        std::fprintf(stderr, "usage: serial_bench [round_trips] [repeats]\n");
        return 2;
    }
    const Row rows[] = {
        Measure("1-byte round trip", "us", repeats,
                [&](bool port) { return Round_Trip_Us(port, trips, 1); }),
        Measure("1 MiB to phone", "MiB/s", repeats,
                [](bool port) { return Throughput(port, true, 1); }),
        Measure("1 MiB from phone", "MiB/s", repeats,
                [](bool port) { return Throughput(port, false, 1); }),
    };
    std::printf("pseudo-terminal; %d round trips per run; medians of %d alternating runs\n", trips,
                repeats);
    std::printf("%-20s %-6s %12s %12s %16s\n", "measure", "unit", "CComport", "plain",
                "CComport/plain");
    std::printf("(ratio above 1: slower in us, faster in MiB/s)\n");
    int status = 0;
    for (const Row& row : rows) {
        if (row.ratio < 0) {
            std::printf("%-20s transfer failed\n", row.what);
            status = 1;
            continue;
        }
        std::printf("%-20s %-6s %12.2f %12.2f %16.2f\n", row.what, row.unit, row.port, row.plain,
                    row.ratio);
    }
    return status;
}
