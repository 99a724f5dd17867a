// bench_usb: the region transfer through the kernel's cdc_acm driver, inside
// the USB guest (scripts/bench runs it there with scripts/lib/usb-guest.sh).
// One gadget carries both figures, in the same run and in turns:
//   - the port object announcing and sending an image's two regions to the
//     virtual phone, which serves the gadget's side unpaced;
//   - the reference: the same bytes written raw to the PC's side in blocks of
//     32 KiB plus a 2-byte sum, each answered by one byte from a reader on the
//     gadget's side that does nothing else (the protocol's shape without the
//     program or the phone model);
//   - for scale, the same bytes one way with no answers at all.
// The ratio reference / transfer has the goal 0.8; the protocol's own round
// trips are the bound. Prints one Markdown table on standard output.
//
//   bench_usb [--rounds N] [--mib N]
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/update/bench_process.h"
#include "bench/update/result_table.h"
#include "bootloader/comport.h"
#include "serial/port_backend.h"
#include "serial/port_list.h"
#include "tests/support/image_builder.h"
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

int Open_Raw(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios line{};
    if (fd >= 0 && tcgetattr(fd, &line) == 0) {
        cfmakeraw(&line);
        line.c_cc[VMIN] = 1;
        line.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &line);
    }
    return fd;
}

bool Write_All(int fd, const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t done = 0; done < count;) {
        const ssize_t put = write(fd, bytes + done, count - done);
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

// The bytes from the PC's side to the gadget's, with answer_each blocks
// answered by one byte each (false: one way only). Seconds, 0 on failure.
double Raw_Copy(const std::string& pc_side, const std::string& gadget_side,
                const std::vector<std::uint8_t>& bytes, bool answer_each) {
    const int gadget = Open_Raw(gadget_side);
    const int pc = Open_Raw(pc_side);
    if (gadget < 0 || pc < 0) {
        close(gadget);
        close(pc);
        return 0;
    }
    const std::size_t frame = answer_each ? kBlock + 2 : kBlock;
    bool reader_ok = true;
    const auto start = Clock::now();
    std::thread reader([&] {
        for (std::size_t done = 0; done < bytes.size() && reader_ok;) {
            const std::size_t want = std::min(kBlock, bytes.size() - done);
            const std::uint8_t accepted = 0x69;
            reader_ok = Read_Exactly(gadget, want + (frame - kBlock)) &&
                        (!answer_each || write(gadget, &accepted, 1) == 1);
            done += want;
        }
    });
    bool ok = true;
    const std::uint8_t sum[2] = {0, 0};
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const std::size_t block = std::min(kBlock, bytes.size() - done);
        ok = Write_All(pc, bytes.data() + done, block);
        if (ok && answer_each) {
            std::uint8_t reply = 0;
            ok = Write_All(pc, sum, 2) && read(pc, &reply, 1) == 1;
        }
        done += block;
    }
    reader.join();
    const double seconds = Seconds_Since(start);
    close(pc);
    close(gadget);
    return ok && reader_ok ? seconds : 0;
}

double Process_Cpu_Seconds() {
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
}

struct Transfer_Cost {
    double seconds = 0;  // 0: it failed
    double host_cpu = 0, phone_cpu = 0;
};

// The port object's region transfer to the virtual phone on the gadget's
// side: Set_Regions and Download_Regions, timed, with the CPU time this
// program and the phone spent meanwhile.
Transfer_Cost Port_Transfer(const std::string& pc_side, const std::string& gadget_side,
                            const Image_Builder& image) {
    Transfer_Cost cost;
    // No --flash: the phone would rewrite its whole flash file after every
    // block (a test's bookkeeping, quadratic in the image), and under an
    // emulated processor that alone costs more than the transfer. The phone
    // checks every block's sum before it accepts it.
    Virtual_Phone_Process phone;
    if (!phone.start({"--tty", gadget_side, "--record-text", kPhoneRecord}))
        return cost;
    CComport port(Make_System_Backend(), Make_Fixed_Port_Lister({pc_side}));
    Version_Record image_version{};
    std::memcpy(image_version.data(), kImageVersion, std::strlen(kImageVersion));
    Version_Record phone_version{};
    Port_Candidate found;
    if (!port.Find_Phone(&found) || boot::Code(port.Read_Phone_Version(phone_version)) != 0 ||
        boot::Code(port.Write_Phone_Version(image_version)) != 0)
        return cost;
    const Image_Region first{image.first.start, image.first.End(),
                             static_cast<std::uint32_t>(image.first.data.size())};
    const Image_Region second{image.second.start, image.second.End(),
                              static_cast<std::uint32_t>(image.second.data.size())};
    port.Progress_Init(static_cast<int>(first.Length + second.Length));
    const auto start = Clock::now();
    const double host_cpu = Process_Cpu_Seconds();
    const double phone_cpu = phone.cpu_seconds();
    const bool sent = boot::Code(port.Set_Regions(first, second)) == 0 &&
                      boot::Code(port.Download_Regions(
                          first, second, {image.first.data.data(), image.second.data.data()})) == 0;
    const double seconds = Seconds_Since(start);
    cost.host_cpu = Process_Cpu_Seconds() - host_cpu;
    cost.phone_cpu = phone.cpu_seconds() - phone_cpu;
    port.End_Link();
    port.Close();
    phone.stop();
    cost.seconds = sent ? seconds : 0;
    return cost;
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
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--mib") == 0)
            mib = static_cast<std::size_t>(std::max(1, std::atoi(argv[i + 1])));
    }
    usb_rig::Usb_Gadget gadget{usb_rig::Gadget_Spec{}};
    if (!gadget.Made() || !gadget.Plug()) {
        std::fprintf(stderr, "bench_usb: no gadget: %s\n", gadget.Error().c_str());
        return 1;
    }
    const std::string pc_side = gadget.Wait_For_Host_Tty();
    const std::string gadget_side = gadget.Phone_Tty();
    if (pc_side.empty()) {
        std::fprintf(stderr, "bench_usb: cdc_acm made no tty\n");
        return 1;
    }

    const std::size_t bytes = mib * kMiB;
    Image_Builder image;
    image.version_text = Bytes(kImageVersion);
    image.first.start = 0x00010000;
    image.first.data = Random_Bytes(bytes - bytes / 4, 21);
    image.second.start = 0x02000000;
    image.second.data = Random_Bytes(bytes / 4, 22);
    std::vector<std::uint8_t> all = image.first.data;
    all.insert(all.end(), image.second.data.begin(), image.second.data.end());

    std::vector<double> transfer, answered, one_way;
    Transfer_Cost last;
    for (int round = 0; round < rounds; ++round) {
        std::fprintf(stderr, "bench_usb: round %d of %d\n", round + 1, rounds);
        answered.push_back(Raw_Copy(pc_side, gadget_side, all, true));
        last = Port_Transfer(pc_side, gadget_side, image);
        transfer.push_back(last.seconds);
        one_way.push_back(Raw_Copy(pc_side, gadget_side, all, false));
    }
    const double transfer_s = Median(transfer);
    const double answered_s = Median(answered);
    const double one_way_s = Median(one_way);
    const bool ok = transfer_s > 0 && answered_s > 0 && one_way_s > 0;

    bench::Result_Table table;
    const std::string size = std::to_string(mib) + " MiB";
    table.Add({"region transfer " + size + " through cdc_acm, unpaced (port object)",
               ok ? Rate_Text(transfer_s, bytes) : "FAILED",
               "raw copy in 32 KiB blocks, each answered by one byte, same gadget: " +
                   Rate_Text(answered_s, bytes),
               ok ? std::to_string(answered_s / transfer_s).substr(0, 5) : "-",
               ">= 0.80 (throughput)", ok && answered_s / transfer_s >= 0.8});
    table.Add({"raw copy " + size + " through cdc_acm, one way, no answers",
               Rate_Text(one_way_s, bytes), "the answered raw copy above",
               ok ? std::to_string(answered_s / one_way_s).substr(0, 5) : "-", "(for scale)",
               std::nullopt});
    table.Note("CPU time during the last round's transfer: the program " +
               std::to_string(last.host_cpu).substr(0, 5) + " s, the virtual phone " +
               std::to_string(last.phone_cpu).substr(0, 5) + " s.");
    table.Note(
        "Inside the USB guest: one emulated processor (QEMU without KVM), the gadget on "
        "dummy_hcd, the virtual phone on /dev/ttyGS0 and the program on /dev/ttyACM0; " +
        std::to_string(rounds) + " rounds in turns, medians.");
    table.Print(stdout);
    return table.Any_Failed() ? 1 : 0;
}
