// The watcher's events handed from its thread to a thread that waits for
// them: Sink() is the watcher's callback, Next() the waiting side.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "serial/port_watcher.h"

class Port_Event_Queue {
  public:
    Port_Watcher::Callback Sink() {
        return [this](const Port_Event& event) { Push(event); };
    }
    void Push(const Port_Event& event) {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_events.push_back(event);
        }
        m_ready.notify_all();
    }
    // The oldest event, waiting at most timeout for one; false when none came.
    bool Next(Port_Event& event, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_ready.wait_for(lock, timeout, [this] { return !m_events.empty(); }))
            return false;
        event = std::move(m_events.front());
        m_events.pop_front();
        return true;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Port_Event> m_events;
};
