// The fixture and helpers of the CLI suite: the real flashtool-cli program
// against the virtual phone on a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "cli_process.h"
#include "tests/support/image_builder.h"
#include "tests/support/virtual_phone_process.h"

namespace cli_suite {

using test_support::Bytes;
using test_support::Image_Builder;
using test_support::Random_Bytes;
using test_support::Temp_Image_File;

// The virtual phone's boot loader carries the record tail "M418ZHTWA00100";
// an image for the same code and language with a higher number passes the check.
inline constexpr const char* kImageVersion = "CVLbootloaderVC_M418ZHTWA00101";

inline Image_Builder Sound_Image(std::size_t first_bytes = 70000, std::size_t second_bytes = 3000) {
    Image_Builder image;
    image.version_text = Bytes(kImageVersion);
    image.first.start = 0x00010000;
    image.first.data = Random_Bytes(first_bytes, 11);
    image.second.start = 0x00200000;
    image.second.data = Random_Bytes(second_bytes, 12);
    return image;
}

inline std::string Read_Text(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline std::size_t Line_Count(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The last line of text, without its line break.
inline std::string Last_Line(const std::string& text) {
    std::string_view view(text);
    if (!view.empty() && view.back() == '\n')
        view.remove_suffix(1);
    return std::string(
        view.substr(view.rfind('\n') == std::string_view::npos ? 0 : view.rfind('\n') + 1));
}

class CliAgainstPhone : public ::testing::Test {
  protected:
    // Whatever the test did, the program kept to the protocol.
    void TearDown() override {
        phone.stop();
        EXPECT_EQ(Host_Deviations(files.deviations), "");
    }
    // The program's own files (a first run's dump) go to the test's folder,
    // never where another test (or an earlier run) left one.
    Cli_Options Options() const { return Options_In(files.folder.string()); }
    static Cli_Options Options_In(const std::string& folder) {
        Cli_Options options;
        options.environment = {"TMPDIR=" + folder, "XDG_RUNTIME_DIR=" + folder,
                               "XDG_CACHE_HOME=" + folder, "HOME=" + folder};
        return options;
    }
    // Starts the phone with extra switches; false (with the reason) on failure.
    void Start_Phone(std::initializer_list<std::string> extra = {}) {
        std::string error;
        ASSERT_TRUE(phone.start(files.args(extra), &error)) << error;
    }
    Cli_Run Flash(const Temp_Image_File& image, std::vector<std::string> more = {}) {
        return Flash(image, std::move(more), Options());
    }
    Cli_Run Flash(const Temp_Image_File& image, std::vector<std::string> more,
                  const Cli_Options& options) {
        std::vector<std::string> args{"flash", image.Path(), "--port", phone.device_path()};
        args.insert(args.end(), more.begin(), more.end());
        return Run_Cli(args, options);
    }
    // The flash the phone holds, compared region by region with the image.
    // The phone is stopped first: it may still be writing its flash file
    // when the program has already ended.
    void Expect_Flash_Equals(const Image_Builder& image) {
        phone.stop();
        const auto regions = Read_Flash_File(files.flash);
        ASSERT_TRUE(regions.has_value());
        ASSERT_EQ(regions->size(), 2u);
        EXPECT_EQ((*regions)[0].start, image.first.start);
        EXPECT_EQ((*regions)[1].start, image.second.start);
        EXPECT_TRUE((*regions)[0].bytes == image.first.data);
        EXPECT_TRUE((*regions)[1].bytes == image.second.data);
    }

    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
};

}  // namespace cli_suite
