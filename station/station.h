// A station: every phone that is plugged in is updated, many at once.
//
// A Station watches for ports (Port_Watcher) and runs one session per
// arrival, each on its own thread with its own port object, dump file and
// log, doing what the download command does on that port alone
// (Phone_Update::Update_On). The image is loaded and checked once by the
// caller and only read here. A phone is updated once per arrival: when its
// session has ended it waits to be unplugged; a phone that comes back (under
// its old name or another) is a new arrival. One phone failing, hanging or
// being unplugged changes nothing for the others.
//
// Front ends (the command-line tool's station command, the station window)
// see a station only through its events, which reach the sink one at a time,
// in order, from the station's threads; a front end that needs them on its
// own thread queues them. No toolkit, no printing.
//
//   Station station(image, {.named_ports = {...}, .count = 3}, sink);
//   station.Start();
//   station.Wait_Until_Done();     // count reached, idle time-out, or Stop
//   Station_Summary summary = station.Summary();
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/firmware_image.h"
#include "download/texts.h"
#include "download/update_outcome.h"
#include "platform/private_directory.h"
#include "serial/port_list.h"
#include "serial/port_watcher.h"
#include "station/port_filter.h"
#include "station/station_advice.h"

class CComport;

// Where one phone's session is. The numbers are the order a session goes
// through; kWaitingForUnplug and kGone come after kFinished.
enum class Station_Phase : int {
    kArrived = 0,       // the port appeared; its session starts
    kHandshake,         // synchronising with the boot loader on that port
    kCheckingVersion,   // reading the phone's record, comparing (first run: dump)
    kDumping,           // the first run's boot loader dump
    kWritingRecord,     // the phone is at risk from here until kFinished
    kRewriting,         // the regions' blocks are being sent
    kFinished,          // the session ended (see the outcome)
    kWaitingForUnplug,  // done; unplug to update another phone on this port
    kGone,              // the port went away
};
const char* Station_Phase_Name(Station_Phase phase);  // "handshake", "rewriting", ...
// How a phone's session ended, as the station's files name it: "updated",
// "phone_not_found", "failed_before_programming", "programming_failed",
// "stopped", ...
const char* Station_Outcome_Name(Download_Outcome outcome);

struct Station_Event {
    enum class Kind {
        kArrived,   // a new phone (port, identity)
        kPhase,     // its session moved on (phase)
        kProgress,  // bytes_done of bytes_total sent: at least one per block
        kLine,      // a line of its message area (text, in the station's language)
        kFinished,  // its session ended: outcome, code, bytes, seconds, files
        kDeparted,  // its port went away (before or after it finished)
        kSkipped,   // a port that is no phone's: never opened, no phone number (0)
        kEnded,     // the station stops: no event follows
    };
    Kind kind = Kind::kArrived;
    int phone = 0;  // 1, 2, ... in arrival order; 0 for kEnded
    Port_Candidate port{};
    // When it happened (the system's clock): the records' times, in UTC.
    std::chrono::system_clock::time_point time{};
    // The label of the phone's socket (the slots file); empty: none.
    std::string slot;
    Station_Phase phase = Station_Phase::kArrived;
    std::uint64_t bytes_done = 0;
    std::uint64_t bytes_total = 0;  // both regions' lengths
    double seconds = 0;             // since the phone's arrival
    // kLine: one line, no "\n", escaped already; kSkipped: why, in the
    // station's language ("not a USB device").
    std::string text;
    Port_Skip skip = Port_Skip::kNone;  // kSkipped: why, as data
    report::Notice_Event notice{};      // kLine: what the line says, as data
    // kFinished:
    Download_Outcome outcome = Download_Outcome::kUpdated;
    Download_Failure failure{};
    int code = 0;  // the failed step's result code; 0 when updated
    bool phone_touched = false;
    // No phone was there: no boot loader answered within the station's
    // patience, or before the port went away, or the port stayed held by
    // another program until the station ended. Not a failed phone, and not
    // one of the count.
    bool no_phone = false;
    // The port went away before the session ended (the phone was unplugged).
    bool unplugged = false;
    std::string dump_file;      // the first run's dump, where one was kept
    std::string phone_version;  // the phone's record as read, as its field shows it
    // The phone's record as read and the one it took, byte for byte (empty:
    // none), for the records that keep both.
    std::vector<std::uint8_t> phone_record{};
    std::vector<std::uint8_t> record_written{};
    // This phone's log, where one is written: the station writes none; the
    // observer that does (Station_Files) names it in the results it keeps.
    std::string log_file{};
    // kEnded: whether a stop ended the station.
    bool stopped = false;
};

struct Station_Options {
    // Ports watched whether or not they exist yet (the command's --port).
    std::vector<std::string> named_ports{};
    // Whether every port the system lists is watched as well; the command
    // sets it when no port is named.
    bool system_ports = true;
    // Which of the system's ports are phones' (USB only by default), and
    // the sockets' labels. A port skipped is never opened and never counted.
    Port_Filter filter{};
    // End after this many phones have finished (0: no limit). Only that many
    // sessions ever start: a phone plugged in beyond the count is not touched.
    int count = 0;
    // End when no phone arrived for this long (0: never), counted from the
    // start or the last arrival; a session still running is waited for.
    std::chrono::milliseconds idle_timeout{0};
    // How long a session tries the handshake again on its port, from its
    // arrival, before no boot loader answered (0: as long as the phone search
    // of the download command keeps trying on one port). A port held by
    // another program is tried every second while it stays held; its
    // patience begins when it is free.
    std::chrono::milliseconds handshake_timeout{0};
    Language language = Language::kChinese;
    // Ports an earlier station handled whose phones are still plugged in
    // (Station::Handled_Ports of the last one): one of them there at the
    // start is no new arrival and gets no session; it is a new arrival again
    // once it has gone and come back. A port counts as the same when its
    // path and its device's USB numbers, serial number and place agree.
    std::vector<Port_Candidate> handled_ports{};
    // Test seams: where events of ports come from, and the port object a
    // session gets (null: the platform's own, with the protocol's limits).
    Port_Watch_Options watch{};
    std::function<std::unique_ptr<CComport>(const Port_Candidate&)> make_port{};
};

// The code a phone's records give a session that a stop ended: no step's
// result code, and never 0, which an updated phone has.
inline constexpr int kStoppedCode = -1;

struct Station_Phone_Result {
    int phone = 0;
    Port_Candidate port{};
    Download_Outcome outcome = Download_Outcome::kStopped;
    Download_Failure failure{};
    int code = 0;
    std::uint64_t bytes = 0;
    double seconds = 0;
    std::string dump_file{};
    std::string log_file{};
    std::string phone_version{};  // as read before the update; empty: never read
    bool no_phone = false;        // see Station_Event::no_phone
    bool unplugged = false;       // see Station_Event::unplugged
    bool phone_touched = false;
    std::chrono::system_clock::time_point arrived{};  // the system's clock
    std::chrono::system_clock::time_point ended{};
    std::string slot{};  // see Station_Event::slot
};
// A finished phone's result as its kFinished event tells it (no log file:
// the station writes none).
Station_Phone_Result Result_Of(const Station_Event& finished);
// The ending the advice is chosen by (station_advice.h).
Phone_Ending Ending_Of(const Station_Event& finished);
Phone_Ending Ending_Of(const Station_Phone_Result& result);
struct Station_Summary {
    std::vector<Station_Phone_Result> phones;  // in arrival order, finished ones
    int updated = 0;
    int failed = 0;          // ended without the update, not by a stop
    int stopped_phones = 0;  // ended by a stop of the station before they were updated
    int no_phone = 0;        // ports where no boot loader answered: counted apart
    bool stopped = false;    // a stop ended the station
    // Filled by the observer that writes the station's files
    // (Station_Files::Fill), not by the station:
    // the summary files this run wrote (CSV, JSON), once the station ended:
    // a name that was taken already makes them "summary-2.csv", ...
    std::vector<std::string> summary_files;
    // The records that could not be written whole (a full disk, a directory
    // that went away): each phone's log, the summaries, or the directory.
    std::vector<std::string> unwritten;
    // Filled by a journal that forwards to a line's server: its records the
    // server has not taken yet (-1: no server).
    int records_waiting = -1;
};

// Whoever follows a station: a front end's table, lines or JSON, the window,
// the files of the log directory, a journal. Called like the sink.
class Station_Observer {
  public:
    virtual ~Station_Observer() = default;
    virtual void On_Station_Event(const Station_Event& event) = 0;
};

class Station {
  public:
    // Called on the station's own thread, one event at a time, with no lock
    // held: it may call Stop and Stop_If_Harmless, not Wait_Until_Done.
    using Sink = std::function<void(const Station_Event&)>;

    Station(std::shared_ptr<const Firmware_Image> image, Station_Options options, Sink sink = {});

    // Before Start: another follower of the station's events, which outlives
    // the station. Observers get each event in the order they were added,
    // and before the sink.
    void Add_Observer(Station_Observer* observer);
    ~Station();  // stops every session and waits for them
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Starts watching; false when the watcher cannot start.
    bool Start();
    // Any thread. Stops every session whose phone is not at risk and returns
    // the phones (numbers) that are being rewritten, which are left running:
    // the caller asks the user, then calls Stop. Either way the station takes
    // no new phone from now on and ends once every session has returned.
    std::vector<int> Stop_If_Harmless();
    // Any thread: stops every session whatever its phase, and the station.
    void Stop();
    // Blocks until the station has ended (count, idle time-out or stop) and
    // every session has returned; false if limit passed first.
    bool Wait_Until_Done(std::chrono::milliseconds limit = std::chrono::milliseconds::max());
    bool Done() const;
    Station_Summary Summary() const;
    // The ports whose phones this station handled (their sessions ended, not
    // by a stop) and that have not gone since, with those of
    // Station_Options::handled_ports still there: what the next station on
    // these ports leaves alone.
    std::vector<Port_Candidate> Handled_Ports() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
