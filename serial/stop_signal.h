// A request to stop waiting on the port, made from another thread (the window
// asking to close) or from a signal handler (Ctrl-C in the command-line tool).
//
// A read, write or delay that sees the request ends at once with
// Io_End::kInterrupted, so the update can finish cleanly and the port be
// closed. The bytes that must still go out after a stop (the end-of-link
// byte, the abort byte that ends a fourth ask-again) are written inside an
// Unstoppable scope.
//
// The mechanism is the platform's own: on POSIX a pipe that the port's poll()
// watches beside the device; on Windows an event that the port's overlapped
// reads and writes wait on beside their own. stop_signal_posix.cpp and
// stop_signal_win32.cpp implement it.
#pragma once

#include <atomic>
#include <memory>

class Stop_Signal {
  public:
    Stop_Signal();
    ~Stop_Signal();
    Stop_Signal(const Stop_Signal&) = delete;
    Stop_Signal& operator=(const Stop_Signal&) = delete;

    // Any thread; async-signal-safe on POSIX.
    void Request() noexcept;
    // Whether a request is pending (also inside an Unstoppable scope).
    bool Requested() const noexcept { return m_requested.load(); }
    // Request on the Stop_Signal that signal points to: for a signal handler
    // that holds its target as a plain pointer (platform/stop_signals.h).
    static void Request_On(void* signal) noexcept { static_cast<Stop_Signal*>(signal)->Request(); }
    // Forgets a request: when the update it stopped has ended.
    void Clear() noexcept;

    // Whether a blocking call should give up now: a request is pending and no
    // Unstoppable scope is open.
    bool Interrupts() const noexcept { return Requested() && !Held_Back(); }
    // Whether an Unstoppable scope is open.
    bool Held_Back() const noexcept { return m_unstoppable.load() != 0; }

    // Lets the last bytes of a stopped exchange out: while it lives, port
    // calls on this thread wait for their own deadline only.
    class Unstoppable {
      public:
        explicit Unstoppable(Stop_Signal& signal) : m_signal(signal) { ++m_signal.m_unstoppable; }
        ~Unstoppable() { --m_signal.m_unstoppable; }
        Unstoppable(const Unstoppable&) = delete;
        Unstoppable& operator=(const Unstoppable&) = delete;

      private:
        Stop_Signal& m_signal;
    };

    // For the port backends. POSIX: a descriptor that turns readable once a
    // stop is requested, for poll() beside the device (-1 elsewhere).
    // Windows: a manual-reset event that is set once a stop is requested, for
    // WaitForMultipleObjects beside the port's own (null elsewhere).
    int Wait_Descriptor() const noexcept;
    void* Wait_Event() const noexcept;
    // For a POSIX backend whose wait found that descriptor readable: true when
    // a stop is requested. Otherwise the pipe holds only stale wake-ups (of a
    // request cleared since, or bytes that never came from Request) and is
    // emptied, so that the wait goes on instead of waking again at once.
    bool Wake_Means_Stop() noexcept;

  private:
    struct Native;
    std::atomic<bool> m_requested{false};
    std::atomic<int> m_unstoppable{0};
    std::unique_ptr<Native> m_native;
};
