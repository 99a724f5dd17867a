// This program's standard streams and the other programs, on Windows.
#include "platform/processes.h"

namespace platform {

// Ports and the stop event are handles of their own on Windows, never one of
// the standard streams: nothing to do.
void Fill_Closed_Standard_Streams() {}

// Finding the programs that hold a port would take the system's handle
// tables; the message says "another program" instead.
std::vector<std::string> Port_Holders(const std::string&) {
    return {};
}

bool Processes_Are_Listed() {
    return false;
}

std::vector<std::string> Processes_Named(std::string_view) {
    return {};
}

std::string Process_Program(const std::string&) {
    return {};
}

std::string Process_Service(const std::string&) {
    return {};
}

}  // namespace platform
