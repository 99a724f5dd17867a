// bench_window: the window program's start-up and memory, each against a
// reference measured in the same run, on a real X display (scripts/bench runs
// it under Xvfb):
//   - start-up to the first paint of the main window (the program's own
//     start-up: application object, Form1, Form2, show), against the same
//     for a bare Qt window of the same size: the toolkit's own floor;
//   - peak resident memory of the window while it updates a 16 MiB image
//     through the virtual phone, against the window's peak when it only
//     starts and paints, and against the limit 1.2 x image + 80 MiB;
//   - the largest gap between ticks of a 20 ms timer on the window's thread
//     during a first-run update paced at 115200 baud, with a dump block that
//     comes 15 s late and a final answer that comes 30 s late, against the
//     goal of 100 ms.
// Each measurement runs in a fresh child process (this program re-executed
// with a role argument), so that every start-up is a cold start of Qt and
// every peak belongs to one run alone.
//
//   bench_window [--rounds N]                  the table, as Markdown
//   bench_window --event-loop-gap              that row alone (about 50 s)
//   bench_window first-paint form|bare         (child) prints the ms to first paint
//   bench_window update IMAGE DEVICE           (child) prints its outcome and peak
//   bench_window event-loop-gap IMAGE DEVICE   (child) prints the largest gap
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/form2.h"
#include "bench/update/bench_process.h"
#include "bench/update/result_table.h"
#include "serial/port_list.h"
#include "tests/support/image_builder.h"
#include "tests/support/virtual_phone_process.h"

namespace {

constexpr const char* kSpawnVariable = "BENCH_WINDOW_SPAWN_NS";
constexpr const char* kPhoneRecord = "CVLbootloaderVC_M418ZHTWA00100";
constexpr const char* kImageVersion = "CVLbootloaderVC_M418ZHTWA00101";
constexpr std::size_t kMiB = 1024 * 1024;

long long Monotonic_Ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

// The process's own peak resident set, in KiB, as the kernel keeps it.
long Peak_Rss_Kib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

// Runs an action once the window has painted for the first time and the event
// loop is back (the window's pixels have then been handed to the X server).
class After_First_Paint : public QObject {
  public:
    explicit After_First_Paint(std::function<void()> action) : m_action(std::move(action)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, m_action);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> m_action;
    bool m_seen = false;
};

int Child_First_Paint(int argc, char** argv, bool bare) {
    const char* spawn = std::getenv(kSpawnVariable);
    const long long spawn_ns = spawn ? std::atoll(spawn) : Monotonic_Ns();
    QApplication application(argc, argv);
    // The time from the moment the parent forked this process; the main
    // window's close handler ends the process itself, so leave without it.
    After_First_Paint watch([spawn_ns] {
        const double ms = static_cast<double>(Monotonic_Ns() - spawn_ns) / 1e6;
        std::printf("first-paint-ms %.3f\n", ms);
        std::fflush(stdout);
        _exit(0);
    });
    if (bare) {
        QWidget window;
        window.resize(760, 560);
        QLabel label(QStringLiteral("flashtool"), &window);
        window.installEventFilter(&watch);
        window.show();
        return application.exec();
    }
    // As the program starts: title, main window, hidden version window, show.
    QApplication::setApplicationName(QStringLiteral("Vantrel Tool"));
    TForm1 form1;
    TForm2 form2;
    form1.Set_Version_Window(&form2);
    form1.installEventFilter(&watch);
    form1.show();
    return application.exec();
}

int Child_Update(int argc, char** argv, const std::string& image, const std::string& device) {
    QApplication application(argc, argv);
    TForm1 form1;
    TForm2 form2;
    form1.Set_Version_Window(&form2);
    // The user's choices, made without dialogs: the image file, the phone's
    // port, and the completion box answered at once.
    form1.OpenDialog1().Set_Show_Function(
        [&](const QString&) { return std::optional<QString>(QString::fromStdString(image)); });
    form1.Comport().Set_Port_Lister(Make_Fixed_Port_Lister({device}));
    // The update runs on its own thread: the peak is read when the
    // completion box comes, or when the buttons come back without it.
    const auto report = [](const char* outcome) {
        std::printf("%s\npeak-kib %ld\n", outcome, Peak_Rss_Kib());
        std::fflush(stdout);
        _exit(0);
    };
    form1.Set_Message_Box(
        [&](const QString& text) { report(("box " + text.toStdString()).c_str()); });
    auto* download = form1.findChild<QPushButton*>(QStringLiteral("Download"));
    bool buttons_were_disabled = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        buttons_were_disabled = buttons_were_disabled || !download->isEnabled();
        if (buttons_were_disabled && download->isEnabled())
            report("no-box");
    });
    // Idle: the peak once the window has painted. Update: the click as soon
    // as the loop runs; the window repaints during the update.
    After_First_Paint after_paint([&] { report("idle"); });
    if (image.empty()) {
        form1.installEventFilter(&after_paint);
    } else {
        QTimer::singleShot(0, [&] {
            watch.start(20);
            form1.DownloadClick();
        });
    }
    form1.show();
    return application.exec();
}

// The window's event loop during a slow update: a 20 ms timer on its thread
// and the largest time between two of its ticks, from the click on Download
// to the completion box (the box's own moment counts as a tick, so a freeze
// just before it is not missed). Only the window's public seams are used.
int Child_Event_Loop_Gap(int argc, char** argv, const std::string& image,
                         const std::string& device) {
    using Clock = std::chrono::steady_clock;
    QApplication application(argc, argv);
    TForm1 form1;
    TForm2 form2;
    form1.Set_Version_Window(&form2);
    form1.OpenDialog1().Set_Show_Function(
        [&](const QString&) { return std::optional<QString>(QString::fromStdString(image)); });
    form1.Comport().Set_Port_Lister(Make_Fixed_Port_Lister({device}));
    auto* download = form1.findChild<QPushButton*>(QStringLiteral("Download"));

    Clock::time_point started, last;
    double largest_ms = 0;
    long ticks = 0;
    bool buttons_were_disabled = false;
    const auto tick = [&] {
        const Clock::time_point now = Clock::now();
        largest_ms =
            std::max(largest_ms, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        ++ticks;
    };
    const auto seconds = [&] {
        return std::chrono::duration<double>(Clock::now() - started).count();
    };
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(20);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        tick();
        // The buttons come back without a box: the update failed.
        buttons_were_disabled = buttons_were_disabled || !download->isEnabled();
        if (buttons_were_disabled && download->isEnabled()) {
            std::printf("no-box\nseconds %.2f\nmessages:\n%s\n", seconds(),
                        form1.Memo_Text().c_str());
            std::fflush(stdout);
            _exit(1);
        }
    });
    form1.Set_Message_Box([&](const QString& text) {
        tick();
        std::printf("box %s\nlargest-gap-ms %.1f\nticks %ld\nseconds %.2f\n",
                    text.toStdString().c_str(), largest_ms, ticks, seconds());
        std::fflush(stdout);
        _exit(0);
    });
    QTimer::singleShot(0, [&] {
        started = last = Clock::now();
        ticker.start();
        form1.DownloadClick();
    });
    form1.show();
    return application.exec();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string Self_Path() {
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "";
}

double Value_After(const std::string& out, const std::string& key) {
    const std::size_t at = out.find(key + " ");
    return at == std::string::npos ? -1 : std::atof(out.c_str() + at + key.size() + 1);
}

// One child's first paint in ms, or -1.
double First_Paint_Ms(const std::string& self, bool bare) {
    const std::string spawn = std::string(kSpawnVariable) + "=" + std::to_string(Monotonic_Ns());
    const bench::Program_Run run =
        bench::Run_Program({self, "first-paint", bare ? "bare" : "form"}, 60, {spawn});
    if (run.exit_code != 0) {
        std::fprintf(stderr, "bench_window: first-paint child failed:\n%s\n", run.out.c_str());
        return -1;
    }
    return Value_After(run.out, "first-paint-ms");
}

std::string Text(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The phone of the event-loop gap: paced, on its first update (the dump is
// read), one dump block 15 s late and the final answer 30 s late.
void Add_Event_Loop_Gap(bench::Result_Table& table, const std::string& self) {
    std::fprintf(stderr, "bench_window: event-loop gap during a slow paced update (about 50 s)\n");
    test_support::Image_Builder image;
    image.version_text = test_support::Bytes(kImageVersion);
    image.first.start = 0x00010000;
    image.first.data = test_support::Random_Bytes(40000, 33);
    image.second.start = 0x00200000;
    image.second.data = test_support::Random_Bytes(300, 34);
    const test_support::Temp_Image_File file(image.Build());
    Virtual_Phone_Process phone;
    std::string error;
    bench::Program_Run run;
    // The dump file goes to the temporary directory: a folder of this run's
    // own, so that no other program's dump is read in its place.
    std::string dump_dir =
        (std::filesystem::temp_directory_path() / "bench-window-XXXXXX").string();
    if (mkdtemp(dump_dir.data()) == nullptr)
        dump_dir = std::filesystem::temp_directory_path().string();
    if (phone.start({"--baud", "115200", "--tail-text", "M418ZHTWA00100", "--fault",
                     "dump-block@1:delay:15000", "--fault", "final:delay:30000"},
                    &error)) {
        run = bench::Run_Program({self, "event-loop-gap", file.Path(), phone.device_path()}, 300,
                                 {"TMPDIR=" + dump_dir, "XDG_RUNTIME_DIR=" + dump_dir});
    } else {
        std::fprintf(stderr, "bench_window: virtual phone did not start: %s\n", error.c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(dump_dir, ignored);
    const bool updated = run.exit_code == 0 && run.out.find("box ") != std::string::npos;
    if (!updated)
        std::fprintf(stderr, "bench_window: slow update failed:\n%s\n", run.out.c_str());
    const double gap_ms = Value_After(run.out, "largest-gap-ms");
    const double goal_ms = 100;
    table.Add(
        {"largest gap between ticks of a 20 ms timer on the window's thread, first-run "
         "update paced at 115200 baud with a dump block 15 s late and the final answer "
         "30 s late",
         updated ? Text("%.1f ms", gap_ms) : "FAILED",
         "the timer's interval 20 ms; " + Text("%.0f", Value_After(run.out, "ticks")) +
             " ticks in " + Text("%.1f s", Value_After(run.out, "seconds")) +
             " from the click to the completion box",
         Text("%.2f", gap_ms / goal_ms) + " of goal", "<= 100 ms", updated && gap_ms <= goal_ms});
}

int Run_Table(int rounds, bool gap_only) {
    bench::Result_Table table;
    const std::string self = Self_Path();
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "bench_window: no DISPLAY; run it under xvfb-run\n");
        return 2;
    }
    if (gap_only) {
        Add_Event_Loop_Gap(table, self);
        table.Print(stdout);
        return table.Any_Failed() ? 1 : 0;
    }

    std::fprintf(stderr, "bench_window: first paint, %d rounds\n", rounds);
    std::vector<double> form, bare;
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        const double bare_ms = First_Paint_Ms(self, true);
        const double form_ms = First_Paint_Ms(self, false);
        ok = ok && bare_ms > 0 && form_ms > 0;
        bare.push_back(bare_ms);
        form.push_back(form_ms);
    }
    const double form_ms = Median(form);
    const double bare_ms = Median(bare);
    std::string all_form, all_bare;
    for (std::size_t i = 0; i < form.size(); ++i) {
        all_form += Text(i ? ", %.0f" : "%.0f", form[i]);
        all_bare += Text(i ? ", %.0f" : "%.0f", bare[i]);
    }
    table.Add({"window start-up to first paint (Xvfb)", ok ? Text("%.0f ms", form_ms) : "FAILED",
               "bare Qt window of the same size " + Text("%.0f ms", bare_ms),
               Text("%.2f", form_ms / bare_ms), "none set (reported)", std::nullopt});

    std::fprintf(stderr, "bench_window: peak memory, idle and 16 MiB update\n");
    const bench::Program_Run idle = bench::Run_Program({self, "update", "", ""}, 60);
    const double idle_mib = Value_After(idle.out, "peak-kib") / 1024.0;

    test_support::Image_Builder image;
    image.version_text = test_support::Bytes(kImageVersion);
    image.first.start = 0x00010000;
    image.first.data = test_support::Random_Bytes(12 * kMiB, 31);
    image.second.start = 0x02000000;
    image.second.data = test_support::Random_Bytes(4 * kMiB, 32);
    const test_support::Temp_Image_File file(image.Build());
    Virtual_Phone_Process phone;
    std::string error;
    bench::Program_Run update;
    if (phone.start({"--record-text", kPhoneRecord}, &error)) {
        update = bench::Run_Program({self, "update", file.Path(), phone.device_path()}, 300);
    } else {
        std::fprintf(stderr, "bench_window: virtual phone did not start: %s\n", error.c_str());
    }
    const bool updated =
        update.exit_code == 0 && (update.out.find("Update OK!") != std::string::npos ||
                                  update.out.find("更新完成!") != std::string::npos);
    if (!updated)
        std::fprintf(stderr, "bench_window: update failed:\n%s\n", update.out.c_str());
    const double peak_mib = Value_After(update.out, "peak-kib") / 1024.0;
    const double limit_mib = 1.2 * 16 + 80;
    table.Add({"peak memory of the window updating a 16 MiB image (unpaced)",
               updated ? Text("%.1f MiB", peak_mib) : "FAILED",
               "window started and painted, idle: " + Text("%.1f MiB", idle_mib) +
                   "; limit 1.2 x image + 80 MiB = " + Text("%.1f MiB", limit_mib),
               Text("%.3f", peak_mib / limit_mib) + " of limit", "< 1.00 of limit",
               updated && peak_mib < limit_mib});
    Add_Event_Loop_Gap(table, self);
    table.Note(
        "Window figures: the program's own start-up code and windows (TForm1, TForm2) "
        "in a bench host that stands in for the file dialog and the completion box; the "
        "16 MiB update took " +
        Text("%.2f s", update.seconds) + " in the window, the update adds " +
        Text("%.1f MiB", peak_mib - idle_mib) +
        " to the idle window's peak. First paint: median of " + std::to_string(rounds) +
        " cold starts each, alternating; all runs, in ms: window " + all_form + "; bare " +
        all_bare + ".");
    table.Print(stdout);
    return table.Any_Failed() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string role = argc > 1 ? argv[1] : "";
    if (role == "first-paint" && argc == 3)
        return Child_First_Paint(argc, argv, std::string(argv[2]) == "bare");
    if (role == "update" && argc == 4)
        return Child_Update(argc, argv, argv[2], argv[3]);
    if (role == "event-loop-gap" && argc == 4)
        return Child_Event_Loop_Gap(argc, argv, argv[2], argv[3]);
    int rounds = 5;
    if (role == "--rounds" && argc == 3)
        rounds = std::max(1, std::atoi(argv[2]));
    else if (role == "--event-loop-gap" && argc == 2)
        return Run_Table(rounds, true);
    else if (argc != 1) {
        std::fprintf(stderr, "usage: bench_window [--rounds N | --event-loop-gap]\n");
        return 2;
    }
    return Run_Table(rounds, false);
}
