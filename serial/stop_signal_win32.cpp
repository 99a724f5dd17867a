// The stop request on Windows: an atomic flag plus a manual-reset event. The
// port's reads and writes are overlapped and wait on the event beside their
// own; a set event makes them cancel the call (CancelIoEx). The event stays
// set until the owner clears the request, so a stop that comes just before a
// call starts is not lost. (A synchronous call could only be broken into with
// CancelSynchronousIo, which does not reach serial calls everywhere, and a
// request that came a moment too early would be lost.)
#include <windows.h>

#include "serial/stop_signal.h"

struct Stop_Signal::Native {
    HANDLE event = nullptr;
};

Stop_Signal::Stop_Signal() : m_native(std::make_unique<Native>()) {
    m_native->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

Stop_Signal::~Stop_Signal() {
    if (m_native->event != nullptr)
        CloseHandle(m_native->event);
}

void Stop_Signal::Request() noexcept {
    m_requested.store(true);
    if (m_native->event != nullptr)
        SetEvent(m_native->event);
}

void Stop_Signal::Clear() noexcept {
    m_requested.store(false);
    if (m_native->event != nullptr)
        ResetEvent(m_native->event);
}

int Stop_Signal::Wait_Descriptor() const noexcept {
    return -1;
}

void* Stop_Signal::Wait_Event() const noexcept {
    return m_native->event;
}

bool Stop_Signal::Wake_Means_Stop() noexcept {
    return Requested();
}
