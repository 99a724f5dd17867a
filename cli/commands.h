// The commands of flashtool-cli. Each returns the program's exit code
// (cli/exit_codes.h) and writes its results to standard output, its
// complaints to standard error.
#pragma once

#include <cstdio>

#include "cli/arguments.h"

namespace cli {

int Run_Info(const Arguments& args);
int Run_Ports(const Arguments& args);
int Run_Flash(const Arguments& args);
int Run_Read_Version(const Arguments& args);
int Run_Doctor(const Arguments& args);
int Run_Station(const Arguments& args);
int Run_Slots(const Arguments& args);
int Run_Journal(const Arguments& args);
int Run_Support(const Arguments& args);

// doctor's and ports' text written where it is asked for (support keeps
// both in its archive); the same exit codes as their commands.
int Write_Doctor(const Arguments& args, std::FILE* out);
int Write_Ports(std::FILE* out, std::FILE* err);

}  // namespace cli
