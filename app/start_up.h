// The program's start-up: application object, main window, version window and
// the message loop. Always returns 0, the program's exit code.
#pragma once

int Run_Flashtool(int& argc, char** argv);
