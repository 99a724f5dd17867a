// flashtool-cli ports: the ports the phone search tries, in its order.
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "serial/port_list.h"

namespace cli {

int Run_Ports(const Arguments&) {
    std::vector<Port_Candidate> ports;
    const int result = Make_System_Port_Lister()->list(ports);
    if (result == kPortListNothingFound) {
        std::fprintf(stderr, "No serial ports found. Plug the phone in with key 1 held down.\n");
        return kExitOk;
    }
    if (result != kPortListOk) {
        std::fprintf(stderr, "The serial ports cannot be listed (listing error %d).\n", result);
        return kExitPhoneNotFound;
    }
    for (const Port_Candidate& port : ports) {
        if (port.display_name == port.device_path) {
            std::printf("%s\n", port.device_path.c_str());
        } else {
            std::printf("%s\t%s\n", port.device_path.c_str(), port.display_name.c_str());
        }
    }
    return kExitOk;
}

}  // namespace cli
