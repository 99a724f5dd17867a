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
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bootloader/comport.h"
#include "download/image_loader.h"
#include "download/notice_texts.h"
#include "journal/journal_observers.h"
#include "journal/journal_store.h"
#include "journal/journal_writer.h"
#include "platform/shared_file.h"
#include "station/station_advice.h"
#include "station/station_files.h"
#include "station/station_rows.h"
#include "station/station_view.h"
#include "tests/support/file_size_limit.h"
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

vphone::Fault_Rule Fault(vphone::Exchange exchange, vphone::Fault_Kind kind,
                         std::uint32_t occurrence = 1) {
    vphone::Fault_Rule rule;
    rule.exchange = exchange;
    rule.kind = kind;
    rule.first = occurrence;
    rule.last = occurrence;
    return rule;
}

// A gate that never closes: for a port that is only held.
constexpr std::size_t kNeverGated = static_cast<std::size_t>(-1);

// Writes pass to the phone until `after` bytes have gone; then they wait
// until the test opens the gate or the port is stopped.
class Gated_Backend final : public Port_Backend {
  public:
    struct Gate {
        std::size_t after = 0;
        std::atomic<bool> held{false};  // another program holds the port: opens are refused
        std::mutex mutex;
        std::condition_variable opened_cv;
        bool opened = false;
        void Open() {
            const std::lock_guard<std::mutex> lock(mutex);
            opened = true;
            opened_cv.notify_all();
        }
    };
    Gated_Backend(std::unique_ptr<Port_Backend> inner, Gate& gate)
        : m_inner(std::move(inner)), m_gate(gate) {}
    Port_Open_Result Open(const std::string& name) override {
        if (m_gate.held)
            return {false, EBUSY, Open_Refusal::kInUse};
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
    // The phone's writes wait once `after` bytes have gone (20000: the first
    // block, in rewriting; 0: the handshake's first byte).
    Gated_Backend::Gate& Gate(const std::string& name, std::size_t after) {
        Test_Phone& phone = Phone_At(name);
        phone.gate = std::make_unique<Gated_Backend::Gate>();
        phone.gate->after = after;
        return *phone.gate;
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
        if (m_files)
            m_station->Add_Observer(&*m_files);
        if (m_journal)
            m_station->Add_Observer(&*m_journal);
        EXPECT_TRUE(m_station->Start());
        return *m_station;
    }
    // Before Start: the log folder's files follow the station, as the
    // command has them (Station_Files).
    void Log_To(const std::filesystem::path& folder) {
        m_files.emplace(Open_Log_Directory(folder.string()), folder.string(),
                        Station_Records{Language::kEnglish, "IMAGE-VERSION"});
    }
    Station_Files& Files() { return *m_files; }
    // Before Start, after Log_To: the journal follows the station, as the
    // command has it; the writer outlives the rig.
    void Journal_To(Journal_Writer& writer, Journal_Context context) {
        m_journal.emplace(writer, std::move(context), m_files ? &*m_files : nullptr);
    }
    // The station's summary with what its files wrote.
    Station_Summary Summary() const {
        Station_Summary summary = m_station->Summary();
        if (m_files)
            m_files->Fill(summary);
        return summary;
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
    // Waits until count phones have had their session's last event: waiting
    // for the unplug, or gone.
    bool Wait_For_Finished(int count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kEventLimit, [&] {
            std::set<int> settled;
            for (const Station_Event& e : m_events) {
                if (e.kind == Kind::kPhase && (e.phase == Station_Phase::kWaitingForUnplug ||
                                               e.phase == Station_Phase::kGone))
                    settled.insert(e.phone);
            }
            return static_cast<int>(settled.size()) >= count;
        });
    }
    std::vector<Station_Event> Events() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    // Before another station starts: its phones are numbered from 1 again.
    void Forget_Events() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
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
    // The phone number the station gave the port's latest arrival, once it
    // has arrived (0 if it never does).
    int Number_Of(const std::string& name) {
        const std::string path = Path(name);
        Wait_For([&](const Station_Event& e) {
            return e.kind == Kind::kArrived && e.port.device_path == path;
        });
        int number = 0;
        for (const Station_Event& event : Events())
            if (event.kind == Kind::kArrived && event.port.device_path == path)
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
    std::optional<Station_Files> m_files;  // outlives the station it follows
    std::optional<Station_Journal> m_journal;
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

// Stop, then Start: a phone the first station handled and that stays
// plugged in is not rewritten by the second, until it is unplugged and
// plugged in again; a phone new to the ports is updated at once.
TEST(StationArrivals, APhoneHandledBeforeIsLeftAloneUntilItIsPluggedInAgain) {
    Station_Rig rig;
    rig.Add("phone-a");
    rig.Add("phone-b");
    rig.Plug("phone-a");
    std::vector<Port_Candidate> handled;
    {
        Station& first = rig.Start(rig.Options({"phone-a", "phone-b"}));
        ASSERT_TRUE(rig.Wait_For_Finished(1));
        first.Stop();
        ASSERT_TRUE(first.Wait_Until_Done(kEventLimit));
        handled = first.Handled_Ports();
    }
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0].device_path, rig.Path("phone-a"));

    rig.Forget_Events();
    rig.Plug("phone-b");
    Station_Options options = rig.Options({"phone-a", "phone-b"});
    options.handled_ports = handled;
    Station& second = rig.Start(std::move(options));
    ASSERT_TRUE(rig.Wait_For_Finished(1));
    EXPECT_EQ(rig.Number_Of("phone-b"), 1);
    ASSERT_TRUE(rig.Finished(1));
    EXPECT_EQ(rig.Finished(1)->outcome, Download_Outcome::kUpdated);
    EXPECT_EQ(rig.Phone_At("phone-a").line.opens(), 1u) << "rewritten again without a re-plug";
    EXPECT_EQ(second.Handled_Ports().size(), 2u);

    // Unplugged (the station sees it go) and plugged in again: a new arrival.
    rig.Unplug("phone-a");
    const auto deadline = std::chrono::steady_clock::now() + kEventLimit;
    while (second.Handled_Ports().size() > 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(second.Handled_Ports().size(), 1u);
    rig.Plug("phone-a");
    ASSERT_TRUE(rig.Wait_For_Finished(2));
    EXPECT_EQ(rig.Number_Of("phone-a"), 2);
    ASSERT_TRUE(rig.Finished(2));
    EXPECT_EQ(rig.Finished(2)->outcome, Download_Outcome::kUpdated);
    EXPECT_EQ(rig.Phone_At("phone-a").line.opens(), 2u);
    second.Stop();
    ASSERT_TRUE(second.Wait_Until_Done(kEventLimit));
    EXPECT_EQ(second.Handled_Ports().size(), 2u);
}

// One phone among five meets a fault; the other four are updated as if it
// were not there, byte for byte. A phone unplugged in the middle of a block
// leaves, and plugged in again under another name it is a new phone.
TEST(StationFaults, OnePhoneFailingChangesNothingForTheOthers) {
    struct Case {
        const char* name;
        vphone::Fault_Rule fault;
        Download_Outcome outcome;
        int code;
    };
    const std::vector<Case> cases = {
        {"unplugged mid-block", Fault(vphone::Exchange::block, vphone::Fault_Kind::hang_up, 2),
         Download_Outcome::kProgrammingFailed, 8},
        {"refused block", Fault(vphone::Exchange::block, vphone::Fault_Kind::refuse, 2),
         Download_Outcome::kProgrammingFailed, 9},
        {"silent phone", Fault(vphone::Exchange::e0_ack, vphone::Fault_Kind::silent),
         Download_Outcome::kFailedBeforeProgramming, 0},
        {"asks again", Fault(vphone::Exchange::block, vphone::Fault_Kind::ask_again, 1),
         Download_Outcome::kUpdated, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Station_Rig rig;
        const std::vector<std::string> names = {"p1", "p2", "p3", "p4", "p5"};
        for (const std::string& name : names) {
            rig.Add(name, name == "p3" ? Phone({c.fault}) : Phone());
            rig.Plug(name);
        }
        std::vector<std::string> watched = names;
        watched.push_back("p3-again");
        Station& station = rig.Start(rig.Options(watched));
        ASSERT_TRUE(rig.Wait_For_Finished(5));

        for (const std::string& name : names) {
            SCOPED_TRACE(name);
            const int phone = rig.Number_Of(name);
            const auto finished = rig.Finished(phone);
            ASSERT_TRUE(finished);
            if (name != "p3" || c.outcome == Download_Outcome::kUpdated) {
                Expect_Updated(rig, phone);
                EXPECT_TRUE(rig.Phone_At(name).Flash_Holds_The_Image());
                continue;
            }
            EXPECT_EQ(finished->outcome, c.outcome);
            if (c.code != 0) {
                EXPECT_EQ(finished->code, c.code);
            } else {
                EXPECT_NE(finished->code, 0);
            }
            EXPECT_EQ(rig.Phases(phone).back(), Station_Phase::kWaitingForUnplug);
        }
        if (c.fault.kind == vphone::Fault_Kind::hang_up) {
            const int first = rig.Number_Of("p3");
            bool disconnected = false;
            for (const Station_Event& event : rig.Of(first))
                disconnected = disconnected ||
                               (event.kind == Kind::kLine && event.text == text::kDisconnectedEn);
            EXPECT_TRUE(disconnected);
            // Pulled out for good: the port goes, the phone is gone.
            rig.Unplug("p3");
            ASSERT_TRUE(rig.Wait_For_Phase(first, Station_Phase::kGone));
            const std::vector<Station_Event> mine = rig.Of(first);
            EXPECT_EQ(
                std::count_if(mine.begin(), mine.end(),
                              [](const Station_Event& e) { return e.kind == Kind::kDeparted; }),
                1);
            // Back under another name: a new arrival, a new number, updated.
            rig.Add("p3-again");
            rig.Plug("p3-again");
            ASSERT_TRUE(rig.Wait_For_Finished(6));
            EXPECT_EQ(rig.Number_Of("p3-again"), 6);
            Expect_Updated(rig, 6);
            EXPECT_TRUE(rig.Phone_At("p3-again").Flash_Holds_The_Image());
        }
        station.Stop();
        ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
        const Station_Summary summary = station.Summary();
        const bool p3_updated = c.outcome == Download_Outcome::kUpdated;
        const bool replugged = c.fault.kind == vphone::Fault_Kind::hang_up;
        EXPECT_EQ(summary.updated, (p3_updated ? 5 : 4) + (replugged ? 1 : 0));
        EXPECT_EQ(summary.failed, p3_updated ? 0 : 1);
        EXPECT_TRUE(summary.stopped);
        EXPECT_EQ(rig.Events().back().kind, Kind::kEnded);
    }
}

constexpr std::size_t kInRewriting = 20000;
constexpr std::size_t kInHandshake = 0;

// A stop that would harm no phone stops every session not rewriting and
// names those that are, which go on to the end; a port that goes away
// mid-session ends that session alone.
TEST(StationStops, OnlyPhonesAtRiskAreLeftRunningAndADepartureEndsItsOwnSession) {
    Station_Rig rig;
    const std::vector<std::string> names = {"rewriting", "searching", "leaving", "plain"};
    for (const std::string& name : names)
        rig.Add(name);
    rig.Add("late");
    Gated_Backend::Gate& rewriting = rig.Gate("rewriting", kInRewriting);
    rig.Gate("searching", kInHandshake);
    rig.Gate("leaving", kInRewriting);
    for (const std::string& name : names)
        rig.Plug(name);
    std::vector<std::string> watched = names;
    watched.push_back("late");
    Station& station = rig.Start(rig.Options(watched));
    const int at_risk = rig.Number_Of("rewriting");
    const int searching = rig.Number_Of("searching");
    const int leaving = rig.Number_Of("leaving");
    const int plain = rig.Number_Of("plain");
    ASSERT_TRUE(rig.Wait_For_Phase(at_risk, Station_Phase::kRewriting));
    ASSERT_TRUE(rig.Wait_For_Phase(leaving, Station_Phase::kRewriting));
    ASSERT_TRUE(rig.Wait_For_Phase(searching, Station_Phase::kHandshake));
    ASSERT_TRUE(rig.Wait_For_Finished(1));
    Expect_Updated(rig, plain);

    // Its port goes while its first block waits: that session ends, failed
    // as an unplugged phone does, and the phone is gone; the others are
    // where they were.
    rig.Unplug("leaving");
    ASSERT_TRUE(rig.Wait_For_Phase(leaving, Station_Phase::kGone));
    std::vector<Kind> kinds;
    for (const Station_Event& event : rig.Of(leaving))
        kinds.push_back(event.kind);
    const auto departed = std::find(kinds.begin(), kinds.end(), Kind::kDeparted);
    ASSERT_NE(departed, kinds.end());
    EXPECT_NE(std::find(departed, kinds.end(), Kind::kFinished), kinds.end());
    EXPECT_EQ(rig.Phases(leaving).back(), Station_Phase::kGone);
    EXPECT_EQ(rig.Finished(leaving)->outcome, Download_Outcome::kProgrammingFailed);
    EXPECT_EQ(rig.Finished(leaving)->failure.step, Download_Step::kDownloadRegions);
    EXPECT_EQ(rig.Of(leaving).end()[-4].text, text::kDisconnectedEn) << "said before it finished";
    EXPECT_FALSE(rig.Finished(at_risk));
    EXPECT_FALSE(rig.Finished(searching));

    EXPECT_EQ(station.Stop_If_Harmless(), std::vector<int>{at_risk});
    ASSERT_TRUE(rig.Wait_For_Finished(3));
    EXPECT_EQ(rig.Finished(searching)->outcome, Download_Outcome::kStopped);
    EXPECT_EQ(rig.Finished(searching)->code, kStoppedCode) << "never 0, an updated phone's";
    EXPECT_FALSE(rig.Finished(searching)->phone_touched);
    EXPECT_FALSE(rig.Finished(at_risk)) << "the phone being rewritten is left alone";
    EXPECT_FALSE(station.Done());
    // Once a stop was asked for, a phone plugged in is not taken.
    rig.Plug("late");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    rewriting.Open();
    ASSERT_TRUE(rig.Wait_For_Finished(4));
    Expect_Updated(rig, at_risk);
    EXPECT_TRUE(rig.Phone_At("rewriting").Flash_Holds_The_Image());
    ASSERT_TRUE(station.Wait_Until_Done(kEventLimit)) << "it ends when the last phone has";
    for (const Station_Event& event : rig.Events())
        EXPECT_NE(event.port.device_path, rig.Path("late")) << "a phone after the stop";
    const Station_Summary summary = station.Summary();
    EXPECT_EQ(summary.updated, 2);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.stopped_phones, 1);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(rig.Events().back().kind, Kind::kEnded);
}

// The count ends the station once that many phones have finished, waiting
// for a phone still being rewritten; a phone beyond the count is never
// touched. An idle time-out ends it when no phone arrived for that long, but
// not while a session runs, and never early.
TEST(StationEnds, ACountOrAnIdleTimeOutEndsItWithoutStoppingAPhoneAtRisk) {
    {
        SCOPED_TRACE("count");
        Station_Rig rig;
        const std::vector<std::string> names = {"a", "b", "c"};
        for (const std::string& name : names) {
            rig.Add(name);
            rig.Gate(name, kInRewriting);
            rig.Plug(name);
        }
        Station_Options options = rig.Options(names);
        options.count = 2;
        Station& station = rig.Start(std::move(options));
        ASSERT_TRUE(rig.Wait_For_Phase(1, Station_Phase::kRewriting));
        ASSERT_TRUE(rig.Wait_For_Phase(2, Station_Phase::kRewriting));
        std::vector<std::string> updated;
        std::string left;
        for (const std::string& name : names) {
            const bool arrived = rig.Of(1).front().port.device_path == rig.Path(name) ||
                                 rig.Of(2).front().port.device_path == rig.Path(name);
            if (arrived)
                updated.push_back(name);
            else
                left = name;
        }
        ASSERT_EQ(updated.size(), 2u);
        rig.Phone_At(updated[0]).gate->Open();
        ASSERT_TRUE(rig.Wait_For_Finished(1));
        EXPECT_FALSE(station.Wait_Until_Done(200ms)) << "a phone at risk is waited for";
        rig.Phone_At(updated[1]).gate->Open();
        ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
        Expect_Updated(rig, 1);
        Expect_Updated(rig, 2);
        EXPECT_EQ(rig.Phone_At(left).line.opens(), 0u) << left;
        EXPECT_EQ(station.Summary().phones.size(), 2u);
        EXPECT_FALSE(station.Summary().stopped);
    }
    {
        SCOPED_TRACE("idle, no phone");
        Station_Rig rig;
        Station_Options options = rig.Options({"nobody"});
        options.idle_timeout = 300ms;
        const auto start = std::chrono::steady_clock::now();
        Station& station = rig.Start(std::move(options));
        ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
        EXPECT_EQ(rig.Events().size(), 1u);
        EXPECT_TRUE(station.Summary().phones.empty());
    }
    {
        SCOPED_TRACE("idle, one phone running past it");
        Station_Rig rig;
        rig.Add("slow");
        Gated_Backend::Gate& gate = rig.Gate("slow", kInRewriting);
        rig.Plug("slow");
        Station_Options options = rig.Options({"slow"});
        options.idle_timeout = 300ms;
        Station& station = rig.Start(std::move(options));
        ASSERT_TRUE(rig.Wait_For_Phase(1, Station_Phase::kRewriting));
        EXPECT_FALSE(station.Wait_Until_Done(600ms));
        gate.Open();
        ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
        Expect_Updated(rig, 1);
    }
}

// The station's patience on a port that has appeared: a boot loader that
// answers only after one or three handshakes is updated; a port where none
// answers within the patience had no phone: neither failed nor one of the
// count, so the phone plugged in after it is still taken.
TEST(StationPatience, ALateBootLoaderIsUpdatedAndASilentPortIsNoPhone) {
    for (const std::uint32_t missed : {1u, 3u}) {
        SCOPED_TRACE("handshakes missed: " + std::to_string(missed));
        Station_Rig rig;
        vphone::Fault_Rule late = Fault(vphone::Exchange::sync_echo, vphone::Fault_Kind::silent);
        late.last = missed;
        rig.Add("late", Phone({late}));
        rig.Plug("late");
        Station_Options options = rig.Options({"late"});
        options.count = 1;
        Station& station = rig.Start(std::move(options));
        ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
        Expect_Updated(rig, 1);
        EXPECT_TRUE(rig.Phone_At("late").Flash_Holds_The_Image());
    }
    {
        SCOPED_TRACE("a silent port, then a phone");
        Station_Rig rig;
        vphone::Fault_Rule never = Fault(vphone::Exchange::sync_echo, vphone::Fault_Kind::silent);
        never.last = 1000;
        rig.Add("modem", Phone({never}));
        rig.Add("phone");
        rig.Plug("modem");
        Station_Options options = rig.Options({"modem", "phone"});
        options.count = 1;
        options.handshake_timeout = 1500ms;
        Station& station = rig.Start(std::move(options));
        ASSERT_TRUE(rig.Wait_For_Phase(1, Station_Phase::kHandshake));
        rig.Plug("phone");
        ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
        const auto modem = rig.Finished(1);
        ASSERT_TRUE(modem);
        EXPECT_TRUE(modem->no_phone);
        EXPECT_EQ(modem->outcome, Download_Outcome::kPhoneNotFound);
        EXPECT_FALSE(modem->phone_touched);
        EXPECT_GE(modem->seconds, 1.5) << "tried for its patience";
        EXPECT_GE(rig.Phone_At("modem").line.opens(), 2u) << "tried again";
        EXPECT_EQ(rig.Number_Of("phone"), 2);
        Expect_Updated(rig, 2);
        const Station_Summary summary = station.Summary();
        EXPECT_EQ(summary.updated, 1);
        EXPECT_EQ(summary.failed, 0);
        EXPECT_EQ(summary.no_phone, 1);
        ASSERT_EQ(summary.phones.size(), 2u);
        EXPECT_EQ(State_Of(summary.phones[0]), Station_Row_State::kNoPhone);
        Station_Row_Model rows;
        for (const Station_Event& event : rig.Events())
            rows.Apply(event);
        EXPECT_EQ(rows.Counts().no_phone, 1);
        EXPECT_EQ(rows.Counts().Not_Updated(), 0);
    }
}

// A port another program holds is said in use, by whom where the system
// tells, and waited for beyond the patience: once free its phone is updated,
// never failed. Held until the station's idle time-out, it had no phone.
TEST(StationPatience, APortHeldByAnotherProgramIsWaitedForNotFailed) {
    {
        SCOPED_TRACE("released");
        Station_Rig rig;
        rig.Add("held");
        Gated_Backend::Gate& gate = rig.Gate("held", kNeverGated);
        gate.held = true;
        rig.Plug("held");
        Station_Options options = rig.Options({"held"});
        options.count = 1;
        options.handshake_timeout = 300ms;
        Station& station = rig.Start(std::move(options));
        ASSERT_TRUE(rig.Wait_For([](const Station_Event& e) {
            return e.kind == Kind::kLine && e.text.find(" is in use by ") != std::string::npos;
        }));
        EXPECT_FALSE(station.Wait_Until_Done(1500ms)) << "waited for beyond the patience";
        EXPECT_FALSE(rig.Finished(1));
        gate.held = false;
        ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
        Expect_Updated(rig, 1);
        int said = 0;
        for (const Station_Event& event : rig.Of(1))
            said +=
                event.kind == Kind::kLine && event.text.find(" is in use by ") != std::string::npos;
        EXPECT_EQ(said, 1) << "said once while it stays held";
    }
    {
        SCOPED_TRACE("unplugged while held");
        Station_Rig rig;
        rig.Add("held");
        rig.Gate("held", kNeverGated).held = true;
        rig.Plug("held");
        Station& station = rig.Start(rig.Options({"held"}));
        ASSERT_TRUE(rig.Wait_For([](const Station_Event& e) { return e.kind == Kind::kLine; }));
        rig.Unplug("held");
        ASSERT_TRUE(rig.Wait_For_Finished(1));
        const auto finished = rig.Finished(1);
        ASSERT_TRUE(finished);
        EXPECT_TRUE(finished->no_phone);
        EXPECT_EQ(station.Summary().failed, 0);
    }
    {
        SCOPED_TRACE("held past the idle time-out");
        Station_Rig rig;
        rig.Add("held");
        rig.Gate("held", kNeverGated).held = true;
        rig.Plug("held");
        Station_Options options = rig.Options({"held"});
        options.idle_timeout = 500ms;
        Station& station = rig.Start(std::move(options));
        ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
        const auto finished = rig.Finished(1);
        ASSERT_TRUE(finished);
        EXPECT_TRUE(finished->no_phone);
        const Station_Summary summary = station.Summary();
        EXPECT_EQ(summary.failed, 0);
        EXPECT_EQ(summary.stopped_phones, 0);
        EXPECT_EQ(summary.no_phone, 1);
    }
}

std::string Read_File(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each phone's log and the summaries: new files of this user's alone, never
// through a link that stands where one would go, each naming the port and
// how the phone ended.
TEST(StationFiles, EachPhoneGetsItsLogAndTheStationASummary) {
    Station_Rig rig;
    rig.Add("good");
    rig.Add("bad", Phone({Fault(vphone::Exchange::block, vphone::Fault_Kind::refuse, 2)}));
    const std::filesystem::path logs = rig.Logs();
    // Someone else's file where the first log would go: it is not written
    // through, the log takes the next name.
    test_support::Temp_Directory elsewhere;
    const std::string victim = elsewhere.File("victim");
    std::ofstream(victim) << "keep";
    std::filesystem::create_symlink(victim, logs / "phone-001-good.log");

    rig.Plug("good");
    Station_Options options = rig.Options({"good", "bad"});
    rig.Log_To(logs.string());
    options.count = 2;
    Station& station = rig.Start(std::move(options));
    ASSERT_EQ(rig.Number_Of("good"), 1);
    rig.Plug("bad");
    ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));

    EXPECT_EQ(Read_File(victim), "keep");
    const std::filesystem::path good_log = logs / "phone-001-good-2.log";
    const std::filesystem::path bad_log = logs / "phone-002-bad.log";
    EXPECT_EQ(rig.Files().Log_Path(1), good_log.string());
    EXPECT_EQ(rig.Files().Log_Path(2), bad_log.string());
    for (const auto& path : {good_log, bad_log, logs / "summary.csv", logs / "summary.json"}) {
        SCOPED_TRACE(path.string());
        struct stat status {};
        ASSERT_EQ(::lstat(path.c_str(), &status), 0);
        EXPECT_TRUE(S_ISREG(status.st_mode));
        EXPECT_EQ(status.st_mode & 0777, 0600u);
    }
    const std::string good = Read_File(good_log);
    EXPECT_NE(good.find("port " + rig.Path("good") + "\n"), std::string::npos) << good;
    EXPECT_NE(good.find(std::string(text::kUpdateOkEn)), std::string::npos) << good;
    EXPECT_NE(good.find("result updated, code 0, 40300 bytes"), std::string::npos) << good;
    const std::string bad = Read_File(bad_log);
    EXPECT_NE(bad.find("Download regions failed,error is 9"), std::string::npos) << bad;
    EXPECT_NE(bad.find("result programming_failed, code 9"), std::string::npos) << bad;
    EXPECT_NE(bad.find("advice Rewriting its flash failed: it will not start until it is updated."),
              std::string::npos)
        << bad;

    // The rows: UTC times, the versions before and after (none after a
    // phone left half rewritten), what to do with it.
    const std::string csv = Read_File(logs / "summary.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3) << csv;
    EXPECT_EQ(csv.rfind(std::string(kSummaryCsvHeader) + "\n", 0), 0u) << csv;
    const std::regex utc("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z");
    const std::string times = "\n" + std::string(20, '?') + ",";
    const std::string version = "CVLbootloaderVC_M418ZHTWA00100";
    for (const std::string& row : {"1," + rig.Path("good") + ",,,," + version +
                                       ",IMAGE-VERSION,updated,0,Updated: it starts",
                                   "2," + rig.Path("bad") + ",,,," + version +
                                       ",,programming_failed,9,\"Rewriting its flash"}) {
        const std::size_t at = csv.find("Z,," + row);  // no slot
        ASSERT_NE(at, std::string::npos) << row << " in\n" << csv;
        const std::size_t line = csv.rfind('\n', at) + 1;
        EXPECT_TRUE(std::regex_match(csv.substr(line, 24), utc)) << csv.substr(line, 24);
        EXPECT_TRUE(std::regex_match(csv.substr(line + 25, 24), utc)) << csv.substr(line + 25, 24);
    }
    const nlohmann::json json = nlohmann::json::parse(Read_File(logs / "summary.json"));
    EXPECT_EQ(json["v"], 1);
    EXPECT_EQ(json["updated"], 1);
    EXPECT_EQ(json["failed"], 1);
    EXPECT_EQ(json["stopped"], false);
    ASSERT_EQ(json["phones"].size(), 2u);
    EXPECT_EQ(json["phones"][0]["result"], "updated");
    EXPECT_EQ(json["phones"][0]["bytes"], kTotal);
    EXPECT_EQ(json["phones"][0]["log_file"], good_log.string());
    EXPECT_EQ(json["phones"][1]["result"], "programming_failed");
    EXPECT_EQ(json["phones"][1]["code"], 9);
    EXPECT_EQ(json["phones"][1]["port"], rig.Path("bad"));
}

// Texts from outside (a port's name, a device's strings) on their way into
// lines, file names and the summaries.
TEST(StationFiles, TextsFromOutsideAreEscapedForEachPlace) {
    // A station shows a notice as one line: the time text's line feed goes,
    // texts from outside are escaped.
    report::Notice_Event start = report::Say(report::Notice::kStartAt);
    start.time = std::chrono::system_clock::now();
    const std::string start_line = text::Notice_Single_Line(start, Language::kEnglish);
    EXPECT_EQ(start_line.find('\n'), std::string::npos) << start_line;
    EXPECT_EQ(start_line.rfind("Download start at: ", 0), 0u) << start_line;
    EXPECT_EQ(start_line.back(), '.') << start_line;
    const std::vector<std::pair<std::string, std::string>> ports = {
        {"port /dev/x\x1b[2J\u202e", "找到通訊埠 port /dev/x\\x1b[2J\\u202e"},
        {"two\nlines", "找到通訊埠 two\\x0alines"},
    };
    for (const auto& [port, expected] : ports) {
        EXPECT_EQ(text::Notice_Single_Line(report::Say(report::Notice::kFoundPort, port),
                                           Language::kEnglish),
                  expected);
    }

    const std::vector<std::pair<std::string, std::string>> file_parts = {
        {"/dev/ttyACM0", "ttyACM0"},
        {"\\\\.\\COM12", "COM12"},
        {"/tmp/x/evil name;rm", "evil_name_rm"},
        {"/dev/..", "_.."},
        {"/dev/", "_"},
        {std::string(200, 'a'), std::string(48, 'a')},
    };
    for (const auto& [name, expected] : file_parts)
        EXPECT_EQ(Port_File_Part(name), expected) << name;

    EXPECT_EQ(Csv_Field("ttyACM0"), "ttyACM0");
    EXPECT_EQ(Csv_Field("a,b"), "\"a,b\"");
    EXPECT_EQ(Csv_Field("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(Csv_Field("=HYPERLINK(1)"), "\"'=HYPERLINK(1)\"");
    EXPECT_EQ(nlohmann::json::parse(Json_String("a\"\\\x01\xe4\xb8\xad")), "a\"\\\x01\xe4\xb8\xad");
}

namespace fs = std::filesystem;

// The log directory is held from the station's start: a directory swapped
// for a link while the station waits for a phone is not written through.
TEST(StationFiles, ALogDirectorySwappedForALinkIsNotWrittenThrough) {
    Station_Rig rig;
    rig.Add("good");
    const fs::path logs = rig.Logs();
    const fs::path moved = logs.string() + "-moved";
    test_support::Temp_Directory elsewhere;
    Station_Options options = rig.Options({"good"});
    rig.Log_To(logs.string());
    options.count = 1;
    Station& station = rig.Start(std::move(options));
    fs::rename(logs, moved);
    fs::create_directory_symlink(elsewhere.Path(), logs);
    rig.Plug("good");
    const bool done = station.Wait_Until_Done(kEventLimit);
    const bool elsewhere_empty = fs::is_empty(elsewhere.Path());
    const bool log_kept = fs::exists(moved / "phone-001-good.log");
    const bool summary_kept = fs::exists(moved / "summary.csv");
    fs::remove(logs);
    fs::rename(moved, logs);
    ASSERT_TRUE(done);
    EXPECT_TRUE(elsewhere_empty);
    EXPECT_TRUE(log_kept);
    EXPECT_TRUE(summary_kept);
}

// A full disk: the phone's log and both summaries are made but take no
// byte. The summary names them as records not written whole, and the
// summary files it made.
TEST(StationFiles, RecordsNotWrittenWholeAreNamed) {
    Station_Rig rig;
    rig.Add("good");
    rig.Plug("good");
    Station_Options options = rig.Options({"good"});
    rig.Log_To(rig.Logs().string());
    options.count = 1;
    test_support::File_Size_Limit full_disk(0);
    ASSERT_TRUE(full_disk.Set());
    Station& station = rig.Start(std::move(options));
    const bool done = station.Wait_Until_Done(kEventLimit);
    full_disk.Lift();
    ASSERT_TRUE(done);

    const Station_Summary summary = rig.Summary();
    ASSERT_EQ(summary.phones.size(), 1u);
    const std::string csv = (rig.Logs() / "summary.csv").string();
    const std::string json = (rig.Logs() / "summary.json").string();
    EXPECT_EQ(summary.summary_files, (std::vector<std::string>{csv, json}));
    EXPECT_EQ(summary.unwritten, (std::vector<std::string>{summary.phones[0].log_file, csv, json}));
}

// A summary.csv there already (an earlier run's, or planted by another
// user): it is neither taken nor written in, and the summary names the file
// this run wrote.
TEST(StationFiles, ASummaryNameTakenIsLeftAloneAndTheFileWrittenIsNamed) {
    Station_Rig rig;
    const fs::path planted = rig.Logs() / "summary.csv";
    std::ofstream(planted) << "1,x,,,,updated\n";
    ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    Station_Options options = rig.Options({"never"});
    rig.Log_To(rig.Logs().string());
    options.idle_timeout = 100ms;
    Station& station = rig.Start(std::move(options));
    ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
    EXPECT_EQ(Read_File(planted), "1,x,,,,updated\n");
    EXPECT_EQ(rig.Summary().summary_files,
              (std::vector<std::string>{(rig.Logs() / "summary-2.csv").string(),
                                        (rig.Logs() / "summary.json").string()}));
    EXPECT_TRUE(rig.Summary().unwritten.empty());
}

// The CSV summary grows across runs: a later station adds its phones to the
// file of ours with the same columns (its header once), and starts a file of
// its own beside one of ours whose columns differ (an older version's).
TEST(StationFiles, TheCsvSummaryGrowsAcrossRunsWithItsHeaderOnce) {
    Station_Rig rig;
    rig.Add("port");
    const fs::path older = rig.Logs() / "summary.csv";
    std::ofstream(older) << "phone,port,result\n1,x,updated\n";
    ::chmod(older.c_str(), 0600);
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        rig.Plug("port");
        Station_Options options = rig.Options({"port"});
        options.count = 1;
        rig.Log_To(rig.Logs().string());
        Station& station = rig.Start(std::move(options));
        ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
        EXPECT_EQ(rig.Summary().summary_files.front(), (rig.Logs() / "summary-2.csv").string());
        rig.Unplug("port");
    }
    EXPECT_EQ(Read_File(older), "phone,port,result\n1,x,updated\n");
    const std::string csv = Read_File(rig.Logs() / "summary-2.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3) << csv;
    EXPECT_EQ(csv.rfind(std::string(kSummaryCsvHeader) + "\n", 0), 0u) << csv;
    EXPECT_EQ(csv.find(kSummaryCsvHeader, 1), std::string::npos) << "the header once\n" << csv;
}

// Phones following one another on one port, each stopped after its dump:
// each record names a file that holds that phone's own dump, not a name a
// later phone's dump took over.
TEST(StationFiles, EachPhonesRecordNamesItsOwnDump) {
    Station_Rig rig;
    vphone::Fault_Rule no_record = Fault(vphone::Exchange::e1_ack, vphone::Fault_Kind::silent);
    no_record.last = 100;
    rig.Add("port", Phone({no_record}));
    rig.Plug("port");
    Station_Options options = rig.Options({"port"});
    options.count = 2;
    Station& station = rig.Start(std::move(options));
    ASSERT_TRUE(rig.Wait_For_Finished(1));
    rig.Unplug("port");
    ASSERT_TRUE(rig.Wait_For_Phase(1, Station_Phase::kGone));
    rig.Plug("port");
    ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));

    const Station_Summary summary = station.Summary();
    ASSERT_EQ(summary.phones.size(), 2u);
    std::set<std::string> dumps;
    for (const Station_Phone_Result& phone : summary.phones) {
        SCOPED_TRACE(phone.phone);
        EXPECT_EQ(phone.outcome, Download_Outcome::kFailedBeforeProgramming);
        EXPECT_EQ(rig.Finished(phone.phone)->dump_file, phone.dump_file);
        ASSERT_FALSE(phone.dump_file.empty());
        EXPECT_TRUE(fs::exists(phone.dump_file));
        EXPECT_FALSE(fs::exists(phone.dump_file + ".1")) << "nothing was moved aside";
        dumps.insert(phone.dump_file);
    }
    EXPECT_EQ(dumps.size(), 2u);
}

// ---------------------------------------------------------------------------
// The rows of a station's phones: one definition of each count, whatever
// view reads it (the command's table, lines, last line and exit code, the
// station window).

Station_Event Row_Event(Kind kind, int phone) {
    Station_Event event;
    event.kind = kind;
    event.phone = phone;
    event.port.device_path = "/dev/ttyACM" + std::to_string(phone);
    event.port.display_name = event.port.device_path;
    return event;
}
Station_Event Row_Finished(int phone, Download_Outcome outcome, int code = 0) {
    Station_Event event = Row_Event(Kind::kFinished, phone);
    event.outcome = outcome;
    event.code = code;
    return event;
}

TEST(StationRows, EachPhoneCountsOnceAsUpdatedFailedStoppedOrWorking) {
    Station_Row_Model model;
    for (int phone = 1; phone <= 5; ++phone)
        EXPECT_EQ(model.Apply(Row_Event(Kind::kArrived, phone)), phone - 1);
    model.Apply(Row_Finished(1, Download_Outcome::kUpdated));
    model.Apply(Row_Event(Kind::kDeparted, 1));  // unplugged after it was updated
    model.Apply(Row_Finished(2, Download_Outcome::kProgrammingFailed, 9));
    model.Apply(Row_Finished(3, Download_Outcome::kStopped, kStoppedCode));
    model.Apply(Row_Event(Kind::kDeparted, 4));  // unplugged before its session ended
    // Ports that are no phone's: a row each, in no count but their own.
    for (int twice = 0; twice < 2; ++twice) {
        Station_Event skipped = Row_Event(Kind::kSkipped, 0);
        skipped.text = "not a USB device";
        EXPECT_EQ(model.Apply(skipped), 5 + twice);
        EXPECT_TRUE(model.Rows().back().skipped);
        EXPECT_EQ(model.Rows().back().last_line, "not a USB device");
    }
    EXPECT_EQ(model.Counts().skipped, 2);
    Station_Event progress = Row_Event(Kind::kProgress, 5);
    progress.bytes_done = 10;
    progress.bytes_total = 100;
    progress.seconds = 2;
    EXPECT_EQ(model.Apply(progress), 4);

    Station_Counts counts = model.Counts();
    EXPECT_EQ(counts.updated, 1);
    EXPECT_EQ(counts.failed, 2) << "phone 2, and phone 4 unplugged before it ended";
    EXPECT_EQ(counts.stopped, 1);
    EXPECT_EQ(counts.working, 1);
    EXPECT_EQ(counts.gone, 2);
    EXPECT_EQ(counts.Not_Updated(), 3);
    EXPECT_EQ(State_Of(model.Rows()[0]), Station_Row_State::kUpdated);
    EXPECT_EQ(model.Rows()[4].transfer_started, 2);

    // Phone 4's session then ends, failed: it is still counted once.
    model.Apply(Row_Finished(4, Download_Outcome::kFailedBeforeProgramming, 6));
    model.Apply(Row_Finished(5, Download_Outcome::kUpdated));
    EXPECT_EQ(model.Apply(Row_Event(Kind::kEnded, 0)), -1);
    EXPECT_TRUE(model.Ended());
    counts = model.Counts();
    EXPECT_EQ(counts.updated, 2);
    EXPECT_EQ(counts.failed, 2);
    EXPECT_EQ(counts.stopped, 1);
    EXPECT_EQ(counts.working, 0);
    EXPECT_EQ(counts.skipped, 2);

    // The station's results count alike.
    std::vector<Station_Phone_Result> results;
    for (const Station_Phone_Row& row : model.Rows()) {
        if (row.skipped)
            continue;  // a station has no result for a port it skipped
        Station_Phone_Result& result = results.emplace_back();
        result.phone = row.phone;
        result.outcome = row.outcome;
    }
    const Station_Counts of_results = Count_Results(results);
    EXPECT_EQ(of_results.updated, counts.updated);
    EXPECT_EQ(of_results.failed, counts.failed);
    EXPECT_EQ(of_results.stopped, counts.stopped);
}

// ---------------------------------------------------------------------------

// The system's listing as a test makes it: each port with its identity.
class Listed_Ports final : public PortLister {
  public:
    explicit Listed_Ports(std::vector<Port_Candidate> ports) : m_ports(std::move(ports)) {}
    int list(std::vector<Port_Candidate>& ports) override {
        ports = m_ports;
        return ports.empty() ? kPortListNothingFound : kPortListOk;
    }

  private:
    std::vector<Port_Candidate> m_ports;
};

Port_Candidate Listed(const std::string& path, const std::string& driver,
                      const std::string& usb_id = "", const std::string& usb_path = "") {
    Port_Candidate port;
    port.device_path = path;
    port.display_name = path;
    port.identity.driver = driver;
    if (!usb_id.empty()) {
        port.identity.usb_vendor_id = usb_id.substr(0, 4);
        port.identity.usb_product_id = usb_id.substr(5);
        port.identity.usb_path = usb_path;
    }
    return port;
}

// Without named ports the station watches the system's ports, but takes
// only a phone's: the PC's own UART, a USB device outside --match and one
// outside the slots file are each said once as skipped, never opened, and
// the count waits for phones; the phone's every event carries its slot.
TEST(StationPorts, OnlyUsbPortsAreTakenAndEachPhoneCarriesItsSlot) {
    Station_Rig rig;
    rig.Add("phone");
    rig.Add("uart");  // a boot loader would answer: it must not be asked
    rig.Add("ftdi");
    rig.Add("elsewhere");
    for (const char* name : {"uart", "ftdi", "elsewhere", "phone"})
        rig.Plug(name);
    Station_Options options = rig.Options({});
    options.system_ports = true;
    options.watch.lister = std::make_shared<Listed_Ports>(std::vector<Port_Candidate>{
        Listed(rig.Path("uart"), "serial"),
        Listed(rig.Path("ftdi"), "ftdi_sio", "0403:6001", "1-1.1:1.0"),
        Listed(rig.Path("elsewhere"), "cdc_acm", "1D6B:0104", "2-4:1.0"),
        Listed(rig.Path("phone"), "cdc_acm", "1d6b:0104", "1-1.3:1.0"),
    });
    options.filter.match = {*Parse_Usb_Match("1d6b:*")};
    options.filter.sockets = Parse_Slots("1-1.3 = A3\n1-1.1 = A1\n").sockets;
    options.filter.only_slots = true;
    options.count = 1;
    Station& station = rig.Start(std::move(options));
    ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));

    Expect_Updated(rig, 1);
    for (const Station_Event& event : rig.Of(1))
        EXPECT_EQ(event.slot, "A3") << int(event.kind);
    std::map<std::string, Station_Event> skipped;
    for (const Station_Event& event : rig.Events()) {
        if (event.kind == Kind::kSkipped)
            skipped[event.port.device_path] = event;
        if (event.kind == Kind::kArrived) {
            EXPECT_EQ(event.port.device_path, rig.Path("phone"));
        }
    }
    ASSERT_EQ(skipped.size(), 3u);
    EXPECT_EQ(skipped[rig.Path("uart")].skip, Port_Skip::kNotUsb);
    EXPECT_EQ(skipped[rig.Path("uart")].text, "not a USB device");
    EXPECT_EQ(skipped[rig.Path("ftdi")].skip, Port_Skip::kNotMatched);
    EXPECT_EQ(skipped[rig.Path("ftdi")].text, "0403:6001 not in --match");
    EXPECT_EQ(skipped[rig.Path("ftdi")].slot, "A1") << "its socket is named all the same";
    EXPECT_EQ(skipped[rig.Path("elsewhere")].skip, Port_Skip::kNotInSlots);
    for (const char* name : {"uart", "ftdi", "elsewhere"})
        EXPECT_EQ(rig.Phone_At(name).line.opens(), 0u) << name << " was opened";
    const Station_Summary summary = station.Summary();
    ASSERT_EQ(summary.phones.size(), 1u);
    EXPECT_EQ(summary.phones[0].slot, "A3");
    EXPECT_EQ(summary.updated, 1);
    EXPECT_EQ(summary.failed + summary.no_phone, 0);
}

// Each phone a station handles gets one journal record, begun as it
// arrives and completed as it ends, every field from the run: the context
// shared by the run, the device and its socket, the versions before and
// after (bytes and text), how it ended, its log; owned by this process.
TEST(StationJournal, EachPhoneGetsOneRecordWithEveryField) {
    test_support::Temp_Directory folder;
    const std::string path = folder.File("journal.sqlite");
    Journal_Store::Opened opened = Journal_Store::Open(path);
    ASSERT_TRUE(opened.store) << opened.problem;
    int said = 0;
    Journal_Writer writer(std::move(opened.store), [&](const std::string&) { ++said; });
    Station_Rig rig;
    rig.Add("good");
    rig.Add("bad", Phone({Fault(vphone::Exchange::block, vphone::Fault_Kind::refuse, 2)}));
    rig.Plug("good");
    rig.Plug("bad");
    Station_Options options = rig.Options({});
    options.system_ports = true;
    Port_Candidate good = Listed(rig.Path("good"), "cdc_acm", "1d6b:0104", "1-1.3:1.0");
    good.identity.usb_serial = "M418-0001";
    Port_Candidate bad = Listed(rig.Path("bad"), "cdc_acm", "1d6b:0104", "1-1.4:1.0");
    options.watch.lister = std::make_shared<Listed_Ports>(std::vector<Port_Candidate>{good, bad});
    options.filter.sockets = Parse_Slots("1-1.3 = A3\n1-1.4 = A4\n").sockets;
    options.count = 2;
    rig.Log_To(rig.Logs());
    Journal_Context context;
    context.machine = "bench-pc";
    context.station = "line-3";
    context.operator_name = "ann";
    context.program_version = "3.1.0";
    context.image_path = "/images/m418.bin";
    context.image_size = 40812;
    context.image_sha256 = std::string(64, 'a');
    context.image_version = std::string(kImageText);
    rig.Journal_To(writer, context);
    Station& station = rig.Start(std::move(options));
    ASSERT_TRUE(station.Wait_Until_Done(kEventLimit));
    writer.Flush();
    EXPECT_EQ(said, 0);
    EXPECT_EQ(writer.Failures(), 0);

    Journal_Store::Opened reader = Journal_Store::Open(path);
    ASSERT_TRUE(reader.store);
    std::string problem;
    const std::vector<Journal_Record> records = reader.store->List({}, problem);
    ASSERT_EQ(records.size(), 2u) << problem;
    const std::regex utc("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z");
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    const std::string phone_text = "CVLbootloaderVC_" + std::string(kPhoneTail);
    EXPECT_NE(records[0].id, records[1].id);
    for (const Journal_Record& record : records) {
        SCOPED_TRACE(record.port);
        const bool is_good = record.port == rig.Path("good");
        const int phone = rig.Number_Of(is_good ? "good" : "bad");
        EXPECT_TRUE(std::regex_match(record.id, uuid)) << record.id;
        EXPECT_TRUE(std::regex_match(record.started, utc)) << record.started;
        EXPECT_TRUE(std::regex_match(record.ended, utc)) << record.ended;
        EXPECT_LE(record.started, record.ended);
        EXPECT_EQ(record.machine, "bench-pc");
        EXPECT_EQ(record.station, "line-3");
        EXPECT_EQ(record.operator_name, "ann");
        EXPECT_EQ(record.program_version, "3.1.0");
        EXPECT_EQ(record.image_path, "/images/m418.bin");
        EXPECT_EQ(record.image_size, 40812);
        EXPECT_EQ(record.image_sha256, std::string(64, 'a'));
        EXPECT_EQ(record.image_version, kImageText);
        EXPECT_EQ(record.version_before, phone_text);
        EXPECT_EQ(record.version_before_hex.rfind(Hex_Of(phone_text), 0), 0u)
            << record.version_before_hex;
        EXPECT_EQ(record.version_after, kImageText) << "the record the phone took";
        EXPECT_EQ(record.version_after_hex.rfind(Hex_Of(std::string(kImageText)), 0), 0u);
        EXPECT_EQ(record.usb_id, "1d6b:0104");
        EXPECT_EQ(record.usb_serial, is_good ? "M418-0001" : "");
        EXPECT_EQ(record.usb_path, is_good ? "1-1.3:1.0" : "1-1.4:1.0");
        EXPECT_EQ(record.slot, is_good ? "A3" : "A4");
        EXPECT_EQ(record.result, is_good ? "updated" : "programming_failed");
        EXPECT_EQ(record.failed_step, is_good ? "" : "download_regions");
        EXPECT_EQ(record.code, is_good ? 0 : 9);
        EXPECT_EQ(record.advice, is_good ? "updated" : "programming_failed");
        EXPECT_EQ(record.bytes, is_good ? kTotal : rig.Finished(phone)->bytes_done);
        EXPECT_GT(record.seconds, 0);
        EXPECT_EQ(record.dump_file, rig.Finished(phone)->dump_file);
        EXPECT_EQ(record.log_file, rig.Files().Log_Path(phone));
        EXPECT_FALSE(record.log_file.empty());
        EXPECT_EQ(record.pid, static_cast<long long>(::getpid()));
        EXPECT_EQ(record.host, platform::Host_Name());
        EXPECT_FALSE(record.process_start.empty());
        EXPECT_EQ(record.forwarded, 0);
    }
}

// What a shop writes: --match in either case and with "*", a slots file
// with comments and blank lines; a line that is not USB-PATH = LABEL, or a
// socket given twice, is refused by its number. A named port is taken
// whatever the filter says.
TEST(StationPorts, MatchesAndSlotsAreReadAsAShopWritesThem) {
    EXPECT_EQ(Parse_Usb_Match("1D6B:0104")->vendor_id, "1d6b");
    EXPECT_EQ(Parse_Usb_Match("1d6b:*")->product_id, "");
    for (const char* bad : {"1d6b", "1d6b:", "1d6:0104", "1d6b:01045", "xyzw:0104", "*:0104"})
        EXPECT_FALSE(Parse_Usb_Match(bad)) << bad;

    const Slots_Parse good =
        Parse_Slots("# bench 1\n\n1-1.3 = A3\r\n  1-1.4:1.0=A 4   # the corner\n");
    ASSERT_TRUE(good.Ok()) << good.error;
    ASSERT_EQ(good.sockets.size(), 2u);
    EXPECT_EQ(good.sockets[1].usb_path, "1-1.4");
    EXPECT_EQ(good.sockets[1].label, "A 4");
    struct Bad {
        const char* text;
        int line;
    };
    for (const Bad& bad : {Bad{"1-1.3 = A3\n1-1.4 A4\n", 2}, Bad{"\n\n= A3\n", 3},
                           Bad{"1-1.3 =\n", 1}, Bad{"1-1.3 = A\n1-1.3:1.0 = B\n", 2}}) {
        const Slots_Parse parsed = Parse_Slots(bad.text);
        EXPECT_FALSE(parsed.Ok()) << bad.text;
        EXPECT_EQ(parsed.bad_line, bad.line) << bad.text;
    }

    struct Row {
        Port_Candidate port;
        bool named;
        bool taken;
        Port_Skip skip;
        std::string slot;
    };
    Port_Filter filter;
    filter.match = {*Parse_Usb_Match("1d6b:0104"), *Parse_Usb_Match("0483:*")};
    filter.sockets = good.sockets;
    const Row rows[] = {
        {Listed("/dev/ttyS0", "serial"), false, false, Port_Skip::kNotUsb, ""},
        {Listed("/dev/ttyS0", "serial"), true, true, Port_Skip::kNone, ""},
        {Listed("/dev/pts/3", ""), false, false, Port_Skip::kNotUsb, ""},
        {Listed("/dev/ttyACM0", "cdc_acm", "1d6b:0104", "1-1.3:1.0"), false, true, Port_Skip::kNone,
         "A3"},
        {Listed("/dev/ttyACM1", "cdc_acm", "0483:5740", "1-9:1.2"), false, true, Port_Skip::kNone,
         ""},
        {Listed("/dev/ttyUSB0", "ftdi_sio", "0403:6001", "1-1.4:1.0"), false, false,
         Port_Skip::kNotMatched, "A 4"},
        {Listed("/dev/ttyUSB0", "ftdi_sio", "0403:6001", "1-1.4:1.0"), true, true, Port_Skip::kNone,
         "A 4"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port.device_path + (row.named ? " named" : ""));
        const Port_Verdict verdict = Judge_Port(filter, row.port, row.named);
        EXPECT_EQ(verdict.taken, row.taken);
        EXPECT_EQ(verdict.skip, row.skip);
        EXPECT_EQ(verdict.slot, row.slot);
    }
    // Every USB device where no --match is given; --only-slots narrows it.
    Port_Filter slots_only;
    slots_only.sockets = good.sockets;
    slots_only.only_slots = true;
    EXPECT_TRUE(Judge_Port(slots_only, rows[3].port, false).taken);
    EXPECT_EQ(Judge_Port(slots_only, rows[4].port, false).skip, Port_Skip::kNotInSlots);
    EXPECT_TRUE(Judge_Port(Port_Filter{}, rows[4].port, false).taken);
    EXPECT_EQ(Judge_Port(Port_Filter{}, rows[0].port, false).skip, Port_Skip::kNotUsb);
    // Where the system says nothing of a device, it may be a phone's.
    EXPECT_TRUE(Judge_Port(Port_Filter{}, Listed("COM7", ""), false).taken);
}

}  // namespace

// Each ending a shop meets gets its own sentence, in both languages, that
// says whether the phone still starts as its flash decides: a phone left
// half rewritten is never told it is fine, nor an untouched one that it is lost.
TEST(StationAdvice, EveryEndingSaysWhetherThePhoneStartsAndWhatToDo) {
    using enum Advice;
    struct Row {
        Phone_Ending ending;
        Advice advice;
    };
    const auto failed = [](Download_Step step, bool touched = false) {
        Phone_Ending ending{Download_Outcome::kFailedBeforeProgramming, {.step = step}, touched};
        if (step == Download_Step::kDownloadRegions)
            ending.outcome = Download_Outcome::kProgrammingFailed;
        return ending;
    };
    const auto verdict = [](boot::Compare_Result result, int dump_code = 0) {
        return Phone_Ending{
            Download_Outcome::kFailedBeforeProgramming,
            {.step = Download_Step::kCompare, .dump_code = dump_code, .verdict = result}};
    };
    const Row rows[] = {
        {{Download_Outcome::kUpdated}, kUpdated},
        {{Download_Outcome::kPhoneNotFound, {.step = Download_Step::kSearch}, false, true},
         kNoPhone},
        {{Download_Outcome::kStopped}, kStoppedUnchanged},
        {{Download_Outcome::kStopped, {}, true}, kStoppedAtRisk},
        {{Download_Outcome::kFailedBeforeProgramming,
          {.step = Download_Step::kReadVersion},
          false,
          false,
          true},
         kUnpluggedUnchanged},
        {{Download_Outcome::kProgrammingFailed,
          {.step = Download_Step::kDownloadRegions},
          true,
          false,
          true},
         kUnpluggedAtRisk},
        {failed(Download_Step::kReadVersion), kVersionNotRead},
        {verdict(boot::Compare_Result::kFirstRun, 5), kDumpFailed},
        {verdict(boot::Compare_Result::kFirstRun), kNoRecordInDump},
        {verdict(boot::Compare_Result::kVersionCodeDiffers), kOtherModel},
        {verdict(boot::Compare_Result::kLanguageDiffers), kOtherLanguage},
        {verdict(boot::Compare_Result::kCheckedByteDiffers), kVersionDoesNotFit},
        {verdict(boot::Compare_Result::kGoOn), kCheckFailed},
        {failed(Download_Step::kWriteVersion, true), kRecordNotWritten},
        {failed(Download_Step::kDownloadRegions, true), kProgrammingFailed},
        {failed(Download_Step::kNone), kNotUpdatedUnchanged},
        {failed(Download_Step::kNone, true), kNotUpdatedAtRisk},
    };
    std::set<Advice> seen;
    for (const Row& row : rows) {
        const Advice advice = Advice_For(row.ending);
        EXPECT_EQ(advice, row.advice) << Advice_Name(row.advice);
        seen.insert(advice);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kLast) + 1) << "every advice has its ending";
    std::set<std::string_view> sentences;
    for (int value = 0; value <= static_cast<int>(kLast); ++value) {
        const Advice advice = static_cast<Advice>(value);
        SCOPED_TRACE(Advice_Name(advice));
        const text::Word_Pair words = Advice_Words(advice);
        EXPECT_TRUE(sentences.insert(words.english).second) << "a sentence of its own";
        EXPECT_EQ(words.english.back(), '.');
        EXPECT_EQ(words.chinese.substr(words.chinese.size() - 3), "。");
        const bool starts = Phone_Still_Starts(advice);
        EXPECT_EQ(words.english.find("will not start") == std::string_view::npos, starts);
        EXPECT_EQ(words.chinese.find("無法開機") == std::string_view::npos, starts);
        if (advice != kUpdated && advice != kNoPhone) {
            EXPECT_EQ(words.english.find("still starts") != std::string_view::npos, starts);
            EXPECT_EQ(words.chinese.find("仍可開機") != std::string_view::npos, starts);
        }
    }
}
