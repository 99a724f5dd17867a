// The station's soak: runs of eight in-process phones plugged in at once, one
// of them meeting a random fault (unplugged in the middle of a block, a block
// refused, a phone that never answers, a block asked for again). After every
// run each of the other seven must be updated with every byte of the image,
// and the faulty one must end as its fault says. The reference: the same
// eight phones updated one after another on one thread, without a station.
//
//   bench_station_soak [--runs N] [--seed S]
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "bootloader/comport.h"
#include "download/image_loader.h"
#include "download/phone_update.h"
#include "station/station.h"
#include "station/station_view.h"
#include "tests/support/image_builder.h"
#include "tests/support/phone_backend.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_directory.h"

namespace {

using Clock = std::chrono::steady_clock;
using test_support::Random_Bytes;

constexpr int kPhones = 8;
constexpr std::uint32_t kFirstLength = 70000;  // three blocks
constexpr std::uint32_t kSecondLength = 5000;  // one
constexpr int kBlocks = 4;
constexpr std::string_view kImageText = "CVLbootloaderVC_M418ZHTWA00101";
constexpr std::string_view kPhoneTail = "M418ZHTWA00100";
constexpr auto kRunLimit = std::chrono::seconds(60);

enum class Fault { kUnplugMidBlock, kRefusedBlock, kSilentPhone, kAskAgain };
constexpr const char* kFaultNames[] = {"unplug mid-block", "refused block", "silent phone",
                                       "ask again"};

vphone::Phone_Config Phone_With(std::optional<Fault> fault, std::mt19937& random) {
    vphone::Phone_Config config = vphone::Default_Config();
    config.original_record_tail.fill(0);
    std::copy(kPhoneTail.begin(), kPhoneTail.end(), config.original_record_tail.begin());
    if (!fault)
        return config;
    vphone::Fault_Rule rule;
    const auto block = static_cast<std::uint32_t>(random() % kBlocks + 1);
    switch (*fault) {
        case Fault::kUnplugMidBlock:
            rule = {vphone::Exchange::block, vphone::Fault_Kind::hang_up, {}, block, block};
            break;
        case Fault::kRefusedBlock:
            rule = {vphone::Exchange::block, vphone::Fault_Kind::refuse, {}, block, block};
            break;
        case Fault::kSilentPhone:
            rule = {vphone::Exchange::sync_echo, vphone::Fault_Kind::silent, {}, 1, UINT32_MAX};
            break;
        case Fault::kAskAgain:
            rule = {vphone::Exchange::block, vphone::Fault_Kind::ask_again,
                    static_cast<std::uint32_t>(random() % 3 + 1), block, block};
            break;
    }
    config.faults.push_back(rule);
    return config;
}

Download_Outcome Expected_Outcome(Fault fault) {
    switch (fault) {
        case Fault::kUnplugMidBlock:
        case Fault::kRefusedBlock:
            return Download_Outcome::kProgrammingFailed;
        case Fault::kSilentPhone:
            return Download_Outcome::kPhoneNotFound;
        case Fault::kAskAgain:
            return Download_Outcome::kUpdated;
    }
    return Download_Outcome::kUpdated;
}

struct Soak_Phone {
    Soak_Phone(vphone::Phone_Config config, const std::string& path)
        : model(std::move(config)), line(model, path) {}
    vphone::Phone_Model model;
    Simulated_Phone_Line line;
    bool Holds_The_Image() const {
        const auto& flash = model.flash();
        return flash.size() == 2 && flash[0].bytes == Random_Bytes(kFirstLength, 11) &&
               flash[1].bytes == Random_Bytes(kSecondLength, 12);
    }
};

std::shared_ptr<const Firmware_Image> Load_Image() {
    test_support::Image_Builder builder;
    builder.version_text = test_support::Bytes(kImageText);
    builder.first.start = 0x00010000;
    builder.first.data = Random_Bytes(kFirstLength, 11);
    builder.second.start = 0x00200000;
    builder.second.data = Random_Bytes(kSecondLength, 12);
    test_support::Temp_Image_File file(builder.Build());
    auto image = std::make_shared<Firmware_Image>();
    Recording_View loader;
    loader.file_name = file.Path();
    if (Parse_File(*image, loader, loader) != Image_Load_Result::kLoaded)
        return nullptr;
    return image;
}

struct Run_Result {
    int others_wrong = 0;  // another phone's outcome or bytes not as they should be
    bool faulty_as_expected = true;
    bool ended = true;
};

// One station run: eight links appear at once, the station updates them and
// ends once none is left running (a silent phone is no phone of the count:
// one handshake, then the station is idle).
Run_Result Station_Run(const std::shared_ptr<const Firmware_Image>& image,
                       const std::filesystem::path& ports, Fault fault, int faulty,
                       std::mt19937& random) {
    std::map<std::string, std::unique_ptr<Soak_Phone>> phones;
    std::vector<std::string> paths;
    for (int i = 0; i < kPhones; ++i) {
        const std::string path = (ports / ("phone" + std::to_string(i))).string();
        paths.push_back(path);
        phones[path] = std::make_unique<Soak_Phone>(
            Phone_With(i == faulty ? std::optional<Fault>(fault) : std::nullopt, random), path);
    }
    std::mutex mutex;
    std::map<std::string, Download_Outcome> outcomes;
    Station_Options options;
    options.named_ports = paths;
    options.system_ports = false;
    options.handshake_timeout = std::chrono::milliseconds(1);
    options.idle_timeout = std::chrono::milliseconds(200);
    options.make_port = [&](const Port_Candidate& port) -> std::unique_ptr<CComport> {
        const auto found = phones.find(port.device_path);
        if (found == phones.end())
            return nullptr;
        return std::make_unique<CComport>(found->second->line.make_backend(),
                                          Make_Fixed_Port_Lister({}));
    };
    for (const std::string& path : paths)
        ::symlink("/dev/null", path.c_str());
    Run_Result result;
    {
        Station station(image, options, [&](const Station_Event& event) {
            if (event.kind != Station_Event::Kind::kFinished)
                return;
            const std::lock_guard<std::mutex> lock(mutex);
            outcomes[event.port.device_path] = event.outcome;
        });
        if (!station.Start() || !station.Wait_Until_Done(kRunLimit)) {
            result.ended = false;
            station.Stop();
        }
    }
    for (const std::string& path : paths)
        ::unlink(path.c_str());
    for (int i = 0; i < kPhones; ++i) {
        const auto outcome = outcomes.find(paths[i]);
        const bool finished = outcome != outcomes.end();
        if (i == faulty) {
            result.faulty_as_expected = finished && outcome->second == Expected_Outcome(fault);
            continue;
        }
        if (!finished || outcome->second != Download_Outcome::kUpdated ||
            !phones[paths[i]]->Holds_The_Image())
            ++result.others_wrong;
    }
    return result;
}

// The reference: eight good phones updated one after another on this thread.
bool Sequential_Run(const Firmware_Image& image, std::mt19937& random) {
    bool all = true;
    for (int i = 0; i < kPhones; ++i) {
        const std::string path = "/dev/ttySOAK" + std::to_string(i);
        Soak_Phone phone(Phone_With(std::nullopt, random), path);
        CComport port(phone.line.make_backend(), Make_Fixed_Port_Lister({}));
        Station_View view(Language::kEnglish, {});
        Phone_Update update(port, view, image);
        all = update.Update_On({path, path, 0, {}}) == Download_Outcome::kUpdated &&
              phone.Holds_The_Image() && all;
    }
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 1000;
    unsigned seed = 20261209;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--seed S]\n", argv[0]);
            return 2;
        }
    }
    if (runs < 1)
        runs = 1;
    test_support::Runtime_Directory dumps("flashtool-soak-run");
    test_support::Temp_Directory ports("flashtool-soak-ports");
    const std::shared_ptr<const Firmware_Image> image = Load_Image();
    if (!image) {
        std::fprintf(stderr, "the soak's image did not load\n");
        return 1;
    }
    std::mt19937 random(seed);

    int others_wrong = 0;
    int runs_with_others_wrong = 0;
    int faulty_unexpected = 0;
    int not_ended = 0;
    int by_fault[4] = {};
    const auto start = Clock::now();
    for (int run = 0; run < runs; ++run) {
        const auto fault = static_cast<Fault>(random() % 4);
        const int faulty = static_cast<int>(random() % kPhones);
        ++by_fault[static_cast<int>(fault)];
        const Run_Result result = Station_Run(image, ports.Path(), fault, faulty, random);
        others_wrong += result.others_wrong;
        runs_with_others_wrong += result.others_wrong > 0 ? 1 : 0;
        faulty_unexpected += result.faulty_as_expected ? 0 : 1;
        not_ended += result.ended ? 0 : 1;
    }
    const double station_seconds = std::chrono::duration<double>(Clock::now() - start).count();

    // The reference over as many runs, capped so that it stays a small part.
    const int reference_runs = std::min(runs, 100);
    const auto reference_start = Clock::now();
    int reference_failed = 0;
    for (int run = 0; run < reference_runs; ++run)
        reference_failed += Sequential_Run(*image, random) ? 0 : 1;
    const double reference_seconds =
        std::chrono::duration<double>(Clock::now() - reference_start).count();
    const double per_station_run = station_seconds / runs;
    const double per_reference_run = reference_seconds / reference_runs;

    std::printf(
        "station soak: %d runs of %d in-process phones, one with a random fault (seed %u)\n", runs,
        kPhones, seed);
    for (int f = 0; f < 4; ++f)
        std::printf("  %-17s %d runs\n", kFaultNames[f], by_fault[f]);
    std::printf(
        "  other phones not updated or not holding every byte: %d (in %d runs; must be 0)\n",
        others_wrong, runs_with_others_wrong);
    std::printf("  faulty phone not ending as its fault says: %d\n", faulty_unexpected);
    std::printf("  stations that did not end by their count within %lld s: %d\n",
                static_cast<long long>(kRunLimit.count()), not_ended);
    std::printf(
        "  time: %.2f s, %.1f ms a run; reference (8 phones one after another, no "
        "station): %.1f ms a run over %d runs; ratio %.2f\n",
        station_seconds, per_station_run * 1000, per_reference_run * 1000, reference_runs,
        per_station_run / per_reference_run);
    if (reference_failed != 0)
        std::printf("  reference runs with a phone not updated: %d\n", reference_failed);
    const bool sound =
        others_wrong == 0 && faulty_unexpected == 0 && not_ended == 0 && reference_failed == 0;
    return sound ? 0 : 1;
}
