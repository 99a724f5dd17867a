// A whole update through the Windows build: the download command runs on the
// Win32 serial backend and the registry port lister, against the virtual
// phone behind a mapped COM port, and the phone's flash ends equal to the
// image.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "bootloader/comport.h"
#include "download/download_command.h"
#include "phone_flash_file.h"
#include "serial_map_sandbox.h"
#include "support/host_deviations.h"
#include "support/image_builder.h"
#include "support/recording_view.h"
#include "wine_ports.h"

namespace {

using test_support::Bytes;
using test_support::Image_Builder;
using test_support::Random_Bytes;
using test_support::Temp_Image_File;

TEST(Win32WholeUpdate, TheVirtualPhoneEndsUpHoldingTheImage) {
    const std::uint16_t phone_port = wine_ports::Port_Number("FLASHTOOL_WINE_PHONE_PORT");
    const char* flash_path = std::getenv("FLASHTOOL_WINE_PHONE_FLASH");
    ASSERT_NE(phone_port, 0);
    ASSERT_NE(flash_path, nullptr);

    // The phone search finds the port through the registry's map, as on a PC
    // where the phone's USB serial driver registered it.
    Serial_Map_Sandbox map;
    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER000", "COM" + std::to_string(phone_port)));

    // Same code and language as the phone's boot loader, a higher number.
    Image_Builder image;
    image.version_text = Bytes("CVLbootloaderVC_M418ZHTWA00101");
    image.first.start = 0x00010000;
    image.first.data = Random_Bytes(70000, 21);  // three blocks, the last one short
    image.second.start = 0x00200000;
    image.second.data = Random_Bytes(3000, 22);
    Temp_Image_File file(image.Build());

    CComport port;  // the system's backend and lister: Win32 calls, registry map
    Recording_View view;
    view.file_name = file.Path();
    view.language = Language::kEnglish;
    Download_Command command(port, view);
    ASSERT_EQ(command.Run(), Download_Outcome::kUpdated) << view.Memo_Text();
    EXPECT_FALSE(port.Is_Open());

    const auto flash = phone_flash::Read_Complete(flash_path, image.second.data.size());
    ASSERT_TRUE(flash.has_value()) << "no flash file at " << flash_path;
    ASSERT_EQ(flash->size(), 2u);
    EXPECT_EQ(flash->at(0).start, image.first.start);
    EXPECT_TRUE(flash->at(0).bytes == image.first.data) << "first region differs";
    EXPECT_EQ(flash->at(1).start, image.second.start);
    EXPECT_TRUE(flash->at(1).bytes == image.second.data) << "second region differs";

    // Once the phone logs the closed link it has judged every byte up to the
    // closing 0x60, and its list of the host's deviations is complete.
    const char* log_path = std::getenv("FLASHTOOL_WINE_PHONE_LOG");
    const char* deviations_path = std::getenv("FLASHTOOL_WINE_PHONE_DEVIATIONS");
    ASSERT_NE(log_path, nullptr);
    ASSERT_NE(deviations_path, nullptr);
    bool closed = false;
    for (int attempt = 0; attempt < 100 && !closed; ++attempt) {
        std::ifstream log(log_path);
        const std::string text((std::istreambuf_iterator<char>(log)), {});
        closed = text.find("link-closed") != std::string::npos;
        if (!closed)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(closed) << "the phone never saw the closing byte";
    EXPECT_EQ(Host_Deviations(std::string(deviations_path)), "");
}

}  // namespace
