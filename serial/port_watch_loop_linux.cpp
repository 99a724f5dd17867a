// The watcher's loop on Linux: one poll() over the stop descriptor, the
// source of device events (udev's monitor or the kernel's uevents) and the
// named paths' directories, with the slow listing as its time-out. Every
// wake-up that may mean a change leads to a fresh look at the ports; the
// differences from the last look are the events.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "serial/linux_path_watch.h"
#include "serial/linux_port_scan.h"
#include "serial/linux_udev_monitor.h"
#include "serial/linux_uevent_socket.h"
#include "serial/port_watch_loop.h"
#include "serial/port_watch_state.h"

namespace serial {
namespace {

using Clock = std::chrono::steady_clock;

// A look after this many watch changes in a row stops re-arming: a tree of
// directories made faster than we can watch it is left to the next look.
constexpr int kMaxRearms = 8;

std::string Base_Name(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A UART is fitted when the serial core says it has a known type: read from
// sysfs, so that looking every few seconds never opens a port (an open
// raises the modem lines of a real UART). Where sysfs does not say, the
// port is opened once and the answer kept for that device.
class Uart_Presence {
  public:
    bool operator()(const std::string& path) {
        std::ifstream type("/sys/class/tty/" + Base_Name(path) + "/type");
        int number = -1;
        if (type >> number)
            return number != 0;
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0)
            return false;
        const auto cached = m_opened.find(status.st_rdev);
        if (cached != m_opened.end())
            return cached->second;
        const bool present = Is_Present_Uart(path);
        m_opened.emplace(status.st_rdev, present);
        return present;
    }

  private:
    std::map<dev_t, bool> m_opened;
};

std::optional<Port_Presence> Presence_Of(const Port_Candidate& port, bool named) {
    struct stat status {};
    if (::stat(port.device_path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode))
        return std::nullopt;
    Port_Presence presence;
    presence.port = port;
    presence.device = static_cast<std::uint64_t>(status.st_rdev);
    // A node made anew has a new inode: a phone re-plugged between two
    // looks under its old name is a new arrival.
    presence.key = port.device_path + "|" + std::to_string(status.st_rdev) + "|" +
                   std::to_string(status.st_ino);
    presence.named = named;
    return presence;
}

class Linux_Watch_Loop final : public Port_Watch_Loop {
  public:
    Linux_Watch_Loop(const Port_Watch_Options& options, int stop_fd)
        : m_options(options), m_stop_fd(stop_fd) {}
    ~Linux_Watch_Loop() override { ::close(m_stop_fd); }

    void Run(const Port_Watcher::Callback& emit, const std::function<void()>& ready) override {
        m_emit = &emit;
        if (!m_options.named_ports.empty())
            m_paths.Open();
        Choose_Source();
        Look();
        ready();
        Clock::time_point next_listing = Clock::now() + m_options.poll_interval;
        while (!m_stop.load()) {
            const Clock::time_point now = Clock::now();
            Clock::time_point wake = next_listing;
            if (m_settle_deadline && *m_settle_deadline < wake)
                wake = *m_settle_deadline;
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now);
            pollfd fds[3] = {{m_stop_fd, POLLIN, 0},
                             {Source_Descriptor(), POLLIN, 0},
                             {m_paths.Descriptor(), POLLIN, 0}};
            const int ready =
                ::poll(fds, 3, static_cast<int>(std::max<long long>(0, wait.count())));
            if (ready < 0 && errno != EINTR)
                break;  // nothing left to wait with
            if (m_stop.load() || (fds[0].revents & POLLIN) != 0)
                break;
            bool look = false;
            if ((fds[1].revents & POLLIN) != 0)
                look |= Drain_Source();
            if ((fds[2].revents & POLLIN) != 0)
                look |= m_paths.Drain();
            if (Clock::now() >= next_listing) {
                if (m_options.source == Port_Watch_Source::kAutomatic)
                    Choose_Source();
                look = true;
                next_listing = Clock::now() + m_options.poll_interval;
            }
            if (m_settle_deadline && Clock::now() >= *m_settle_deadline)
                look = true;
            if (look)
                Look();
        }
        m_udev.Close();
        m_kernel.Close();
        m_paths.Close();
    }

    void Request_Stop() noexcept override {
        m_stop = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_stop_fd, &one, sizeof one);
    }

    Port_Watch_Source Source() const noexcept override { return m_source.load(); }

  private:
    // Automatic: udev where its daemon runs (its announcements come after
    // its rules), else the kernel's uevents, else the listing alone.
    void Choose_Source() {
        Port_Watch_Source wanted = m_options.source;
        if (wanted == Port_Watch_Source::kAutomatic)
            wanted = Udev_Daemon_Running() ? Port_Watch_Source::kUdev
                                           : Port_Watch_Source::kKernelUevents;
        if (wanted == m_source.load())
            return;
        m_udev.Close();
        m_kernel.Close();
        Port_Watch_Source chosen = Port_Watch_Source::kPollOnly;
        if (wanted == Port_Watch_Source::kUdev && m_udev.Open())
            chosen = Port_Watch_Source::kUdev;
        else if (wanted != Port_Watch_Source::kPollOnly && m_kernel.Open())
            chosen = Port_Watch_Source::kKernelUevents;
        m_source = chosen;
    }

    int Source_Descriptor() const {
        switch (m_source.load()) {
            case Port_Watch_Source::kUdev:
                return m_udev.Descriptor();
            case Port_Watch_Source::kKernelUevents:
                return m_kernel.Descriptor();
            default:
                return -1;
        }
    }

    bool Drain_Source() {
        switch (m_source.load()) {
            case Port_Watch_Source::kUdev:
                return m_udev.Drain();
            case Port_Watch_Source::kKernelUevents:
                return m_kernel.Drain();
            default:
                return false;
        }
    }

    std::vector<Port_Presence> Present_Now() {
        std::vector<Port_Presence> named;
        for (const std::string& path : m_options.named_ports) {
            if (auto presence = Presence_Of({path, path, 0}, true))
                named.push_back(std::move(*presence));
        }
        std::vector<Port_Presence> listed;
        if (m_options.system_ports) {
            std::vector<Port_Candidate> ports;
            if (m_options.lister)
                m_options.lister->list(ports);
            else
                Scan_Serial_Devices("/dev", std::ref(m_uarts), ports);
            for (const Port_Candidate& port : ports) {
                if (auto presence = Presence_Of(port, false))
                    listed.push_back(std::move(*presence));
            }
        }
        return Merge_Presences(std::move(named), listed);
    }

    // Arms the named paths' directories and takes the ports there; when the
    // directories changed, looks once more (a link may have been made in a
    // directory before it was watched).
    std::vector<Port_Presence> Present_Now_Watched() {
        std::vector<Port_Presence> present = Present_Now();
        for (int rearm = 0; rearm < kMaxRearms && m_paths.Descriptor() >= 0; ++rearm) {
            std::set<std::string> dirs;
            for (const std::string& path : m_options.named_ports)
                dirs.merge(Directories_Deciding(path));
            if (!m_paths.Watch(dirs))
                break;
            present = Present_Now();
        }
        return present;
    }

    // Under udev, a new device waits until udev is done with it, at most
    // kUdevSettleLimit from when it was first seen.
    std::vector<Port_Presence> Settled(std::vector<Port_Presence> present) {
        m_settle_deadline.reset();
        if (m_source.load() != Port_Watch_Source::kUdev) {
            m_first_seen.clear();
            m_listed_devices.clear();
            return present;
        }
        Forget_Departed_Devices(present);
        const Clock::time_point now = Clock::now();
        std::map<std::string, Clock::time_point> still_waiting;
        std::vector<Port_Presence> settled;
        for (Port_Presence& port : present) {
            if (m_state.Knows(port.key) || port.device == 0 ||
                m_udev.Ready(static_cast<dev_t>(port.device), m_first_look)) {
                settled.push_back(std::move(port));
                continue;
            }
            const auto seen = m_first_seen.find(port.key);
            const Clock::time_point first = seen != m_first_seen.end() ? seen->second : now;
            if (now - first >= kUdevSettleLimit) {
                settled.push_back(std::move(port));
                continue;
            }
            still_waiting.emplace(port.key, first);
            const Clock::time_point deadline = first + kUdevSettleLimit;
            if (!m_settle_deadline || deadline < *m_settle_deadline)
                m_settle_deadline = deadline;
        }
        m_first_seen = std::move(still_waiting);
        return settled;
    }

    // A device number listed before and missing now was removed: a device
    // made later under that number waits for its own announcement.
    void Forget_Departed_Devices(const std::vector<Port_Presence>& present) {
        std::set<std::uint64_t> listed;
        for (const Port_Presence& port : present) {
            if (port.device != 0)
                listed.insert(port.device);
        }
        for (const std::uint64_t device : m_listed_devices) {
            if (!listed.contains(device))
                m_udev.Forget(static_cast<dev_t>(device));
        }
        m_listed_devices = std::move(listed);
    }

    void Look() {
        m_first_look = !m_looked;
        m_looked = true;
        std::vector<Port_Event> events;
        m_state.Update(
            Settled(Present_Now_Watched()),
            [](const Port_Presence& port) {
                return port.device != 0
                           ? Read_Port_Identity("/sys", static_cast<dev_t>(port.device))
                           : Port_Identity{};
            },
            events);
        for (const Port_Event& event : events) {
            if (m_stop.load())
                return;
            (*m_emit)(event);
        }
    }

    Port_Watch_Options m_options;
    int m_stop_fd;
    std::atomic<bool> m_stop{false};
    std::atomic<Port_Watch_Source> m_source{Port_Watch_Source::kAutomatic};
    const Port_Watcher::Callback* m_emit = nullptr;
    Udev_Monitor m_udev;
    Kernel_Uevent_Socket m_kernel;
    Path_Watch m_paths;
    Uart_Presence m_uarts;
    Port_Watch_State m_state;
    std::map<std::string, Clock::time_point> m_first_seen;
    std::set<std::uint64_t> m_listed_devices;  // in the last look, under udev
    std::optional<Clock::time_point> m_settle_deadline;
    bool m_looked = false;
    bool m_first_look = true;
};

}  // namespace
}  // namespace serial

std::unique_ptr<Port_Watch_Loop> Make_Port_Watch_Loop(const Port_Watch_Options& options) {
    const int stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_fd < 0)
        return nullptr;
    return std::make_unique<serial::Linux_Watch_Loop>(options, stop_fd);
}
