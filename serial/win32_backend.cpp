// The Win32 serial backend: each hook is the Win32 communications calls it
// names on the port handle, so the port behaves as the boot loader's virtual
// COM port driver expects: 115200 8N1, no flow control, DTR and RTS held off,
// 1024-byte driver queues, one total deadline per read and one per write.
//
// Reads and writes are overlapped only so that they can be waited for beside
// the stop event: each call still moves its whole count under the port's
// time-outs and returns only when done, as a synchronous one would. A stop
// cancels the call in flight (CancelIoEx); the bytes it moved so far count.
// An overlapped read also learns at once that the device went away.
#include <windows.h>

#include "serial/port_backend.h"
#include "serial/stop_signal.h"

namespace {

// Errors with which a call on a port fails once its device has gone: the
// USB serial driver's answers to a phone pulled out in the middle.
bool Is_Hang_Up_Error(DWORD error) {
    switch (error) {
        case ERROR_BAD_COMMAND:
        case ERROR_BROKEN_PIPE:
        case ERROR_NOT_READY:
        case ERROR_GEN_FAILURE:
        case ERROR_ACCESS_DENIED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_OPERATION_ABORTED:  // the driver gave the call up
            return true;
        default:
            return false;
    }
}

}  // namespace

namespace {

class Win32_Backend final : public Port_Backend {
  public:
    Win32_Backend() = default;
    Win32_Backend(const Win32_Backend&) = delete;
    Win32_Backend& operator=(const Win32_Backend&) = delete;
    // A port still held when the object goes is released here, so a handle
    // cannot outlive the backend that owns it.
    ~Win32_Backend() override {
        Close();
        if (m_io_event != nullptr)
            CloseHandle(m_io_event);
    }

    Port_Open_Result Open(const std::string& name) override {
        Close();
        m_timeouts = {};
        m_timeouts_known = false;
        if (m_io_event == nullptr)
            m_io_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (m_handle == INVALID_HANDLE_VALUE)
            return Refused(GetLastError());
        if (!SetupComm(m_handle, kQueueBytes, kQueueBytes)) {
            Close();
            return {};
        }
        return {true, 0, Open_Refusal::kNone};
    }

    void Close() override {
        if (m_handle == INVALID_HANDLE_VALUE)
            return;
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

    // Only the line and flow-control fields change; the rest of the DCB
    // (XON/XOFF limits and characters, error, end and event characters,
    // reserved fields) stays as the driver reported it.
    bool Set_Lines(std::int32_t baud) override {
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

    // One deadline for the whole read: no gap limit, nothing per byte. Set on
    // every read that gives one; the write deadline in force stays.
    Port_Io_Result Read(std::span<std::uint8_t> buffer, std::uint32_t deadline_ms) override {
        if (deadline_ms != kDeadlineInForce) {
            COMMTIMEOUTS timeouts{};
            timeouts.ReadIntervalTimeout = 0;
            timeouts.ReadTotalTimeoutMultiplier = 0;
            timeouts.ReadTotalTimeoutConstant = deadline_ms;
            timeouts.WriteTotalTimeoutMultiplier = 0;
            timeouts.WriteTotalTimeoutConstant = m_timeouts.WriteTotalTimeoutConstant;
            if (!Set_Timeouts(timeouts))
                return {};
        }
        return Transfer(true, buffer.data(), buffer.size());
    }

    // One deadline for the whole write, set only when it differs from the
    // one the port has. Until a read has set its own, the read time-outs stay
    // as the driver has them.
    Port_Io_Result Write(std::span<const std::uint8_t> buffer, std::uint32_t deadline_ms) override {
        if (deadline_ms != m_timeouts.WriteTotalTimeoutConstant) {
            COMMTIMEOUTS timeouts = m_timeouts;
            if (!m_timeouts_known && !GetCommTimeouts(m_handle, &timeouts))
                return {};
            timeouts.WriteTotalTimeoutMultiplier = 0;
            timeouts.WriteTotalTimeoutConstant = deadline_ms;
            if (!Set_Timeouts(timeouts))
                return {};
        }
        return Transfer(false, const_cast<std::uint8_t*>(buffer.data()), buffer.size());
    }

    std::uint32_t Bytes_In_Queue() override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(m_handle, &errors, &status) || errors != 0)
            return 0;
        return static_cast<std::uint32_t>(status.cbInQue);
    }

    bool Purge() override { return PurgeComm(m_handle, PURGE_TXCLEAR | PURGE_RXCLEAR) != 0; }

    // Sleep, but a stop request ends it early: the phone search pauses
    // between passes and after each open, and a closing window must not wait
    // for that.
    void Pause(std::int32_t ms) override {
        if (ms <= 0)
            return;
        if (Attached_Stop() == nullptr || Attached_Stop()->Held_Back()) {
            Sleep(static_cast<DWORD>(ms));
            return;
        }
        WaitForSingleObject(static_cast<HANDLE>(Attached_Stop()->Wait_Event()),
                            static_cast<DWORD>(ms));
    }

  private:
    // A COM port opened with share mode 0 by another program is refused
    // with "access denied".
    static Port_Open_Result Refused(DWORD error) {
        const bool in_use = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
        return {false, static_cast<int>(error),
                in_use ? Open_Refusal::kInUse : Open_Refusal::kNone};
    }

    // SetCommTimeouts; what the port has is kept only once it took them.
    bool Set_Timeouts(COMMTIMEOUTS& timeouts) {
        if (!SetCommTimeouts(m_handle, &timeouts))
            return false;
        m_timeouts = timeouts;
        m_timeouts_known = true;
        return true;
    }

    // One ReadFile or WriteFile of count bytes, waited for to its end: done,
    // its deadline passed, the device gone, or a stop. Says why it moved
    // fewer bytes than asked where it knows. WriteFile only reads data.
    Port_Io_Result Transfer(bool reading, std::uint8_t* data, std::size_t count) {
        Port_Io_Result result;
        Stop_Signal* const stop = Attached_Stop();
        const HANDLE stop_event = stop != nullptr && !stop->Held_Back()
                                      ? static_cast<HANDLE>(stop->Wait_Event())
                                      : nullptr;
        if (stop_event != nullptr && stop->Interrupts()) {
            result.ok = true;
            result.cause = Io_End::kInterrupted;
            return result;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_io_event;
        ResetEvent(m_io_event);
        const DWORD size = static_cast<DWORD>(count);
        BOOL ok = reading ? ReadFile(m_handle, data, size, nullptr, &overlapped)
                          : WriteFile(m_handle, data, size, nullptr, &overlapped);
        if (!ok && GetLastError() != ERROR_IO_PENDING)
            return Failed(GetLastError(), 0);
        bool stopped = false;
        if (!ok && stop_event != nullptr) {
            const HANDLE waits[2] = {m_io_event, stop_event};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
                stopped = true;
                CancelIoEx(m_handle, &overlapped);  // may find the call done already
            }
        }
        // Always waited for to its end: the call owns overlapped and the buffer
        // until then. Bytes moved before a cancel count.
        DWORD moved = 0;
        ok = GetOverlappedResult(m_handle, &overlapped, &moved, TRUE);
        if (ok) {
            result.ok = true;  // a short count: the deadline passed
            result.count = moved;
            if (moved < count && stopped)
                result.cause = Io_End::kInterrupted;
            return result;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_TIMEOUT) {  // a read's deadline, with nothing received
            result.ok = true;
            result.count = moved;
            return result;
        }
        if (error == ERROR_OPERATION_ABORTED && stopped) {
            result.ok = true;
            result.count = moved;
            result.cause = Io_End::kInterrupted;
            return result;
        }
        return Failed(error, moved);
    }

    static Port_Io_Result Failed(DWORD error, DWORD moved) {
        Port_Io_Result result{false, static_cast<std::size_t>(moved), std::nullopt};
        if (Is_Hang_Up_Error(error))
            result.cause = Io_End::kHungUp;
        return result;
    }

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_io_event = nullptr;  // signals the end of the call in flight
    // The time-outs as last set on the port since the open (zero before):
    // the one place the write deadline in force is kept.
    COMMTIMEOUTS m_timeouts{};
    bool m_timeouts_known = false;
};

}  // namespace

std::unique_ptr<Port_Backend> Make_System_Backend() {
    return std::make_unique<Win32_Backend>();
}
