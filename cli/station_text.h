// The words the station command's three outputs share: how a phone, its
// phase, its result and its device are named, and its transfer rate. The
// table and the lines speak the --lang language; the JSON's names are the
// tokens, in no language.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/texts.h"
#include "download/update_outcome.h"
#include "serial/port_list.h"
#include "station/station.h"

namespace cli {

// "updated", "phone_not_found", "programming_failed", ... as the station's
// files name it: the JSON's result. In English the table and the lines show
// it with "_" as a blank; in Chinese, in the station window's words where
// it has one.
const char* Result_Token(Download_Outcome outcome);
std::string Result_Words(Download_Outcome outcome, Language language);
// "code 6", "代碼 6": the failed step's result code.
std::string Code_Words(int code, Language language);

// "phone 3", "手機 3".
std::string Phone_Words(int phone, Language language);

// The rate cell of the table: Rate_Cell, or "--" before there is one.
std::string Rate_Or_Dashes(std::uint64_t bytes, double seconds);

// The station's exit code: 128 + the signal that stopped it; else
// kExitRecordsIncomplete when a log or summary could not be written whole;
// else 0 when every phone that finished was updated, kExitPhonesNotUpdated
// when any was not, or kExitNoPhoneFinished when none finished.
int Station_Exit_Code(const Station_Summary& summary, int stop_signal);

// The lines before the last one about the station's files: the summary files
// this run wrote, and the records that could not be written whole.
std::vector<std::string> Record_Lines(const Station_Summary& summary, Language language);

}  // namespace cli
