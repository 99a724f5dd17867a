// CComport's own pieces: construction, the progress bar, and the byte-sized
// exchange steps that every protocol operation is made of.
#include "bootloader/comport.h"

#include <utility>

CComport::CComport() : SerialPort(), m_lister(Make_System_Port_Lister()) {}

CComport::CComport(std::unique_ptr<PortBackend> backend, std::unique_ptr<PortLister> lister)
    : SerialPort(std::move(backend)), m_lister(std::move(lister)) {}

bool CComport::Open(std::string port_name) {
    m_exchange_cut = false;
    return SerialPort::Open(std::move(port_name));
}

bool CComport::Set_Progress_Bar(ProgressBar* progress_bar) {
    if (m_progress_bar != nullptr)
        return false;
    m_progress_bar = progress_bar;
    return true;
}

Io_Result CComport::Read_Byte(std::uint8_t& byte, std::uint32_t timeout_ms) {
    return Read(std::span<std::uint8_t>(&byte, 1), timeout_ms);
}

Io_Result CComport::Write_Byte(std::uint8_t byte) {
    return Write(std::span<const std::uint8_t>(&byte, 1));
}

template <typename Result>
Result CComport::Command_With_Ack(std::uint8_t command, std::uint32_t timeout_ms) {
    if (const Io_Result written = Write_Byte(command); !written)
        return Write_Failed(written, static_cast<Result>(1));
    std::uint8_t answer = 0;
    if (const Io_Result read = Read_Byte(answer, timeout_ms); !read)
        return Read_Failed(read, static_cast<Result>(2));
    return answer == boot::kAck ? static_cast<Result>(0) : static_cast<Result>(3);
}

template boot::Read_Version_Result CComport::Command_With_Ack(std::uint8_t, std::uint32_t);
template boot::Backup_Result CComport::Command_With_Ack(std::uint8_t, std::uint32_t);
template boot::Write_Version_Result CComport::Command_With_Ack(std::uint8_t, std::uint32_t);
template boot::Download_Result CComport::Command_With_Ack(std::uint8_t, std::uint32_t);
