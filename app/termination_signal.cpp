// The signal handlers are the command-line tool's (platform/stop_signals.h):
// each stop signal is counted and requests a stop on a Stop_Signal, whose
// pipe the window's event loop watches; the window is asked to close once
// for each signal, on the window's thread.
#include "app/termination_signal.h"

#include <QSocketNotifier>
#include <QWidget>

#include "serial/stop_signal.h"

namespace {

// The handlers are the process's: one watcher at a time.
bool g_watching = false;

constexpr const char* kSuspendRefusal =
    "flashtool: cannot be suspended while a phone is being rewritten (正在寫入手機,無法暫停)\n";

}  // namespace

Close_On_Termination_Signal::Close_On_Termination_Signal(QWidget& window,
                                                         bool (*at_risk)(const void*) noexcept,
                                                         const void* context) {
    if (g_watching)
        return;
    m_signals = std::make_unique<Stop_Signal>();
    if (m_signals->Wait_Descriptor() < 0)
        return;
    g_watching = true;
    m_signals_seen = platform::Stop_Signal_Count();
    m_notifier =
        std::make_unique<QSocketNotifier>(m_signals->Wait_Descriptor(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &window, [this, &window] {
        // One close request for each signal: a request made while the window
        // asks whether to stop the update is refused like any other.
        m_signals->Clear();
        while (m_signals_seen < platform::Stop_Signal_Count()) {
            ++m_signals_seen;
            ++m_requests;
            window.close();
        }
    });
    m_suspend_guard = {at_risk, context, kSuspendRefusal};
    platform::Set_Asking_Stop_Target(m_signals.get());
    if (at_risk != nullptr)
        platform::Set_Suspend_Guard(&m_suspend_guard);
    platform::Install_Stop_Handlers(&Stop_Signal::Request_On);
}

Close_On_Termination_Signal::~Close_On_Termination_Signal() {
    if (!m_notifier)
        return;
    platform::Remove_Stop_Handlers();
    platform::Set_Suspend_Guard(nullptr);
    platform::Set_Asking_Stop_Target(nullptr);
    m_notifier.reset();
    g_watching = false;
}
