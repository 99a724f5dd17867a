// The ports that the phone search tries, as each platform lists them.
//
// On Windows the list comes from the registry's serial-port map (see
// com_port_listing.h); on Linux from the USB serial and UART devices under
// /dev. Tests and the command-line tool hand the search an explicit list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the system says about the device behind a port, where it says
// anything (Linux: sysfs). The texts come from the device itself (a USB
// device names its own maker, product and serial number): show them escaped.
struct Port_Identity {
    std::string driver;          // the kernel driver that made the port: "cdc_acm"
    std::string usb_vendor_id;   // four hex digits, "1d6b"; empty: not a USB device
    std::string usb_product_id;  // four hex digits, "0104"
    std::string usb_serial;      // the device's serial number, if it has one
    std::string manufacturer;
    std::string product;
    std::string usb_path;  // where on the bus: "1-1:1.0" (bus 1, port 1, interface 0)
    bool Is_Usb() const { return !usb_vendor_id.empty(); }
    bool Known() const { return !driver.empty() || Is_Usb(); }
};

struct Port_Candidate {
    std::string device_path;   // what CComport::Open is given: "\\.\COM5" or "/dev/ttyACM0"
    std::string display_name;  // what the user is shown: "COM5" or "/dev/ttyACM0"
    std::uint16_t number = 0;  // the n of COMn on Windows; 0 where ports have no number
    Port_Identity identity{};  // filled by the system's listing where it can
};

// Listing results keep the meaning of Find_Com_Ports' codes on every platform.
enum Port_List_Result : int {
    kPortListOk = 0,
    kPortListBadArguments = 1,
    kPortListNothingFound = 2,
    kPortListTooMany = 3,
    kPortListMapUnreadable = 4,
};

class PortLister {
  public:
    virtual ~PortLister() = default;
    // Fills ports in the order the search must try them; returns a Port_List_Result.
    virtual int list(std::vector<Port_Candidate>& ports) = 0;
};

// The system's own listing: registry on Windows, /dev on Linux.
std::unique_ptr<PortLister> Make_System_Port_Lister();

// A fixed list of device paths, shown by their paths (pseudo-terminals, --port).
std::unique_ptr<PortLister> Make_Fixed_Port_Lister(std::vector<std::string> device_paths);

// The port a user names (--port): on Windows "COM12", "com012" or "\\.\COM12"
// open "\\.\COM12" and are shown as "COM12" (Com_Port_From_Name); elsewhere
// the device path as it is.
Port_Candidate Named_Port(const std::string& name);
// Whether two names a user gave reach one port: on POSIX one device (two
// links to it, "dir/./ttyACM0" and "dir/ttyACM0"), compared as paths where
// the device is not there yet; on Windows one COM port however it is written.
bool Same_Port(const std::string& first, const std::string& second);

namespace serial {
// What the system says about the device a path names now, through links
// (Linux: sysfs); empty where it tells nothing (a pseudo-terminal, Windows).
Port_Identity Port_Identity_Of(const std::string& device_path);
}  // namespace serial
