// Stop signals on Windows: the console control handler for Ctrl-C and
// Ctrl-Break, which the system runs on a thread of its own. A console has no
// Ctrl-Z that suspends a program.
#include <windows.h>

#include <atomic>
#include <csignal>

#include "platform/stop_signals.h"

namespace platform {
namespace {

std::atomic<Stop_Request> g_request{nullptr};
std::atomic<void*> g_stop_target{nullptr};
std::atomic<void*> g_asking_target{nullptr};
std::atomic<int> g_stop_signal{0};
std::atomic<int> g_stop_count{0};

void Request_On(void* target) {
    if (const Stop_Request request = g_request.load())
        request(target);
}

BOOL WINAPI On_Console_Control(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (void* asking = g_asking_target.load()) {
        g_stop_signal.store(type == CTRL_C_EVENT ? SIGINT : SIGBREAK);
        g_stop_count.fetch_add(1);
        Request_On(asking);
        return TRUE;
    }
    void* target = g_stop_target.load();
    if (target == nullptr || g_stop_signal.load() != 0)
        return FALSE;  // the default handler ends the program
    g_stop_signal.store(type == CTRL_C_EVENT ? SIGINT : SIGBREAK);
    Request_On(target);  // breaks into the port call that blocks
    return TRUE;
}

}  // namespace

void Install_Stop_Handlers(Stop_Request request) {
    g_request.store(request);
    SetConsoleCtrlHandler(On_Console_Control, TRUE);
}

void Remove_Stop_Handlers() {
    SetConsoleCtrlHandler(On_Console_Control, FALSE);
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
    return g_stop_signal.load();
}

std::string Stop_Signal_Name(int signal_number) {
    switch (signal_number) {
        case SIGINT:
            return "Ctrl-C";
        case SIGBREAK:
            return "Ctrl-Break";
        default:
            return "signal " + std::to_string(signal_number);
    }
}

bool Is_Ctrl_C(int signal_number) {
    return signal_number == SIGINT;
}

void Set_Suspend_Guard(const Suspend_Guard*) {}

}  // namespace platform
