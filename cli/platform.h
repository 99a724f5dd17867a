// The few things flashtool-cli does differently per operating system:
// signals, terminal detection, the console's text encoding, the files it is
// given (the image, the trace), the form of a port's name, and doctor's
// explanation of why a port cannot be opened. platform_posix.cpp and
// platform_win32.cpp implement them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/comport.h"
#include "platform/file_handle.h"
#include "serial/port_list.h"
#include "serial/stop_signal.h"

namespace cli {

// Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and the console
// closing) stop the port's waits while a stop target is set, so the update
// ends at a safe point and the port is closed; a second one, or one while no
// target is set, ends the program as usual. One that the program was started
// with ignored (nohup) stays ignored. A reader that went away (SIGPIPE)
// never ends the program: its output is dropped. Neither does a file size
// limit (SIGXFSZ): the write fails and is reported.
void Install_Stop_Handlers();
// The stop request a signal makes; null: none (signals end the program).
void Set_Stop_Target(Stop_Signal* stop);
// For a command that asks before it stops (station): while stop is set,
// every stop signal requests a stop on it and is counted, and none ends the
// program; the command answers each and clears the request. Null: back to
// the target of Set_Stop_Target.
void Set_Asking_Stop_Target(Stop_Signal* stop);
// How many stop signals came while an asking target was set.
int Stop_Signal_Count();
// The number of the signal that asked to stop (SIGINT for Ctrl-C), 0 if none;
// with an asking target, the latest one.
int Stop_Signal_Number();
// "Ctrl-C", "SIGTERM", "SIGHUP", ...
std::string Stop_Signal_Name(int signal_number);
bool Is_Terminal(std::FILE* stream);
// The columns and rows of the terminal behind stream, 0 when unknown.
int Terminal_Columns(std::FILE* stream);
int Terminal_Rows(std::FILE* stream);
// Whether cursor moves ("\x1b[3A") work on the terminal behind stream;
// on Windows the console is asked to take them.
bool Enable_Cursor_Moves(std::FILE* stream);
// Windows consoles show UTF-8 only when asked to.
void Prepare_Console();

// Which file a path names, whatever the path: the same file reached through a
// link or another path has the same identity.
struct File_Identity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    bool operator==(const File_Identity&) const = default;
};

// Whether path can be read as an image, decided before the file is read: a
// FIFO, a directory or a device is refused without opening it for reading.
// Empty when it can be read (identity filled, and the file open for reading
// in *opened when asked for); else why not ("it is a FIFO, not a file", "No
// such file or directory").
std::string Image_File_Problem(const std::string& path, File_Identity& identity,
                               File_Handle* opened = nullptr);

// Opens path for writing from its start, creating it if needed, as a regular
// file only: an existing path that is a link, a FIFO, a directory or a device
// is refused, and so is the file `keep` names (the image). On POSIX a new
// file is made for its owner alone (0600), an existing one is narrowed to
// that, and another user's file, a file of several names and the system's
// own files (/proc, /sys) are refused too. Null, with why in problem, when
// refused or when it cannot be opened.
std::FILE* Open_Output_File(const std::string& path, const std::optional<File_Identity>& keep,
                            std::string& problem);

// The port a user names with --port: on Windows "COM12", "com12" or
// "\\.\COM12" open "\\.\COM12" and are shown as "COM12"; elsewhere the device
// path as it is.
Port_Candidate Named_Port(const std::string& name);

// Whether the platform error of a failed port open says that no such device
// exists (rather than that it refused or failed).
bool Is_No_Such_Device(int open_error);

struct Port_Diagnosis {
    bool usable = false;             // CComport::Open worked
    bool present = true;             // false: no such device (it may have gone)
    std::vector<std::string> lines;  // what was found, and how to fix it
};
// Opens the port the way the phone search does and explains the result.
Port_Diagnosis Diagnose_Port(const Port_Candidate& candidate, CComport& port);
// Checks of the machine as a whole (on Linux: ModemManager).
std::vector<std::string> Diagnose_System();

}  // namespace cli
