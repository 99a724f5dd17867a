// What would name the user in a support archive: the home folder, in each
// form a path to it takes, and the user's name. Every text member is written
// with the folder as "~" and the name as "USER".
#pragma once

#include <string>
#include <vector>

namespace cli {

struct Private_Names {
    std::vector<std::string> homes;  // the home folder's forms, each written "~"
    std::string user;                // written "USER" where it stands as a word
    bool any_case = false;           // Windows: C:\Users\Ann is c:\users\ann
};

// From $HOME and the user's name: "/" as home is none (every path would be "~").
Private_Names Posix_Private_Names(const std::string& home, const std::string& user);
// From %USERPROFILE% and %USERNAME%: the profile with '\', with '/' and with
// '\' doubled (as JSON and escaped texts show it), matched in any case.
Private_Names Windows_Private_Names(const std::string& profile, const std::string& user);
// The names of the user running the program (private_names_posix.cpp or
// private_names_win32.cpp, as the build is for).
Private_Names Private_Names_Now();

std::string Without_Private(std::string text, const Private_Names& names);

}  // namespace cli
