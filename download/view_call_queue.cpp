// View_Call_Queue: a mutex-guarded queue with one condition variable, woken
// for new calls, finished calls and closing alike, and at most one wake of the
// window's thread outstanding.
#include "download/view_call_queue.h"

#include <utility>

View_Call_Queue::View_Call_Queue(std::function<void()> wake) : m_wake(std::move(wake)) {}

void View_Call_Queue::Post(Call call) {
    bool wake = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return;
        m_calls.push_back(std::move(call));
        // One wake until the window's thread takes it up: a window that is
        // running the queue already takes the new call along.
        wake = !std::exchange(m_wake_pending, true);
    }
    m_changed.notify_all();
    if (wake && m_wake)
        m_wake();
}

bool View_Call_Queue::Call_And_Wait(Call call) {
    auto completion = std::make_shared<Completion>();
    Post([this, completion, call = std::move(call)] {
        call();
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            completion->done = true;
        }
        m_changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return completion->done || m_closed; });
    return completion->done;
}

void View_Call_Queue::Run_Pending() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_wake_pending = false;  // the wake that brought the window here is used up
    }
    for (;;) {
        Call call;
        bool wake = false;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_calls.empty())
                return;
            call = std::move(m_calls.front());
            m_calls.pop_front();
            // The call may open a modal box, whose event loop is all that runs
            // until it closes: the calls behind it need a wake of their own
            // to run there.
            wake = !m_calls.empty() && !std::exchange(m_wake_pending, true);
        }
        if (wake && m_wake)
            m_wake();
        call();
    }
}

void View_Call_Queue::Wait_And_Run(std::chrono::milliseconds timeout) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, timeout, [&] { return !m_calls.empty() || m_closed; });
    }
    Run_Pending();
}

void View_Call_Queue::Close() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_calls.clear();
    }
    m_changed.notify_all();
}

bool View_Call_Queue::Closed() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}
