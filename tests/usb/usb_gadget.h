// USB gadgets for the USB guest (scripts/test-usb): the phone's end of a real
// USB cable, made through configfs. Each gadget has one or more ACM serial
// functions; bound to a dummy controller (plugged in), each function is a
// tty on the gadget's side (/dev/ttyGS<n>, where the virtual phone serves)
// and, once the kernel's cdc_acm driver has taken the interface, one on the
// PC's side (/dev/ttyACM<m>, what flashtool opens). Unbinding is pulling the
// cable.
//
//   Usb_Gadget phone({.serial = "M418-0001"});
//   ASSERT_TRUE(phone.Plug()) << phone.Error();
//   std::string pc_side = phone.Wait_For_Host_Tty();   // "/dev/ttyACM0"
//   ... phone.Unplug(); phone.Plug(); ...
//
// Several gadgets may be plugged at once, one per dummy controller
// (dummy_hcd's num parameter in tests/usb/guest/modules says how many).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace usb_rig {

using std::chrono::milliseconds;

// How long the kernel may take to make or remove a device node after a plug
// or an unplug (measured: 0.3 s under an emulated processor; a loaded host
// stretches that).
inline constexpr milliseconds kEnumerationLimit{10000};

struct Gadget_Spec {
    std::uint16_t vendor_id = 0x1d6b;
    std::uint16_t product_id = 0x0104;
    std::string serial = "M418-0001";
    std::string manufacturer = "Corvel";
    std::string product = "M418 boot loader";
    int acm_functions = 1;
};

class Usb_Gadget {
  public:
    // Makes the gadget in configfs, not plugged in; Error() says what failed.
    explicit Usb_Gadget(Gadget_Spec spec);
    // Unplugs it and removes it from configfs.
    ~Usb_Gadget();
    Usb_Gadget(const Usb_Gadget&) = delete;
    Usb_Gadget& operator=(const Usb_Gadget&) = delete;

    bool Made() const { return m_made; }
    const std::string& Error() const { return m_error; }
    const Gadget_Spec& Spec() const { return m_spec; }

    // Binds the gadget to the first free dummy controller.
    bool Plug();
    // Unbinds it: the PC sees the device go at once.
    bool Unplug();
    bool Plugged() const { return !m_controller.empty(); }

    // The gadget's side of a function: "/dev/ttyGS0". It exists while the
    // gadget does, plugged in or not.
    std::string Phone_Tty(int function = 0) const;
    // The PC's side of a function, once cdc_acm has made it; empty when it
    // did not appear within the limit.
    std::string Wait_For_Host_Tty(int function = 0, milliseconds limit = kEnumerationLimit) const;
    // The PC's side as it is now; empty when there is none.
    std::string Host_Tty(int function = 0) const;

  private:
    bool Fail(const std::string& what);

    Gadget_Spec m_spec;
    std::string m_dir;                      // /sys/kernel/config/usb_gadget/<name>
    std::string m_controller;               // the UDC it is bound to; empty: unplugged
    std::vector<std::string> m_made_paths;  // removed in reverse order
    bool m_made = false;
    std::string m_error;
};

// Waits until path no longer exists; false when it is still there at the limit.
bool Wait_Until_Gone(const std::string& path, milliseconds limit = kEnumerationLimit);

// The dummy controllers the kernel offers (/sys/class/udc), in order.
std::vector<std::string> Controllers();

}  // namespace usb_rig
