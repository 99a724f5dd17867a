// The Win32 serial backend: each operation is exactly one Win32
// communications call on the port handle, with synchronous (non-overlapped)
// I/O, so the port behaves as the boot loader's virtual COM port driver
// expects: 115200 8N1, no flow control, DTR and RTS held off, 1024-byte
// driver queues, one total deadline per read and no limit on writes.
#include <windows.h>

#include "serial/port_backend.h"

namespace {

class Win32Backend final : public PortBackend {
  public:
    Win32Backend() = default;
    Win32Backend(const Win32Backend&) = delete;
    Win32Backend& operator=(const Win32Backend&) = delete;
    // Mirrors CComport: a port still held when the object goes is released
    // here, so a handle cannot outlive the backend that owns it.
    ~Win32Backend() override { close(); }

    bool open(const std::string& name) override {
        close();
        m_handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) {
            m_last_open_error = static_cast<int>(GetLastError());
            return false;
        }
        m_last_open_error = 0;
        return true;
    }

    bool is_open() const override { return m_handle != INVALID_HANDLE_VALUE; }

    void close() override {
        if (m_handle == INVALID_HANDLE_VALUE)
            return;
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

    int last_open_error() const override { return m_last_open_error; }

    bool last_open_was_refused() const override { return m_last_open_error == ERROR_ACCESS_DENIED; }

    // Only the line and flow-control fields change; the rest of the DCB
    // (XON/XOFF limits and characters, error, end and event characters,
    // reserved fields) stays as the driver reported it.
    bool set_line(std::int32_t baud) override {
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        if (!GetCommState(m_handle, &dcb))
            return false;
        dcb.BaudRate = static_cast<DWORD>(baud);
        dcb.fBinary = 1;
        dcb.fParity = 0;
        dcb.fOutxCtsFlow = 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fDsrSensitivity = 0;
        dcb.fTXContinueOnXoff = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fErrorChar = 0;
        dcb.fNull = 0;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        dcb.fAbortOnError = 0;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        return SetCommState(m_handle, &dcb) != 0;
    }

    bool setup_queues(std::uint32_t receive_bytes, std::uint32_t transmit_bytes) override {
        return SetupComm(m_handle, receive_bytes, transmit_bytes) != 0;
    }

    // One deadline for the whole read; no gap limit, nothing per byte, and
    // writes block until the driver has taken everything.
    bool set_read_timeout(std::uint32_t ms) override {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = 0;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = ms;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = 0;
        return SetCommTimeouts(m_handle, &timeouts) != 0;
    }

    Port_Io_Result read(std::span<std::uint8_t> buffer) override {
        DWORD received = 0;
        const BOOL ok = ReadFile(m_handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                 &received, nullptr);
        return {ok != 0, static_cast<std::size_t>(received)};
    }

    Port_Io_Result write(std::span<const std::uint8_t> buffer) override {
        DWORD written = 0;
        const BOOL ok = WriteFile(m_handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                  &written, nullptr);
        return {ok != 0, static_cast<std::size_t>(written)};
    }

    Port_Queue_Status queue_status() override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(m_handle, &errors, &status))
            return {};
        return {true, static_cast<std::uint32_t>(errors),
                static_cast<std::uint32_t>(status.cbInQue)};
    }

    bool purge() override { return PurgeComm(m_handle, PURGE_TXCLEAR | PURGE_RXCLEAR) != 0; }

    void sleep_ms(std::int32_t ms) override {
        if (ms > 0)
            Sleep(static_cast<DWORD>(ms));
    }

  private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    int m_last_open_error = 0;
};

}  // namespace

std::unique_ptr<PortBackend> Make_System_Backend() {
    return std::make_unique<Win32Backend>();
}
