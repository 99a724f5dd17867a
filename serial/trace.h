// Optional record of every byte that crosses the port, for diagnosing a
// failed update from a file alone and for replaying it. The port object
// reports each read and write together with the protocol operation that made
// it, and what else happened to the line: opens, closes, line settings and
// transfers that ended short (a hang-up among them).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

enum class Trace_Direction { kToPhone, kFromPhone };

// What a line other than bytes records. A replay tells a cable pulled from a
// silent phone by these, so each has a kind of its own.
enum class Trace_Event {
    kOpen,        // what: the port
    kOpenFailed,  // what: the port
    kClose,       // what: empty
    kLines,       // what: "115200 8N1"
    kTimedOut,    // what: the transfer that ended short
    kHungUp,      // what: the transfer that ended short
    kStopped,     // what: the transfer that ended short
    kFailed,      // what: the transfer that ended short
    kNote,        // what: a line of the program's own
};

class TraceSink {
  public:
    virtual ~TraceSink() = default;
    // bytes moved by one read or write; for a short read, the bytes that did arrive
    virtual void bytes(std::string_view operation, Trace_Direction direction,
                       std::span<const std::uint8_t> data) = 0;
    // anything else worth a line: an open, a close, a time-out
    virtual void event(std::string_view operation, Trace_Event kind, std::string_view what) = 0;
};
