// The words the station command's three outputs share: how a phone's result
// and its device are named, and its transfer rate.
#pragma once

#include <cstdint>
#include <string>

#include "download/update_outcome.h"
#include "serial/port_list.h"

namespace cli {

// "updated", "phone_not_found", "programming_failed", ... as the station's
// files name it: the JSON's result, and what the table and the lines show
// with "_" as a blank.
const char* Result_Token(Download_Outcome outcome);
std::string Result_Words(Download_Outcome outcome);

// The short form of a device for a table cell, "1d6b:0104 M418-0001" (USB
// numbers and serial number), else its driver; empty when nothing is known.
// Escaped for a terminal.
std::string Short_Identity(const Port_Identity& identity);

// "11.4 KiB/s", or "--" before a tenth of a second has passed.
std::string Rate_Text(std::uint64_t bytes, double seconds);

}  // namespace cli

#include "station/station.h"

namespace cli {

// The station's exit code: 128 + the signal that stopped it; else 0 when
// every phone that finished was updated, the number that failed (at most
// kExitMostFailedPhones), or kExitNoPhoneFinished when none finished.
int Station_Exit_Code(const Station_Summary& summary, int stop_signal);

}  // namespace cli
