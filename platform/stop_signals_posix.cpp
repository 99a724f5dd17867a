// Stop signals on Linux and other POSIX systems: sigaction handlers that only
// touch atomics, the target's pipe and standard error.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include "platform/stop_signals.h"

namespace platform {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSuspendSignal = SIGTSTP;

std::atomic<Stop_Request> g_request{nullptr};
std::atomic<void*> g_stop_target{nullptr};
std::atomic<void*> g_asking_target{nullptr};
std::atomic<const Suspend_Guard*> g_suspend_guard{nullptr};
volatile std::sig_atomic_t g_stop_signal = 0;
std::atomic<int> g_stop_count{0};
static_assert(std::atomic<void*>::is_always_lock_free);
static_assert(std::atomic<Stop_Request>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// The handling each signal had before Install_Stop_Handlers, and whether
// this program's handler replaced it.
struct Previous {
    struct sigaction action {};
    bool replaced = false;
};
Previous g_previous_stop[std::size(kStopSignals)];
Previous g_previous_suspend;
struct sigaction g_suspend_action {};

void Request_On(void* target) {
    if (const Stop_Request request = g_request.load())
        request(target);
}

extern "C" void On_Stop_Signal(int signal_number) {
    if (void* asking = g_asking_target.load()) {
        g_stop_signal = signal_number;
        g_stop_count.fetch_add(1);
        Request_On(asking);
        return;
    }
    void* target = g_stop_target.load();
    if (target == nullptr || g_stop_signal != 0) {
        // Nothing to stop cleanly, or asked a second time: end as the signal
        // does by default, once this handler returns.
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    g_stop_signal = signal_number;
    Request_On(target);
}

extern "C" void On_Suspend_Signal(int signal_number) {
    const int saved_errno = errno;
    const Suspend_Guard* guard = g_suspend_guard.load();
    if (guard != nullptr && guard->at_risk != nullptr && guard->at_risk(guard->context)) {
        [[maybe_unused]] const ssize_t written =
            ::write(STDERR_FILENO, guard->refusal, std::strlen(guard->refusal));
        errno = saved_errno;
        return;
    }
    // Suspended as by default, here and now; once continued, the next Ctrl-Z
    // comes to this handler again.
    struct sigaction by_default {};
    by_default.sa_handler = SIG_DFL;
    sigemptyset(&by_default.sa_mask);
    ::sigaction(signal_number, &by_default, nullptr);
    sigset_t suspend;
    sigemptyset(&suspend);
    sigaddset(&suspend, signal_number);
    ::pthread_sigmask(SIG_UNBLOCK, &suspend, nullptr);
    ::raise(signal_number);
    ::sigaction(signal_number, &g_suspend_action, nullptr);
    errno = saved_errno;
}

// Installs handler for signal_number unless the program was started with it
// ignored: whoever did that (nohup, a script's job in the background) wants
// the update to outlive it.
void Install(int signal_number, const struct sigaction& action, Previous& previous) {
    struct sigaction current {};
    if (::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
        return;
    previous.replaced = ::sigaction(signal_number, &action, &previous.action) == 0;
}

}  // namespace

void Install_Stop_Handlers(Stop_Request request) {
    g_request.store(request);
    struct sigaction action {};
    action.sa_handler = On_Stop_Signal;
    sigemptyset(&action.sa_mask);
    // The port's waits see the stop through its pipe, so no call needs to be
    // broken off with EINTR.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        if (!g_previous_stop[i].replaced)
            Install(kStopSignals[i], action, g_previous_stop[i]);
    }
    g_suspend_action.sa_handler = On_Suspend_Signal;
    sigemptyset(&g_suspend_action.sa_mask);
    g_suspend_action.sa_flags = SA_RESTART;
    if (!g_previous_suspend.replaced)
        Install(kSuspendSignal, g_suspend_action, g_previous_suspend);
    // A closed pipe on the output (flashtool-cli ... | head -1) must not end
    // an update half-way: writes fail with EPIPE instead and are dropped.
    std::signal(SIGPIPE, SIG_IGN);
    // Nor may a file size limit reached by the trace: the write fails with
    // EFBIG and the trace is reported incomplete at the end.
    std::signal(SIGXFSZ, SIG_IGN);
}

void Remove_Stop_Handlers() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        if (g_previous_stop[i].replaced)
            ::sigaction(kStopSignals[i], &g_previous_stop[i].action, nullptr);
        g_previous_stop[i].replaced = false;
    }
    if (g_previous_suspend.replaced)
        ::sigaction(kSuspendSignal, &g_previous_suspend.action, nullptr);
    g_previous_suspend.replaced = false;
}

void Set_Stop_Target(void* target) {
    g_stop_target.store(target);
}

void Set_Asking_Stop_Target(void* target) {
    g_asking_target.store(target);
}

int Stop_Signal_Count() {
    return g_stop_count.load();
}

int Stop_Signal_Number() {
    return g_stop_signal;
}

std::string Stop_Signal_Name(int signal_number) {
    switch (signal_number) {
        case SIGINT:
            return "Ctrl-C";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "signal " + std::to_string(signal_number);
    }
}

bool Is_Ctrl_C(int signal_number) {
    return signal_number == SIGINT;
}

void Set_Suspend_Guard(const Suspend_Guard* guard) {
    g_suspend_guard.store(guard);
}

}  // namespace platform
