// The terminal or console behind a standard stream: whether there is one,
// its size, cursor moves and the console's text encoding. terminal_*.cpp
// implement it.
#pragma once

#include <cstdio>

namespace platform {

bool Is_Terminal(std::FILE* stream);
// The columns and rows of the terminal behind stream, 0 when unknown.
int Terminal_Columns(std::FILE* stream);
int Terminal_Rows(std::FILE* stream);
// Whether cursor moves ("\x1b[3A") work on the terminal behind stream;
// on Windows the console is asked to take them.
bool Enable_Cursor_Moves(std::FILE* stream);
// Windows consoles show UTF-8 only when asked to.
void Prepare_Console();

}  // namespace platform
