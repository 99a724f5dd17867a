// bench_usb_arrival: how soon the port watcher reports a phone plugged in,
// inside the USB guest (scripts/bench runs it there). One gadget is plugged
// (bound to a dummy controller) and unplugged again, --arrivals times for
// each source: the kernel's uevents (the guest runs no udev daemon), then
// udev (systemd-udevd started from the shared /usr). Each arrival is timed
// from the bind to the watcher's event; the reference, measured in the same
// round, is the system's own announcement of the tty (the uevent, or udev's
// message once its rules ran) read by a bare listener beside the watcher.
// The bind itself takes the emulated guest a few hundred ms to enumerate;
// the watcher's own share is its event's time after the announcement, for
// which the goal (250 ms) is reported, never enforced. Prints one Markdown
// table.
//
//   bench_usb_arrival [--arrivals N]
#include <fcntl.h>
#include <libudev.h>
#include <linux/netlink.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
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
#include <string_view>
#include <thread>
#include <vector>

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

// The system's own announcements of ttyACM ports arriving, timed as they
// come: the kernel's uevents, or udev's messages once its rules ran.
class Reference_Listener {
  public:
    explicit Reference_Listener(bool udev) : m_udev(udev) {
        if (udev) {
            m_context = udev_new();
            m_monitor = m_context ? udev_monitor_new_from_netlink(m_context, "udev") : nullptr;
            m_open =
                m_monitor != nullptr &&
                udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) >= 0 &&
                udev_monitor_enable_receiving(m_monitor) >= 0;
            m_fd = m_open ? udev_monitor_get_fd(m_monitor) : -1;
        } else {
            m_fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
            sockaddr_nl address{};
            address.nl_family = AF_NETLINK;
            address.nl_groups = 1;
            m_open = m_fd >= 0 &&
                     bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        }
        m_open = m_open && pipe2(m_wake, O_CLOEXEC) == 0;
        if (m_open)
            m_thread = std::thread([this] { Listen(); });
    }
    ~Reference_Listener() {
        if (m_thread.joinable()) {
            const char stop = 1;
            [[maybe_unused]] const ssize_t written = write(m_wake[1], &stop, 1);
            m_thread.join();
        }
        for (const int fd : m_wake) {
            if (fd >= 0)
                close(fd);
        }
        if (m_monitor != nullptr)
            udev_monitor_unref(m_monitor);
        if (m_context != nullptr)
            udev_unref(m_context);
        if (!m_udev && m_fd >= 0)
            close(m_fd);
    }
    bool Open() const { return m_open; }
    // The first arrival announced at or after since; false when none came.
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
        for (;;) {
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0)
                return;
            const Clock::time_point now = Clock::now();
            if (Arrival_Read()) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_times.push_back(now);
            }
        }
    }
    // One message: whether it announced a ttyACM port's arrival.
    bool Arrival_Read() {
        if (m_udev) {
            udev_device* device = udev_monitor_receive_device(m_monitor);
            if (device == nullptr)
                return false;
            const char* action = udev_device_get_action(device);
            const char* name = udev_device_get_sysname(device);
            const bool arrival = action != nullptr && std::strcmp(action, "add") == 0 &&
                                 name != nullptr && std::strncmp(name, "ttyACM", 6) == 0;
            udev_device_unref(device);
            return arrival;
        }
        char buffer[8192];
        const ssize_t got = recv(m_fd, buffer, sizeof buffer, 0);
        serial::Uevent event;
        return got > 0 &&
               serial::Parse_Uevent(std::string_view(buffer, static_cast<std::size_t>(got)),
                                    event) &&
               event.action == "add" && event.device_name.starts_with("ttyACM");
    }

    bool m_udev;
    bool m_open = false;
    udev* m_context = nullptr;
    udev_monitor* m_monitor = nullptr;
    int m_fd = -1;
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
    std::vector<double> own_ms;  // the watcher's event after the announcement
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
        if (reference.First_After(bound, announced)) {
            figures.reference_ms.push_back(Ms(announced - bound));
            figures.own_ms.push_back(Ms(reported - announced));
        }
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
    const double own50 = Percentile(figures.own_ms, 0.5);
    const double own95 = Percentile(figures.own_ms, 0.95);
    std::printf(
        "| %s | %zu of %d | %.1f / %.1f ms | %.1f / %.1f ms | %.2f / %.2f | %.1f / %.1f ms "
        "| %s |\n",
        figures.source.c_str(), figures.event_ms.size(), arrivals, p50, p95, reference50,
        reference95, reference50 > 0 ? p50 / reference50 : 0,
        reference95 > 0 ? p95 / reference95 : 0, own50, own95,
        figures.missed == 0 && own95 <= kGoalMs ? "met" : "not met");
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
        "Announcement to watcher's event, p50 / p95 | Within %.0f ms of it at p95 |\n",
        kGoalMs);
    std::printf("|---|---|---|---|---|---|---|\n");
    Print_Row(kernel, arrivals);
    Print_Row(udev, arrivals);
    return kernel.missed == 0 && udev.missed == 0 ? 0 : 1;
}
