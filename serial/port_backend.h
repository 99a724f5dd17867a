// The one seam between the port object and the operating system: a few
// hooks, each made of the Win32 communications calls the Windows backend
// makes for it, so that backend stays a thin wrapper and the POSIX backend
// reaches the same observable behaviour with termios. Tests plug in scripted
// fakes. Deadlines travel with each transfer; no hook sets a time-out for
// later ones. No hook throws; every failure is reported by its result.
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

// What an open came to: the port held, or the platform's error code
// (GetLastError / errno) and why it was refused where the backend can tell.
struct Port_Open_Result {
    bool opened = false;
    int error = 0;
    Open_Refusal refusal = Open_Refusal::kNone;
};

// Result of one read or write: whether the call itself succeeded, and how many
// bytes it moved. A read that runs into its deadline succeeds with a short
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

class Port_Backend {
  public:
    // A read deadline of 0: the one the last read gave (the driver's own
    // before any read gave one).
    static constexpr std::uint32_t kDeadlineInForce = 0;
    // Both driver queues, bytes each way.
    static constexpr std::uint32_t kQueueBytes = 1024;

    virtual ~Port_Backend() = default;

    // CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
    // 0, nullptr), then SetupComm(kQueueBytes, kQueueBytes); a port that
    // refuses the queues is released again. Holds at most one port: the
    // caller closes the old one first.
    virtual Port_Open_Result Open(const std::string& name) = 0;
    // CloseHandle. Harmless when nothing is held.
    virtual void Close() = 0;
    // GetCommState, then SetCommState with baud, 8N1, binary, no flow control,
    // DTR and RTS off. False when either call is refused.
    virtual bool Set_Lines(std::int32_t baud) = 0;
    // ReadFile: waits for the whole span under one deadline for all of it, no
    // per-byte limit. SetCommTimeouts with ReadTotalTimeoutConstant =
    // deadline_ms first, unless it is kDeadlineInForce; the write deadline
    // the port has stays.
    virtual Port_Io_Result Read(std::span<std::uint8_t> buffer, std::uint32_t deadline_ms) = 0;
    // WriteFile: blocks until every byte is taken or deadline_ms passes (0:
    // no deadline). SetCommTimeouts with WriteTotalTimeoutConstant =
    // deadline_ms first when the port has another write deadline.
    virtual Port_Io_Result Write(std::span<const std::uint8_t> buffer,
                                 std::uint32_t deadline_ms) = 0;
    // ClearCommError: the received bytes waiting to be read; 0 also when the
    // call failed or flagged a line error (the call clears that error).
    virtual std::uint32_t Bytes_In_Queue() = 0;
    // PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR).
    virtual bool Purge() = 0;
    // Sleep; a stop request ends it early.
    virtual void Pause(std::int32_t ms) = 0;

    // The stop request that reads, writes and pauses give way to: the port
    // object's, given once when it takes the backend.
    void Attach_Stop(Stop_Signal& stop) { m_stop = &stop; }

  protected:
    Stop_Signal* Attached_Stop() const { return m_stop; }

  private:
    Stop_Signal* m_stop = nullptr;  // not owned
};

// The backend of the platform the program was built for (Win32 or POSIX).
std::unique_ptr<Port_Backend> Make_System_Backend();
