// The signals that ask the program to stop (on Windows, the console's
// Ctrl-C and Ctrl-Break), and the one that would suspend it, for the
// command-line tool and the window alike. stop_signals_*.cpp implement it.
#pragma once

#include <string>

namespace platform {

// What a stop signal does to its target (Stop_Signal::Request). Called in
// the signal handler on POSIX, on the console's own thread on Windows: it
// must be async-signal-safe.
using Stop_Request = void (*)(void* target) noexcept;

// Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and the console
// closing) request a stop on the target while one is set, so the update
// ends at a safe point and the port is closed; a second one, or one while no
// target is set, ends the program as usual. One that the program was started
// with ignored (nohup) stays ignored. A reader that went away (SIGPIPE)
// never ends the program: its output is dropped. Neither does a file size
// limit (SIGXFSZ): the write fails and is reported. Ctrl-Z (SIGTSTP) is
// answered as Set_Suspend_Guard says.
void Install_Stop_Handlers(Stop_Request request);
// Gives those signals back the handling they had before Install_Stop_Handlers.
void Remove_Stop_Handlers();
// The target a signal requests a stop on; null: none (signals end the program).
void Set_Stop_Target(void* target);
// For a front end that asks before it stops (station, the window): while
// target is set, every stop signal requests a stop on it and is counted, and
// none ends the program; the front end answers each and clears the request.
// Null: back to the target of Set_Stop_Target.
void Set_Asking_Stop_Target(void* target);
// How many stop signals came while an asking target was set.
int Stop_Signal_Count();
// The number of the signal that asked to stop (SIGINT for Ctrl-C), 0 if none;
// with an asking target, the latest one.
int Stop_Signal_Number();
// "Ctrl-C", "SIGTERM", "SIGHUP", ...
std::string Stop_Signal_Name(int signal_number);
// Whether the signal is Ctrl-C's: someone at the keyboard who can be asked.
bool Is_Ctrl_C(int signal_number);

// Suspending the program (Ctrl-Z) while a phone is being rewritten leaves
// the phone's boot loader waiting for a host that has gone silent: it gives
// up, and the phone will not start until it is updated again. While a guard
// is set and at_risk answers true, Ctrl-Z does not suspend the program: the
// refusal line is written on standard error instead. Otherwise Ctrl-Z
// suspends as usual. at_risk runs in the signal handler: it may only read
// atomics. The guard must outlive its setting; null: no guard.
struct Suspend_Guard {
    bool (*at_risk)(const void* context) noexcept = nullptr;
    const void* context = nullptr;
    const char* refusal = "";  // a whole line, with its "\n"
};
void Set_Suspend_Guard(const Suspend_Guard* guard);

}  // namespace platform
