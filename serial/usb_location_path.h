// A USB device's place on the bus as Windows writes it (the device's
// LocationPaths), in the form Linux gives it in sysfs, so that one slots file
// names the same sockets on both:
//
//   PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(3)            ->  1-1.3
//   PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(4)#USBMI(2)   ->  1-2.4:1.2
//
// The rule: USBROOT(n) is bus n+1; the first USB(k) is the root hub's port
// (after "-"), each further USB(k) a hub's port (after "."); a composite
// device's interface USBMI(m) is ":1.m", configuration 1 as Linux shows it
// (the slots compare only the device's part before ":"). Windows numbers
// its root hubs per host controller, so a PC with two USB controllers gives
// both a bus 1: a bench's sockets are best all on one controller.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace serial {
// Nothing when the text is not a USB location (no USBROOT, no port, a
// number that is not one, anything after the ports but an interface).
std::optional<std::string> Linux_Usb_Path(std::string_view location);
}  // namespace serial
