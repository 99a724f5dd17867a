// The firmware image loader: reads the big-endian header (header length,
// version text, two flash regions) and both regions' bytes into a
// FirmwareImage. An image file comes from anywhere, so every length is
// checked against the file before anything is allocated.
#pragma once

#include <cstdint>
#include <string>

#include "bootloader/byte_order.h"  // Read_Big_Endian_16, Read_Big_Endian_32
#include "bootloader/message_output.h"
#include "download/firmware_image.h"

// Shows the dialog, loads the chosen file into image. True when the header
// was accepted and both regions' bytes are in memory. Messages go to
// output.Print_Str_to_Memo, the version text to output's new-version field.
bool Parse_File(FirmwareImage& image, MessageOutput& output, ImageFileChooser& dialog);

// Reads and checks the header of file_name into first and second, copies the
// version text into image.Image_Version and shows it. 0 accepted; -1 the file
// cannot be opened; -2 header length with bit 15 set, or any other fault that
// makes the image unusable ("You choose the wrong bin!" printed); -3 version
// length with bit 15 set (nothing printed).
int Initial_Array(FirmwareImage& image, MessageOutput& output, const std::string& file_name,
                  Image_Region& first, Image_Region& second);
