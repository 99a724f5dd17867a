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

struct Port_Candidate {
    std::string device_path;   // what CComport::Open is given: "\\.\COM5" or "/dev/ttyACM0"
    std::string display_name;  // what the user is shown: "COM5" or "/dev/ttyACM0"
    std::uint16_t number = 0;  // the n of COMn on Windows; 0 where ports have no number
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
