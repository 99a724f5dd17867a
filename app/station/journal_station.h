// The station window's journal: every station the window starts is
// followed by a Station_Journal on one writer shared by the window's run,
// so that its phones get the same records as the command-line station's.
#pragma once

#include <memory>

#include "journal/journal_writer.h"
#include "window_model/station_window_model.h"

// The factory's stations, each with the journal following it; writer null:
// the stations as they are.
Station_Factory With_Journal(Station_Factory inner, std::shared_ptr<Journal_Writer> writer);
