// Serial_Port: one serial port, opened by its device path and set to 115200
// bit/s, 8 data bits, no parity, 1 stop bit, no flow control, DTR and RTS
// off. It offers exact-count reads under one total time-out, exact-count
// writes under a deadline, the receive-queue count, a purge and a delay, and
// knows nothing of what the bytes mean: the boot-loader protocol (CComport)
// is built on top of it.
//
// Every transfer reports how it ended (Io_Result), so a caller can tell a
// silent phone from an unplugged one. A stop requested from another thread or
// a signal handler ends the transfer or delay in progress at once.
//
// Nothing here throws, prints or logs: results say what happened.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "serial/io_end.h"
#include "serial/port_backend.h"
#include "serial/stop_signal.h"
#include "serial/trace.h"

class Serial_Port {
  public:
    // The port starts closed, on the platform's own backend or the given one.
    Serial_Port();
    explicit Serial_Port(std::unique_ptr<Port_Backend> backend);
    // Closes nothing of its own accord: the port is released by Close (the
    // backend lets go of a handle it still holds when it goes).
    ~Serial_Port();
    Serial_Port(const Serial_Port&) = delete;
    Serial_Port& operator=(const Serial_Port&) = delete;

    // Opens and configures the port, closing the one held first. A port that
    // opened but could not be configured is released again.
    bool Open(std::string port_name);
    void Close();
    bool Is_Open() const;
    // The platform error code of the last failed Open (0 when it worked), and
    // why it was refused, where that is known.
    int Last_Open_Error() const { return m_last_open.error; }
    Open_Refusal Last_Open_Refusal() const { return m_last_open.refusal; }

    // Complete when exactly buffer.size() bytes arrived within timeout_ms; a
    // timeout of 0 keeps the one the last read gave. The bytes that did
    // arrive are in buffer either way.
    Io_Result Read(std::span<std::uint8_t> buffer, std::uint32_t timeout_ms);
    // Complete when every byte was taken within twice the bytes' time on the
    // wire at the port's speed plus the write slack (5 s).
    Io_Result Write(std::span<const std::uint8_t> buffer);
    std::uint32_t Bytes_In_Queue();
    bool Purge();
    bool Set_Baud_Rate(std::int32_t baud);
    // Waits, and gives way to a stop request.
    void Delay(std::int32_t milliseconds);

    // ---- Stopping ----
    // Any thread, or a signal handler through Stop_Request().Request().
    void Request_Stop() { m_stop.Request(); }
    bool Stop_Requested() const { return m_stop.Requested(); }
    void Clear_Stop() { m_stop.Clear(); }
    Stop_Signal& Stop_Request() { return m_stop; }

    // Whether the line hung up (the phone went away) since the last Open.
    bool Line_Hung_Up() const { return m_line_hung_up; }
    // How the last read or write ended.
    Io_End Last_Io_End() const { return m_last_end; }

    void Set_Trace(TraceSink* trace) { m_trace = trace; }
    // Only tests shorten the slack added to every write's wire time.
    void Set_Write_Slack(std::uint32_t milliseconds) { m_write_slack_ms = milliseconds; }
    // The deadline of a write of count bytes at the port's speed.
    std::uint32_t Write_Deadline_Ms(std::size_t count) const;

    // Names the protocol operation that the bytes on the wire belong to, for
    // the trace, for as long as the scope lives.
    class Operation_Scope {
      public:
        Operation_Scope(Serial_Port& port, const char* name)
            : m_port(port),
              m_previous(port.m_operation),
              m_previous_number(port.m_operation_number),
              m_previous_start(port.m_operation_start) {
            port.m_operation = name;
            port.m_operation_number = 0;
            port.m_operation_start = port.m_bytes_written;
        }
        ~Operation_Scope() {
            m_port.m_operation = m_previous;
            m_port.m_operation_number = m_previous_number;
            m_port.m_operation_start = m_previous_start;
        }
        Operation_Scope(const Operation_Scope&) = delete;
        Operation_Scope& operator=(const Operation_Scope&) = delete;

      private:
        Serial_Port& m_port;
        const char* m_previous;
        std::uint32_t m_previous_number;
        std::uint64_t m_previous_start;
    };

    // Names a numbered part of the operation under way for the trace
    // ("block 3"; number from 1), for as long as the scope lives. The
    // operation goes on: whether it has begun to speak to the other side is
    // still counted from its own start, not the part's.
    class Operation_Part {
      public:
        Operation_Part(Serial_Port& port, const char* name, std::uint32_t number)
            : m_port(port),
              m_previous(port.m_operation),
              m_previous_number(port.m_operation_number) {
            port.m_operation = name;
            port.m_operation_number = number;
        }
        ~Operation_Part() {
            m_port.m_operation = m_previous;
            m_port.m_operation_number = m_previous_number;
        }
        Operation_Part(const Operation_Part&) = delete;
        Operation_Part& operator=(const Operation_Part&) = delete;

      private:
        Serial_Port& m_port;
        const char* m_previous;
        std::uint32_t m_previous_number;
    };

    // Bytes written since the innermost Operation_Scope began: whether the
    // operation has begun to speak to the other side.
    std::uint64_t Bytes_Written_In_Operation() const { return m_bytes_written - m_operation_start; }

  private:
    Io_Result Finish(const char* verb, std::size_t wanted, const Port_Io_Result& result);
    // The operation as the trace names it: "Find_Phone", "block 3".
    std::string Operation_Name() const;
    void Trace_Event_Line(Trace_Event kind, const std::string& what);

    std::unique_ptr<Port_Backend> m_backend;
    Stop_Signal m_stop;
    bool m_open = false;
    Port_Open_Result m_last_open;
    TraceSink* m_trace = nullptr;  // not owned
    const char* m_operation = "";
    std::uint32_t m_operation_number = 0;
    std::int32_t m_baud = 0;
    std::uint32_t m_write_slack_ms = 5000;
    Io_End m_last_end = Io_End::kComplete;
    std::uint64_t m_bytes_written = 0;
    std::uint64_t m_operation_start = 0;
    bool m_line_hung_up = false;
};
