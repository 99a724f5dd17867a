// Calls from the update's worker thread to the window's thread, run there one
// by one in the order they were made.
//
// The worker posts a call and goes on, or asks a question (a file name, the
// language, the completion box) and waits for the window's thread to answer
// it. The window's thread runs what is queued whenever the queue's wake
// function tells it to (Qt: a queued invocation; Win32: a posted message), or
// waits for calls itself (the command-line tool). A window that is closing
// closes the queue: queued calls are dropped, and a worker waiting for an
// answer gets none and goes on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class View_Call_Queue {
  public:
    using Call = std::function<void()>;

    // wake must make the window's thread call Run_Pending soon; it may run on
    // either thread. It runs when a call arrives and no wake is outstanding,
    // and when a call starts with others behind it (the call may open a modal
    // box, whose own event loop then runs the rest).
    explicit View_Call_Queue(std::function<void()> wake = {});

    // ---- Worker's side ----
    void Post(Call call);
    // Runs question on the window's thread and returns its answer; nothing
    // when the queue was closed before the answer came.
    template <typename Answer>
    std::optional<Answer> Ask(std::function<Answer()> question);
    // Runs call on the window's thread and waits until it has returned; false
    // when the queue was closed first.
    bool Call_And_Wait(Call call);

    // ---- Window's side ----
    // Runs every queued call, oldest first (also when called again from inside
    // a call that runs an event loop of its own).
    void Run_Pending();
    // Waits up to timeout for a call, then runs what is queued.
    void Wait_And_Run(std::chrono::milliseconds timeout);
    // From now on calls are dropped and questions go unanswered.
    void Close();
    bool Closed() const;

  private:
    struct Completion {
        bool done = false;
    };

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Call> m_calls;
    bool m_closed = false;
    bool m_wake_pending = false;  // a wake not yet taken up by Run_Pending
    std::function<void()> m_wake;
};

template <typename Answer>
std::optional<Answer> View_Call_Queue::Ask(std::function<Answer()> question) {
    // The answer lives as long as the call that fills it: a closed queue
    // leaves the worker without waiting for a call that is still running.
    auto answer = std::make_shared<std::optional<Answer>>();
    if (!Call_And_Wait([answer, question = std::move(question)] { *answer = question(); }))
        return std::nullopt;
    return std::move(*answer);
}
