// The terminal on Linux and other POSIX systems: isatty, TIOCGWINSZ and TERM.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "platform/terminal.h"

namespace platform {

bool Is_Terminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

int Terminal_Columns(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

int Terminal_Rows(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_row;
}

bool Enable_Cursor_Moves(std::FILE* stream) {
    const char* term = std::getenv("TERM");
    return Is_Terminal(stream) && !(term != nullptr && std::string_view(term) == "dumb");
}

void Prepare_Console() {}

}  // namespace platform
