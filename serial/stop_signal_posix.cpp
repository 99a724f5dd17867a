// The stop request on POSIX: an atomic flag plus a pipe whose read end turns
// readable on a request, so that a port waiting in poll() wakes at once. Both
// are safe to touch from a signal handler.
#include <fcntl.h>
#include <unistd.h>

#include "serial/stop_signal.h"

struct Stop_Signal::Native {
    int read_end = -1;
    int write_end = -1;
};

Stop_Signal::Stop_Signal() : m_native(std::make_unique<Native>()) {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
        m_native->read_end = ends[0];
        m_native->write_end = ends[1];
    }
}

Stop_Signal::~Stop_Signal() {
    if (m_native->read_end >= 0)
        ::close(m_native->read_end);
    if (m_native->write_end >= 0)
        ::close(m_native->write_end);
}

void Stop_Signal::Request() noexcept {
    m_requested.store(true);
    if (m_native->write_end >= 0) {
        const char byte = 1;
        // A full pipe already says "stop"; nothing else can go wrong here.
        [[maybe_unused]] const ssize_t written = ::write(m_native->write_end, &byte, 1);
    }
}

namespace {

void Drain(int read_end) noexcept {
    if (read_end < 0)
        return;
    char drain[64];
    while (::read(read_end, drain, sizeof drain) > 0) {
    }
}

}  // namespace

void Stop_Signal::Clear() noexcept {
    m_requested.store(false);
    Drain(m_native->read_end);
}

bool Stop_Signal::Wake_Means_Stop() noexcept {
    if (Requested())
        return true;
    Drain(m_native->read_end);
    // A request made while the pipe was emptied is kept by its flag.
    return Requested();
}

int Stop_Signal::Wait_Descriptor() const noexcept {
    return m_native->read_end;
}

void* Stop_Signal::Wait_Event() const noexcept {
    return nullptr;
}
