// The firmware image loader: reads the big-endian header (header length,
// version text, two flash regions) and both regions' bytes into a
// Firmware_Image. An image file comes from anywhere, so every length is
// checked against the file before anything is allocated, and the header and
// the data are read through one open of the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "bootloader/byte_order.h"  // Read_Big_Endian_16, Read_Big_Endian_32
#include "bootloader/update_report.h"
#include "download/firmware_image.h"
#include "download/message_output.h"
#include "download/texts.h"
#include "serial/stop_signal.h"

// What a load needs besides the file: the stop that ends a long load early.
struct Load_Options {
    const Stop_Signal* stop = nullptr;
};

// The header's fields as the file gives them.
struct Image_Header {
    std::uint16_t header_length = 0;
    std::uint16_t version_length = 0;
    Image_Region first;
    Image_Region second;
};

// Shows the dialog, loads the chosen file into image: kLoaded when the header
// was accepted and both regions' bytes are in memory, else why not
// (Image_Load_Result). The refusals (notices) and the version text the header
// claims are reported to output. A stop requested while it loads ends it
// with kStopped and no notice.
Image_Load_Result Parse_File(Firmware_Image& image, report::Update_Observer& output,
                             ImageFileChooser& dialog, const Load_Options& options = {});

// Reads and checks the header of file_name into first and second, copies the
// version text into image.Image_Version and shows it. kLoaded: accepted;
// kNotOpened: the file cannot be opened; kWrongBin: header length with bit 15
// set, or any other fault that makes the image unusable ("You choose the
// wrong bin!" printed, then the reason where the fields are sound but the
// regions are no image: they overlap, or both are empty); kBadVersionLength:
// version length with bit 15 set (nothing printed).
Image_Load_Result Initial_Array(Firmware_Image& image, report::Update_Observer& output,
                                const std::string& file_name, Image_Region& first,
                                Image_Region& second);
// The same checks on a file opened for reading, from its start: header gets
// the fields of an accepted header. Results as Initial_Array's, without
// kNotOpened.
Image_Load_Result Read_Image_Header(std::FILE* file, Firmware_Image& image,
                                    report::Update_Observer& output, Image_Header& header);

// Whether an accepted header's regions can be loaded: nothing when they can;
// else why not, as the notice the loader says after "You choose the wrong
// bin!": more than the phone's flash takes (kImageTooLarge), or bytes the
// file claims without holding them on its disk (kImageHasHoles). Parse_File
// asks before it allocates; a reader of the header alone may ask too.
std::optional<report::Notice_Event> Image_Size_Problem(std::FILE* file, const Image_Header& header);

// The same, shown in a message area of one language (Message_Area_Renderer).
Image_Load_Result Parse_File(Firmware_Image& image, MessageOutput& output, ImageFileChooser& dialog,
                             Language language = Language::kChinese,
                             const Load_Options& options = {});
Image_Load_Result Initial_Array(Firmware_Image& image, MessageOutput& output,
                                const std::string& file_name, Image_Region& first,
                                Image_Region& second, Language language = Language::kChinese);
Image_Load_Result Read_Image_Header(std::FILE* file, Firmware_Image& image, MessageOutput& output,
                                    Image_Header& header, Language language);
