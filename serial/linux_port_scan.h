// The /dev scan behind the Linux port listing, with the directory, the UART
// check and the sysfs root handed in so that tests can run it over
// directories of their own.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "serial/port_list.h"

namespace serial {

// Whether the device at path is a UART that is really there (a /dev/ttyS*
// entry exists for every possible port, fitted or not).
using Uart_Check = std::function<bool(const std::string& path)>;

// The check of the running system: TIOCGSERIAL reports a known UART type.
bool Is_Present_Uart(const std::string& path);

// Lists dir/ttyACM<n>, dir/ttyUSB<n> and the dir/ttyS<n> that pass uart_check,
// in that order of prefixes and by number within each; returns a
// Port_List_Result. Only character devices count; a symbolic link counts like
// the device it points to, and is left out when the same device is listed
// under another name already. ports is cleared first. With a sysfs root,
// each port's identity is read from there (Read_Port_Identity).
int Scan_Serial_Devices(const std::string& dir, const Uart_Check& uart_check,
                        std::vector<Port_Candidate>& ports, const std::string& sys_root = {});

// What sysfs under sys_root says about the character device: the driver of
// the device behind the tty and, for a USB device, its numbers, strings and
// place on the bus. Empty where sysfs knows nothing (a pseudo-terminal).
Port_Identity Read_Port_Identity(const std::string& sys_root, dev_t device);
// The same for the device a path names now (through links); empty when the
// path names no character device.
Port_Identity Port_Identity_Of(const std::string& device_path);

}  // namespace serial
