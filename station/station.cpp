// The station: the watcher's arrivals and departures become sessions, each
// on its own thread, and every event goes through one queue to the
// observers and the sink.
//
// Threads: the watcher's calls On_Port_Event; each session runs its update
// on a thread of its own; the station's own thread (Run) delivers the queued
// events to the observers and the sink, one at a time, and decides when the
// station ends. Every change of state and the event it makes are queued under
// one mutex, so the queue's order is the order things happened in; observers
// and the sink are called with no lock held, so they may call Stop or
// Stop_If_Harmless.
#include "station/station.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "bootloader/comport.h"
#include "download/display_text.h"
#include "download/download_command.h"
#include "download/dump_places.h"
#include "download/phone_update.h"
#include "download/texts.h"
#include "platform/local_time.h"
#include "station/station_files.h"
#include "station/station_rows.h"
#include "station/station_view.h"
#include "station/station_words.h"

const char* Station_Phase_Name(Station_Phase phase) {
    switch (phase) {
        case Station_Phase::kArrived:
            return "arrived";
        case Station_Phase::kHandshake:
            return "handshake";
        case Station_Phase::kCheckingVersion:
            return "checking_version";
        case Station_Phase::kDumping:
            return "dumping";
        case Station_Phase::kWritingRecord:
            return "writing_record";
        case Station_Phase::kRewriting:
            return "rewriting";
        case Station_Phase::kFinished:
            return "finished";
        case Station_Phase::kWaitingForUnplug:
            return "waiting_for_unplug";
        case Station_Phase::kGone:
            return "gone";
    }
    return "unknown";
}

const char* Station_Outcome_Name(Download_Outcome outcome) {
    switch (outcome) {
        case Download_Outcome::kUpdated:
            return "updated";
        case Download_Outcome::kImageNotLoaded:
            return "image_not_loaded";
        case Download_Outcome::kPhoneNotFound:
            return "phone_not_found";
        case Download_Outcome::kFailedBeforeProgramming:
            return "failed_before_programming";
        case Download_Outcome::kProgrammingFailed:
            return "programming_failed";
        case Download_Outcome::kAlreadyRunning:
            return "already_running";
        case Download_Outcome::kStopped:
            return "stopped";
    }
    return "unknown";
}

Station_Phone_Result Result_Of(const Station_Event& finished) {
    Station_Phone_Result result;
    result.phone = finished.phone;
    result.port = finished.port;
    result.outcome = finished.outcome;
    result.failure = finished.failure;
    result.code = finished.code;
    result.bytes = finished.bytes_done;
    result.seconds = finished.seconds;
    result.dump_file = finished.dump_file;
    result.phone_version = finished.phone_version;
    result.no_phone = finished.no_phone;
    result.unplugged = finished.unplugged;
    result.phone_touched = finished.phone_touched;
    result.slot = finished.slot;
    result.ended = finished.time;
    result.arrived =
        finished.time - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                            std::chrono::duration<double>(finished.seconds));
    return result;
}

Phone_Ending Ending_Of(const Station_Event& finished) {
    return {finished.outcome, finished.failure, finished.phone_touched, finished.no_phone,
            finished.unplugged};
}

Phone_Ending Ending_Of(const Station_Phone_Result& result) {
    return {result.outcome, result.failure, result.phone_touched, result.no_phone,
            result.unplugged};
}

namespace {

using Clock = std::chrono::steady_clock;

// How often a port held by another program is tried again while it stays held.
constexpr auto kHeldPortPoll = std::chrono::seconds(1);

// As long as the download command's phone search keeps trying on one port
// where no boot loader answers: its passes, each a pause and an unanswered
// first handshake byte.
std::chrono::milliseconds Search_Span(const boot::Time_Limits& limits) {
    return std::chrono::milliseconds(std::int64_t{boot::kSearchPasses} *
                                     (limits.search_pause + limits.sync_echo));
}

// The phase a step of the update begins; none for the steps a row does not show.
std::optional<Station_Phase> Phase_Of(report::Step step) {
    switch (step) {
        case report::Step::kHandshake:
            return Station_Phase::kHandshake;
        case report::Step::kCheckVersion:
            return Station_Phase::kCheckingVersion;
        case report::Step::kDump:
            return Station_Phase::kDumping;
        case report::Step::kWriteRecord:
            return Station_Phase::kWritingRecord;
        case report::Step::kTransfer:
            return Station_Phase::kRewriting;
        default:
            return std::nullopt;
    }
}

// The first-run dump's name for a phone: the one the port gets on its own
// where names differ by port (where every port gets one name, Windows, that
// name with the port's), so that two phones at once never share a dump; then
// the station's start and the phone's number, so that the phones following
// one another on a port, in this run or a later one, each keep their own:
// the dump a phone's records name is that phone's for as long as it exists.
std::string Station_Dump_Name(const Port_Candidate& port, const std::string& started, int phone) {
    std::string name = Dump_File_Name(port.device_path);
    if (Dump_File_Name("/dev/ttyACM0") == Dump_File_Name("/dev/ttyACM1"))
        name += "-" + Port_File_Part(port.display_name);
    char number[16] = {};
    std::snprintf(number, sizeof number, "%03d", phone);
    return name + "-" + started + "-phone-" + number;
}

// The station's start as a file name's part: "20261209-215600".
std::string Start_Stamp() {
    const std::tm local = platform::Local_Time(std::time(nullptr));
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

}  // namespace

// One arrival: its port, its update on its own thread, and where it is.
struct Station_Session {
    int phone = 0;
    Port_Candidate port;
    Clock::time_point arrived;
    Station_Phase phase = Station_Phase::kArrived;
    bool running = true;            // its update has not returned yet
    bool departed = false;          // its port went away
    bool stop_asked = false;        // the station stopped it (a stop, a count reached)
    bool joinable = false;          // its thread has ended its work and may be joined
    bool held_port = false;         // its port is held by another program; it waits for it
    bool ended_by_station = false;  // the station ended while it still searched
    std::unique_ptr<CComport> comport;
    std::unique_ptr<Station_View> view;
    std::unique_ptr<Phone_Update> update;
    std::thread thread;
    Station_Phone_Result result;
};

struct Station::Impl {
    Impl(std::shared_ptr<const Firmware_Image> image_in, Station_Options options_in, Sink sink_in)
        : image(std::move(image_in)), options(std::move(options_in)), sink(std::move(sink_in)) {}

    void On_Port_Event(const Port_Event& event);
    bool Carried_Over(const Port_Event& event);
    void Arrival(const Port_Candidate& port, const std::string& slot);
    void Arrival_Locked(const Port_Candidate& port, const std::string& slot);
    void Departure(const Port_Candidate& port);
    void Run_Session(Station_Session& session);
    bool Search_Again(Station_Session& session, Clock::time_point& deadline);
    // How long a session tries the handshake on its port.
    std::chrono::milliseconds Patience(const Station_Session& session) const {
        return options.handshake_timeout.count() > 0 ? options.handshake_timeout
                                                     : Search_Span(session.comport->Time_Limits());
    }
    Download_Outcome Unplugged_Outcome(Station_Session& session, Download_Failure& failure);
    void Run();
    // Under the mutex.
    void Queue(Station_Event event) {
        event.time = std::chrono::system_clock::now();
        queue.push_back(std::move(event));
        changed.notify_all();
    }
    Station_Event Event_Of(const Station_Session& session, Station_Event::Kind kind) const {
        Station_Event event;
        event.kind = kind;
        event.phone = session.phone;
        event.port = session.port;
        event.slot = session.result.slot;
        event.phase = session.phase;
        event.bytes_total = bytes_total;
        event.seconds = std::chrono::duration<double>(Clock::now() - session.arrived).count();
        return event;
    }
    void Queue_Phase(Station_Session& session, Station_Phase phase) {
        session.phase = phase;
        Queue(Event_Of(session, Station_Event::Kind::kPhase));
    }
    // Sessions waiting for a port held by another program hold no station
    // open for the idle time-out unless counted_held.
    int Running_Sessions(bool counted_held = true) const {
        int running = 0;
        for (const auto& session : sessions)
            running += session->running && (counted_held || !session->held_port) ? 1 : 0;
        return running;
    }
    void Join_Ended_Sessions(std::unique_lock<std::mutex>& lock);
    // Without the lock: each observer in the order added, then the sink.
    void Deliver(const Station_Event& event) {
        for (Station_Observer* observer : observers)
            observer->On_Station_Event(event);
        if (sink)
            sink(event);
    }

    const std::shared_ptr<const Firmware_Image> image;
    const Station_Options options;
    const std::string start_stamp = Start_Stamp();
    const Sink sink;
    std::vector<Station_Observer*> observers;  // set before the start, then only read
    std::uint64_t bytes_total = 0;

    mutable std::mutex mutex;
    std::condition_variable changed;  // the queue, the sessions, a stop
    std::deque<Station_Event> queue;
    std::vector<std::unique_ptr<Station_Session>> sessions;  // in arrival order
    int finished = 0;  // sessions ended with a phone: the count's
    int no_phone = 0;  // sessions ended where no boot loader answered
    // Ports that arrived while the count's sessions had all started: one
    // starts when a session ends with no phone, which frees its place.
    struct Deferred_Port {
        Port_Candidate port;
        std::string slot;
    };
    std::vector<Deferred_Port> deferred;
    // Ports of options.handled_ports there at the start, until they go.
    std::vector<Port_Candidate> carried;
    bool started = false;
    bool stop_requested = false;
    bool ending = false;  // no session starts any more
    bool done = false;
    Clock::time_point last_arrival;
    Station_Summary summary;

    std::unique_ptr<Port_Watcher> watcher;
    std::thread thread;
};

namespace {

// Whether two ports are one device as far as the system tells: a station
// that is not running sees no unplugging, so this is all there is to go by.
bool Same_Device(const Port_Candidate& a, const Port_Candidate& b) {
    return a.device_path == b.device_path && a.identity.usb_vendor_id == b.identity.usb_vendor_id &&
           a.identity.usb_product_id == b.identity.usb_product_id &&
           a.identity.usb_serial == b.identity.usb_serial &&
           a.identity.usb_path == b.identity.usb_path;
}

}  // namespace

// A port an earlier station handled, there at the start: not a new phone,
// and its departure is no session's.
bool Station::Impl::Carried_Over(const Port_Event& event) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (event.kind == Port_Event::Kind::kArrived) {
        if (!event.present_at_start ||
            std::none_of(options.handled_ports.begin(), options.handled_ports.end(),
                         [&event](const Port_Candidate& handled) {
                             return Same_Device(handled, event.port);
                         }))
            return false;
        carried.push_back(event.port);
        return true;
    }
    return std::erase_if(carried, [&event](const Port_Candidate& port) {
               return port.device_path == event.port.device_path;
           }) > 0;
}

void Station::Impl::On_Port_Event(const Port_Event& event) {
    if (Carried_Over(event))
        return;
    if (event.kind == Port_Event::Kind::kDeparted) {
        Departure(event.port);
        return;
    }
    const Port_Verdict verdict = Judge_Port(options.filter, event.port, event.named);
    if (verdict.taken) {
        Arrival(event.port, verdict.slot);
        return;
    }
    // Not a phone's port: said once, never opened, never one of the count.
    // Its departure finds no session and is not said.
    const std::lock_guard<std::mutex> lock(mutex);
    if (ending || stop_requested)
        return;
    Station_Event skipped;
    skipped.kind = Station_Event::Kind::kSkipped;
    skipped.port = event.port;
    skipped.slot = verdict.slot;
    skipped.skip = verdict.skip;
    skipped.text =
        Skip_Words(verdict.skip, text::Displayable_Text(verdict.usb_id), options.language);
    Queue(std::move(skipped));
}

void Station::Impl::Arrival(const Port_Candidate& port, const std::string& slot) {
    const std::lock_guard<std::mutex> lock(mutex);
    Arrival_Locked(port, slot);
}

void Station::Impl::Arrival_Locked(const Port_Candidate& port, const std::string& slot) {
    if (ending || stop_requested)
        return;
    // Every session with a phone ends once and counts: with as many sessions
    // as the count the station will end, and a phone beyond it is not touched
    // at all, unless a session ends with no phone and so frees its place.
    if (options.count > 0 && static_cast<int>(sessions.size()) - no_phone >= options.count) {
        deferred.push_back({port, slot});
        return;
    }
    for (auto& earlier : sessions) {
        if (earlier->departed || earlier->port.device_path != port.device_path)
            continue;
        // Its departure was not seen: a port whose session still runs gets
        // no second one; one that waits to be unplugged has gone.
        if (earlier->running)
            return;
        earlier->departed = true;
        Queue(Event_Of(*earlier, Station_Event::Kind::kDeparted));
        Queue_Phase(*earlier, Station_Phase::kGone);
    }
    auto owned = std::make_unique<Station_Session>();
    Station_Session& session = *owned;
    session.phone = static_cast<int>(sessions.size()) + 1;
    session.port = port;
    session.arrived = Clock::now();
    session.result.arrived = std::chrono::system_clock::now();
    session.result.phone = session.phone;
    session.result.port = port;
    session.result.slot = slot;
    last_arrival = session.arrived;
    session.comport = options.make_port ? options.make_port(port) : std::make_unique<CComport>();
    sessions.push_back(std::move(owned));
    Queue(Event_Of(session, Station_Event::Kind::kArrived));
    if (!session.comport) {
        // No port object for it: it ends at once, as a port no boot loader answers on.
        session.running = false;
        session.joinable = true;
        session.result.outcome = Download_Outcome::kPhoneNotFound;
        session.result.failure.step = Download_Step::kSearch;
        session.result.ended = std::chrono::system_clock::now();
        ++finished;
        Station_Event ended = Event_Of(session, Station_Event::Kind::kFinished);
        ended.outcome = Download_Outcome::kPhoneNotFound;
        ended.failure.step = Download_Step::kSearch;
        Queue(ended);
        Queue_Phase(session, Station_Phase::kFinished);
        Queue_Phase(session, Station_Phase::kWaitingForUnplug);
        return;
    }
    session.thread = std::thread([this, &session] { Run_Session(session); });
}

void Station::Impl::Departure(const Port_Candidate& port) {
    const std::lock_guard<std::mutex> lock(mutex);
    std::erase_if(deferred, [&port](const Deferred_Port& waiting) {
        return waiting.port.device_path == port.device_path;
    });
    for (auto& session : sessions) {
        if (session->departed || session->port.device_path != port.device_path)
            continue;
        session->departed = true;
        Queue(Event_Of(*session, Station_Event::Kind::kDeparted));
        if (session->running) {
            // Its update ends at the port's next call; kGone follows kFinished.
            if (session->update)
                session->update->Stop();
            else
                session->comport->Request_Stop();
        } else {
            Queue_Phase(*session, Station_Phase::kGone);
        }
    }
}

void Station::Impl::Run_Session(Station_Session& session) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        Station_View::Handlers handlers;
        handlers.line = [this, &session](const report::Notice_Event& notice,
                                         const std::string& line) {
            const std::lock_guard<std::mutex> held(mutex);
            Station_Event event = Event_Of(session, Station_Event::Kind::kLine);
            event.text = line;
            event.notice = notice;
            Queue(std::move(event));
        };
        handlers.progress = [this, &session](std::uint64_t done, std::uint64_t) {
            const std::lock_guard<std::mutex> held(mutex);
            Station_Event event = Event_Of(session, Station_Event::Kind::kProgress);
            event.bytes_done = done;
            Queue(std::move(event));
        };
        handlers.step = [this, &session](report::Step step) {
            if (const std::optional<Station_Phase> phase = Phase_Of(step)) {
                const std::lock_guard<std::mutex> held(mutex);
                Queue_Phase(session, *phase);
            }
        };
        session.view = std::make_unique<Station_View>(options.language, handlers);
        session.update = std::make_unique<Phone_Update>(
            *session.comport, *session.view, *image,
            Station_Dump_Name(session.port, start_stamp, session.phone));
        // A stop asked for before the update began.
        if (stop_requested || session.departed)
            session.comport->Request_Stop();
    }

    Clock::time_point deadline = session.arrived + Patience(session);
    Download_Outcome outcome = session.update->Update_On(
        session.port, [this, &session, &deadline] { return Search_Again(session, deadline); });
    Download_Failure failure = session.update->Failure();
    bool no_phone = false;
    bool unplugged = session.view->Hung_Up();
    if (outcome == Download_Outcome::kStopped) {
        bool held_to_the_end = false;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            unplugged = session.departed && !session.stop_asked;
            held_to_the_end = session.ended_by_station && !unplugged && !session.stop_asked;
        }
        if (unplugged) {
            outcome = Unplugged_Outcome(session, failure);
            // Gone before any boot loader answered: nothing there was touched.
            no_phone = outcome == Download_Outcome::kPhoneNotFound;
        } else if (held_to_the_end) {
            outcome = Download_Outcome::kPhoneNotFound;
            failure = {};
            failure.step = Download_Step::kSearch;
            no_phone = true;
        }
    } else if (outcome == Download_Outcome::kPhoneNotFound) {
        no_phone = true;  // the station's patience ran out on a port that stayed
    }

    Station_Phone_Result& result = session.result;
    result.phone = session.phone;
    result.port = session.port;
    result.outcome = outcome;
    result.failure = failure;
    result.no_phone = no_phone;
    result.unplugged = unplugged && !no_phone;
    result.phone_touched = session.update->Phone_Touched();
    result.phone_version = session.view->Phone_Version();
    result.ended = std::chrono::system_clock::now();
    result.code = outcome == Download_Outcome::kUpdated   ? 0
                  : outcome == Download_Outcome::kStopped ? kStoppedCode
                                                          : failure.code;
    result.bytes = session.view->Bytes_Done();
    result.dump_file = session.update->Dump_Path();
    if (!result.dump_file.empty() && !std::filesystem::exists(result.dump_file))
        result.dump_file.clear();  // deleted once the phone held the new record
    result.seconds = std::chrono::duration<double>(Clock::now() - session.arrived).count();

    const std::lock_guard<std::mutex> lock(mutex);
    session.running = false;
    session.held_port = false;
    ++(no_phone ? this->no_phone : finished);
    Station_Event event = Event_Of(session, Station_Event::Kind::kFinished);
    event.phase = Station_Phase::kFinished;
    event.outcome = outcome;
    event.no_phone = no_phone;
    event.unplugged = result.unplugged;
    event.failure = failure;
    event.code = result.code;
    event.bytes_done = result.bytes;
    event.seconds = result.seconds;
    event.phone_touched = session.update->Phone_Touched();
    event.dump_file = result.dump_file;
    event.phone_version = session.view->Phone_Version();
    event.phone_record = session.view->Phone_Record();
    event.record_written = session.view->Record_Written();
    Queue(std::move(event));
    Queue_Phase(session, Station_Phase::kFinished);
    Queue_Phase(session,
                session.departed ? Station_Phase::kGone : Station_Phase::kWaitingForUnplug);
    session.joinable = true;
    if (no_phone && !deferred.empty()) {
        const Deferred_Port next = deferred.front();
        deferred.erase(deferred.begin());
        Arrival_Locked(next.port, next.slot);
    }
}

// Asked after each handshake on the session's port that found no boot
// loader: whether to try again. A port held by another program is said so
// once, with who holds it, and tried again every second while it stays held;
// its patience begins when it is free. Any other port is tried again, paced
// as the phone search paces its passes, until the deadline. A stop, the
// port's departure or the station's end ends the wait at once.
bool Station::Impl::Search_Again(Station_Session& session, Clock::time_point& deadline) {
    const std::vector<Refused_Port>& refused = session.comport->Refused_Ports();
    const bool held = std::any_of(refused.begin(), refused.end(), [](const Refused_Port& port) {
        return port.reason == Open_Refusal::kInUse;
    });
    std::unique_lock<std::mutex> lock(mutex);
    const auto ended = [this, &session] {
        return stop_requested || session.departed || session.stop_asked ||
               session.ended_by_station || session.comport->Stop_Requested();
    };
    if (held) {
        if (!session.held_port) {
            session.held_port = true;
            changed.notify_all();  // the idle time-out no longer waits for it
            lock.unlock();
            for (const report::Notice_Event& notice : Refused_Ports_Notices(refused))
                session.view->On_Event(report::Update_Event::Of(notice));
            lock.lock();
        }
        changed.wait_for(lock, kHeldPortPoll, ended);
        deadline = Clock::now() + Patience(session);
        return !ended();
    }
    session.held_port = false;
    if (Clock::now() >= deadline)
        return false;
    changed.wait_for(lock, std::chrono::milliseconds(session.comport->Time_Limits().search_pause),
                     ended);
    return !ended();
}

// A session whose port went away before its update noticed was stopped by
// the station; it failed all the same, where it was, and the person is told
// why in the words the update uses for a phone that was unplugged.
Download_Outcome Station::Impl::Unplugged_Outcome(Station_Session& session,
                                                  Download_Failure& failure) {
    Station_Phase phase = Station_Phase::kHandshake;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        phase = session.phase;
    }
    session.view->On_Event(report::Update_Event::Of(report::Say(report::Notice::kDisconnected)));
    failure = {};
    switch (phase) {
        case Station_Phase::kArrived:
        case Station_Phase::kHandshake:
            failure.step = Download_Step::kSearch;
            return Download_Outcome::kPhoneNotFound;
        case Station_Phase::kCheckingVersion:
        case Station_Phase::kDumping:
            failure.step = Download_Step::kReadVersion;
            return Download_Outcome::kFailedBeforeProgramming;
        case Station_Phase::kWritingRecord:
            failure.step = Download_Step::kWriteVersion;
            return Download_Outcome::kFailedBeforeProgramming;
        default:
            failure.step = Download_Step::kDownloadRegions;
            return Download_Outcome::kProgrammingFailed;
    }
}

// A session's thread that has done its work is joined, and its port object
// and update released, so that a station running all day holds only the
// results of the phones it has seen.
void Station::Impl::Join_Ended_Sessions(std::unique_lock<std::mutex>& lock) {
    std::vector<Station_Session*> ended;
    for (auto& session : sessions) {
        if (session->joinable && (session->thread.joinable() || session->comport))
            ended.push_back(session.get());
    }
    if (ended.empty())
        return;
    lock.unlock();
    for (Station_Session* session : ended) {
        if (session->thread.joinable())
            session->thread.join();
    }
    lock.lock();
    for (Station_Session* session : ended) {
        session->update.reset();
        session->view.reset();
        session->comport.reset();
    }
}

void Station::Impl::Run() {
    std::unique_lock<std::mutex> lock(mutex);
    bool watcher_stopped = false;
    while (true) {
        while (!queue.empty()) {
            const Station_Event event = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            Deliver(event);
            lock.lock();
        }
        Join_Ended_Sessions(lock);
        if (!queue.empty())
            continue;

        const int running = Running_Sessions();
        const int busy = Running_Sessions(false);
        const Clock::time_point now = Clock::now();
        const bool idle = options.idle_timeout.count() > 0 && busy == 0 &&
                          now - last_arrival >= options.idle_timeout;
        if (!ending &&
            (stop_requested || idle || (options.count > 0 && finished >= options.count))) {
            ending = true;
            // A port still held by another program had no phone to update.
            for (auto& session : sessions) {
                if (session->running && session->held_port && !session->ended_by_station) {
                    session->ended_by_station = true;
                    session->comport->Request_Stop();
                }
            }
        }
        if (ending) {
            if (!watcher_stopped) {
                lock.unlock();
                watcher->Stop();  // its callback takes the mutex
                lock.lock();
                watcher_stopped = true;
                continue;
            }
            if (running == 0 && queue.empty())
                break;
            changed.wait(lock);
            continue;
        }
        if (options.idle_timeout.count() > 0 && busy == 0)
            changed.wait_until(lock, last_arrival + options.idle_timeout);
        else
            changed.wait(lock);
    }

    // Every update has returned; the threads end with it.
    lock.unlock();
    for (auto& session : sessions) {
        if (session->thread.joinable())
            session->thread.join();
    }
    lock.lock();
    Join_Ended_Sessions(lock);
    summary = {};
    summary.stopped = stop_requested;
    for (auto& session : sessions)
        summary.phones.push_back(session->result);
    Count_Results_Into(summary);
    lock.unlock();
    Station_Event ended;
    ended.kind = Station_Event::Kind::kEnded;
    ended.stopped = summary.stopped;
    Deliver(ended);
    lock.lock();
    done = true;
    changed.notify_all();
}

Station::Station(std::shared_ptr<const Firmware_Image> image, Station_Options options, Sink sink)
    : m_impl(std::make_unique<Impl>(std::move(image), std::move(options), std::move(sink))) {
    if (m_impl->image) {
        m_impl->bytes_total =
            std::uint64_t{m_impl->image->First_Region.Length} + m_impl->image->Second_Region.Length;
    }
}

Station::~Station() {
    Stop();
    if (m_impl->thread.joinable())
        m_impl->thread.join();
}

void Station::Add_Observer(Station_Observer* observer) {
    const std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (observer != nullptr && !m_impl->started)
        m_impl->observers.push_back(observer);
}

bool Station::Start() {
    Impl& impl = *m_impl;
    {
        const std::lock_guard<std::mutex> lock(impl.mutex);
        if (impl.started || !impl.image)
            return false;
        impl.started = true;
        impl.last_arrival = Clock::now();
    }
    Port_Watch_Options watch = impl.options.watch;
    watch.named_ports.insert(watch.named_ports.end(), impl.options.named_ports.begin(),
                             impl.options.named_ports.end());
    watch.system_ports = impl.options.system_ports;
    impl.watcher = std::make_unique<Port_Watcher>(std::move(watch));
    // The ports there now arrive before Start returns; the station's thread
    // delivers them.
    impl.thread = std::thread([&impl] { impl.Run(); });
    if (!impl.watcher->Start([&impl](const Port_Event& event) { impl.On_Port_Event(event); })) {
        Stop();
        impl.thread.join();
        return false;
    }
    return true;
}

std::vector<int> Station::Stop_If_Harmless() {
    Impl& impl = *m_impl;
    const std::lock_guard<std::mutex> lock(impl.mutex);
    std::vector<int> at_risk;
    for (auto& session : impl.sessions) {
        if (!session->running)
            continue;
        if (!session->update) {
            session->comport->Request_Stop();  // not begun: nothing at risk
            session->stop_asked = true;
        } else if (session->update->Stop_If_Harmless()) {
            session->stop_asked = true;
        } else {
            at_risk.push_back(session->phone);
        }
    }
    // Whatever the answer to the question about the phones at risk, the
    // station takes no new phone: it ends once they have finished (or a Stop
    // has stopped them too).
    impl.stop_requested = true;
    impl.changed.notify_all();
    return at_risk;
}

void Station::Stop() {
    Impl& impl = *m_impl;
    const std::lock_guard<std::mutex> lock(impl.mutex);
    impl.stop_requested = true;
    for (auto& session : impl.sessions) {
        if (!session->running)
            continue;
        session->stop_asked = true;
        if (session->update)
            session->update->Stop();
        else
            session->comport->Request_Stop();
    }
    impl.changed.notify_all();
}

bool Station::Wait_Until_Done(std::chrono::milliseconds limit) {
    Impl& impl = *m_impl;
    std::unique_lock<std::mutex> lock(impl.mutex);
    if (!impl.started)
        return true;
    const auto is_done = [&impl] { return impl.done; };
    if (limit == std::chrono::milliseconds::max()) {
        impl.changed.wait(lock, is_done);
        return true;
    }
    return impl.changed.wait_for(lock, limit, is_done);
}

bool Station::Done() const {
    const std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->done;
}

std::vector<Port_Candidate> Station::Handled_Ports() const {
    const Impl& impl = *m_impl;
    const std::lock_guard<std::mutex> lock(impl.mutex);
    std::vector<Port_Candidate> handled = impl.carried;
    for (const auto& session : impl.sessions) {
        // A stopped phone was not handled: the next station updates it. Nor
        // was a port still held by another program when the station ended.
        if (session->running || session->departed || session->ended_by_station ||
            session->result.outcome == Download_Outcome::kStopped)
            continue;
        handled.push_back(session->port);
    }
    return handled;
}

Station_Summary Station::Summary() const {
    const Impl& impl = *m_impl;
    const std::lock_guard<std::mutex> lock(impl.mutex);
    if (impl.done)
        return impl.summary;
    Station_Summary summary;
    summary.stopped = impl.stop_requested;
    for (const auto& session : impl.sessions) {
        if (session->running)
            continue;
        summary.phones.push_back(session->result);
    }
    Count_Results_Into(summary);
    return summary;
}
