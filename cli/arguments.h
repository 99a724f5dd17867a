// The command line of flashtool-cli: a command word, its positional
// arguments and the options that command accepts. Parsing is kept apart from
// running so that bad usage is caught before any port is touched.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "download/texts.h"

namespace cli {

enum class Command {
    kNone,
    kInfo,
    kPorts,
    kFlash,
    kReadVersion,
    kDoctor,
    kStation,
    kSlots,
    kJournal,
    kSupport,
};

struct Arguments {
    Command command = Command::kNone;
    bool help = false;                // --help / -h: show the (command's) usage and exit 0
    bool version = false;             // --version: show the program's version
    std::string image;                // info, flash, station
    std::optional<std::string> port;  // --port DEVICE: search only that device
    std::vector<std::string> ports;   // station: --port DEVICE..., the ports it watches
    int count = 0;                    // station, slots --count N: end after N phones (0: no limit)
    double timeout_seconds = 0;       // station --timeout S: end after S s without a phone
    double handshake_seconds = 0;     // station --handshake-timeout S (0: the search's)
    bool json = false;                // station --json: JSON Lines on standard output
    bool bell = false;                // station --bell: the terminal's bell on each failure
    std::optional<std::string> log_dir;    // station --log-dir DIR
    std::optional<std::string> trace_dir;  // station --trace-dir DIR: a trace for each phone
    std::vector<std::string> matches;      // station --match VID:PID...: the USB phones taken
    std::optional<std::string> slots;      // station --slots FILE: the sockets' labels
    bool only_slots = false;               // station --only-slots: the slots file's sockets only
    std::optional<std::string> trace;      // --trace FILE
    // flash, station: the journal of every phone (cli/cli_journal.h).
    std::optional<std::string> journal;        // --journal PATH (also journal's own)
    bool no_journal = false;                   // --no-journal
    bool journal_required = false;             // --journal-required: no phone without its record
    std::optional<std::string> station_name;   // --station-name NAME (default: the host's)
    std::optional<std::string> operator_name;  // --operator NAME
    // --journal-server URL: a line's PostgreSQL, fed from the journal (a
    // libpq connection string; PG* variables fill in what it leaves out).
    std::optional<std::string> journal_server;
    // journal [stats]: which records, and how they are shown.
    std::string journal_view;  // "" (the records), "stats", "sync" or "init-server"
    std::optional<std::string> since, until, result, slot, serial, image_sha256;
    bool csv = false;                             // journal --csv (--json is the field above)
    Language language_flag = Language::kChinese;  // --lang zh (default) or en
    // support: the archive, and which phone's files go in it.
    std::optional<std::string> out;  // --out FILE
    int phone = 0;                   // --phone N (0: none named)
    bool last = false;               // --last: the newest phone that failed
};

struct Parse_Result {
    Arguments arguments;
    std::string error;  // empty when the command line is usable
    bool ok() const { return error.empty(); }
};

// argv without the program name.
Parse_Result Parse_Arguments(const std::vector<std::string>& words);

const char* Command_Name(Command command);

}  // namespace cli
