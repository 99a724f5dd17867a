// The station with in-process phones: named ports are links that the test
// makes and removes (the port watcher sees them come and go), and each port
// object the station asks for talks to that port's phone model. Every phone
// is checked by what reached its flash, so one phone's bytes or outcome
// changed by another's would show.
#include "station/station.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bootloader/comport.h"
#include "download/image_loader.h"
#include "station/station_files.h"
#include "station/station_view.h"
#include "tests/support/host_deviations.h"
#include "tests/support/image_builder.h"
#include "tests/support/phone_backend.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_directory.h"

namespace {

using namespace std::chrono_literals;
using test_support::Bytes;
using test_support::Random_Bytes;
using Kind = Station_Event::Kind;

// Generous: the machine may be loaded; nothing here waits this long when
// it works.
constexpr auto kEventLimit = 20s;

constexpr std::string_view kImageText = "CVLbootloaderVC_M418ZHTWA00101";
constexpr std::string_view kPhoneTail = "M418ZHTWA00100";
constexpr std::uint32_t kFirstLength = 40000;  // two blocks
constexpr std::uint32_t kSecondLength = 300;   // one
constexpr std::uint64_t kTotal = kFirstLength + kSecondLength;

// A phone with an erased record (a first run: its boot loader is dumped).
vphone::Phone_Config Phone(std::vector<vphone::Fault_Rule> faults = {}) {
    vphone::Phone_Config config = vphone::Default_Config();
    config.original_record_tail.fill(0);
    std::copy(kPhoneTail.begin(), kPhoneTail.end(), config.original_record_tail.begin());
    config.faults = std::move(faults);
    return config;
}

[[maybe_unused]] vphone::Fault_Rule Fault(vphone::Exchange exchange, vphone::Fault_Kind kind,
                                          std::uint32_t occurrence = 1) {
    vphone::Fault_Rule rule;
    rule.exchange = exchange;
    rule.kind = kind;
    rule.first = occurrence;
    rule.last = occurrence;
    return rule;
}

// Writes pass to the phone until `after` bytes have gone; then they wait
// until the test opens the gate or the port is stopped.
class Gated_Backend final : public Port_Backend {
  public:
    struct Gate {
        std::size_t after = 0;
        std::mutex mutex;
        std::condition_variable opened_cv;
        bool opened = false;
        bool reached = false;
        void Open() {
            const std::lock_guard<std::mutex> lock(mutex);
            opened = true;
            opened_cv.notify_all();
        }
    };
    Gated_Backend(std::unique_ptr<Port_Backend> inner, Gate& gate)
        : m_inner(std::move(inner)), m_gate(gate) {}
    Port_Open_Result Open(const std::string& name) override {
        m_inner->Attach_Stop(*Attached_Stop());
        return m_inner->Open(name);
    }
    void Close() override { m_inner->Close(); }
    bool Set_Lines(std::int32_t baud) override { return m_inner->Set_Lines(baud); }
    Port_Io_Result Read(std::span<std::uint8_t> buffer, std::uint32_t deadline_ms) override {
        return m_inner->Read(buffer, deadline_ms);
    }
    Port_Io_Result Write(std::span<const std::uint8_t> buffer, std::uint32_t deadline) override {
        m_written += buffer.size();
        if (m_written > m_gate.after) {
            std::unique_lock<std::mutex> lock(m_gate.mutex);
            m_gate.reached = true;
            while (!m_gate.opened) {
                if (Attached_Stop()->Interrupts())
                    return {true, 0, Io_End::kInterrupted};
                m_gate.opened_cv.wait_for(lock, 5ms);
            }
        }
        return m_inner->Write(buffer, deadline);
    }
    std::uint32_t Bytes_In_Queue() override { return m_inner->Bytes_In_Queue(); }
    bool Purge() override { return m_inner->Purge(); }
    void Pause(std::int32_t ms) override { m_inner->Pause(ms); }

  private:
    std::unique_ptr<Port_Backend> m_inner;
    Gate& m_gate;
    std::size_t m_written = 0;
};

struct Test_Phone {
    Test_Phone(vphone::Phone_Config config, const std::string& path)
        : model(std::move(config)), line(model, path) {}
    vphone::Phone_Model model;
    Simulated_Phone_Line line;
    std::unique_ptr<Gated_Backend::Gate> gate;  // null: writes never wait

    bool Flash_Holds_The_Image() const {
        const auto& flash = model.flash();
        return flash.size() == 2 && flash[0].bytes == Random_Bytes(kFirstLength, 11) &&
               flash[1].bytes == Random_Bytes(kSecondLength, 12);
    }
};

// The image loaded once, a directory for the named ports' links and one for
// the dumps, the phones by port, and every event the station gave.
class Station_Rig {
  public:
    Station_Rig() {
        test_support::Image_Builder builder;
        builder.version_text = Bytes(kImageText);
        builder.first.start = 0x00010000;
        builder.first.data = Random_Bytes(kFirstLength, 11);
        builder.second.start = 0x00200000;
        builder.second.data = Random_Bytes(kSecondLength, 12);
        test_support::Temp_Image_File file(builder.Build());
        auto image = std::make_shared<Firmware_Image>();
        Recording_View loader;
        loader.file_name = file.Path();
        EXPECT_EQ(Parse_File(*image, loader, loader), Image_Load_Result::kLoaded);
        m_image = std::move(image);
    }
    ~Station_Rig() {
        m_station.reset();  // every session has returned before the phones go
        for (const auto& [path, phone] : m_phones)
            EXPECT_EQ(Host_Deviations(phone->model), "") << path;
    }

    std::string Path(const std::string& name) const { return m_ports.File(name); }
    Test_Phone& Add(const std::string& name, vphone::Phone_Config config = Phone()) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        auto& phone = m_phones[Path(name)];
        phone = std::make_unique<Test_Phone>(std::move(config), Path(name));
        return *phone;
    }
    Test_Phone& Phone_At(const std::string& name) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return *m_phones.at(Path(name));
    }
    // A device appears at the named path, or goes.
    void Plug(const std::string& name) {
        ASSERT_EQ(::symlink("/dev/null", Path(name).c_str()), 0) << name;
    }
    void Unplug(const std::string& name) { ASSERT_EQ(::unlink(Path(name).c_str()), 0) << name; }

    Station_Options Options(const std::vector<std::string>& names) {
        Station_Options options;
        for (const std::string& name : names)
            options.named_ports.push_back(Path(name));
        options.system_ports = false;
        options.language = Language::kEnglish;
        options.make_port = [this](const Port_Candidate& port) -> std::unique_ptr<CComport> {
            const std::lock_guard<std::mutex> lock(m_mutex);
            const auto found = m_phones.find(port.device_path);
            if (found == m_phones.end())
                return nullptr;
            Test_Phone& phone = *found->second;
            std::unique_ptr<Port_Backend> backend = phone.line.make_backend();
            if (phone.gate)
                backend = std::make_unique<Gated_Backend>(std::move(backend), *phone.gate);
            return std::make_unique<CComport>(std::move(backend), Make_Fixed_Port_Lister({}));
        };
        return options;
    }
    Station& Start(Station_Options options) {
        m_station = std::make_unique<Station>(m_image, std::move(options),
                                              [this](const Station_Event& event) {
                                                  const std::lock_guard<std::mutex> lock(m_mutex);
                                                  m_events.push_back(event);
                                                  m_changed.notify_all();
                                              });
        EXPECT_TRUE(m_station->Start());
        return *m_station;
    }

    // Waits until an event satisfies the predicate; false after kEventLimit.
    template <typename Predicate>
    bool Wait_For(Predicate predicate) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kEventLimit, [&] {
            return std::any_of(m_events.begin(), m_events.end(), predicate);
        });
    }
    bool Wait_For_Phase(int phone, Station_Phase phase) {
        return Wait_For([&](const Station_Event& e) {
            return e.phone == phone && e.kind == Kind::kPhase && e.phase == phase;
        });
    }
    bool Wait_For_Finished(int count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kEventLimit, [&] {
            return std::count_if(m_events.begin(), m_events.end(), [](const Station_Event& e) {
                       return e.kind == Kind::kFinished;
                   }) >= count;
        });
    }
    std::vector<Station_Event> Events() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<Station_Event> Of(int phone) const {
        std::vector<Station_Event> mine;
        for (const Station_Event& event : Events())
            if (event.phone == phone)
                mine.push_back(event);
        return mine;
    }
    std::optional<Station_Event> Finished(int phone) const {
        for (const Station_Event& event : Of(phone))
            if (event.kind == Kind::kFinished)
                return event;
        return std::nullopt;
    }
    // The phone number the station gave the port's latest arrival.
    int Number_Of(const std::string& name) const {
        int number = 0;
        for (const Station_Event& event : Events())
            if (event.kind == Kind::kArrived && event.port.device_path == Path(name))
                number = event.phone;
        return number;
    }
    std::vector<Station_Phase> Phases(int phone) const {
        std::vector<Station_Phase> phases;
        for (const Station_Event& event : Of(phone))
            if (event.kind == Kind::kPhase)
                phases.push_back(event.phase);
        return phases;
    }
    Station& The_Station() { return *m_station; }
    const std::filesystem::path& Logs() const { return m_logs.Path(); }

  private:
    test_support::Runtime_Directory m_dumps;
    test_support::Temp_Directory m_ports{"flashtool-ports"};
    test_support::Temp_Directory m_logs{"flashtool-logs"};
    std::shared_ptr<const Firmware_Image> m_image;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, std::unique_ptr<Test_Phone>> m_phones;
    std::vector<Station_Event> m_events;
    std::unique_ptr<Station> m_station;
};

const std::vector<Station_Phase> kUpdatedPhases = {
    Station_Phase::kHandshake,       Station_Phase::kCheckingVersion, Station_Phase::kDumping,
    Station_Phase::kWritingRecord,   Station_Phase::kRewriting,       Station_Phase::kFinished,
    Station_Phase::kWaitingForUnplug};

// What a person sees of an updated phone: every phase in order, progress at
// least once a block and never backwards, up to both regions' bytes, and
// its lines in the station's language.
void Expect_Updated(const Station_Rig& rig, int phone) {
    SCOPED_TRACE("phone " + std::to_string(phone));
    const auto finished = rig.Finished(phone);
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->outcome, Download_Outcome::kUpdated);
    EXPECT_EQ(finished->code, 0);
    EXPECT_EQ(finished->bytes_done, kTotal);
    EXPECT_TRUE(finished->phone_touched);
    EXPECT_EQ(rig.Phases(phone), kUpdatedPhases);
    std::vector<std::uint64_t> progress;
    bool said_ok = false;
    for (const Station_Event& event : rig.Of(phone)) {
        if (event.kind == Kind::kProgress) {
            EXPECT_EQ(event.bytes_total, kTotal);
            progress.push_back(event.bytes_done);
        }
        if (event.kind == Kind::kLine) {
            EXPECT_EQ(event.text.find('\n'), std::string::npos);
            said_ok = said_ok || event.text == text::kUpdateOkEn;
        }
    }
    EXPECT_TRUE(said_ok);
    ASSERT_GE(progress.size(), 3u) << "one per block";
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), kTotal);
}

// ---------------------------------------------------------------------------

// Phones there before the start, plugged in all at once, and one after
// another (each on a named port that appears while the station runs): every
// one is updated on its own session, numbered in arrival order, and the
// station ends by itself when the count is reached.
TEST(StationArrivals, EveryPhoneIsUpdatedOnceInArrivalOrder) {
    enum class Plugging { kBeforeStart, kAtOnce, kOneAfterAnother };
    for (const Plugging plugging :
         {Plugging::kBeforeStart, Plugging::kAtOnce, Plugging::kOneAfterAnother}) {
        SCOPED_TRACE(static_cast<int>(plugging));
        Station_Rig rig;
        const std::vector<std::string> names = {"phone-a", "phone-b", "phone-c", "phone-d"};
        for (const std::string& name : names)
            rig.Add(name);
        if (plugging == Plugging::kBeforeStart) {
            for (const std::string& name : names)
                rig.Plug(name);
        }
        Station_Options options = rig.Options(names);
        options.count = static_cast<int>(names.size());
        Station& station = rig.Start(std::move(options));
        if (plugging == Plugging::kAtOnce) {
            for (const std::string& name : names)
                rig.Plug(name);
        } else if (plugging == Plugging::kOneAfterAnother) {
            for (std::size_t i = 0; i < names.size(); ++i) {
                rig.Plug(names[i]);
                ASSERT_TRUE(rig.Wait_For_Finished(static_cast<int>(i) + 1));
                EXPECT_EQ(rig.Number_Of(names[i]), static_cast<int>(i) + 1);
            }
        }
        ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));

        const std::vector<Station_Event> events = rig.Events();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().kind, Kind::kEnded);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const int phone = rig.Number_Of(names[i]);
            ASSERT_GE(phone, 1);
            Expect_Updated(rig, phone);
            EXPECT_TRUE(rig.Phone_At(names[i]).Flash_Holds_The_Image()) << names[i];
            EXPECT_EQ(rig.Phone_At(names[i]).line.opens(), 1u) << "one session per arrival";
        }
        const Station_Summary summary = station.Summary();
        EXPECT_EQ(summary.updated, 4);
        EXPECT_EQ(summary.failed, 0);
        EXPECT_FALSE(summary.stopped);
        ASSERT_EQ(summary.phones.size(), 4u);
        for (std::size_t i = 0; i < summary.phones.size(); ++i)
            EXPECT_EQ(summary.phones[i].phone, static_cast<int>(i) + 1);
    }
}

}  // namespace
