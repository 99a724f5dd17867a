// Where the first-run boot-loader dump goes.
//
// On Windows the dump has always been "d:\VANTREL". Many PCs today have no
// drive D, or D is a card reader or an optical drive; there the file cannot be
// created and a first update could never succeed, so the dump then goes to
// "VANTREL" in the system's temporary directory. Elsewhere it always goes to
// the temporary directory. The path chosen for a command is the one the dump
// is written to, searched and deleted again.
#pragma once

#include <string>
#include <vector>

// The places to try, most preferred first.
std::vector<std::string> Backup_Path_Candidates();

// The first candidate that can be opened for appending ("ab+"; this creates
// an empty file where none was). When none can, the last candidate, so that
// the dump itself fails and says so.
std::string Choose_Backup_Path(const std::vector<std::string>& candidates);
std::string Choose_Backup_Path();

// Deletes the file at path if there is one; a missing file is no error.
void Remove_Backup_File(const std::string& path);
