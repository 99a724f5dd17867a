// flashtool-cli ports: the ports the phone search tries, in its order, each
// with the device behind it where the system says (driver, USB numbers, serial).
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/port_identity_text.h"
#include "cli/text_format.h"
#include "serial/port_list.h"

namespace cli {

int Write_Ports(std::FILE* out, std::FILE* err) {
    std::vector<Port_Candidate> ports;
    const int result = Make_System_Port_Lister()->list(ports);
    if (result == kPortListNothingFound) {
        std::fprintf(err, "No serial ports found. Plug the phone in with key 1 held down.\n");
        return kExitOk;
    }
    if (result != kPortListOk) {
        std::fprintf(err, "The serial ports cannot be listed (listing error %d).\n", result);
        return kExitPhoneNotFound;
    }
    // One port a line: its device, the name the user is shown where that
    // differs, and what the system knows of the device behind it.
    for (const Port_Candidate& port : ports) {
        std::string line = Displayable_Text(port.device_path);
        if (port.display_name != port.device_path)
            line += "\t" + Displayable_Text(port.display_name);
        if (const std::string identity = Identity_Text(port.identity); !identity.empty())
            line += "\t" + identity;
        std::fprintf(out, "%s\n", line.c_str());
    }
    return kExitOk;
}

int Run_Ports(const Arguments&) {
    return Write_Ports(stdout, stderr);
}

}  // namespace cli
