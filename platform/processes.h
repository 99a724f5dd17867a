// This program's standard streams and the other programs on the machine: who
// holds a port, what a process runs and which service it belongs to.
// processes_*.cpp implement it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Puts /dev/null on each of the standard descriptors 0 to 2 that is closed,
// so that no file the program opens later lands there: the stop pipe would
// take every line written to standard output for a stop, and a port on one
// of them would look like the program's own terminal. Called first thing in
// main; nothing to do on Windows.
void Fill_Closed_Standard_Streams();

// Programs other than this one that hold the device open, as
// "minicom (pid 4242)"; only those this user may inspect, and none where the
// system does not say. A device gone from /dev (unplugged) is still found
// open in the programs that hold it.
std::vector<std::string> Port_Holders(const std::string& device_path);
// Whether the system tells this program about the others (Processes_Named,
// Port_Holders): false on Windows.
bool Processes_Are_Listed();
// The process ids of the running programs of that name (none where the
// system does not tell). A name is no proof of what runs: any program can
// take one.
std::vector<std::string> Processes_Named(std::string_view name);
// The path of the program a process runs; empty where the system does not
// tell this user.
std::string Process_Program(const std::string& pid);
// The system service a process belongs to, as the service manager names it
// ("ModemManager.service"); empty when it belongs to none, or where the
// system does not tell.
std::string Process_Service(const std::string& pid);

}  // namespace platform
