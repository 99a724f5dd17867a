// The part of `flashtool-cli flash` after its checks: the update on the
// session's port, shown on a terminal view, and how the command ends.
#pragma once

#include <memory>

#include "bootloader/comport.h"
#include "cli/arguments.h"
#include "cli/port_session.h"
#include "cli/terminal_view.h"

namespace cli {

class Cli_Journal;

// Runs the update on port (the session's) to its end, with view as its
// window, and returns the exit code after the output's last lines. Whether a
// signal stopped it is decided by the update's outcome alone.
// journal: where the phone's record goes (null: none).
int Run_Flash_Update(const Arguments& args, Port_Session& session, std::unique_ptr<CComport> port,
                     TerminalView& view, Cli_Journal* journal = nullptr);

}  // namespace cli
