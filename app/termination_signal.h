// SIGTERM, SIGINT and SIGHUP as close requests of the main window. They are
// the desktop's and the terminal's way to ask the program to end; the window
// then closes as with its close button: temp.log written, the port closed,
// and while an update puts the phone at risk, the user is asked first. A
// signal the program was started with ignored (nohup) stays ignored. A
// window started from a terminal is not suspended by Ctrl-Z while at_risk
// says a phone is being rewritten.
#pragma once

#include <memory>

#include "platform/stop_signals.h"

class QSocketNotifier;
class QWidget;
class Stop_Signal;

class Close_On_Termination_Signal {
  public:
    // One at a time: a second one while the first lives does nothing.
    // at_risk runs in a signal handler with context: it may only read atomics.
    explicit Close_On_Termination_Signal(QWidget& window,
                                         bool (*at_risk)(const void* context) noexcept = nullptr,
                                         const void* context = nullptr);
    // Gives the signals back their earlier handling.
    ~Close_On_Termination_Signal();
    Close_On_Termination_Signal(const Close_On_Termination_Signal&) = delete;
    Close_On_Termination_Signal& operator=(const Close_On_Termination_Signal&) = delete;

    bool Installed() const { return m_notifier != nullptr; }
    // Close requests made so far, one for each signal that came.
    int Requests_Made() const { return m_requests; }

  private:
    std::unique_ptr<Stop_Signal> m_signals;  // the signals' pipe to the event loop
    std::unique_ptr<QSocketNotifier> m_notifier;
    platform::Suspend_Guard m_suspend_guard;
    int m_requests = 0;
    int m_signals_seen = 0;
};
