// Where the first-run boot-loader dump goes, and how each first run gets a
// file of its own.
//
// On Windows the dump has always been "d:\VANTREL". Many PCs today have no
// drive D, or D is a card reader or an optical drive; there the dump goes to
// "VANTREL" in the system's temporary directory instead. On Linux it goes to
// a directory of the user's own, under a name that says which port it came
// from ("VANTREL-ttyACM0"). The places are in dump_places.h.
//
// On Linux the directory is checked, then held open for the dump's life, so
// that no rename of it or of its parent can make the program create, move or
// delete files in a directory it never checked.
//
// Each first run dumps into a new file. Whatever lies at the name already -
// the dump of an earlier run that stopped, or anything else - is never opened:
// it is kept, moved aside to the first free numbered name ("VANTREL-ttyACM0.1",
// ".2", ...), and the record is taken from this run's dump alone.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/private_directory.h"

struct Dump_File {
    std::string path;         // where this run's dump is (the last place tried when none took it)
    File_Handle file;         // open for writing and reading; null when no place took a file
    std::string moved_aside;  // where what lay at path before was moved; empty: nothing was there
    // The directory the dump was made in, held while the dump lives: what
    // is done to the dump is done there, whatever has taken its name since.
    std::unique_ptr<platform::Private_Directory> directory;
    std::string name;  // the dump's name in it

    // Deletes this dump, if there is one; a missing file is no error.
    void Remove();
};

// A new, empty dump file for the phone on the port at device_path, named
// after the port (dump_places.h), in the first of the directories that takes
// one; without directories, in the places of dump_places.h.
Dump_File Start_Dump(const std::string& device_path, const std::vector<std::string>& directories);
Dump_File Start_Dump(const std::string& device_path);
// The same under a name of the caller's: one that updates several phones at
// once gives each its own.
Dump_File Start_Named_Dump(const std::string& name, const std::vector<std::string>& directories);

// Moves whatever is at name in directory (never opening it) to name.1,
// name.2, ..., the first free name, never replacing one. True when name is
// free now; moved_to says where what lay there went (empty: nothing was
// there).
bool Move_Aside(platform::Private_Directory& directory, const std::string& name,
                std::string& moved_to);
