// The port named on the command line (--port), as the phone search and the
// messages use it: the device path to open and the name to show.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "serial/port_list.h"

namespace cli {

// A Windows port name in either form the user may type, "COM12" (any case,
// any number) or "\\.\COM12": opened as "\\.\COM12", shown as "COM12". Nothing
// for a name of any other form.
std::optional<Port_Candidate> Com_Port_From_Name(std::string_view name);

// The search's port list for --port NAME: that one port, in the platform's
// form (Named_Port), shown by a name that is safe on a terminal.
std::unique_ptr<PortLister> Make_Named_Port_Lister(const std::string& name);

}  // namespace cli
