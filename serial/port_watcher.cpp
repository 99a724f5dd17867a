// The watcher's thread: started and stopped from any thread, the platform's
// loop (port_watch_loop.h) doing the waiting on it.
#include "serial/port_watcher.h"

#include <future>
#include <utility>

#include "serial/port_watch_loop.h"

const char* Port_Watch_Source_Name(Port_Watch_Source source) {
    switch (source) {
        case Port_Watch_Source::kAutomatic:
            return "automatic";
        case Port_Watch_Source::kUdev:
            return "udev";
        case Port_Watch_Source::kKernelUevents:
            return "kernel uevents";
        case Port_Watch_Source::kDeviceNotify:
            return "device notifications";
        case Port_Watch_Source::kSerialMapNotify:
            return "serial map notifications";
        case Port_Watch_Source::kPollOnly:
            return "listing only";
    }
    return "unknown";
}

Port_Watcher::Port_Watcher(Port_Watch_Options options) : m_options(std::move(options)) {
    if (m_options.poll_interval < kMinimumPollInterval)
        m_options.poll_interval = kMinimumPollInterval;
}

Port_Watcher::~Port_Watcher() {
    Stop();
}

bool Port_Watcher::Start(Callback callback) {
    const std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_loop && !m_stop_requested)
            return false;
    }
    Join();  // a thread that its own callback stopped
    std::unique_ptr<Port_Watch_Loop> loop = Make_Port_Watch_Loop(m_options);
    if (!loop)
        return false;
    Port_Watch_Loop* running = loop.get();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_loop = std::move(loop);
        m_stop_requested = false;
    }
    // Back once the first look is delivered: a port that appears after
    // Start returns is never taken for one present at start.
    std::promise<void> armed;
    std::future<void> ready = armed.get_future();
    m_thread = std::thread([this, running, callback = std::move(callback), &armed] {
        m_worker = std::this_thread::get_id();
        running->Run(callback, [&armed] { armed.set_value(); });
    });
    ready.wait();
    return true;
}

void Port_Watcher::Stop() {
    if (m_worker.load() == std::this_thread::get_id()) {
        // From the callback: the thread ends once it returns, and is joined
        // by the next Start or Stop, or the destructor.
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop_requested = true;
        if (m_loop)
            m_loop->Request_Stop();
        return;
    }
    const std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop_requested = true;
        if (m_loop)
            m_loop->Request_Stop();
    }
    Join();
}

// Under m_lifecycle, never on the watcher's thread.
void Port_Watcher::Join() {
    if (m_thread.joinable())
        m_thread.join();
    m_worker = std::thread::id();
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_loop.reset();
}

bool Port_Watcher::Running() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_loop != nullptr && !m_stop_requested;
}

Port_Watch_Source Port_Watcher::Source() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_loop ? m_loop->Source() : Port_Watch_Source::kAutomatic;
}
