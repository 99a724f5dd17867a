// The windows' journal, for the Qt and the Win32 windows alike: the update
// window's one update and every station the station window starts get the
// same records as the command-line tool's, on one writer shared by the
// window's run.
#pragma once

#include <memory>

#include "download/download_command.h"
#include "journal/journal_observers.h"
#include "journal/journal_writer.h"
#include "window_model/station_window_model.h"

// The factory's stations, each with the journal following it; writer null:
// the stations as they are.
Station_Factory With_Journal(Station_Factory inner, std::shared_ptr<Journal_Writer> writer);

// The observer of the update window's command, already added to it: the
// record begins with the update and ends with its last event, reading how it
// ended from the command (no front end waits for it). It must outlive the
// window's runner.
std::unique_ptr<Update_Journal> Journal_Window_Update(Journal_Writer& writer,
                                                      Download_Command& command);
