// The --help texts. Kept next to each other so that the overview and the
// per-command texts stay in step.
#include "cli/usage.h"

#include "bootloader/phone_model.h"

namespace cli {
namespace {

// The overview; its second line names the phone model between head and tail.
constexpr const char* kOverviewHead =
    "Usage: flashtool-cli COMMAND [OPTIONS]\n"
    "Updates the firmware of a ";
constexpr const char* kOverviewTail =
    " phone over its boot loader's serial port.\n"
    "\n"
    "Commands:\n"
    "  info IMAGE            show an image file's version text and flash regions\n"
    "  ports                 list the ports the phone search would try\n"
    "  flash IMAGE           update the phone with IMAGE\n"
    "  read-version          find the phone and show its version record\n"
    "  doctor                explain why each port can or cannot be used\n"
    "  station IMAGE         update every phone that is plugged in, many at once\n"
    "  slots                 show each USB port's place on the bus as it is plugged in\n"
    "  journal [stats]       list the journal of every phone updated, or its counts\n"
    "  journal sync          send the journal's waiting records to a line's server\n"
    "  support               write one archive with what support needs to see\n"
    "\n"
    "Run 'flashtool-cli COMMAND --help' for a command's options.\n"
    "  --help, -h            show this text\n"
    "  --version             show the program's version\n"
    "\n"
    "Exit codes: 0 done, 1 bad usage, 2 image not loaded, 3 no phone found,\n"
    "4 stopped before programming, 5 programming failed, 128+N stopped by signal N\n"
    "(130 Ctrl-C, 143 SIGTERM, 129 SIGHUP).\n";

constexpr const char* kInfo =
    "Usage: flashtool-cli info IMAGE\n"
    "Shows the image's version text, header length, both flash regions (start, end\n"
    "and length, in hex and decimal) and the total bytes to program.\n"
    "Exit codes: 0 the image is sound, 2 the image is refused or cannot be read.\n";

constexpr const char* kPorts =
    "Usage: flashtool-cli ports\n"
    "Lists the ports the phone search tries, in the order it tries them: the device\n"
    "and the name it is shown by, one port a line.\n"
    "Exit codes: 0 listed (also when there is none), 3 the ports cannot be listed.\n";

// The journal's options, the same for flash and station.
#define JOURNAL_OPTIONS                                                            \
    "  --journal PATH  keep the journal of every phone in PATH (default\n"         \
    "                  $XDG_DATA_HOME/flashtool/journal.sqlite, else under\n"      \
    "                  ~/.local/share): a record when a phone starts, completed\n" \
    "                  when it ends; one that cannot be written is said once\n"    \
    "  --no-journal    keep no journal\n"                                          \
    "  --journal-required\n"                                                       \
    "                  start no phone unless its record can be kept\n"             \
    "  --station-name NAME\n"                                                      \
    "                  the station's name in the journal (default: the host's)\n"  \
    "  --operator NAME who runs it, in the journal\n"                              \
    "  --journal-server URL\n"                                                     \
    "                  forward the journal's records to a line's PostgreSQL\n"     \
    "                  (postgresql://user@host/db or host=... dbname=...; PG*\n"   \
    "                  variables fill in the rest): each once, when the server\n"  \
    "                  is reachable; while it is not, they wait in the journal\n"

constexpr const char* kFlash =
    "Usage: flashtool-cli flash IMAGE [--port DEVICE] [--lang zh|en] [--trace FILE]\n"
    "                   [--journal PATH | --no-journal] [--journal-required]\n"
    "                   [--station-name NAME] [--operator NAME]\n"
    "                   [--journal-server URL]\n"
    "Runs the update: loads IMAGE, searches the phone's boot loader, checks and\n"
    "writes the version record (dumping the boot loader on a phone's first update),\n"
    "then programs both flash regions. Messages go to standard output; a progress\n"
    "line goes to standard error when it is a terminal. Unless the update completed,\n"
    "the last line (on standard error) says what happened and what to do next.\n"
    "\n"
    "  --port DEVICE   search only DEVICE (same handshake and passes): on Linux a\n"
    "                  device such as /dev/ttyACM0, on Windows COM5 (or \\\\.\\COM5)\n"
    "  --lang zh|en    language of the messages that have two, and of the last\n"
    "                  line (default zh)\n"
    "  --trace FILE    record every byte on the port, with its time and operation,\n"
    "                  in FILE (a new or regular file, never the image)\n" JOURNAL_OPTIONS
    "\n"
    "Exit codes: 0 updated, 1 bad usage (also a refused --trace FILE), 2 image not\n"
    "loaded, 3 no phone found, 4 stopped before programming (version read, check\n"
    "or write), 5 programming failed, 128+N stopped by signal N (130 Ctrl-C,\n"
    "143 SIGTERM, 129 SIGHUP; the port is closed).\n";

constexpr const char* kReadVersion =
    "Usage: flashtool-cli read-version [--port DEVICE] [--trace FILE]\n"
    "Finds the phone, prints its 32-byte version record as text and in hex, and\n"
    "ends the link. Nothing is written to the phone but the closing byte.\n"
    "\n"
    "  --port DEVICE   search only DEVICE (/dev/ttyACM0; on Windows COM5)\n"
    "  --trace FILE    record every byte on the port, with its time and operation\n"
    "\n"
    "Exit codes: 0 read, 1 bad usage, 3 no phone found, 4 the record could not be\n"
    "read, 128+N stopped by signal N (130 Ctrl-C).\n";

constexpr const char* kDoctor =
    "Usage: flashtool-cli doctor [--port DEVICE]\n"
    "Checks every port the phone search would try (or only DEVICE): whether it is\n"
    "present, whether it opens, whether another program holds it or permission is\n"
    "refused, and how to fix that. On Linux it also checks whether ModemManager\n"
    "runs, which probes new USB serial devices and can seize the port mid-update.\n"
    "\n"
    "  --port DEVICE   check only DEVICE (/dev/ttyACM0; on Windows COM5)\n"
    "\n"
    "Exit codes: 0 at least one port can be used, 3 none can.\n";

constexpr const char* kStation =
    "Usage: flashtool-cli station IMAGE [--port DEVICE]... [--count N] [--timeout S]\n"
    "                     [--handshake-timeout S] [--json] [--log-dir DIR]\n"
    "                     [--trace-dir DIR]\n"
    "                     [--match VID:PID]... [--slots FILE [--only-slots]]\n"
    "                     [--bell] [--lang zh|en] [--journal PATH | --no-journal]\n"
    "                     [--journal-required] [--station-name NAME] [--operator NAME]\n"
    "                     [--journal-server URL]\n"
    "Loads IMAGE once, then updates every phone whose boot loader's port appears,\n"
    "each on its own as it arrives, many at once. A phone that has been updated\n"
    "waits to be unplugged; plugged in again it is updated again. On a terminal a\n"
    "table of the phones is redrawn in place (failed rows red, updated green, no\n"
    "colour when NO_COLOR is set; on a short terminal updated rows give way first,\n"
    "failed ones last; under it phones per hour, yield and mean time); otherwise\n"
    "one line for each event. Each phone that ends without the update gets a\n"
    "sentence: what happened, whether it still starts, what to do next.\n"
    "Ctrl-C while a phone is being rewritten names it and asks for a second Ctrl-C,\n"
    "which stops it too (it will not start until it is updated again).\n"
    "\n"
    "  --port DEVICE   watch DEVICE, also before it exists (repeatable), taken as\n"
    "                  given; without it every USB serial port is watched, and any\n"
    "                  other port (a PC's own UART) is skipped: shown as \"skipped:\n"
    "                  not a phone port\", never opened, never counted\n"
    "  --match VID:PID only USB devices with these numbers (hex, repeatable; VID:*\n"
    "                  for any product of a vendor); others are skipped\n"
    "  --slots FILE    label each phone by its socket: FILE has lines\n"
    "                  \"USB-PATH = LABEL\" (1-1.3 = A3; # comments), USB paths as\n"
    "                  'flashtool-cli slots' shows them; the label comes first in\n"
    "                  every row, line, JSON event, log and summary\n"
    "  --only-slots    skip the ports whose USB path is not in the slots file\n"
    "  --count N       end once N phones have finished\n"
    "  --timeout S     end once no phone has arrived for S seconds\n"
    "  --handshake-timeout S\n"
    "                  try the handshake on a new port for S seconds before no\n"
    "                  boot loader answered (default: as long as flash searches)\n"
    "  --json          JSON Lines on standard output, one object for each event\n"
    "  --bell          ring the terminal's bell each time a phone fails\n"
    "  --log-dir DIR   a log file for each phone and a summary (CSV and JSON) in DIR\n"
    "                  (a folder of yours, written in once before any phone; the\n"
    "                  summary is written when the station ends: a power cut\n"
    "                  before then leaves none, the logs up to their last line);\n"
    "                  summary.csv grows across runs, a row for each phone with\n"
    "                  UTC times, slot, versions before and after, result, advice\n"
    "  --trace-dir DIR a trace of each phone's port (every byte, as flash writes\n"
    "                  it) in DIR/phone-NNN-PORT.trace (a folder of yours)\n"
    "  --lang zh|en    language of the phones' messages that have two, and of the\n"
    "                  program's own lines (default zh)\n" JOURNAL_OPTIONS
    "\n"
    "Exit codes: 0 every phone that finished was updated; 100 at least one was not\n"
    "(the last line says how many and which); 101 no phone finished before the\n"
    "time-out; 102 a log or summary could not be written whole (a full disk): the\n"
    "last lines name them, and the summary files this run wrote. Before any phone:\n"
    "1 bad usage, 2 image not loaded, 3 the ports cannot be watched. 128+N stopped\n"
    "by signal N (130 Ctrl-C).\n"
    "A port where no boot loader answers is no phone: it is shown apart, not\n"
    "failed nor counted for --count; with no phone finished the code is 101.\n"
    "A port held by another program is shown in use, by whom, and tried again\n"
    "every second until it is free.\n";

constexpr const char* kSlots =
    "Usage: flashtool-cli slots [--count N]\n"
    "Watches the USB serial ports and prints each one as it is plugged in: its USB\n"
    "path (where on the bus, the socket of a hub), its USB numbers, serial number\n"
    "and port, as a line of a slots file waiting for its label:\n"
    "  1-1.3 =   # 1d6b:0104 serial M418-0001 /dev/ttyACM0\n"
    "Plug a phone into each socket of the bench in turn, write each socket's label\n"
    "after the \"=\", and give the file to 'flashtool-cli station' as its slots\n"
    "file.\n"
    "\n"
    "  --count N       end after N ports (default: at Ctrl-C)\n"
    "\n"
    "Exit codes: 0 done, 1 bad usage, 3 the ports cannot be watched.\n";

constexpr const char* kJournal =
    "Usage: flashtool-cli journal [stats | sync | init-server] [--journal PATH]\n"
    "                     [--journal-server URL] [--since T] [--until T]\n"
    "                     [--result R] [--slot S] [--serial S] [--image-sha256 H]\n"
    "                     [--json | --csv]\n"
    "Lists the journal's records, oldest first, one phone a line: when it started\n"
    "(UTC), station, slot, port, serial number, result, failed step and code,\n"
    "seconds and its version after. 'stats' gives instead the phones per hour,\n"
    "the yield, the failures by step and code, by slot and by station.\n"
    "'sync' sends the records a line's server (--journal-server) has not taken yet\n"
    "and says how many were sent and how many wait; 'init-server' makes the\n"
    "server's table (flash and station make it on first contact too).\n"
    "\n"
    "  --journal PATH  read PATH (default: the journal flash and station keep)\n"
    "  --since T       records started at or after T (UTC: 2026-12-10 or\n"
    "                  2026-12-10T08:00)\n"
    "  --until T       records started before T\n"
    "  --result R      records with that result (updated, programming_failed,\n"
    "                  interrupted, running, ...)\n"
    "  --slot S        records of the phones in that slot\n"
    "  --serial S      records of the phones with that USB serial number\n"
    "  --image-sha256 H\n"
    "                  records of the phones written with that image\n"
    "  --json          one JSON object a record (stats: one object)\n"
    "  --csv           CSV with a header line, every field\n"
    "  --journal-server URL\n"
    "                  the line's PostgreSQL, for sync and init-server\n"
    "\n"
    "Exit codes: 0 listed (also when none matched), 1 bad usage or the journal\n"
    "cannot be read, 102 sync or init-server could not reach the server or left\n"
    "records waiting.\n";

constexpr const char* kSupport =
    "Usage: flashtool-cli support [--out FILE] [--phone N | --last] [--log-dir DIR]\n"
    "                     [--trace-dir DIR] [--journal PATH]\n"
    "Writes one archive (tar.gz on Linux, zip on Windows) with what support\n"
    "needs: a README, the doctor's and the ports' text, the program's version,\n"
    "the journal's last 50 records and the failing phone's log, trace and\n"
    "boot-loader dump. The home folder is written \"~\" and the user name \"USER\"\n"
    "in every text in it. Before writing an archive that holds a phone's dump it\n"
    "says so on standard error. Prints the archive's path.\n"
    "\n"
    "  --out FILE      the archive (default ./flashtool-support-<UTC time>.tar.gz,\n"
    "                  .zip on Windows);\n"
    "                  always a new file: one that is there already is refused\n"
    "  --phone N       the files of phone N of a station (phone-NNN-*.log and\n"
    "                  .trace), its journal record first\n"
    "  --last          the newest phone that failed (the log folder's summary.csv,\n"
    "                  else its newest log; the journal's newest failed record)\n"
    "  --log-dir DIR   the station's log folder to take the phone's logs from\n"
    "  --trace-dir DIR the station's trace folder to take the phone's traces from\n"
    "  --journal PATH  read PATH (default: the journal flash and station keep)\n"
    "\n"
    "Exit codes: 0 written, 1 bad usage (also an --out FILE that is there), 102\n"
    "the archive could not be written whole.\n";

#undef JOURNAL_OPTIONS

}  // namespace

std::string Usage_Text(Command command) {
    switch (command) {
        case Command::kInfo:
            return kInfo;
        case Command::kPorts:
            return kPorts;
        case Command::kFlash:
            return kFlash;
        case Command::kReadVersion:
            return kReadVersion;
        case Command::kDoctor:
            return kDoctor;
        case Command::kStation:
            return kStation;
        case Command::kSlots:
            return kSlots;
        case Command::kJournal:
            return kJournal;
        case Command::kSupport:
            return kSupport;
        case Command::kNone:
            break;
    }
    return kOverviewHead + std::string(kPhoneModel.name) + kOverviewTail;
}

}  // namespace cli
