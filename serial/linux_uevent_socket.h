// The kernel's own device announcements (netlink uevents), for systems where
// no udev daemon runs: the kernel sends one for every device it adds or
// removes, tty devices among them, once the device's node is in /dev.
#pragma once

#include <cstddef>
#include <string_view>

namespace serial {

// What one uevent message says: "ACTION@DEVPATH" and then KEY=VALUE texts,
// each ended by a null byte.
struct Uevent {
    std::string_view action;       // "add", "remove", "change", ...
    std::string_view subsystem;    // "tty", "usb", ...
    std::string_view device_name;  // DEVNAME: "ttyACM0"; empty for devices without a node
};
// False when the message is not a kernel uevent (libudev's own messages on
// another group begin differently).
bool Parse_Uevent(std::string_view message, Uevent& event);

class Kernel_Uevent_Socket {
  public:
    Kernel_Uevent_Socket() = default;
    ~Kernel_Uevent_Socket();
    Kernel_Uevent_Socket(const Kernel_Uevent_Socket&) = delete;
    Kernel_Uevent_Socket& operator=(const Kernel_Uevent_Socket&) = delete;

    // Joins the kernel's uevent group; false where the system refuses.
    bool Open();
    void Close();
    int Descriptor() const { return m_fd; }
    // Reads every message waiting. True when any concerned a tty device, or
    // some were lost (the socket's buffer overflowed): look at the ports again.
    bool Drain();

  private:
    int m_fd = -1;
};

}  // namespace serial
