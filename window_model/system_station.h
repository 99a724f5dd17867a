// The factory that makes a real Station for the station window.
#pragma once

#include "window_model/station_window_model.h"

Station_Factory System_Station_Factory();
