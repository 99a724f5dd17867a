// How an update ended and where it is: for the front ends that report it
// (the command-line tool's exit code and last line) and for the stop and
// close policy of the windows.
#pragma once

#include "bootloader/results.h"
#include "bootloader/update_report.h"
#include "download/firmware_image.h"

// Where the command is, as far as stopping it is concerned.
enum class Update_Phase : int {
    kIdle,
    kPreparing,    // image, search, version read and check: a stop does no harm
    kPhoneAtRisk,  // the image's record goes into the phone and the transfer has
                   // not ended: a stop leaves a phone that cannot start
    kFinishing,    // the transfer has ended
    kStopping,     // stopped before the phone was at risk; it never will be
};

// The step at which the last command failed, with that step's result: for a
// front end with more room than the message area to say more (the
// command-line tool's last line).
enum class Download_Step {
    kNone,  // it completed, or was stopped
    kImage,
    kSearch,
    kReadVersion,
    kCompare,  // the comparison's verdict
    kWriteVersion,
    kSetRegions,
    kDownloadRegions,
};
struct Download_Failure {
    Download_Step step = Download_Step::kNone;
    int code = 0;       // the step's result code (boot::Code), where it has one
    int dump_code = 0;  // a first run's dump that failed (0: it worked, or none was made)
    Image_Load_Result image = Image_Load_Result::kLoaded;        // step kImage: why not
    boot::Compare_Result verdict = boot::Compare_Result::kGoOn;  // step kCompare
};
