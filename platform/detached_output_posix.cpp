// Detached output on Linux: a stdio stream of fopencookie's whose writes
// append to memory, and a thread that writes it to the target's descriptor.
// A writer blocked on a reader that never reads again is left behind when
// the output is dropped; it ends with the process.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/detached_output.h"

namespace platform {

struct Detached_Output::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::string pending;
    bool writing = false;  // the thread holds bytes it has not written yet
    bool dropped = false;  // nothing more reaches the target
    bool closing = false;
    std::chrono::steady_clock::time_point last_progress = std::chrono::steady_clock::now();
    int descriptor = -1;
};

namespace {

using Shared = Detached_Output::Shared;
using namespace std::chrono_literals;

// Beyond this much held for a reader that does not read, the output is
// dropped rather than the memory taken.
constexpr std::size_t kMostHeld = 64u << 20;

void Write_All(Shared& shared) {
    std::unique_lock lock(shared.mutex);
    for (;;) {
        shared.changed.wait(lock, [&] { return !shared.pending.empty() || shared.closing; });
        if (shared.pending.empty())
            return;
        std::string chunk;
        chunk.swap(shared.pending);
        shared.writing = true;
        lock.unlock();
        bool failed = false;
        for (std::size_t done = 0; done < chunk.size() && !failed;) {
            const ssize_t written =
                ::write(shared.descriptor, chunk.data() + done, chunk.size() - done);
            if (written < 0 && errno == EINTR)
                continue;
            failed = written <= 0;
            if (!failed) {
                done += static_cast<std::size_t>(written);
                const std::lock_guard progress(shared.mutex);
                shared.last_progress = std::chrono::steady_clock::now();
            }
        }
        lock.lock();
        shared.writing = false;
        if (failed) {
            // A reader that went away (EPIPE): its output is dropped.
            shared.dropped = true;
            shared.pending.clear();
        }
        shared.changed.notify_all();
    }
}

ssize_t Cookie_Write(void* cookie, const char* data, std::size_t size) {
    auto& shared = *static_cast<Shared*>(cookie);
    {
        const std::lock_guard lock(shared.mutex);
        if (!shared.dropped && shared.pending.size() + size <= kMostHeld)
            shared.pending.append(data, size);
    }
    shared.changed.notify_all();
    return static_cast<ssize_t>(size);
}

}  // namespace

Detached_Output::Detached_Output(std::FILE* target) : m_shared(std::make_shared<Shared>()) {
    std::fflush(target);
    m_shared->descriptor = fileno(target);
    cookie_io_functions_t functions{};
    functions.write = Cookie_Write;
    m_stream = fopencookie(m_shared.get(), "w", functions);
    if (m_stream == nullptr) {
        m_shared.reset();  // written directly, as without this
        m_stream = target;
        return;
    }
    std::setvbuf(m_stream, nullptr, _IONBF, 0);
    std::thread([shared = m_shared] { Write_All(*shared); }).detach();
}

Detached_Output::~Detached_Output() {
    if (!m_shared)
        return;  // the target itself, written directly
    std::fclose(m_stream);
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->dropped = true;
        m_shared->pending.clear();
        m_shared->closing = true;
    }
    m_shared->changed.notify_all();
}

bool Detached_Output::Drain(const std::function<bool()>& give_up) {
    if (!m_shared) {
        std::fflush(m_stream);
        return true;
    }
    std::unique_lock lock(m_shared->mutex);
    while (!m_shared->dropped && (m_shared->writing || !m_shared->pending.empty())) {
        m_shared->changed.wait_for(lock, 50ms);
        const bool stuck = std::chrono::steady_clock::now() - m_shared->last_progress > 200ms;
        if (stuck && !m_shared->dropped && (m_shared->writing || !m_shared->pending.empty())) {
            lock.unlock();
            const bool giving_up = give_up();
            lock.lock();
            if (giving_up) {
                m_shared->dropped = true;
                m_shared->pending.clear();
                return false;
            }
        }
    }
    return !m_shared->dropped;
}

}  // namespace platform
