// What a station says about each phone once its session has ended: what
// happened, whether the phone can still start, and what to do next, as one
// plain sentence in either language. The table, the lines, the JSON, the
// logs, the summaries and the window all say the same sentence; the codes
// stay beside it for whoever needs them.
#pragma once

#include "download/texts.h"
#include "download/update_outcome.h"

// How a phone's session ended, as far as the advice depends on it.
struct Phone_Ending {
    Download_Outcome outcome = Download_Outcome::kUpdated;
    Download_Failure failure{};
    bool phone_touched = false;  // its version record began to be replaced
    bool no_phone = false;       // no boot loader answered on the port
    bool unplugged = false;      // the port went away before the session ended
};

// Every sentence a phone can get, one for each case a shop treats apart.
enum class Advice {
    kUpdated,
    kNoPhone,
    kStoppedUnchanged,
    kStoppedAtRisk,
    kUnpluggedUnchanged,
    kUnpluggedAtRisk,
    kVersionNotRead,
    kDumpFailed,
    kNoRecordInDump,
    kOtherModel,
    kOtherLanguage,
    kVersionDoesNotFit,
    kCheckFailed,
    kRecordNotWritten,
    kProgrammingFailed,
    kNotUpdatedUnchanged,  // any other ending before the phone was touched
    kNotUpdatedAtRisk,     // any other ending after
    kLast = kNotUpdatedAtRisk,
};

Advice Advice_For(const Phone_Ending& ending);
text::Word_Pair Advice_Words(Advice advice);
// The advice's name for scripts and files: "updated", "unplugged_at_risk", ...
const char* Advice_Name(Advice advice);
// Whether the phone can still start as it did before: false once its
// record or flash was being replaced and the update did not complete.
bool Phone_Still_Starts(Advice advice);
