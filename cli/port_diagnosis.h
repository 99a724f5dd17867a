// doctor's explanation of a port that cannot be opened, and its checks of
// the machine as a whole.
#pragma once

#include <string>
#include <vector>

#include "bootloader/comport.h"
#include "serial/port_list.h"

namespace cli {

struct Port_Diagnosis {
    bool usable = false;             // CComport::Open worked
    bool present = true;             // false: no such device (it may have gone)
    std::vector<std::string> lines;  // what was found, and how to fix it
};
// Opens the port the way the phone search does and explains the result.
Port_Diagnosis Diagnose_Port(const Port_Candidate& candidate, CComport& port);
// Where the system numbers ports by the USB serial number (Windows): why
// the phones' COM numbers keep growing, and what the user can do about it.
// ports: those listed now, for the highest number and the phones' USB ids.
std::vector<std::string> Port_Number_Lines(const std::vector<Port_Candidate>& ports);
// Checks of the machine as a whole (on Linux: ModemManager).
std::vector<std::string> Diagnose_System();

}  // namespace cli
