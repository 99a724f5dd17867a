// flashtool-cli ports: the ports the phone search tries, in its order.
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/text_format.h"
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
        const std::string device = Displayable_Text(port.device_path);
        if (port.display_name == port.device_path) {
            std::printf("%s\n", device.c_str());
        } else {
            std::printf("%s\t%s\n", device.c_str(), Displayable_Text(port.display_name).c_str());
        }
    }
    return kExitOk;
}

}  // namespace cli
