// The program's start-up: application object, main window, version window and
// the message loop, and the box that shows an exception escaping them.
#pragma once

#include <QString>
#include <functional>

// Always returns 0, the program's exit code.
int Run_Flashtool(int& argc, char** argv);

// Runs the windows' part of the start-up (windows built, message loop) with
// the application object already made: an exception that escapes it is shown
// by show_error, the framework's error box in the program (tests look at the
// text instead).
using Error_Box_Function = std::function<void(const QString& text)>;
void Run_Guarded(const std::function<void()>& windows, const Error_Box_Function& show_error);

// The modal error box, titled as the application.
void Show_Error_Box(const QString& text);
