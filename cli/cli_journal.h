// The journal as the command line chooses it (--journal PATH, --no-journal,
// --journal-required, --station-name, --operator): opened before any phone,
// fed by the station's events or the flash's report on its own writer
// thread, and read back by 'flashtool-cli journal'. A journal that cannot be
// opened or written is said once and the update goes on without it, unless
// --journal-required: then no phone is started.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "download/update_outcome.h"
#include "station/station.h"
#include "station/station_advice.h"
#include "station/station_files.h"

class Journal_Forwarder;
struct Journal_Record;

namespace cli {

class Cli_Journal {
  public:
    virtual ~Cli_Journal() = default;
    // The station's records: added to the station after its files.
    virtual void Watch_Station(Station& station, const Station_Files* files) = 0;
    // The flash's records: an observer of its command.
    virtual report::Update_Observer* Flash_Observer() = 0;
    virtual void End_Flash(Download_Outcome outcome, const Phone_Ending& ending,
                           const std::string& dump_file) = 0;
    // Writes what is queued, and forwards it to the line's server when that
    // answered lately; false when a record could not be written.
    virtual bool Finish() = 0;
    // Records the line's server has not taken yet; -1 without a server.
    virtual int Records_Waiting() const { return -1; }
};

struct Journal_Opening {
    std::unique_ptr<Cli_Journal> journal;  // null: none (--no-journal, or it failed)
    bool refused = false;                  // --journal-required and none: start no phone
};
// Says on standard error why a journal cannot be used (once). image_version:
// the image's as its field shows it.
Journal_Opening Open_Cli_Journal(const Arguments& args, const std::string& image_version);

// The forwarder --journal-server asks for, with its own connection to the
// journal at path; null without the option or when it cannot be made (said).
std::unique_ptr<Journal_Forwarder> Forwarder_For(const Arguments& args, const std::string& path);

int Run_Journal(const Arguments& args);

// The records as 'journal --csv' shows them: a header line, every field.
std::string Journal_Csv_Text(const std::vector<Journal_Record>& records);

}  // namespace cli
