// SIGTERM, SIGINT and SIGHUP as close requests of the main window. They are
// the desktop's and the terminal's way to ask the program to end; the window
// then closes as with its close button: temp.log written, the port closed,
// and while an update puts the phone at risk, the user is asked first. A
// signal the program was started with ignored (nohup) stays ignored.
#pragma once

#include <csignal>
#include <memory>

class QSocketNotifier;
class QWidget;

class Close_On_Termination_Signal {
  public:
    // One at a time: a second one while the first lives does nothing.
    explicit Close_On_Termination_Signal(QWidget& window);
    // Gives the signals back their earlier handling.
    ~Close_On_Termination_Signal();
    Close_On_Termination_Signal(const Close_On_Termination_Signal&) = delete;
    Close_On_Termination_Signal& operator=(const Close_On_Termination_Signal&) = delete;

    bool Installed() const { return m_notifier != nullptr; }
    // Close requests made so far, one for each signal that came.
    int Requests_Made() const { return m_requests; }

  private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_requests = 0;
    struct sigaction m_previous[3]{};
    bool m_handled[3]{};  // this object's handler is installed for the signal
};
