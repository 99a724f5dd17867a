// CComport's own pieces: construction, the report, and the byte-sized
// exchange steps that every protocol operation is made of.
#include "bootloader/comport.h"

#include <utility>

CComport::CComport() : m_lister(Make_System_Port_Lister()) {}

CComport::CComport(std::unique_ptr<Port_Backend> backend, std::unique_ptr<PortLister> lister)
    : m_port(std::move(backend)), m_lister(std::move(lister)) {}

bool CComport::Open(std::string port_name) {
    m_exchange_cut = false;
    return m_port.Open(std::move(port_name));
}

bool CComport::Set_Report(report::Update_Observer* report) {
    if (m_report != nullptr && report != nullptr)
        return false;
    m_report = report;
    return true;
}

Io_Result CComport::Read_Byte(std::uint8_t& byte, std::uint32_t timeout_ms) {
    return m_port.Read(std::span<std::uint8_t>(&byte, 1), timeout_ms);
}

Io_Result CComport::Write_Byte(std::uint8_t byte) {
    return m_port.Write(std::span<const std::uint8_t>(&byte, 1));
}

template <typename Result>
boot::Outcome<Result> CComport::Command_With_Ack(std::uint8_t command, std::uint32_t timeout_ms) {
    if (const Io_Result written = Write_Byte(command); !written)
        return Write_Failed(written, Result::kCommandNotWritten);
    std::uint8_t answer = 0;
    if (const Io_Result read = Read_Byte(answer, timeout_ms); !read)
        return Read_Failed(read, Result::kNoAnswer);
    return answer == boot::kAck ? Result::kOk : Result::kNotAcknowledged;
}

template boot::Outcome<boot::Read_Version_Result> CComport::Command_With_Ack(std::uint8_t,
                                                                             std::uint32_t);
template boot::Outcome<boot::Dump_Result> CComport::Command_With_Ack(std::uint8_t, std::uint32_t);
template boot::Outcome<boot::Write_Version_Result> CComport::Command_With_Ack(std::uint8_t,
                                                                              std::uint32_t);
template boot::Outcome<boot::Download_Result> CComport::Command_With_Ack(std::uint8_t,
                                                                         std::uint32_t);
