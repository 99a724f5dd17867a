// The few things flashtool-cli does differently per operating system:
// signals, terminal detection, the console's text encoding, and doctor's
// explanation of why a port cannot be opened. platform_posix.cpp and
// platform_win32.cpp implement them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "bootloader/comport.h"
#include "serial/port_list.h"
#include "serial/stop_signal.h"

namespace cli {

// Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and the console
// closing) stop the port's waits while a stop target is set, so the update
// ends at a safe point and the port is closed; a second one, or one while no
// target is set, ends the program as usual. A reader that went away (SIGPIPE)
// never ends the program: its output is dropped.
void Install_Stop_Handlers();
// The stop request a signal makes; null: none (signals end the program).
void Set_Stop_Target(Stop_Signal* stop);
// The number of the signal that asked to stop (SIGINT for Ctrl-C), 0 if none.
int Stop_Signal_Number();
// "Ctrl-C", "SIGTERM", "SIGHUP", ...
std::string Stop_Signal_Name(int signal_number);
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
