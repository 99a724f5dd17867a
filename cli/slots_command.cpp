// flashtool-cli slots: each USB serial port as it is plugged in, one line
// each, as a line of a slots file waiting for its label ("1-1.3 = " and what
// the device is), until Ctrl-C or --count ports. A shop plugs a phone into
// each socket of its bench in turn and writes the labels in.
#include <chrono>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/text_format.h"
#include "platform/stop_signals.h"
#include "serial/port_event_queue.h"
#include "serial/port_watcher.h"
#include "serial/stop_signal.h"
#include "station/port_filter.h"

namespace cli {
namespace {

// The line of a port: "1-1.3 =   # 1d6b:0104 serial M418-0001 /dev/ttyACM0".
std::string Slot_Line(const Port_Candidate& port) {
    const Port_Identity& identity = port.identity;
    std::string line = Displayable_Text(Usb_Device_Path(identity.usb_path)) + " =   # " +
                       Displayable_Text(identity.usb_vendor_id + ":" + identity.usb_product_id);
    if (!identity.usb_serial.empty())
        line += " serial " + Displayable_Text(identity.usb_serial);
    return line + " " + Displayable_Text(port.display_name);
}

}  // namespace

int Run_Slots(const Arguments& args) {
    Stop_Signal stop;
    platform::Set_Stop_Target(&stop);
    Port_Event_Queue events;
    Port_Watcher watcher;
    if (!watcher.Start(events.Sink())) {
        platform::Set_Stop_Target(nullptr);
        std::fprintf(stderr,
                     "flashtool-cli: the ports cannot be watched; run 'flashtool-cli "
                     "doctor' to see why.\n");
        return kExitPhoneNotFound;
    }
    std::fprintf(stderr,
                 "flashtool-cli: plug a phone into each socket in turn; press Ctrl-C when "
                 "done.\n");
    int shown = 0;
    while (!stop.Requested() && (args.count == 0 || shown < args.count)) {
        Port_Event event;
        if (!events.Next(event, std::chrono::milliseconds(100)))
            continue;
        // Only a port on USB has a socket a slots file can name.
        if (event.kind != Port_Event::Kind::kArrived || event.port.identity.usb_path.empty())
            continue;
        std::printf("%s\n", Slot_Line(event.port).c_str());
        std::fflush(stdout);
        ++shown;
    }
    watcher.Stop();
    platform::Set_Stop_Target(nullptr);
    return kExitOk;
}

}  // namespace cli
