// The /dev scan behind the Linux port listing, with the directory and the
// UART check handed in so that tests can run it over a directory of their own.
#pragma once

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
// under another name already. ports is cleared first.
int Scan_Serial_Devices(const std::string& dir, const Uart_Check& uart_check,
                        std::vector<Port_Candidate>& ports);

}  // namespace serial
