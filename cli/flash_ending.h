// The last line of `flashtool-cli flash` when the update did not complete
// (and of read-version when a signal stopped it):
// what happened and what to do next, in the language --lang chose. The
// command's own lines (the window's messages) come first and stay as the
// window shows them; this line is the command-line tool's addition, because a
// terminal has no box or field left on screen to say it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bootloader/comport.h"
#include "bootloader/results.h"
#include "download/download_command.h"
#include "download/texts.h"

namespace cli {

enum class Flash_Ending {
    kImageUnreadable,        // the file could not be opened or read
    kImageRefused,           // the loader refused its header
    kPhoneNotFound,          // ports opened, none answered; detail: the doctor command to run
    kPortsNotListed,         // the port listing broke; detail: its code
    kPortMissing,            // --port names no device; detail: the port's name
    kPortNotPermitted,       // a port refused the user; detail: the doctor command to run
    kPortInUse,              // another program holds a port
    kPortNotUsable,          // --port names no serial port, or this terminal; detail: its name
    kVersionReadFailed,      // detail: the error code
    kDumpFailed,             // first run: the boot loader was not dumped; detail: the code
    kNoRecordInDump,         // first run: the dump held no record of ours
    kVersionCodeDiffers,     // the image is for another model
    kLanguageDiffers,        // the image is for another language
    kCheckedByteDiffers,     // the records differ in their checked byte
    kVersionCheckFailed,     // the version check failed for a reason not named above
    kVersionWriteFailed,     // detail: the error code; the phone is at risk from here on
    kProgrammingFailed,      // detail: the error code
    kStoppedPhoneUnchanged,  // detail: the signal's name
    kStoppedPhoneAtRisk,     // detail: the signal's name
    kStoppedReadOnly,        // read-version stopped; detail: the signal's name
    kLast = kStoppedReadOnly,
};

// How the update went, as far as the last line needs to know.
struct Flash_Result {
    Download_Outcome outcome = Download_Outcome::kUpdated;
    bool phone_touched = false;  // the phone's version record began to be replaced
    Download_Failure failure;    // the step that failed, and why
};

struct Ending {
    Flash_Ending kind;
    std::string detail;  // the error code the command printed, if any
};

// The ending of an update that did not complete (outcome not kUpdated or
// kStopped: a stop is named by its signal), from the command's results
// alone, never from the lines it printed. A phone not found is
// kPhoneNotFound here; Search_Ending tells why.
Ending Ending_Of(const Flash_Result& result);

// What a phone search that found no phone met on its way.
struct Search_Failure {
    int listing = kPortListOk;              // the listing's answer in the last pass
    std::vector<Refused_Port> refused;      // the ports it was refused, with why
    std::optional<std::string> named_port;  // --port, as the messages show it
    bool named_port_missing = false;        // and the system says there is no such device
    std::string doctor_command;             // the doctor command for this search
};
// Why the search found no phone, most telling reason first: the listing
// broke, the named port does not exist, a port refused the user, a port is
// held by another program, the named port is no serial port; else no phone
// answered.
Ending Search_Ending(const Search_Failure& failure);

// The line, without "flashtool-cli: " and the line break.
std::string Ending_Text(Flash_Ending ending, Language language, std::string_view detail);

}  // namespace cli
