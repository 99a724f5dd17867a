// Whether the system can draw the window's Traditional Chinese at all. The
// style sheets name Chinese families after each Latin one; where none of them
// (nor any other Traditional Chinese font) is installed, Qt draws every Han
// character as a box and says nothing, so the program says it instead.
#pragma once

#include <cstdio>

// True when some installed font family writes Traditional Chinese.
bool Chinese_Font_Installed();

// Once per process, and only when installed is false: a line on err that
// names the missing font and the package that brings one.
void Warn_Once_Without_Chinese_Font(std::FILE* err, bool installed);
