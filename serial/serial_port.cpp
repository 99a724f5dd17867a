// SerialPort's operations. Each step maps onto one operation of the platform
// seam (PortBackend); this file adds the bookkeeping: how a transfer ended,
// the write deadline, the trace.
#include "serial/serial_port.h"

#include <utility>

namespace {
constexpr std::int32_t kBaudRate = 115200;
constexpr std::uint32_t kQueueBytes = 1024;  // driver queue, each way
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

SerialPort::SerialPort() : SerialPort(Make_System_Backend()) {}

SerialPort::SerialPort(std::unique_ptr<PortBackend> backend) : m_backend(std::move(backend)) {
    m_backend->attach_stop_signal(&m_stop);
}

SerialPort::~SerialPort() = default;

bool SerialPort::Open(std::string port_name) {
    Close();
    m_line_hung_up = false;
    m_write_timeout_ms = 0;
    if (!m_backend->open(port_name)) {
        if (m_trace)
            m_trace->event(m_operation, "open " + port_name + " failed");
        return false;
    }
    if (m_trace)
        m_trace->event(m_operation, "open " + port_name);
    // A port that opened but cannot be configured is released at once: no
    // caller uses it after a failed Open, and holding it would keep other
    // programs out until the next Open or Close.
    if (!Set_Baud_Rate(kBaudRate) || !m_backend->setup_queues(kQueueBytes, kQueueBytes)) {
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

void SerialPort::Close() {
    if (!m_backend->is_open())
        return;
    m_backend->close();
    if (m_trace)
        m_trace->event(m_operation, "close");
}

bool SerialPort::Is_Open() const {
    return m_backend->is_open();
}

Io_Result SerialPort::Read(std::span<std::uint8_t> buffer, std::uint32_t timeout_ms) {
    if (timeout_ms != 0 && !m_backend->set_read_timeout(timeout_ms)) {
        m_last_end = Io_End::kFailed;
        return {Io_End::kFailed, 0};
    }
    const Port_Io_Result result = m_backend->read(buffer);
    if (m_trace)
        m_trace->bytes(m_operation, Trace_Direction::kFromPhone, buffer.first(result.count));
    return Finish("read", buffer.size(), result);
}

Io_Result SerialPort::Write(std::span<const std::uint8_t> buffer) {
    const std::uint32_t deadline = Write_Deadline_Ms(buffer.size());
    if (deadline != m_write_timeout_ms) {
        if (!m_backend->set_write_timeout(deadline)) {
            m_last_end = Io_End::kFailed;
            return {Io_End::kFailed, 0};
        }
        m_write_timeout_ms = deadline;
    }
    const Port_Io_Result result = m_backend->write(buffer);
    m_bytes_written += result.count;
    if (m_trace)
        m_trace->bytes(m_operation, Trace_Direction::kToPhone, buffer.first(result.count));
    return Finish("write", buffer.size(), result);
}

Io_Result SerialPort::Finish(const char* verb, std::size_t wanted, const Port_Io_Result& result) {
    const Io_End end = How_It_Ended(result, wanted);
    m_last_end = end;
    if (end == Io_End::kHungUp)
        m_line_hung_up = true;
    if (m_trace && end != Io_End::kComplete) {
        static constexpr const char* kWhy[] = {"", "time-out", "hang-up", "stop", "failure"};
        m_trace->event(m_operation, std::string(verb) + " of " + std::to_string(wanted) +
                                        " bytes ended short after " + std::to_string(result.count) +
                                        " (" + kWhy[static_cast<int>(end)] + ")");
    }
    return {end, result.count};
}

std::uint32_t SerialPort::Write_Deadline_Ms(std::size_t count) const {
    const std::uint64_t baud = m_baud > 0 ? static_cast<std::uint64_t>(m_baud) : kBaudRate;
    // Twice the time the bytes take on the wire, rounded up to whole
    // milliseconds, plus the slack.
    const std::uint64_t twice_wire_ms = (2 * count * kBitsPerByte * 1000 + baud - 1) / baud;
    const std::uint64_t deadline = twice_wire_ms + m_write_slack_ms;
    return deadline > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(deadline);
}

std::uint32_t SerialPort::Bytes_In_Queue() {
    const Port_Queue_Status status = m_backend->queue_status();
    if (!status.ok || status.errors != 0)
        return 0;
    return status.in_queue;
}

bool SerialPort::Purge() {
    return m_backend->purge();
}

bool SerialPort::Set_Baud_Rate(std::int32_t baud) {
    if (!m_backend->set_line(baud))
        return false;
    m_baud = baud;
    Delay(kLineSettleMs);
    return true;
}

void SerialPort::Delay(std::int32_t milliseconds) {
    m_backend->sleep_ms(milliseconds);
}
