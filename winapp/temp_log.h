// temp.log: the log file the window leaves in its working folder each time it
// closes. Nothing collects into it, so the file is empty. (The Qt window
// writes it the same way, app/temp_log.cpp; the front ends share no folder.)
#pragma once

// Creates or truncates "temp.log" in the working folder (text mode). When it
// cannot be created: "File create failure." on standard output and the end
// of the process with exit code 0.
void Write_Temp_Log_Or_Exit();
