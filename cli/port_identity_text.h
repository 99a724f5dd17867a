// How ports, doctor and the station's lines describe the device behind a
// port: the station's one identity text (station/station_cells.h), under the
// name this tool's files know it by.
#pragma once

#include "station/station_cells.h"

namespace cli {

using ::Identity_Text;

}  // namespace cli
