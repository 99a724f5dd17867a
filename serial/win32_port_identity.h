// What Windows says of the device behind each COM port, for the listing:
// the configuration manager's Ports class (SetupAPI), each device matched to
// its COM port by the PortName of its device key.
#pragma once

#include <string>
#include <vector>

#include "serial/port_list.h"

namespace serial {
// Fills the identity of each port the Ports class names: a USB device's
// numbers, serial number and place on the bus in Linux's form ("1-3.2" for
// "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)", usb_location_path.h),
// and any device's driver service ("usbser", "Serial"). A port it does not
// name keeps an empty identity.
void Fill_Port_Identities(std::vector<Port_Candidate>& ports);
// The parts of a device instance ID: "USB\VID_1D6B&PID_0104\M418-0001". A
// composite device's interface ("...&MI_00\6&2C...") and a generated
// instance (one with '&') have no serial number. Nothing for a non-USB ID.
void Read_Usb_Instance_Id(const std::string& instance_id, Port_Identity& identity);
}  // namespace serial
