// The ports the phone search tries on Linux: the USB serial devices under /dev
// (where the phone's boot loader appears as ttyACM), trusted as found like the
// Windows registry's entries, and the built-in UARTs that are really fitted.
// Each comes with what sysfs says of its device (linux_port_identity.cpp).
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>

#include "serial/linux_port_scan.h"

namespace serial {
namespace {

// Searched in this order: the phone is a USB device, so those come first.
constexpr std::string_view kPrefixes[] = {"ttyACM", "ttyUSB", "ttyS"};
constexpr std::size_t kUartPrefix = 2;

struct Found_Device {
    std::size_t prefix = 0;
    std::uint64_t number = 0;
    std::string name;
    dev_t device = 0;
    bool is_link = false;
};

// Splits "ttyUSB12" into prefix 1 and number 12; false for any other name
// ("ttyS", "ttySAC0", "ttyUSB1a").
bool Parse_Name(std::string_view name, std::size_t& prefix, std::uint64_t& number) {
    for (std::size_t i = 0; i < std::size(kPrefixes); ++i) {
        if (!name.starts_with(kPrefixes[i]))
            continue;
        const std::string_view digits = name.substr(kPrefixes[i].size());
        if (digits.empty())
            return false;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error != std::errc() || end != digits.data() + digits.size())
            return false;
        prefix = i;
        return true;
    }
    return false;
}

class Dir_Handle {
  public:
    explicit Dir_Handle(const std::string& path) : m_dir(::opendir(path.c_str())) {}
    ~Dir_Handle() {
        if (m_dir)
            ::closedir(m_dir);
    }
    Dir_Handle(const Dir_Handle&) = delete;
    Dir_Handle& operator=(const Dir_Handle&) = delete;
    DIR* get() const { return m_dir; }

  private:
    DIR* m_dir;
};

class DevLister final : public PortLister {
  public:
    int list(std::vector<Port_Candidate>& ports) override {
        return Scan_Serial_Devices("/dev", Is_Present_Uart, ports, "/sys");
    }
};

}  // namespace

bool Is_Present_Uart(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        // Held exclusively by another program: it exists, as the Windows probe
        // counts a port that is in use. A port we may not open at all is left
        // out: without the check every possible ttyS would be listed.
        return errno == EBUSY;
    }
    serial_struct info{};
    const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

int Scan_Serial_Devices(const std::string& dir, const Uart_Check& uart_check,
                        std::vector<Port_Candidate>& ports, const std::string& sys_root) {
    ports.clear();
    const Dir_Handle handle(dir);
    if (!handle.get())
        return kPortListMapUnreadable;

    std::vector<Found_Device> found;
    while (const dirent* entry = ::readdir(handle.get())) {
        Found_Device device;
        device.name = entry->d_name;
        if (!Parse_Name(device.name, device.prefix, device.number))
            continue;
        const std::string path = dir + "/" + device.name;
        struct stat link_info {};
        struct stat target_info {};
        if (::lstat(path.c_str(), &link_info) != 0)
            continue;
        if (::stat(path.c_str(), &target_info) != 0)
            continue;  // dangling link
        if (!S_ISCHR(target_info.st_mode))
            continue;
        device.is_link = S_ISLNK(link_info.st_mode);
        device.device = target_info.st_rdev;
        if (device.prefix == kUartPrefix && !uart_check(path))
            continue;
        found.push_back(std::move(device));
    }
    std::sort(found.begin(), found.end(), [](const Found_Device& a, const Found_Device& b) {
        return std::tie(a.prefix, a.number, a.name) < std::tie(b.prefix, b.number, b.name);
    });

    // A device is listed once: under its own node when that is listed, else
    // under the first link to it.
    std::set<dev_t> own_nodes;
    for (const Found_Device& device : found) {
        if (!device.is_link)
            own_nodes.insert(device.device);
    }
    std::set<dev_t> listed;
    std::vector<Port_Candidate> result;
    for (const Found_Device& device : found) {
        if (device.is_link && own_nodes.contains(device.device))
            continue;
        if (!listed.insert(device.device).second)
            continue;
        const std::string path = dir + "/" + device.name;
        Port_Candidate port{path, path, 0};
        if (!sys_root.empty())
            port.identity = Read_Port_Identity(sys_root, device.device);
        result.push_back(std::move(port));
    }
    ports = std::move(result);
    return ports.empty() ? kPortListNothingFound : kPortListOk;
}

}  // namespace serial

std::unique_ptr<PortLister> Make_System_Port_Lister() {
    return std::make_unique<serial::DevLister>();
}
