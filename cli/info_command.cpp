// flashtool-cli info IMAGE: what the loader reads from an image, without a
// phone. The image goes through the same loader as an update, so an image
// that info accepts is one that flash will load.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/text_format.h"
#include "download/image_loader.h"

namespace cli {
namespace {

// Keeps what the loader prints instead of showing it in a window.
class Captured_Output final : public MessageOutput {
  public:
    void Print_Str_to_Memo(std::string_view text) override { memo.emplace_back(text); }
    void Print_Str_to_Tedit(std::string_view text) override {
        version_text += text.substr(0, text.find('\0'));
    }
    void Print_Str_to_OldTedit(std::string_view) override {}
    void Print_Str_to_ToolBar(int, std::string_view) override {}
    void Clean_Memo() override { memo.clear(); }
    void Clean_Tedit() override { version_text.clear(); }
    void Clean_OldTedit() override {}

    std::vector<std::string> memo;
    std::string version_text;
};

using Given_File = Fixed_Image_File;

void Print_Region(const char* name, const Image_Region& region) {
    std::printf("%-15s start 0x%08X (%u)  end 0x%08X (%u)  length 0x%08X (%u)\n", name,
                region.Start, region.Start, region.End, region.End, region.Length, region.Length);
}

}  // namespace

int Run_Info(const Arguments& args) {
    FirmwareImage image;
    Captured_Output output;
    Given_File dialog(args.image);
    if (!Parse_File(image, output, dialog)) {
        for (const std::string& line : output.memo)
            std::fprintf(stderr, "%s\n", line.c_str());
        if (output.memo.empty()) {
            std::ifstream probe(args.image, std::ios::binary);
            std::fprintf(stderr, "%s: %s\n", args.image.c_str(),
                         probe ? "not a usable image (its header is refused)" : "cannot be opened");
        }
        return kExitImageNotLoaded;
    }

    // The loader keeps only what an update needs; the two length words come
    // from the file itself.
    std::uint8_t header[4] = {};
    std::ifstream file(args.image, std::ios::binary);
    file.read(reinterpret_cast<char*>(header), sizeof header);
    const unsigned header_length = Read_Big_Endian_16(header);
    const unsigned version_length = Read_Big_Endian_16(header + 2);
    const std::size_t shown =
        version_length < kVersionRecordSize ? version_length : kVersionRecordSize;

    std::printf("%-15s %s\n", "Image:", args.image.c_str());
    std::printf("%-15s %s\n", "Version text:",
                Printable_Text(std::span(image.Image_Version).first(shown)).c_str());
    std::printf("%-15s %s (%u bytes)\n",
                "Version hex:", Hex_Text(std::span(image.Image_Version).first(shown)).c_str(),
                version_length);
    std::printf("%-15s %u (0x%04X)\n", "Header length:", header_length, header_length);
    Print_Region("First region:", image.First_Region);
    Print_Region("Second region:", image.Second_Region);
    const unsigned long long total =
        static_cast<unsigned long long>(image.First_Region.Length) + image.Second_Region.Length;
    std::printf("%-15s %llu (0x%llX)\n", "Total bytes:", total, total);
    return kExitOk;
}

}  // namespace cli
