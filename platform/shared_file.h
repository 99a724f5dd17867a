// A file that several programs keep open and write together (the journal's
// database), and who wrote a record: the host, the process and when that
// process started, so that a record left by a program that is gone can be
// told from one whose program still runs. shared_file_*.cpp implement it.
#pragma once

#include <string>

namespace platform {

// Why path may not be opened as a shared file: a link, a FIFO, a directory
// or a device, another user's file, a file of several names. Empty when it
// may (a path where nothing is yet may: the file is made there). Nothing is
// opened to decide, so a FIFO never blocks.
std::string Shared_File_Problem(const std::string& path);

// The user's directory for data kept between runs: $XDG_DATA_HOME, else
// ~/.local/share. Empty where the system has none (Windows: %LOCALAPPDATA%).
std::string Data_Directory();

// The separator a user of this system reads in paths: '\\' on Windows.
char Path_Separator();

// This machine's name; "localhost" when the system does not say.
std::string Host_Name();

// This process's id.
long long Process_Id();

// A text that changes when a process id is reused: when the process
// started, as the system counts it. Empty where the system does not tell.
std::string Process_Start_Token(long long pid);

// Whether the process that had pid and start token on this host still runs.
// A process this user may not signal is taken as running.
bool Process_Still_Runs(long long pid, const std::string& start_token);

}  // namespace platform
