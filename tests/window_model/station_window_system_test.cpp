// The station window's model on the real station, with in-process phones
// behind named ports (POSIX links): native only.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tests/reliability/update_rig.h"
#include "tests/support/host_deviations.h"
#include "tests/support/image_builder.h"
#include "tests/support/phone_backend.h"
#include "tests/support/recording_station_face.h"
#include "tests/support/temp_directory.h"
#include "window_model/station_window_model.h"
#include "window_model/system_station.h"

namespace {

using namespace test_support;

// The real station behind the window: two in-process phones on named ports
// that appear once the station is watching; the window's thread applies the
// events as they come, and both rows end updated with every block shown.
TEST(StationWindowModel, TwoPhonesAreUpdatedThroughARealStation) {
    reliability::Runtime_Directory runtime;  // the first runs' dumps land here
    Temp_Directory ports("flashtool-station-window");
    struct Phone {
        explicit Phone(const std::string& path)
            : model(vphone::Default_Config()), line(model, path) {}
        vphone::Phone_Model model;
        Simulated_Phone_Line line;
    };
    std::map<std::string, std::unique_ptr<Phone>> phones;
    for (const char* name : {"phone-a", "phone-b"})
        phones[ports.File(name)] = std::make_unique<Phone>(ports.File(name));

    Station_Options options;
    options.named_ports = {ports.File("phone-a"), ports.File("phone-b")};
    options.system_ports = false;
    options.make_port = [&phones](const Port_Candidate& port) -> std::unique_ptr<CComport> {
        const auto found = phones.find(port.device_path);
        if (found == phones.end())
            return nullptr;
        return std::make_unique<CComport>(found->second->line.make_backend(),
                                          Make_Fixed_Port_Lister({}));
    };
    std::mutex mutex;
    std::condition_variable woken;
    bool wake = false;
    Recording_Station_Face face;
    const Image_Builder image = reliability::Matching_Image(0x00010000, Random_Bytes(40000, 7),
                                                            0x00200000, Random_Bytes(300, 8));
    Temp_Image_File file(image.Build());
    {
        Station_Window_Model model(
            face,
            [&] {
                const std::lock_guard<std::mutex> lock(mutex);
                wake = true;
                woken.notify_all();
            },
            System_Station_Factory(), options);
        model.FormCreate();
        face.chosen = file.Path();
        model.OpenImageClick();
        model.StartClick();
        ASSERT_TRUE(model.Running()) << face.messages;
        for (const auto& [path, phone] : phones)
            ASSERT_EQ(::symlink("/dev/null", path.c_str()), 0) << path;

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (model.Updated() + model.Failed() < 2 &&
               std::chrono::steady_clock::now() < deadline) {
            std::unique_lock<std::mutex> lock(mutex);
            woken.wait_for(lock, std::chrono::milliseconds(100), [&] { return wake; });
            wake = false;
            lock.unlock();
            model.Run_Pending_Calls();
        }
        EXPECT_EQ(model.Updated(), 2) << face.messages;
        ASSERT_EQ(face.rows.size(), 2U);
        for (const Station_Row& row : face.rows) {
            SCOPED_TRACE(row.port);
            EXPECT_EQ(row.percent, 100);
            EXPECT_EQ(row.bytes_done, 40300U);
            // Progress came block by block, in order.
            EXPECT_GE(face.percents[row.phone].size(), 3U);
            EXPECT_TRUE(
                std::is_sorted(face.percents[row.phone].begin(), face.percents[row.phone].end()));
        }
        model.StopClick();  // nobody at risk: no question
        EXPECT_TRUE(face.questions.empty());
    }  // the station's sessions have returned
    for (const auto& [path, phone] : phones) {
        EXPECT_EQ(Host_Deviations(phone->model), "") << path;
        ::unlink(path.c_str());
    }
}

}  // namespace
