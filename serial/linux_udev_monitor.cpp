// libudev's monitor of the "udev" source, filtered in the kernel to tty
// devices.
#include "serial/linux_udev_monitor.h"

#include <libudev.h>
#include <unistd.h>

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
        udev_device_unref(device);
    }
    return any;
}

bool Udev_Monitor::Ready(dev_t device) const {
    if (m_udev == nullptr)
        return true;
    udev_device* found = udev_device_new_from_devnum(m_udev, 'c', device);
    if (found == nullptr)
        return true;  // no device in sysfs: nothing for udev to do
    const bool ready = udev_device_get_is_initialized(found) > 0;
    udev_device_unref(found);
    return ready;
}

}  // namespace serial
