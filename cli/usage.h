// The --help texts of flashtool-cli and of each of its commands.
#pragma once

#include <string>

#include "cli/arguments.h"

namespace cli {

// Command::kNone gives the overview of all commands.
std::string Usage_Text(Command command);

}  // namespace cli
