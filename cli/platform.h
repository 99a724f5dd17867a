// The few things flashtool-cli does differently per operating system:
// Ctrl-C, terminal detection, the console's text encoding, and doctor's
// explanation of why a port cannot be opened. platform_posix.cpp and
// platform_win32.cpp implement them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "serial/comport.h"
#include "serial/port_list.h"

namespace cli {

// Makes Ctrl-C (and a termination request) ask the port to stop waiting
// (serial::Request_Interrupt); a second Ctrl-C ends the program at once.
void Install_Interrupt_Handler();
bool Is_Terminal(std::FILE* stream);
// Windows consoles show UTF-8 only when asked to.
void Prepare_Console();

struct Port_Diagnosis {
    bool usable = false;             // CComport::Open worked
    std::vector<std::string> lines;  // what was found, and how to fix it
};
// Opens the port the way the phone search does and explains the result.
Port_Diagnosis Diagnose_Port(const Port_Candidate& candidate, CComport& port);
// Checks of the machine as a whole (on Linux: ModemManager).
std::vector<std::string> Diagnose_System();

}  // namespace cli
