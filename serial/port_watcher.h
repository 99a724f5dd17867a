// Watching for ports that arrive and go: the phones of a station, plugged in
// one after another. A Port_Watcher runs a thread of its own that waits on
// the system's device events and reports each port that appears (with what
// the system says of its device) and each that goes.
//
//   Port_Event_Queue events;
//   Port_Watcher watcher({.named_ports = {"/dev/ttyACM0"}});
//   watcher.Start(events.Sink());
//   Port_Event event;
//   while (events.Next(event, std::chrono::seconds(1))) ...
//   watcher.Stop();
//
// Where the events come from, best first: on Linux the udev daemon's
// announcements (a port is reported once udev has set its permissions and
// links), the kernel's own uevents where no udev daemon runs, and a listing
// every few seconds as a safety net beside either; named paths are watched in
// their directories as well, so a link that appears or goes counts at once.
// On Windows the configuration manager's notifications for COM port
// interfaces where the system has them, changes of the registry's serial-port
// map, and the same slow listing.
//
// No exceptions, no toolkit. port_watcher.cpp holds the thread;
// port_watch_loop_linux.cpp and port_watch_loop_win32.cpp the waiting.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/port_list.h"

struct Port_Event {
    enum class Kind { kArrived, kDeparted };
    Kind kind = Kind::kArrived;
    // The port as a search would open it. A departure carries the port as it
    // arrived, identity included; a port that comes back (under its old
    // name or a new one) is a new arrival.
    Port_Candidate port;
    bool named = false;             // one of Port_Watch_Options::named_ports
    bool present_at_start = false;  // an arrival found by the first look
};

// Where a watcher takes its events from (besides the slow listing, which
// every source has).
enum class Port_Watch_Source {
    kAutomatic,        // the best the system offers, re-chosen at every listing
    kUdev,             // Linux: the udev daemon's monitor
    kKernelUevents,    // Linux: the kernel's netlink uevents
    kDeviceNotify,     // Windows: CM_Register_Notification for COM port interfaces
    kSerialMapNotify,  // Windows: changes of the registry's serial-port map
    kPollOnly,         // the listing alone
};

const char* Port_Watch_Source_Name(Port_Watch_Source source);

struct Port_Watch_Options {
    // Paths watched whether or not they exist yet: a device, a link to one
    // ("/dev/serial/by-id/..." or a link to a pseudo-terminal); on Windows
    // "COM12" or "\\.\COM12". Reported by the name given.
    std::vector<std::string> named_ports{};
    // Whether the system's own ports (those a search would try) are watched
    // too. A device reached both ways is reported once, by its name here.
    bool system_ports = true;
    Port_Watch_Source source = Port_Watch_Source::kAutomatic;
    // How often the ports are listed whatever the events say; at least
    // kMinimumPollInterval.
    std::chrono::milliseconds poll_interval{std::chrono::seconds(2)};
    // The system's listing; null: the platform's own (on Linux the /dev
    // scan, without opening any port).
    std::shared_ptr<PortLister> lister{};
};

inline constexpr std::chrono::milliseconds kMinimumPollInterval{std::chrono::seconds(2)};
// How long an arrival waits for the udev daemon to finish with its device
// (its permissions and links) before it is reported anyway: a device udev
// has no rules for, or one that was there before the daemon started.
inline constexpr std::chrono::milliseconds kUdevSettleLimit{std::chrono::seconds(3)};

class Port_Watch_Loop;

class Port_Watcher {
  public:
    // Called on the watcher's thread, one event at a time, in order. It may
    // call Stop (which then returns at once), but must not destroy the watcher.
    using Callback = std::function<void(const Port_Event&)>;

    explicit Port_Watcher(Port_Watch_Options options = {});
    ~Port_Watcher();  // stops
    Port_Watcher(const Port_Watcher&) = delete;
    Port_Watcher& operator=(const Port_Watcher&) = delete;

    // Starts the thread and returns once the ports there now have been
    // delivered, marked present_at_start. False when it runs already or its
    // wake-up could not be made. Any thread.
    bool Start(Callback callback);
    // Ends the thread within milliseconds and closes everything it opened;
    // no event is delivered once it returns (except from the callback's own
    // thread, which returns before the thread ends). Any thread; repeatable.
    void Stop();
    bool Running() const;
    // The source in use now (kAutomatic before Start).
    Port_Watch_Source Source() const;

  private:
    void Join();

    Port_Watch_Options m_options;
    std::mutex m_lifecycle;      // one Start or Stop at a time (not the callback's Stop)
    mutable std::mutex m_mutex;  // the loop's pointer and the stop flag
    std::unique_ptr<Port_Watch_Loop> m_loop;
    bool m_stop_requested = false;
    std::thread m_thread;
    std::atomic<std::thread::id> m_worker{};
};
