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
#include "download/dump_places.h"
#include "download/phone_update.h"
#include "download/texts.h"
#include "platform/local_time.h"
#include "station/station_files.h"
#include "station/station_rows.h"
#include "station/station_view.h"

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

namespace {

using Clock = std::chrono::steady_clock;

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

void Count_Into(Station_Summary& summary) {
    const Station_Counts counts = Count_Results(summary.phones);
    summary.updated = counts.updated;
    summary.failed = counts.failed;
    summary.stopped_phones = counts.stopped;
}

}  // namespace

// One arrival: its port, its update on its own thread, and where it is.
struct Station_Session {
    int phone = 0;
    Port_Candidate port;
    Clock::time_point arrived;
    Station_Phase phase = Station_Phase::kArrived;
    bool running = true;      // its update has not returned yet
    bool departed = false;    // its port went away
    bool stop_asked = false;  // the station stopped it (a stop, a count reached)
    bool joinable = false;    // its thread has ended its work and may be joined
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
    void Arrival(const Port_Candidate& port);
    void Departure(const Port_Candidate& port);
    void Run_Session(Station_Session& session);
    Download_Outcome Unplugged_Outcome(Station_Session& session, Download_Failure& failure);
    void Run();
    // Under the mutex.
    void Queue(Station_Event event) {
        queue.push_back(std::move(event));
        changed.notify_all();
    }
    Station_Event Event_Of(const Station_Session& session, Station_Event::Kind kind) const {
        Station_Event event;
        event.kind = kind;
        event.phone = session.phone;
        event.port = session.port;
        event.phase = session.phase;
        event.bytes_total = bytes_total;
        event.seconds = std::chrono::duration<double>(Clock::now() - session.arrived).count();
        return event;
    }
    void Queue_Phase(Station_Session& session, Station_Phase phase) {
        session.phase = phase;
        Queue(Event_Of(session, Station_Event::Kind::kPhase));
    }
    int Running_Sessions() const {
        int running = 0;
        for (const auto& session : sessions)
            running += session->running ? 1 : 0;
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
    int finished = 0;
    bool started = false;
    bool stop_requested = false;
    bool ending = false;  // no session starts any more
    bool done = false;
    Clock::time_point last_arrival;
    Station_Summary summary;

    std::unique_ptr<Port_Watcher> watcher;
    std::thread thread;
};

void Station::Impl::On_Port_Event(const Port_Event& event) {
    if (event.kind == Port_Event::Kind::kArrived)
        Arrival(event.port);
    else
        Departure(event.port);
}

void Station::Impl::Arrival(const Port_Candidate& port) {
    const std::lock_guard<std::mutex> lock(mutex);
    // Every session ends once and counts: with as many sessions as the count
    // the station will end, and a phone beyond it is not touched at all.
    if (ending || stop_requested ||
        (options.count > 0 && static_cast<int>(sessions.size()) >= options.count))
        return;
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
    session.result.phone = session.phone;
    session.result.port = port;
    last_arrival = session.arrived;
    session.comport = options.make_port ? options.make_port(port) : std::make_unique<CComport>();
    sessions.push_back(std::move(owned));
    Queue(Event_Of(session, Station_Event::Kind::kArrived));
    if (!session.comport) {
        // No port object for it: it ends at once, as a port no boot loader answers on.
        session.running = false;
        session.joinable = true;
        session.result.outcome = Download_Outcome::kPhoneNotFound;
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

    Download_Outcome outcome = session.update->Update_On(session.port);
    Download_Failure failure = session.update->Failure();
    if (outcome == Download_Outcome::kStopped) {
        bool unplugged = false;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            unplugged = session.departed && !session.stop_asked;
        }
        if (unplugged)
            outcome = Unplugged_Outcome(session, failure);
    }

    Station_Phone_Result& result = session.result;
    result.phone = session.phone;
    result.port = session.port;
    result.outcome = outcome;
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
    ++finished;
    Station_Event event = Event_Of(session, Station_Event::Kind::kFinished);
    event.phase = Station_Phase::kFinished;
    event.outcome = outcome;
    event.failure = failure;
    event.code = result.code;
    event.bytes_done = result.bytes;
    event.seconds = result.seconds;
    event.phone_touched = session.update->Phone_Touched();
    event.dump_file = result.dump_file;
    event.phone_version = session.view->Phone_Version();
    Queue(std::move(event));
    Queue_Phase(session, Station_Phase::kFinished);
    Queue_Phase(session,
                session.departed ? Station_Phase::kGone : Station_Phase::kWaitingForUnplug);
    session.joinable = true;
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
        const Clock::time_point now = Clock::now();
        const bool idle = options.idle_timeout.count() > 0 && running == 0 &&
                          now - last_arrival >= options.idle_timeout;
        if (!ending && (stop_requested || idle || (options.count > 0 && finished >= options.count)))
            ending = true;
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
        if (options.idle_timeout.count() > 0 && running == 0)
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
    Count_Into(summary);
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
    Count_Into(summary);
    return summary;
}
