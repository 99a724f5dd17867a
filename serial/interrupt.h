// A request to stop waiting on the port, made from a signal handler (Ctrl-C in
// the command-line tool). A blocking read or write that sees it gives up at
// once with a short count, so the caller can close the port and end cleanly.
#pragma once

namespace serial {
void Request_Interrupt() noexcept;  // async-signal-safe
bool Interrupt_Requested() noexcept;
void Clear_Interrupt() noexcept;
}  // namespace serial
