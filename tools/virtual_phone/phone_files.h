// The virtual phone's files: its state kept between runs (the version record
// and the list of the host's deviations), and the flash it writes for tests
// to compare with the image.
//
// State: the record file holds the 32 record bytes and nothing else. The
// deviations file beside it (the record file's name and ".deviations") is
// text, one deviation of the host a line in the form of Describe(Deviation):
//   host byte 83, handshake: expected 0xA5 (confirmation close), came 0x55
// An empty file: the host kept to the protocol. Lines from earlier runs on
// the same state stay at the top.
//
// Flash file layout (all integers 4 bytes little-endian):
//   "VPHFLASH"                         8 bytes
//   region count
//   per region: start address, announced length, accepted byte count, the
//               accepted bytes (from the start address on)
// Every file is replaced atomically (written aside, then renamed), so a
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

std::string Deviations_Path(const std::string& record_path);
// The lines of a text file; none when it is missing.
std::vector<std::string> Load_Lines(const std::string& path);
bool Save_Lines(const std::string& path, const std::vector<std::string>& lines);

}  // namespace vphone
