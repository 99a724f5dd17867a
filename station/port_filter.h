// Which ports a station takes as phone ports, and the label of a phone's
// socket. A station watching the system's ports sees every serial port it
// lists, a PC's own UART among them: only ports on USB are phones, narrowed
// further by the USB numbers a shop names (--match) or by the sockets of its
// slots file (--only-slots). A port named by the user is always taken.
//
//   Port_Filter filter{.match = {*Parse_Usb_Match("1d6b:*")}};
//   Port_Verdict verdict = Judge_Port(filter, port, /*named=*/false);
//   if (!verdict.taken) ... verdict.skip, verdict.usb_id
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_list.h"

// A --match: four hex digits each, lower case; an empty product matches any.
struct Usb_Match {
    std::string vendor_id;
    std::string product_id;
};
// "1d6b:0104", "1D6B:*"; nothing when it is not VID:PID (or VID:*) in hex.
std::optional<Usb_Match> Parse_Usb_Match(std::string_view text);

// One socket of the slots file: where on the bus, and what the shop calls it.
struct Port_Slot {
    std::string usb_path;  // the device's part: "1-1.3"
    std::string label;     // "A3"
};
struct Slots_Parse {
    std::vector<Port_Slot> sockets;
    int bad_line = 0;   // the first line refused (1, 2, ...); 0: none
    std::string error;  // why, for a message
    bool Ok() const { return bad_line == 0 && error.empty(); }
};
// The text of a slots file: "USB-PATH = LABEL" lines, "#" comments, blank
// lines. A path given twice, or one without a label, refuses its line.
Slots_Parse Parse_Slots(std::string_view text);
// The slots file at path; a file that cannot be read is said in error.
Slots_Parse Read_Slots_File(const std::string& path);

// The device's part of a USB path: "1-1.3:1.0" is "1-1.3".
std::string Usb_Device_Path(const std::string& usb_path);

// Why a port was not taken.
enum class Port_Skip {
    kNone,
    kNotUsb,      // not a USB device: a built-in UART, a pseudo-terminal
    kNotMatched,  // its USB numbers are in no --match
    kNotInSlots,  // --only-slots, and its socket is not in the slots file
};
// "not_usb", "not_matched", "not_in_slots" (the JSON's); "" for kNone.
const char* Port_Skip_Name(Port_Skip skip);

struct Port_Filter {
    // Whether a port the system lists must be on USB. The station's own
    // default: a phone is always on USB, and anything else must not be
    // sent handshake bytes. A port whose device the system says nothing of
    // is taken (unless match is given): it may be a phone.
    bool usb_only = true;
    std::vector<Usb_Match> match{};  // none: every USB device
    std::vector<Port_Slot> sockets{};
    bool only_slots = false;  // a listed port outside the slots is skipped
};

struct Port_Verdict {
    bool taken = true;
    Port_Skip skip = Port_Skip::kNone;
    std::string usb_id;  // "1d6b:0104" where the device is on USB
    std::string slot;    // the socket's label, where the slots file names it
};
// named: the user named the port (--port): taken as given, slot or not.
Port_Verdict Judge_Port(const Port_Filter& filter, const Port_Candidate& port, bool named);
