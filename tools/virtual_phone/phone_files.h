// The virtual phone's files: the version record it keeps between runs and the
// flash it writes for tests to compare with the image.
//
// Flash file layout (all integers 4 bytes little-endian):
//   "VPHFLASH"                         8 bytes
//   region count
//   per region: start address, announced length, accepted byte count, the
//               accepted bytes (from the start address on)
// Both files are replaced atomically (written aside, then renamed), so a
// reader never sees half a file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/virtual_phone/phone_model.h"

namespace vphone {

inline constexpr char kFlashFileMagic[8] = {'V', 'P', 'H', 'F', 'L', 'A', 'S', 'H'};

// The record in the state file, if the file holds exactly 32 bytes.
std::optional<Record> Load_Record(const std::string& path);
bool Save_Record(const std::string& path, const Record& record);
bool Save_Flash(const std::string& path, const std::vector<Flash_Region>& flash);

}  // namespace vphone
