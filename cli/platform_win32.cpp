// Windows: the console control handler for Ctrl-C and Ctrl-Break, the
// console's UTF-8 output, and doctor's reading of CreateFileA's error codes.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <csignal>

#include "cli/platform.h"

namespace cli {
namespace {

std::atomic<Stop_Signal*> g_stop_target{nullptr};
std::atomic<int> g_stop_signal{0};

// Runs on a thread of its own, which the system starts for the event.
BOOL WINAPI On_Console_Control(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    Stop_Signal* target = g_stop_target.load();
    if (target == nullptr || g_stop_signal.load() != 0)
        return FALSE;  // the default handler ends the program
    g_stop_signal.store(type == CTRL_C_EVENT ? SIGINT : SIGBREAK);
    target->Request();  // breaks into the port call that blocks
    return TRUE;
}

}  // namespace

void Install_Stop_Handlers() {
    SetConsoleCtrlHandler(On_Console_Control, TRUE);
}

void Set_Stop_Target(Stop_Signal* stop) {
    g_stop_target.store(stop);
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

bool Is_Terminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

void Prepare_Console() {
    SetConsoleOutputCP(CP_UTF8);
}

Port_Diagnosis Diagnose_Port(const Port_Candidate& candidate, CComport& port) {
    Port_Diagnosis diagnosis;
    const bool opened = port.Open(candidate.device_path);
    const int error = opened ? 0 : port.Last_Open_Error();
    port.Close();
    if (opened) {
        diagnosis.usable = true;
        diagnosis.lines.push_back("opens and takes the line settings: the phone search can use it");
    } else if (error == ERROR_ACCESS_DENIED) {
        diagnosis.lines.push_back("present, but another program holds the port: close it first");
    } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        diagnosis.lines.push_back("not present: is the phone plugged in with key 1 held?");
    } else if (error == ERROR_GEN_FAILURE) {
        diagnosis.lines.push_back("attached, but the device does not work: unplug and replug it");
    } else if (error != 0) {
        diagnosis.lines.push_back("open failed: Windows error " + std::to_string(error));
    } else {
        diagnosis.lines.push_back("opened, but could not be set up as a serial port (115200 8N1)");
    }
    return diagnosis;
}

std::vector<std::string> Diagnose_System() {
    return {};
}

}  // namespace cli
