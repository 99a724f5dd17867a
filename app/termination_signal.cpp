// The signal handler only writes a byte into a socket pair; the window's
// event loop reads it and asks the window to close, on the window's thread.
#include "app/termination_signal.h"

#include <QSocketNotifier>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Read by the handler: plain ints that are set before the handler is
// installed and cleared after it is removed.
volatile std::sig_atomic_t g_write_end = -1;
int g_read_end = -1;

void On_Termination_Signal(int) {
    const int fd = g_write_end;
    if (fd < 0)
        return;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
}

}  // namespace

Close_On_Termination_Signal::Close_On_Termination_Signal(QWidget& window) {
    if (g_write_end >= 0)
        return;
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return;
    g_read_end = pair[0];
    g_write_end = pair[1];
    m_notifier = std::make_unique<QSocketNotifier>(g_read_end, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &window, [this, &window] {
        // One close request for each signal: a request made while the window
        // asks whether to stop the update is refused like any other.
        char byte = 0;
        if (::read(g_read_end, &byte, 1) != 1)
            return;
        ++m_requests;
        window.close();
    });
    struct sigaction action {};
    action.sa_handler = On_Termination_Signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        m_handled[i] = ::sigaction(kSignals[i], &action, &m_previous[i]) == 0;
    }
}

Close_On_Termination_Signal::~Close_On_Termination_Signal() {
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (m_handled[i])
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    m_notifier.reset();
    const int write_end = g_write_end;
    g_write_end = -1;
    ::close(write_end);
    ::close(g_read_end);
    g_read_end = -1;
}
