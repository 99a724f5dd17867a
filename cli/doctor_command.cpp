// flashtool-cli doctor: every port the search would try, and why it can or
// cannot be used, with the fix where there is one.
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/platform.h"
#include "bootloader/comport.h"

namespace cli {

int Run_Doctor(const Arguments& args) {
    std::vector<Port_Candidate> ports;
    const int result = args.port ? Make_Fixed_Port_Lister({*args.port})->list(ports)
                                 : Make_System_Port_Lister()->list(ports);
    bool any_usable = false;
    if (result == kPortListNothingFound) {
        std::printf("No serial ports found: switch the phone off, hold key 1 and plug it in.\n");
    } else if (result != kPortListOk) {
        std::printf("The serial ports cannot be listed (listing error %d).\n", result);
    } else {
        CComport port;
        for (const Port_Candidate& candidate : ports) {
            if (candidate.display_name == candidate.device_path) {
                std::printf("%s\n", candidate.device_path.c_str());
            } else {
                std::printf("%s (%s)\n", candidate.display_name.c_str(),
                            candidate.device_path.c_str());
            }
            const Port_Diagnosis diagnosis = Diagnose_Port(candidate, port);
            for (const std::string& line : diagnosis.lines)
                std::printf("  %s\n", line.c_str());
            any_usable = any_usable || diagnosis.usable;
        }
    }
    for (const std::string& line : Diagnose_System())
        std::printf("%s\n", line.c_str());
    return any_usable ? kExitOk : kExitPhoneNotFound;
}

}  // namespace cli
