// The image named on the command line, checked before anything reads it.
#pragma once

#include <optional>
#include <string>

#include "cli/platform.h"

namespace cli {

// The image's identity when it is a regular file that opens for reading;
// else nothing, after "flashtool-cli: cannot open PATH: why" on standard
// error. A FIFO, a directory or a device is refused without being opened for
// reading, so that nothing waits on it.
std::optional<File_Identity> Check_Image_File(const std::string& path);

}  // namespace cli
