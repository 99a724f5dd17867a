// bench_station: a station updating virtual phones that come and go, each
// figure against a reference measured in the same run. Three parts:
//
//   paced    N phones (16) paced at 115200 baud plugged in at once: wall time
//            from the plug to the last phone finished, against one phone
//            alone with the same image; the station's CPU (this process,
//            getrusage) per phone, the phones' own CPU beside it.
//   arrival  phones plugged in one after another (50): the time from a
//            phone's link appearing to the first byte the phone gets from the
//            host, both from the phone's own log, p50 and p95; against a bare
//            listener of the link's directory that opens the port and writes
//            one byte as soon as the link appears.
//   idle     a station with no phone for --idle-seconds (60): its CPU share of
//            a core, against a bare port watcher with the same ports for the
//            same time.
//
//   bench_station [--part paced|arrival|idle|all] [--phones N] [--image-kib K]
//                 [--rounds N] [--arrivals N] [--idle-seconds S] [--journal]
//
// The paced part runs one phone alone and all of them at once in turns,
// --rounds times (3), and takes the medians. With --journal each round also
// runs all of them at once with a journal following the station (a SQLite
// file in the run's folder), and the journal's cost is their ratio.
//
// Prints one Markdown table (bench/update/result_table.h). A missed goal is
// reported, never failed; the exit status is 1 only when a run itself failed
// (a phone not updated, a flash that differs from the image).
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/update/result_table.h"
#include "download/image_loader.h"
#include "journal/journal_observers.h"
#include "journal/journal_store.h"
#include "journal/journal_writer.h"
#include "serial/port_event_queue.h"
#include "serial/port_watcher.h"
#include "station/station.h"
#include "tests/support/image_builder.h"
#include "tests/support/phone_rack.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_directory.h"

namespace {

using bench::Load_Average;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using test_support::Phone_Rack;

// The phone already holds a record one number lower than the image's: the
// version check passes without the first-run dump of the boot loader.
constexpr const char* kPhoneRecord = "CVLbootloaderVC_M418ZHTWA00100";
constexpr const char* kImageVersion = "CVLbootloaderVC_M418ZHTWA00101";
constexpr double kWallGoal = 1.05;
// The journal on against off, same phones and round: writing never holds up a transfer.
constexpr double kJournalGoal = 1.01;
constexpr double kCpuPerPhoneGoalPercent = 2.0;
constexpr double kArrivalGoalMs = 250;
constexpr double kIdleGoalPercent = 0.1;
// Generous limits on a run, so that a hung one ends the benchmark.
constexpr milliseconds kSessionLimit{10000};

struct Options {
    std::string part = "all";
    int phones = 16;
    int image_kib = 64;
    int arrivals = 50;
    int idle_seconds = 60;
    int rounds = 3;        // of the paced part: one alone and all at once, in turns
    bool journal = false;  // the paced part also with a journal: on against off
};

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double Process_Cpu_Seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()))];
}

std::string Format(const char* format, double a, double b = 0) {
    char text[512];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// The image: kib KiB in its two regions, three quarters in the first, loaded
// once and shared by every session.
struct Loaded_Image {
    test_support::Image_Builder built;
    std::shared_ptr<Firmware_Image> image = std::make_shared<Firmware_Image>();
    bool loaded = false;

    explicit Loaded_Image(int kib) {
        const std::size_t bytes = static_cast<std::size_t>(kib) * 1024;
        built.version_text = test_support::Bytes(kImageVersion);
        built.first.start = 0x00010000;
        built.first.data = test_support::Random_Bytes(bytes - bytes / 4, 31);
        built.second.start = 0x02000000;
        built.second.data = test_support::Random_Bytes(bytes / 4, 32);
        test_support::Temp_Image_File file(built.Build());
        Recording_View loader;
        loader.file_name = file.Path();
        loaded = file.Ok() && Parse_File(*image, loader, loader, Language::kEnglish) ==
                                  Image_Load_Result::kLoaded;
    }
    // Whether the phone's flash file holds exactly the image's regions.
    bool Matches(const std::string& flash_path) const {
        const auto regions = Read_Flash_File(flash_path);
        return regions && regions->size() == 2 && (*regions)[0].start == built.first.start &&
               (*regions)[0].bytes == built.first.data &&
               (*regions)[1].start == built.second.start &&
               (*regions)[1].bytes == built.second.data;
    }
};

// What a station's sink saw: when each phone finished, and how.
class Station_Record {
  public:
    Station::Sink Sink() {
        return [this](const Station_Event& event) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (event.kind == Station_Event::Kind::kFinished) {
                ++m_finished;
                m_last_finished = Clock::now();
                if (event.outcome == Download_Outcome::kUpdated)
                    ++m_updated;
            }
            m_changed.notify_all();
        };
    }
    bool Wait_Finished(int count, milliseconds limit) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_finished >= count; });
    }
    int Updated() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_updated;
    }
    Clock::time_point Last_Finished() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_last_finished;
    }

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_finished = 0;
    int m_updated = 0;
    Clock::time_point m_last_finished{};
};

Station_Options Named_Ports(std::vector<std::string> links, int count) {
    Station_Options options;
    options.named_ports = std::move(links);
    options.system_ports = false;
    options.count = count;
    options.language = Language::kEnglish;
    return options;
}

// One run of the paced part: `phones` phones plugged in at once.
struct Paced_Run {
    bool ok = false;
    double wall_s = 0;
    double station_cpu_s = 0;
    double phones_cpu_s = 0;
    std::string failure;
};

Paced_Run Run_Paced(const Loaded_Image& image, int phones, bool journal = false) {
    Paced_Run run;
    test_support::Temp_Directory folder("bench-station");
    // The journal as the station command keeps it: its writer thread and the
    // station's observer, the file in the run's folder.
    std::optional<Journal_Writer> writer;
    std::optional<Station_Journal> journal_observer;
    if (journal) {
        Journal_Store::Opened opened = Journal_Store::Open(folder.File("journal.sqlite"));
        if (!opened.store) {
            run.failure = "the journal did not open: " + opened.problem;
            return run;
        }
        writer.emplace(std::move(opened.store), [](const std::string&) {});
        journal_observer.emplace(*writer, Journal_Context{});
    }
    Phone_Rack rack(folder.Path());
    std::vector<int> all;
    for (int i = 0; i < phones; ++i) {
        const int number = rack.Add({"phone-" + std::to_string(i)},
                                    {"--record-text", kPhoneRecord, "--baud", "115200"});
        if (number < 0) {
            run.failure = "a virtual phone did not start";
            return run;
        }
        all.push_back(number);
    }
    Station_Record record;
    Station station(image.image, Named_Ports(rack.All_Links(), phones), record.Sink());
    if (journal_observer)
        station.Add_Observer(&*journal_observer);
    if (!station.Start()) {
        run.failure = "the station did not start";
        return run;
    }
    std::vector<double> phone_cpu_before;
    for (int i = 0; i < phones; ++i)
        phone_cpu_before.push_back(rack.Process(i).cpu_seconds());
    const double cpu_before = Process_Cpu_Seconds();
    const auto plugged = Clock::now();
    if (!rack.Plug(all)) {
        run.failure = "a phone did not plug in";
        return run;
    }
    const milliseconds limit =
        kSessionLimit + milliseconds(static_cast<long>(image.built.first.data.size() +
                                                       image.built.second.data.size()) /
                                     10);  // 10 ms per KiB on top: 11 KiB/s at 115200 baud
    const bool finished = record.Wait_Finished(phones, limit);
    run.station_cpu_s = Process_Cpu_Seconds() - cpu_before;
    run.wall_s = Seconds(record.Last_Finished() - plugged);
    for (int i = 0; i < phones; ++i)
        run.phones_cpu_s += rack.Process(i).cpu_seconds() - phone_cpu_before[i];
    station.Wait_Until_Done(kSessionLimit);
    rack.Stop();  // the phones' files are complete once they have ended
    if (writer) {
        writer->Flush();
        if (writer->Failures() > 0) {
            run.failure = "the journal lost records";
            return run;
        }
    }
    if (!finished || record.Updated() != phones) {
        run.failure =
            std::to_string(record.Updated()) + " of " + std::to_string(phones) + " phones updated";
        return run;
    }
    for (int i = 0; i < phones; ++i) {
        if (!image.Matches(rack.Files(i).flash)) {
            run.failure = "phone " + std::to_string(i) + "'s flash differs from the image";
            return run;
        }
    }
    run.ok = true;
    return run;
}

double Median(std::vector<double> values) {
    return Percentile(std::move(values), 0.5);
}

void Bench_Paced(const Options& options, bench::Result_Table& table) {
    const Loaded_Image image(options.image_kib);
    const std::string name = std::to_string(options.phones) + " phones paced at 115200 baud " +
                             "plugged in at once, " + std::to_string(options.image_kib) +
                             " KiB image: plug to the last one finished (Station)";
    if (!image.loaded) {
        table.Add({name, "FAILED: the image did not load", "", "", "", std::nullopt});
        return;
    }
    // In turns, so that a change of the machine's load weighs on both.
    std::vector<double> alone_wall, many_wall, alone_cpu, many_cpu, phones_cpu, journal_wall;
    std::string all_rounds;
    for (int round = 0; round < options.rounds; ++round) {
        std::fprintf(stderr, "bench_station: paced round %d, one alone then %d at once (load %s)\n",
                     round + 1, options.phones, Load_Average().c_str());
        const Paced_Run alone = Run_Paced(image, 1);
        const Paced_Run many = Run_Paced(image, options.phones);
        if (!alone.ok || !many.ok) {
            table.Add({name, "FAILED: " + (alone.ok ? many.failure : alone.failure), "", "", "",
                       std::nullopt});
            return;
        }
        if (options.journal) {
            const Paced_Run journaled = Run_Paced(image, options.phones, true);
            if (!journaled.ok) {
                table.Add({name, "FAILED: " + journaled.failure, "", "", "", std::nullopt});
                return;
            }
            journal_wall.push_back(journaled.wall_s);
        }
        alone_wall.push_back(alone.wall_s);
        many_wall.push_back(many.wall_s);
        alone_cpu.push_back(100.0 * alone.station_cpu_s / alone.wall_s);
        many_cpu.push_back(100.0 * many.station_cpu_s / many.wall_s / options.phones);
        phones_cpu.push_back(100.0 * many.phones_cpu_s / many.wall_s / options.phones);
        all_rounds += Format(" %.2f / %.2f s;", many.wall_s, alone.wall_s);
    }
    const double many_s = Median(many_wall), alone_s = Median(alone_wall);
    const double ratio = many_s / alone_s;
    table.Add({name, Format("%.2f s", many_s),
               Format("one phone alone, same image: %.2f s", alone_s), Format("%.3f", ratio),
               "<= 1.05", ratio <= kWallGoal});
    if (options.journal) {
        const double journal_s = Median(journal_wall);
        table.Add({std::to_string(options.phones) +
                       " phones paced at once with the journal (SQLite, WAL, synchronous=FULL)",
                   Format("%.2f s", journal_s), Format("journal off, same round: %.2f s", many_s),
                   Format("%.3f", journal_s / many_s), "<= 1.01",
                   journal_s / many_s <= kJournalGoal});
    }
    const double per_phone = Median(many_cpu), alone_percent = Median(alone_cpu);
    table.Add({"station's CPU per phone while " + std::to_string(options.phones) +
                   " update (this process, getrusage)",
               Format("%.3f %% of a core", per_phone),
               Format("one phone alone: %.3f %% of a core", alone_percent),
               Format("%.2f", alone_percent > 0 ? per_phone / alone_percent : 0), "<= 2 %",
               per_phone <= kCpuPerPhoneGoalPercent});
    const double wire_s = static_cast<double>(options.image_kib) * 1024 * 10 / 115200;
    table.Note("Paced: medians of " + std::to_string(options.rounds) +
               " rounds in turns (all at once / alone:" + all_rounds + ")" +
               Format("; the image's bytes alone take %.2f s on the wire. The virtual phones' "
                      "own CPU, each: %.2f %% of a core. Each phone's flash was compared with "
                      "the image.",
                      wire_s, Median(phones_cpu)));
}

// The phone's log lines "plugged-in ... us=T" and "first-host-byte ... us=T",
// paired: the time from each plug-in to the first byte after it, in ms.
std::vector<double> Plug_To_First_Byte_Ms(const std::string& log) {
    std::vector<double> times;
    long long plugged = -1;  // none since the last first byte
    for (const std::string& line : Read_Log_Lines(log)) {
        const auto space = line.find(' ');
        const auto stamp = line.rfind(" us=");
        if (space == std::string::npos || stamp == std::string::npos)
            continue;
        const long long us = std::atoll(line.c_str() + stamp + 4);
        const std::string event = line.substr(space + 1);
        if (event.rfind("plugged-in ", 0) == 0) {
            plugged = us;
        } else if (event.rfind("first-host-byte", 0) == 0 && plugged >= 0) {
            times.push_back(static_cast<double>(us - plugged) / 1000.0);
            plugged = -1;
        }
    }
    return times;
}

int Count_Log(const std::string& log, const std::string& text) {
    int count = 0;
    for (const std::string& line : Read_Log_Lines(log))
        count += line.find(text) != std::string::npos;
    return count;
}

// The reference: one phone plugged in `arrivals` times under one link; a
// thread waits on the link's directory and, as soon as the link appears,
// opens it and writes one byte, as a listener with nothing else to do would.
std::vector<double> Bare_Listener_Arrivals(int arrivals) {
    test_support::Temp_Directory folder("bench-arrival-bare");
    Phone_Rack rack(folder.Path());
    if (rack.Add({"phone"}) != 0)
        return {};
    const int watch = inotify_init1(IN_CLOEXEC);
    int wake[2];
    if (watch < 0 || pipe2(wake, O_CLOEXEC) != 0)
        return {};
    inotify_add_watch(watch, folder.Path().c_str(), IN_CREATE);
    const std::string link = folder.File("phone");
    std::thread listener([&] {
        for (;;) {
            pollfd fds[2] = {{watch, POLLIN, 0}, {wake[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0)
                return;
            alignas(inotify_event) char buffer[4096];
            if (read(watch, buffer, sizeof buffer) <= 0)
                continue;
            const int port = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (port >= 0) {
                const std::uint8_t sync = 0x58;
                [[maybe_unused]] const ssize_t written = write(port, &sync, 1);
                close(port);
            }
        }
    });
    const std::string& log = rack.Files(0).log;
    for (int i = 0; i < arrivals; ++i) {
        if (!rack.Plug(0))
            break;
        const auto deadline = Clock::now() + kSessionLimit;
        while (Count_Log(log, "first-host-byte") <= i && Clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(2));
        rack.Unplug(0);
    }
    const char stop = 1;
    [[maybe_unused]] const ssize_t written = write(wake[1], &stop, 1);
    listener.join();
    close(watch);
    close(wake[0]);
    close(wake[1]);
    rack.Stop();
    return Plug_To_First_Byte_Ms(log);
}

void Bench_Arrival(const Options& options, bench::Result_Table& table) {
    std::fprintf(stderr, "bench_station: %d arrivals, bare listener (load %s)\n", options.arrivals,
                 Load_Average().c_str());
    const std::vector<double> bare = Bare_Listener_Arrivals(options.arrivals);
    std::fprintf(stderr, "bench_station: %d arrivals, station (load %s)\n", options.arrivals,
                 Load_Average().c_str());
    const Loaded_Image image(4);
    const std::string name = "arrival to the first handshake byte, p50 / p95 over " +
                             std::to_string(options.arrivals) +
                             " phones plugged in one after another (Station, named links)";
    test_support::Temp_Directory folder("bench-arrival");
    Phone_Rack rack(folder.Path());
    for (int i = 0; i < options.arrivals; ++i) {
        if (rack.Add({"arrival-" + std::to_string(i)}, {"--record-text", kPhoneRecord}) < 0) {
            table.Add({name, "FAILED: a virtual phone did not start", "", "", "", std::nullopt});
            return;
        }
    }
    Station_Record record;
    Station station(image.image, Named_Ports(rack.All_Links(), options.arrivals), record.Sink());
    if (!image.loaded || !station.Start()) {
        table.Add({name, "FAILED: the station did not start", "", "", "", std::nullopt});
        return;
    }
    // Each phone is left alone until its session ended, then pulled.
    int finished = 0;
    for (int i = 0; i < options.arrivals; ++i) {
        if (!rack.Plug(i) || !record.Wait_Finished(i + 1, kSessionLimit))
            break;
        rack.Unplug(i);
        ++finished;
    }
    station.Wait_Until_Done(kSessionLimit);
    rack.Stop();
    std::vector<double> times;
    for (int i = 0; i < finished; ++i) {
        for (const double ms : Plug_To_First_Byte_Ms(rack.Files(i).log))
            times.push_back(ms);
    }
    if (finished != options.arrivals || record.Updated() != options.arrivals ||
        static_cast<int>(times.size()) != options.arrivals ||
        static_cast<int>(bare.size()) != options.arrivals) {
        table.Add({name,
                   "FAILED: " + std::to_string(record.Updated()) + " updated, " +
                       std::to_string(times.size()) + " first bytes, " +
                       std::to_string(bare.size()) + " for the bare listener",
                   "", "", "", std::nullopt});
        return;
    }
    const double p50 = Percentile(times, 0.5), p95 = Percentile(times, 0.95);
    const double bare50 = Percentile(bare, 0.5), bare95 = Percentile(bare, 0.95);
    table.Add(
        {name, Format("%.1f / %.1f ms", p50, p95),
         Format("bare listener that opens and writes at once: %.2f / %.2f ms", bare50, bare95),
         bare50 > 0 && bare95 > 0 ? Format("%.0f / %.0f", p50 / bare50, p95 / bare95)
                                  : std::string("n/a (reference 0)"),
         "p95 <= 250 ms", p95 <= kArrivalGoalMs});
    table.Note(
        Format("Arrival times are the phone's own log (microseconds): its link made, then "
               "the host's first byte; largest %.1f ms, bare listener's largest %.2f ms.",
               Percentile(times, 1.0), Percentile(bare, 1.0)));
}

double Idle_Percent(int seconds, const std::function<void()>& settle) {
    settle();
    const double before = Process_Cpu_Seconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 100.0 * (Process_Cpu_Seconds() - before) / Seconds(Clock::now() - start);
}

void Bench_Idle(const Options& options, bench::Result_Table& table) {
    test_support::Temp_Directory folder("bench-idle");
    const std::vector<std::string> named = {folder.File("never")};
    // The first look and the udev settling out of the way before measuring.
    const auto settle = [] { std::this_thread::sleep_for(kUdevSettleLimit); };
    std::fprintf(stderr, "bench_station: idle port watcher, %d s (load %s)\n", options.idle_seconds,
                 Load_Average().c_str());
    double watcher_percent = 0;
    {
        Port_Event_Queue events;
        Port_Watcher watcher({.named_ports = named, .system_ports = true});
        if (!watcher.Start(events.Sink())) {
            table.Add({"idle", "FAILED: the port watcher did not start", "", "", "", std::nullopt});
            return;
        }
        watcher_percent = Idle_Percent(options.idle_seconds, settle);
    }
    std::fprintf(stderr, "bench_station: idle station, %d s (load %s)\n", options.idle_seconds,
                 Load_Average().c_str());
    const Loaded_Image image(4);
    Station_Record record;
    Station_Options station_options;
    station_options.named_ports = named;
    station_options.system_ports = true;
    Station station(image.image, station_options, record.Sink());
    if (!image.loaded || !station.Start()) {
        table.Add({"idle", "FAILED: the station did not start", "", "", "", std::nullopt});
        return;
    }
    const double station_percent = Idle_Percent(options.idle_seconds, settle);
    station.Stop();
    station.Wait_Until_Done(kSessionLimit);
    table.Add({"idle station waiting for phones, " + std::to_string(options.idle_seconds) +
                   " s (the system's ports and one named port that never appears)",
               Format("%.4f %% of a core", station_percent),
               Format("bare port watcher, same ports and time: %.4f %% of a core", watcher_percent),
               watcher_percent > 0 ? Format("%.2f", station_percent / watcher_percent)
                                   : std::string("n/a (reference 0)"),
               "< 0.1 %", station_percent < kIdleGoalPercent});
}

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--part" && has_value)
            options.part = argv[++i];
        else if (arg == "--phones" && has_value)
            options.phones = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--image-kib" && has_value)
            options.image_kib = std::max(4, std::atoi(argv[++i]));
        else if (arg == "--arrivals" && has_value)
            options.arrivals = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--rounds" && has_value)
            options.rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--idle-seconds" && has_value)
            options.idle_seconds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--journal")
            options.journal = true;
        else {
            std::fprintf(stderr,
                         "usage: bench_station [--part paced|arrival|idle|all] [--phones N] "
                         "[--image-kib K] [--rounds N] [--arrivals N] [--idle-seconds S] "
                         "[--journal]\n");
            std::exit(2);
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    const std::string load_before = Load_Average();
    bench::Result_Table table;
    const bool all = options.part == "all";
    if (all || options.part == "paced")
        Bench_Paced(options, table);
    if (all || options.part == "arrival")
        Bench_Arrival(options, table);
    if (all || options.part == "idle")
        Bench_Idle(options, table);
    table.Note("Load average (1, 5, 15 min) before: " + load_before + "; after: " + Load_Average() +
               ".");
    table.Print(stdout);
    return table.Any_Failed() ? 1 : 0;
}
