// bench_usb_arrival: how soon the port watcher reports a phone plugged in,
// inside the USB guest (scripts/bench runs it there). One gadget is plugged
// (bound to a dummy controller) and unplugged again, --arrivals times for
// each source: the kernel's uevents (the guest runs no udev daemon), then
// udev (systemd-udevd started from the shared /usr). Each arrival is timed
// from the bind to the watcher's event; the reference, measured in the same
// round, is the system's own announcement of the tty (the uevent, or udev's
// message once its rules ran) read by a bare listener beside the watcher.
// Prints one Markdown table; the goal (event within 250 ms) is reported,
// never enforced.
//
//   bench_usb_arrival [--arrivals N]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/linux_udev_monitor.h"
#include "serial/linux_uevent_socket.h"
#include "serial/port_event_queue.h"
#include "serial/port_watcher.h"
#include "usb_gadget.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kLimit{10000};
constexpr double kGoalMs = 250;
// systemd-udevd is udevadm under that name (Debian links
// /lib/systemd/systemd-udevd to /bin/udevadm, which the guest's /bin is not).
constexpr const char* kUdevadm = "/usr/bin/udevadm";
constexpr const char* kUdevd = "systemd-udevd";

double Ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()));
    return values[index];
}

// The system's own announcements of tty devices, timed as they come.
class Reference_Listener {
  public:
    explicit Reference_Listener(bool udev) : m_udev(udev) {
        m_open = udev ? m_monitor.Open() : m_socket.Open();
        pipe2(m_wake, O_CLOEXEC);
        m_thread = std::thread([this] { Listen(); });
    }
    ~Reference_Listener() {
        const char stop = 1;
        [[maybe_unused]] const ssize_t written = write(m_wake[1], &stop, 1);
        m_thread.join();
        close(m_wake[0]);
        close(m_wake[1]);
    }
    bool Open() const { return m_open; }
    // The first announcement at or after since; false when none came.
    bool First_After(Clock::time_point since, Clock::time_point& when) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const Clock::time_point time : m_times) {
            if (time >= since) {
                when = time;
                return true;
            }
        }
        return false;
    }

  private:
    void Listen() {
        const int fd = m_udev ? m_monitor.Descriptor() : m_socket.Descriptor();
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0)
                return;
            const Clock::time_point now = Clock::now();
            if (m_udev ? m_monitor.Drain() : m_socket.Drain()) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_times.push_back(now);
            }
        }
    }

    bool m_udev;
    bool m_open = false;
    serial::Udev_Monitor m_monitor;
    serial::Kernel_Uevent_Socket m_socket;
    int m_wake[2] = {-1, -1};
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_times;
    std::thread m_thread;
};

bool Next_Tty_Event(Port_Event_Queue& events, Port_Event::Kind kind, Port_Event& event) {
    const auto deadline = Clock::now() + kLimit;
    while (Clock::now() < deadline) {
        if (!events.Next(event, std::chrono::duration_cast<milliseconds>(deadline - Clock::now())))
            return false;
        if (event.kind == kind && event.port.device_path.rfind("/dev/ttyACM", 0) == 0)
            return true;
    }
    return false;
}

struct Figures {
    std::vector<double> event_ms;
    std::vector<double> reference_ms;
    int missed = 0;
    std::string source;
};

Figures Measure(bool udev, int arrivals) {
    Figures figures;
    Reference_Listener reference(udev);
    Port_Event_Queue events;
    Port_Watcher watcher;
    watcher.Start(events.Sink());
    // The first look (the console's UART and the like) out of the way.
    std::this_thread::sleep_for(udev ? kUdevSettleLimit + milliseconds(500) : milliseconds(500));
    Port_Event drop;
    while (events.Next(drop, milliseconds(0))) {
    }
    figures.source = Port_Watch_Source_Name(watcher.Source());
    usb_rig::Usb_Gadget phone({.serial = "ARRIVAL-1"});
    if (!phone.Made() || !reference.Open()) {
        std::fprintf(stderr, "bench_usb_arrival: %s\n",
                     phone.Made() ? "no reference listener" : phone.Error().c_str());
        figures.missed = arrivals;
        return figures;
    }
    for (int round = 0; round < arrivals; ++round) {
        const Clock::time_point bound = Clock::now();
        Port_Event event;
        if (!phone.Plug() || !Next_Tty_Event(events, Port_Event::Kind::kArrived, event)) {
            ++figures.missed;
            phone.Unplug();
            continue;
        }
        const Clock::time_point reported = Clock::now();
        figures.event_ms.push_back(Ms(reported - bound));
        Clock::time_point announced;
        if (reference.First_After(bound, announced))
            figures.reference_ms.push_back(Ms(announced - bound));
        phone.Unplug();
        Next_Tty_Event(events, Port_Event::Kind::kDeparted, event);
    }
    watcher.Stop();
    return figures;
}

pid_t Start_Udevd() {
    std::filesystem::create_directories("/etc");
    std::error_code ignored;
    std::filesystem::copy_file("/usr/share/base-passwd/group.master", "/etc/group", ignored);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        execl(kUdevadm, kUdevd, static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = Clock::now() + kLimit;
    while (access("/run/udev/control", F_OK) != 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(20));
    return pid;
}

void Print_Row(const Figures& figures, int arrivals) {
    const double p50 = Percentile(figures.event_ms, 0.5);
    const double p95 = Percentile(figures.event_ms, 0.95);
    const double reference50 = Percentile(figures.reference_ms, 0.5);
    const double reference95 = Percentile(figures.reference_ms, 0.95);
    std::printf("| %s | %zu of %d | %.1f / %.1f ms | %.1f / %.1f ms | %.2f / %.2f | %s |\n",
                figures.source.c_str(), figures.event_ms.size(), arrivals, p50, p95, reference50,
                reference95, reference50 > 0 ? p50 / reference50 : 0,
                reference95 > 0 ? p95 / reference95 : 0,
                figures.missed == 0 && p95 <= kGoalMs ? "met" : "not met");
}

}  // namespace

int main(int argc, char** argv) {
    int arrivals = 50;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--arrivals") == 0 && i + 1 < argc)
            arrivals = std::max(1, std::atoi(argv[++i]));
    }
    const Figures kernel = Measure(false, arrivals);
    const pid_t udevd = Start_Udevd();
    const Figures udev = Measure(true, arrivals);
    if (udevd > 0) {
        kill(udevd, SIGTERM);
        waitpid(udevd, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all("/run/udev", ignored);

    std::printf(
        "| Source | Arrivals reported | Bind to watcher's event, p50 / p95 | "
        "Bind to the system's announcement, p50 / p95 | Ratio p50 / p95 | "
        "Event within %.0f ms at p95 |\n",
        kGoalMs);
    std::printf("|---|---|---|---|---|---|\n");
    Print_Row(kernel, arrivals);
    Print_Row(udev, arrivals);
    return kernel.missed == 0 && udev.missed == 0 ? 0 : 1;
}
