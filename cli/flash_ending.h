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

#include "bootloader/results.h"
#include "download/download_command.h"
#include "download/texts.h"

namespace cli {

enum class Flash_Ending {
    kImageUnreadable,        // the file could not be opened or read
    kImageRefused,           // the loader refused its header
    kPhoneNotFound,          // detail: the doctor command to run
    kVersionReadFailed,      // detail: the error code
    kBackupFailed,           // first run: the boot loader was not dumped; detail: the code
    kNoRecordInBackup,       // first run: the dump held no record of ours
    kVersionCodeDiffers,     // the image is for another model
    kLanguageDiffers,        // the image is for another language
    kCheckedByteDiffers,     // the records differ in their checked byte
    kVersionCheckStopped,    // the version check stopped it for a reason not named above
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
    bool phone_touched = false;     // the phone's version record began to be replaced
    Download_Stop stop;             // the step that stopped it, and its code
    std::vector<std::string> memo;  // the command's lines, as it wrote them
};

struct Ending {
    Flash_Ending kind;
    std::string detail;  // the error code the command printed, if any
};

// The ending of an update that did not complete (outcome not kUpdated or
// kStopped: a stop is named by its signal).
Ending Ending_Of(const Flash_Result& result);

// The line, without "flashtool-cli: " and the line break.
std::string Ending_Text(Flash_Ending ending, Language language, std::string_view detail);

}  // namespace cli
