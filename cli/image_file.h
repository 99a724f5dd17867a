// The image named on the command line, checked before anything reads it.
#pragma once

#include <optional>
#include <string>

#include "platform/file_handle.h"
#include "platform/files.h"

namespace cli {

struct Image_File {
    platform::File_Identity identity;
    File_Handle file;  // open for reading, at its start
};

// The image, opened for reading, when it is a regular file that opens; else
// nothing, after "flashtool-cli: cannot open PATH: why" on standard error. A
// FIFO, a directory or a device is refused without being opened for reading,
// so that nothing waits on it.
std::optional<Image_File> Check_Image_File(const std::string& path);

}  // namespace cli
