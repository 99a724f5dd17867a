// temp.log: the log file the main window (Qt or Win32) leaves in the working
// directory each time it closes. Nothing collects into Log_Text yet, so the
// file is empty.
#pragma once

#include <array>
#include <string>

// The program's log buffer; zero-filled, so it reads as the empty text.
extern std::array<char, 1024> Log_Text;

// Creates or truncates the file (text mode) and writes Log_Text into it.
// False when the file cannot be created.
bool Write_Temp_Log(const std::string& path = "temp.log");

// Write_Temp_Log, or, when the file cannot be created, "File create failure."
// on standard output and the end of the process with exit code 0.
void Write_Temp_Log_Or_Exit();
