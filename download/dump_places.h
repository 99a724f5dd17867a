// Where the first-run dump may go and what it is called: the product's own
// choice on each system, made of what the platform layer knows of the
// user's directories. dump_places_*.cpp implement it.
#pragma once

#include <string>
#include <vector>

// Where the first-run dump may go, most preferred first. On Windows the root
// of drive D, as it always was, then the temporary directory (many PCs today
// have no drive D, or D is a card reader or an optical drive); elsewhere a
// directory of the user's own: $XDG_RUNTIME_DIR/flashtool, else
// $XDG_CACHE_HOME/flashtool or ~/.cache/flashtool.
std::vector<std::string> Dump_Directories();
// The dump's file name for the port at device_path: "VANTREL" on Windows;
// elsewhere it names the port, so that two copies of the program updating
// two phones never share one file: "VANTREL-ttyACM0" for a plain device
// name, else a readable part and a hash of the whole path
// ("VANTREL-pts-3-b990cbb0e658cb8d"). No two ports share a name, no name is
// another's numbered copy (NAME.1), and every name fits a directory.
std::string Dump_File_Name(const std::string& device_path);
