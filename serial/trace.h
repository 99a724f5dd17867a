// Optional record of every byte that crosses the port, for diagnosing a
// failed update from a file alone. The port object reports each read and
// write together with the protocol operation that made it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

enum class Trace_Direction { kToPhone, kFromPhone };

class TraceSink {
  public:
    virtual ~TraceSink() = default;
    // bytes moved by one read or write; for a short read, the bytes that did arrive
    virtual void bytes(std::string_view operation, Trace_Direction direction,
                       std::span<const std::uint8_t> data) = 0;
    // anything else worth a line: an open, a close, a time-out
    virtual void event(std::string_view operation, std::string_view what) = 0;
};
