// The console on Windows: its screen buffer, virtual terminal sequences and
// the UTF-8 code page.
#include <io.h>
#include <windows.h>

#include "platform/terminal.h"

namespace platform {
namespace {

HANDLE Console_Of(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

bool Is_Terminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

int Terminal_Columns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(Console_Of(stream), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

int Terminal_Rows(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(Console_Of(stream), &info))
        return 0;
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}

bool Enable_Cursor_Moves(std::FILE* stream) {
    const HANDLE console = Console_Of(stream);
    DWORD mode = 0;
    if (!GetConsoleMode(console, &mode))
        return false;
    return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void Prepare_Console() {
    SetConsoleOutputCP(CP_UTF8);
}

}  // namespace platform
