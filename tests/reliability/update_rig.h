// A whole update on the bench: the download command driving the in-process
// virtual phone (simulated clock), with a window stand-in that records what
// the user would see, a firmware image file and a private temporary folder
// for the dump file. Shared by the reliability tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "download/download_command.h"
#include "download/dump_places.h"
#include "download/texts.h"
#include "tests/support/host_deviations.h"
#include "tests/support/image_builder.h"
#include "tests/support/phone_backend.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_directory.h"
#include "tools/virtual_phone/phone_model.h"

namespace reliability {

// The record the in-process phone's default dump carries: marker and tail.
inline constexpr std::string_view kPhoneRecordText = "CVLbootloaderVC_M418ZHTWA00100";

// The dump file of every test lands in a runtime directory of its own.
using test_support::Runtime_Directory;

// An image whose version record is the one the phone's dump carries, so a
// first update of a fresh phone passes the version check.
inline test_support::Image_Builder Matching_Image(std::uint32_t first_start,
                                                  std::vector<std::uint8_t> first,
                                                  std::uint32_t second_start,
                                                  std::vector<std::uint8_t> second) {
    test_support::Image_Builder image;
    image.version_text = test_support::Bytes(kPhoneRecordText);
    image.first = {first_start, std::move(first), std::nullopt};
    image.second = {second_start, std::move(second), std::nullopt};
    return image;
}

// The phone, the line, the port and the command, wired as the window wires them.
class Update_Rig {
  public:
    Update_Rig(vphone::Phone_Config config, const test_support::Image_Builder& image,
               std::string port_name = "/dev/ttyVPHONE0")
        : phone(std::move(config)),
          line(phone, std::move(port_name)),
          file(image.Build()),
          first(image.first.data),
          second(image.second.data),
          port(line.make_backend(), Make_Fixed_Port_Lister({line.port_name()})),
          command(port, view) {
        view.file_name = file.Path();
        view.language = Language::kEnglish;
    }
    // Whatever the phone did, the host kept to the protocol.
    ~Update_Rig() { EXPECT_EQ(Host_Deviations(phone), ""); }

    // Where a first run of this rig dumps the phone's boot loader.
    std::filesystem::path Dump_Path() const {
        return temp.Path() / "flashtool" / Dump_File_Name(line.port_name());
    }

    // Whether every byte the phone accepted equals the image's byte there,
    // and (complete) whether it accepted all of them.
    bool Flash_Matches_Image(bool complete) const {
        const std::vector<std::uint8_t>* regions[] = {&first, &second};
        if (phone.flash().empty())
            return !complete || (first.empty() && second.empty());
        if (phone.flash().size() != 2)
            return false;
        for (int r = 0; r < 2; ++r) {
            const auto& accepted = phone.flash()[r].bytes;
            const auto& image = *regions[r];
            if (accepted.size() > image.size() || (complete && accepted.size() != image.size()))
                return false;
            if (!std::equal(accepted.begin(), accepted.end(), image.begin()))
                return false;
        }
        return true;
    }

    vphone::Phone_Model phone;
    Simulated_Phone_Line line;
    Runtime_Directory temp;
    test_support::Temp_Image_File file;
    std::vector<std::uint8_t> first, second;
    Recording_View view;
    CComport port;
    Download_Command command;
};

}  // namespace reliability
