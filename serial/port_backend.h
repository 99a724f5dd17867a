// The one seam between the serial-port object and the operating system.
//
// SerialPort speaks to a port only through this table of operations. Each
// operation mirrors one Win32 communications call, so the Windows backend is a
// thin wrapper that makes exactly those calls, and the POSIX backend reaches
// the same observable behaviour with termios. Tests plug in scripted fakes.
// No operation throws; every failure is reported by its result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "serial/io_end.h"

class Stop_Signal;

// Why the system would not let a port be used, where the backend can tell.
enum class Open_Refusal {
    kNone,            // opened, or failed for another reason (absent, broken)
    kNoPermission,    // the user may not open the device (Linux: not in its group)
    kInUse,           // another program holds the port
    kNotASerialPort,  // not a terminal device: a file, a FIFO, a directory
    kOwnTerminal,     // the terminal this program runs in
};

// Result of one read or write: whether the call itself succeeded, and how many
// bytes it moved. A read that runs into its time-out succeeds with a short
// count. Where the backend knows why a transfer ended short (the line hung up,
// a stop was requested, a write passed its deadline) it says so in cause.
struct Port_Io_Result {
    Port_Io_Result(bool call_ok = false, std::size_t moved = 0,
                   std::optional<Io_End> why_short = std::nullopt)
        : ok(call_ok), count(moved), cause(why_short) {}
    bool ok;
    std::size_t count;
    std::optional<Io_End> cause;
};

// ClearCommError's answer: whether the call worked, the line-error word, and
// the number of received bytes waiting to be read.
struct Port_Queue_Status {
    bool ok = false;
    std::uint32_t errors = 0;
    std::uint32_t in_queue = 0;
};

class PortBackend {
  public:
    virtual ~PortBackend() = default;

    // CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr).
    // Holds at most one port; the caller closes the old one first.
    virtual bool open(const std::string& name) = 0;
    virtual bool is_open() const = 0;
    // CloseHandle. Harmless when nothing is held.
    virtual void close() = 0;
    // The platform's error code of the last failed open (GetLastError / errno), 0 if none.
    virtual int last_open_error() const = 0;
    // Why the last failed open was refused, if the backend can tell.
    virtual Open_Refusal last_open_refusal() const { return Open_Refusal::kNone; }

    // GetCommState, then SetCommState with baud, 8N1, binary, no flow control,
    // DTR and RTS off. False when either call is refused.
    virtual bool set_line(std::int32_t baud) = 0;
    // SetupComm(receive queue, transmit queue).
    virtual bool setup_queues(std::uint32_t receive_bytes, std::uint32_t transmit_bytes) = 0;
    // SetCommTimeouts with ReadTotalTimeoutConstant = ms: one deadline for a
    // whole read, no per-byte limit. The write deadline in force is kept.
    virtual bool set_read_timeout(std::uint32_t ms) = 0;
    // SetCommTimeouts with WriteTotalTimeoutConstant = ms: one deadline for a
    // whole write (0: none). The read deadline in force is kept.
    virtual bool set_write_timeout(std::uint32_t) { return is_open(); }
    // The stop request that reads, writes and sleeps give way to; set once
    // by the port object that owns the backend.
    virtual void attach_stop_signal(Stop_Signal*) {}

    // ReadFile: waits for the whole span under the time-out in force.
    virtual Port_Io_Result read(std::span<std::uint8_t> buffer) = 0;
    // WriteFile: blocks until every byte is taken or the write deadline passes.
    virtual Port_Io_Result write(std::span<const std::uint8_t> buffer) = 0;
    // ClearCommError.
    virtual Port_Queue_Status queue_status() = 0;
    // PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR).
    virtual bool purge() = 0;
    // Sleep.
    virtual void sleep_ms(std::int32_t ms) = 0;
};

// The backend of the platform the program was built for (Win32 or POSIX).
std::unique_ptr<PortBackend> Make_System_Backend();
