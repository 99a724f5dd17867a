// The exit codes of flashtool-cli, one place for the program and its tests.
#pragma once

#include "download/download_command.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;              // bad command line
inline constexpr int kExitImageNotLoaded = 2;     // image refused or unreadable
inline constexpr int kExitPhoneNotFound = 3;      // no boot loader answered (or no usable port)
inline constexpr int kExitFailedBeforeFlash = 4;  // version read, check or write failed
inline constexpr int kExitProgrammingFailed = 5;  // region announcement or block transfer failed
// A stop signal ends the program with 128 + its number (130 for Ctrl-C).

// station: its own codes start at 100, apart from the setup codes above (1
// bad usage, 2 image not loaded, 3 the ports cannot be watched), so that a
// script never takes one phone's failure for a bad command line. How many
// failed is in the last line and the JSON summary.
inline constexpr int kExitPhonesNotUpdated =
    100;  // at least one phone that finished was not updated
inline constexpr int kExitNoPhoneFinished = 101;
// station: a phone's log or a summary could not be written whole (a full
// disk): what a script would read is not the whole record.
inline constexpr int kExitRecordsIncomplete = 102;

inline int Exit_Code_For(Download_Outcome outcome) {
    switch (outcome) {
        case Download_Outcome::kUpdated:
            return kExitOk;
        case Download_Outcome::kImageNotLoaded:
            return kExitImageNotLoaded;
        case Download_Outcome::kPhoneNotFound:
            return kExitPhoneNotFound;
        case Download_Outcome::kFailedBeforeProgramming:
            return kExitFailedBeforeFlash;
        case Download_Outcome::kProgrammingFailed:
            return kExitProgrammingFailed;
        // Only a window can start a second command inside the first.
        case Download_Outcome::kAlreadyRunning:
            return kExitUsage;
        // A stop is reported with its signal's code (Port_Session::Report_Stop).
        case Download_Outcome::kStopped:
            return kExitProgrammingFailed;
    }
    return kExitProgrammingFailed;
}

}  // namespace cli
