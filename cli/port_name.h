// The port named on the command line (--port), as the phone search and the
// messages use it: the device path to open and the name to show (the
// reading of a name is serial/'s Named_Port).
#pragma once

#include <memory>
#include <string>

#include "serial/port_list.h"

namespace cli {

// The search's port list for --port NAME: that one port, in the platform's
// form (Named_Port), shown by a name that is safe on a terminal.
std::unique_ptr<PortLister> Make_Named_Port_Lister(const std::string& name);

}  // namespace cli
