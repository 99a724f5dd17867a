// flashtool-cli doctor: every port the search would try, and why it can or
// cannot be used, with the fix where there is one.
#include <cstdio>

#include "bootloader/comport.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/port_diagnosis.h"
#include "cli/port_identity_text.h"
#include "cli/port_name.h"
#include "cli/text_format.h"
#include "platform/devices.h"

namespace cli {
namespace {

// A named port that is not there may be the phone's old name: unplugged and
// plugged in again, it can come back under another (ttyACM1 for ttyACM0).
void Show_Ports_Now(std::FILE* out) {
    std::vector<Port_Candidate> ports;
    if (Make_System_Port_Lister()->list(ports) != kPortListOk || ports.empty()) {
        std::fprintf(out, "  no serial port is there now: plug the phone in with key 1 held\n");
        return;
    }
    std::fprintf(out, "  a phone plugged in again may have another name; the ports there now:\n");
    for (const Port_Candidate& other : ports) {
        const std::string identity = Identity_Text(other.identity);
        std::fprintf(out, "    %s%s%s\n", Displayable_Text(other.display_name).c_str(),
                     identity.empty() ? "" : "  ", identity.c_str());
    }
}

}  // namespace

int Write_Doctor(const Arguments& args, std::FILE* out) {
    std::vector<Port_Candidate> ports;
    const int result = args.port ? Make_Named_Port_Lister(*args.port)->list(ports)
                                 : Make_System_Port_Lister()->list(ports);
    bool any_usable = false;
    if (result == kPortListNothingFound) {
        std::fprintf(out,
                     "No serial ports found: switch the phone off, hold key 1 and plug it in.\n");
    } else if (result != kPortListOk) {
        std::fprintf(out, "The serial ports cannot be listed (listing error %d).\n", result);
    } else {
        CComport port;
        for (const Port_Candidate& candidate : ports) {
            const std::string device = Displayable_Text(candidate.device_path);
            const std::string name = Displayable_Text(candidate.display_name);
            if (name == device) {
                std::fprintf(out, "%s\n", device.c_str());
            } else {
                std::fprintf(out, "%s (%s)\n", name.c_str(), device.c_str());
            }
            // The lines name the device's group and the programs that hold it.
            const Port_Diagnosis diagnosis = Diagnose_Port(candidate, port);
            for (const std::string& line : diagnosis.lines)
                std::fprintf(out, "  %s\n", Displayable_Text(line).c_str());
            any_usable = any_usable || diagnosis.usable;
            if (args.port && !diagnosis.present)
                Show_Ports_Now(out);
        }
    }
    if (platform::Port_Numbers_Follow_Serial_Numbers()) {
        std::vector<Port_Candidate> listed;
        Make_System_Port_Lister()->list(listed);
        for (const std::string& line : Port_Number_Lines(listed))
            std::fprintf(out, "%s\n", Displayable_Text(line).c_str());
    }
    for (const std::string& line : Diagnose_System())
        std::fprintf(out, "%s\n", Displayable_Text(line).c_str());
    return any_usable ? kExitOk : kExitPhoneNotFound;
}

int Run_Doctor(const Arguments& args) {
    return Write_Doctor(args, stdout);
}

}  // namespace cli
