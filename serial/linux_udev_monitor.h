// The udev daemon's device announcements, through libudev: sent once udev
// has applied its rules to a device (its node's group and mode, its links
// such as /dev/serial/by-id), so a port announced here can be opened as the
// system means it to be.
#pragma once

#include <sys/types.h>

#include <set>

struct udev;
struct udev_monitor;

namespace serial {

// Whether a udev daemon runs (it answers on its control socket's path).
bool Udev_Daemon_Running();

class Udev_Monitor {
  public:
    Udev_Monitor() = default;
    ~Udev_Monitor();
    Udev_Monitor(const Udev_Monitor&) = delete;
    Udev_Monitor& operator=(const Udev_Monitor&) = delete;

    // Listens for udev's tty announcements; false when libudev refuses.
    bool Open();
    void Close();
    int Descriptor() const;
    // Reads every announcement waiting; true when any came.
    bool Drain();
    // Whether udev is done with the character device: it is no device of
    // udev's (a pseudo-terminal, a node of no driver), or udev announced it
    // since it was last removed. A device found by the first look, before
    // anything could be announced, counts as done once udev's database
    // holds it; later, only the announcement counts, since the database
    // may still hold the entry of a device of the same number that was
    // just unplugged.
    bool Ready(dev_t device, bool first_look) const;
    // The device was seen gone: its announcement no longer counts, even when
    // udev's "remove" has not come yet (udev may announce a removal after
    // the kernel has already made a new device of the same number).
    void Forget(dev_t device) { m_announced.erase(device); }

  private:
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    std::set<dev_t> m_announced;  // announced and not removed since
};

}  // namespace serial
