// libudev's monitor of the "udev" source, filtered in the kernel to tty
// devices.
#include "serial/linux_udev_monitor.h"

#include <libudev.h>
#include <unistd.h>

#include <cstring>

namespace serial {
namespace {

// Where systemd-udevd keeps its control socket while it runs; libudev asks
// the same question before it listens.
constexpr const char* kUdevControl = "/run/udev/control";

}  // namespace

bool Udev_Daemon_Running() {
    return ::access(kUdevControl, F_OK) == 0;
}

Udev_Monitor::~Udev_Monitor() {
    Close();
}

bool Udev_Monitor::Open() {
    Close();
    m_udev = udev_new();
    if (m_udev == nullptr)
        return false;
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (m_monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(m_monitor) < 0) {
        Close();
        return false;
    }
    return true;
}

void Udev_Monitor::Close() {
    m_announced.clear();
    if (m_monitor != nullptr)
        udev_monitor_unref(m_monitor);
    if (m_udev != nullptr)
        udev_unref(m_udev);
    m_monitor = nullptr;
    m_udev = nullptr;
}

int Udev_Monitor::Descriptor() const {
    return m_monitor != nullptr ? udev_monitor_get_fd(m_monitor) : -1;
}

bool Udev_Monitor::Drain() {
    bool any = false;
    // The monitor's socket does not block: null once nothing is waiting.
    while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        any = true;
        const dev_t number = udev_device_get_devnum(device);
        const char* action = udev_device_get_action(device);
        if (number != 0 && action != nullptr) {
            if (std::strcmp(action, "remove") == 0)
                m_announced.erase(number);
            else
                m_announced.insert(number);
        }
        udev_device_unref(device);
    }
    return any;
}

bool Udev_Monitor::Ready(dev_t device, bool first_look) const {
    if (m_udev == nullptr || m_announced.contains(device))
        return true;
    udev_device* found = udev_device_new_from_devnum(m_udev, 'c', device);
    if (found == nullptr)
        return true;  // no device in sysfs: nothing for udev to do
    const bool ready = first_look && udev_device_get_is_initialized(found) > 0;
    udev_device_unref(found);
    return ready;
}

}  // namespace serial
