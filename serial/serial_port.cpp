// Serial_Port's operations. Each step maps onto one hook of the platform
// seam (Port_Backend); this file adds the bookkeeping: how a transfer ended,
// each write's deadline, the trace.
#include "serial/serial_port.h"

#include <utility>

namespace {
constexpr std::int32_t kBaudRate = 115200;
constexpr std::int32_t kLineSettleMs = 100;  // after a new line setting
constexpr std::uint64_t kBitsPerByte = 10;   // start bit, 8 data bits, stop bit

Io_End How_It_Ended(const Port_Io_Result& result, std::size_t wanted) {
    if (result.ok && result.count == wanted)
        return Io_End::kComplete;
    if (result.cause)
        return *result.cause;
    // A short count from a call that succeeded means its deadline passed.
    return result.ok ? Io_End::kTimedOut : Io_End::kFailed;
}
}  // namespace

Serial_Port::Serial_Port() : Serial_Port(Make_System_Backend()) {}

Serial_Port::Serial_Port(std::unique_ptr<Port_Backend> backend) : m_backend(std::move(backend)) {
    m_backend->Attach_Stop(m_stop);
}

Serial_Port::~Serial_Port() = default;

bool Serial_Port::Open(std::string port_name) {
    Close();
    m_line_hung_up = false;
    m_last_open = m_backend->Open(port_name);
    if (!m_last_open.opened) {
        Trace_Event_Line(Trace_Event::kOpenFailed, port_name);
        return false;
    }
    m_open = true;
    Trace_Event_Line(Trace_Event::kOpen, port_name);
    // A port that opened but cannot be configured is released at once: no
    // caller uses it after a failed Open, and holding it would keep other
    // programs out until the next Open or Close.
    if (!Set_Baud_Rate(kBaudRate)) {
        Close();
        return false;
    }
    if (Bytes_In_Queue() == 0)
        return true;
    if (Purge())
        return true;
    Close();
    return false;
}

void Serial_Port::Close() {
    if (!m_open)
        return;
    m_backend->Close();
    m_open = false;
    Trace_Event_Line(Trace_Event::kClose, "");
}

bool Serial_Port::Is_Open() const {
    return m_open;
}

Io_Result Serial_Port::Read(std::span<std::uint8_t> buffer, std::uint32_t timeout_ms) {
    const Port_Io_Result result = m_backend->Read(buffer, timeout_ms);
    if (m_trace)
        m_trace->bytes(Operation_Name(), Trace_Direction::kFromPhone, buffer.first(result.count));
    return Finish("read", buffer.size(), result);
}

Io_Result Serial_Port::Write(std::span<const std::uint8_t> buffer) {
    const Port_Io_Result result = m_backend->Write(buffer, Write_Deadline_Ms(buffer.size()));
    m_bytes_written += result.count;
    if (m_trace)
        m_trace->bytes(Operation_Name(), Trace_Direction::kToPhone, buffer.first(result.count));
    return Finish("write", buffer.size(), result);
}

Io_Result Serial_Port::Finish(const char* verb, std::size_t wanted, const Port_Io_Result& result) {
    const Io_End end = How_It_Ended(result, wanted);
    m_last_end = end;
    if (end == Io_End::kHungUp)
        m_line_hung_up = true;
    if (m_trace && end != Io_End::kComplete) {
        static constexpr const char* kWhy[] = {"", "time-out", "hang-up", "stop", "failure"};
        static constexpr Trace_Event kKind[] = {Trace_Event::kFailed, Trace_Event::kTimedOut,
                                                Trace_Event::kHungUp, Trace_Event::kStopped,
                                                Trace_Event::kFailed};
        Trace_Event_Line(kKind[static_cast<int>(end)],
                         std::string(verb) + " of " + std::to_string(wanted) +
                             " bytes ended short after " + std::to_string(result.count) + " (" +
                             kWhy[static_cast<int>(end)] + ")");
    }
    return {end, result.count};
}

std::string Serial_Port::Operation_Name() const {
    std::string name = m_operation;
    if (m_operation_number != 0)
        name += " " + std::to_string(m_operation_number);
    return name;
}

void Serial_Port::Trace_Event_Line(Trace_Event kind, const std::string& what) {
    if (m_trace)
        m_trace->event(Operation_Name(), kind, what);
}

std::uint32_t Serial_Port::Write_Deadline_Ms(std::size_t count) const {
    const std::uint64_t baud = m_baud > 0 ? static_cast<std::uint64_t>(m_baud) : kBaudRate;
    // Twice the time the bytes take on the wire, rounded up to whole
    // milliseconds, plus the slack.
    const std::uint64_t twice_wire_ms = (2 * count * kBitsPerByte * 1000 + baud - 1) / baud;
    const std::uint64_t deadline = twice_wire_ms + m_write_slack_ms;
    return deadline > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(deadline);
}

std::uint32_t Serial_Port::Bytes_In_Queue() {
    return m_backend->Bytes_In_Queue();
}

bool Serial_Port::Purge() {
    return m_backend->Purge();
}

bool Serial_Port::Set_Baud_Rate(std::int32_t baud) {
    if (!m_backend->Set_Lines(baud))
        return false;
    m_baud = baud;
    Trace_Event_Line(Trace_Event::kLines, std::to_string(baud) + " 8N1");
    Delay(kLineSettleMs);
    return true;
}

void Serial_Port::Delay(std::int32_t milliseconds) {
    m_backend->Pause(milliseconds);
}
