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
#include "wine_ports.h"

namespace {

using test_support::Bytes;
using test_support::Image_Builder;
using test_support::Random_Bytes;
using test_support::Temp_Image_File;

// A window without a window: answers the file dialog with the image and
// keeps the message area's lines for the failure report.
class Headless_View final : public DownloadView, public ImageFileChooser, public ProgressBar {
  public:
    explicit Headless_View(std::string image_path) : m_image_path(std::move(image_path)) {}

    void Button_Control(bool) override {}
    ImageFileChooser& Image_Dialog() override { return *this; }
    ProgressBar& Progress_Bar() override { return *this; }
    void Set_Progress_Visible(bool) override {}
    void Set_Timer1_Enabled(bool) override {}
    void Set_Elapsed_Seconds(int) override {}
    void Show_Message_Box(std::string_view text) override { memo += "[box] " + std::string(text); }
    Language Language_Flag() const override { return Language::kEnglish; }
    void Print_Str_to_Memo(std::string_view text) override {
        memo += std::string(text.substr(0, text.find('\0'))) + "\n";
    }
    void Print_Str_to_Tedit(std::string_view) override {}
    void Print_Str_to_OldTedit(std::string_view) override {}
    void Print_Str_to_ToolBar(int, std::string_view) override {}
    void Clean_Memo() override {}
    void Clean_Tedit() override {}
    void Clean_OldTedit() override {}
    std::string Choose_File() override { return m_image_path; }
    int minimum() const override { return m_min; }
    int maximum() const override { return m_max; }
    int step() const override { return m_step; }
    int position() const override { return m_position; }
    void set_minimum(int value) override { m_min = value; }
    void set_maximum(int value) override { m_max = value; }
    void set_step(int value) override { m_step = value; }
    void set_position(int value) override { m_position = value; }

    std::string memo;

  private:
    std::string m_image_path;
    int m_min = 0, m_max = 100, m_step = 1, m_position = 0;
};

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
    Headless_View view(file.Path());
    DownloadCommand command(port, view);
    ASSERT_EQ(command.Run(), Download_Outcome::kUpdated) << view.memo;
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
