// Port operations of CComport: open, configure, read, write, queue count,
// purge, close, delay. Each step maps onto one operation of the platform seam.
#include "serial/comport.h"

#include <utility>

namespace {
constexpr std::int32_t kBaudRate = 115200;
constexpr std::uint32_t kQueueBytes = 1024;       // driver queue, each way
constexpr std::int32_t kLineSettleMs = 100;       // after a new line setting
}  // namespace

CComport::CComport() : CComport(Make_System_Backend(), Make_System_Port_Lister()) {}

CComport::CComport(std::unique_ptr<PortBackend> backend, std::unique_ptr<PortLister> lister)
    : m_backend(std::move(backend)), m_lister(std::move(lister)) {}

// The port is deliberately left as it is: Close releases it.
CComport::~CComport() = default;

bool CComport::Open(std::string port_name) {
    Close();
    if (!m_backend->open(port_name)) {
        if (m_trace) m_trace->event(m_operation, "open " + port_name + " failed");
        return false;
    }
    if (m_trace) m_trace->event(m_operation, "open " + port_name);
    // A port that opened but cannot be configured is released at once: no
    // caller uses it after a failed Open, and holding it would keep other
    // programs out until the next Open or Close.
    if (!Set_Baud_Rate(kBaudRate) || !m_backend->setup_queues(kQueueBytes, kQueueBytes)) {
        Close();
        return false;
    }
    if (Bytes_In_Queue() == 0) return true;
    if (Purge()) return true;
    Close();
    return false;
}

void CComport::Close() {
    if (!m_backend->is_open()) return;
    m_backend->close();
    if (m_trace) m_trace->event(m_operation, "close");
}

bool CComport::Is_Open() const { return m_backend->is_open(); }

bool CComport::Read(std::span<std::uint8_t> buffer, std::uint32_t timeout_ms) {
    if (timeout_ms != 0 && !m_backend->set_read_timeout(timeout_ms)) return false;
    Dispatch_Pending_Messages();
    const Port_Io_Result result = m_backend->read(buffer);
    if (m_trace) {
        m_trace->bytes(m_operation, Trace_Direction::kFromPhone, buffer.first(result.count));
        if (!result.ok || result.count != buffer.size()) {
            m_trace->event(m_operation, "read of " + std::to_string(buffer.size()) +
                                            " bytes ended short after " +
                                            std::to_string(result.count));
        }
    }
    return result.ok && result.count == buffer.size();
}

bool CComport::Write(std::span<const std::uint8_t> buffer) {
    Dispatch_Pending_Messages();
    const Port_Io_Result result = m_backend->write(buffer);
    if (m_trace) {
        m_trace->bytes(m_operation, Trace_Direction::kToPhone, buffer.first(result.count));
        if (!result.ok || result.count != buffer.size()) {
            m_trace->event(m_operation, "write of " + std::to_string(buffer.size()) +
                                            " bytes failed after " +
                                            std::to_string(result.count));
        }
    }
    return result.ok && result.count == buffer.size();
}

std::uint32_t CComport::Bytes_In_Queue() {
    Dispatch_Pending_Messages();
    const Port_Queue_Status status = m_backend->queue_status();
    if (!status.ok || status.errors != 0) return 0;
    return status.in_queue;
}

bool CComport::Purge() { return m_backend->purge(); }

bool CComport::Set_Baud_Rate(std::int32_t baud) {
    if (!m_backend->set_line(baud)) return false;
    Delay(kLineSettleMs);
    return true;
}

void CComport::Delay(std::int32_t milliseconds) { m_backend->sleep_ms(milliseconds); }

bool CComport::Set_Progress_Bar(ProgressBar* progress_bar) {
    if (m_progress_bar != nullptr) return false;
    m_progress_bar = progress_bar;
    return true;
}

void CComport::Set_Message_Pump(std::function<void()> pump) { m_pump = std::move(pump); }
void CComport::Set_Message_Output(MessageOutput* output) { m_output = output; }
void CComport::Set_Port_Lister(std::unique_ptr<PortLister> lister) { m_lister = std::move(lister); }
void CComport::Set_Trace(TraceSink* trace) { m_trace = trace; }
void CComport::Set_Time_Limits(const boot::Time_Limits& limits) { m_limits = limits; }

void CComport::Dispatch_Pending_Messages() {
    if (m_pump) m_pump();
}

bool CComport::Read_Byte(std::uint8_t& byte, std::uint32_t timeout_ms) {
    return Read(std::span<std::uint8_t>(&byte, 1), timeout_ms);
}

bool CComport::Write_Byte(std::uint8_t byte) {
    return Write(std::span<const std::uint8_t>(&byte, 1));
}

int CComport::Command_With_Ack(std::uint8_t command, std::uint32_t timeout_ms) {
    if (!Write_Byte(command)) return 1;
    std::uint8_t answer = 0;
    if (!Read_Byte(answer, timeout_ms)) return 2;
    return answer == boot::kAck ? 0 : 3;
}
