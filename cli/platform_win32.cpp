// Windows: the console control handler for Ctrl-C, the console's UTF-8
// output, and doctor's reading of CreateFileA's error codes.
#include <io.h>
#include <windows.h>

#include "cli/platform.h"
#include "serial/interrupt.h"

namespace cli {
namespace {

BOOL WINAPI On_Console_Control(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        static bool asked_once = false;
        if (asked_once)
            return FALSE;  // the default handler ends the program
        asked_once = true;
        serial::Request_Interrupt();
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void Install_Interrupt_Handler() {
    SetConsoleCtrlHandler(On_Console_Control, TRUE);
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
