// flashtool-cli info IMAGE: what the loader reads from an image's header,
// without a phone. The header goes through the same checks as an update's
// (Read_Image_Header), so a header that info accepts is one that flash
// accepts; the regions' bytes are never read, so info answers at once
// whatever the header claims, and says so when flash would not load them.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/phone_model.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_file.h"
#include "cli/text_format.h"
#include "download/image_loader.h"
#include "download/notice_lines.h"
#include "download/notice_texts.h"

namespace cli {
namespace {

void Print_Region(const char* name, const Image_Region& region) {
    std::printf("%-15s start 0x%08X (%u)  end 0x%08X (%u)  length 0x%08X (%u)\n", name,
                region.Start, region.Start, region.End, region.End, region.Length, region.Length);
}

}  // namespace

int Run_Info(const Arguments& args) {
    // One open: everything shown comes from the same file, even when another
    // is renamed over it meanwhile.
    const std::optional<Image_File> file = Check_Image_File(args.image);
    if (!file)
        return kExitImageNotLoaded;
    Firmware_Image image;
    Notice_Lines output(Language::kEnglish);
    Image_Header header;
    if (Read_Image_Header(file->file.get(), image, output, header) != Image_Load_Result::kLoaded) {
        for (const std::string& line : output.lines)
            std::fprintf(stderr, "%s\n", Displayable_Text(line).c_str());
        if (output.lines.empty()) {
            std::fprintf(stderr, "flashtool-cli: %s: not a usable image (its header is refused)\n",
                         Displayable_Text(args.image).c_str());
        }
        return kExitImageNotLoaded;
    }
    const Image_Region& first = header.first;
    const Image_Region& second = header.second;
    const unsigned header_length = header.header_length;
    const unsigned version_length = header.version_length;
    const std::size_t shown =
        version_length < kPhoneModel.record.size ? version_length : kPhoneModel.record.size;

    std::printf("%-15s %s\n", "Image:", Displayable_Text(args.image).c_str());
    std::printf("%-15s %s\n",
                "Version text:", Record_Text(std::span(image.Image_Version).first(shown)).c_str());
    std::printf("%-15s %s (%u bytes)\n",
                "Version hex:", Hex_Text(std::span(image.Image_Version).first(shown)).c_str(),
                version_length);
    std::printf("%-15s %u (0x%04X)\n", "Header length:", header_length, header_length);
    Print_Region("First region:", first);
    Print_Region("Second region:", second);
    const unsigned long long total = static_cast<unsigned long long>(first.Length) + second.Length;
    std::printf("%-15s %llu (0x%llX)\n", "Total bytes:", total, total);
    // The header is shown all the same (info is where a refused image is
    // looked into), with why flash would not load it.
    if (const std::optional<report::Notice_Event> why =
            Image_Size_Problem(file->file.get(), header)) {
        std::fflush(stdout);
        std::fprintf(stderr, "flashtool-cli: flash refuses this image: %s\n",
                     Displayable_Text(text::Notice_Single_Line(*why, Language::kEnglish)).c_str());
    }
    return kExitOk;
}

}  // namespace cli
