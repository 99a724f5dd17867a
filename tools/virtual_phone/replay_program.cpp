// The replay's carrier: the pseudo-terminal, the clock and the signals. Each
// step's pause runs from the moment the step before it happened here (the
// host's last awaited byte read, the phone's bytes written), as it ran from
// the recorded one; pauses under half a second are not played.
#include "tools/virtual_phone/replay_program.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "tools/virtual_phone/pty_line.h"
#include "tools/virtual_phone/replay_session.h"

namespace vphone {
namespace {

using Clock = std::chrono::steady_clock;

// Pauses shorter than this are played at once.
constexpr std::chrono::microseconds kShortestPause{500'000};

volatile sig_atomic_t g_stop = 0;
void On_Stop(int) {
    g_stop = 1;
}

class Replay_Program {
  public:
    Replay_Program(const Replay_Options& options, const Trace& trace)
        : m_options(options), m_session(trace, options.any_image), m_start(Clock::now()) {}
    int Run();

  private:
    void Log(const std::string& line);
    bool Plug_In();
    void Read_Host();
    // Plays the steps that are due; the time of the next one when it waits.
    std::optional<Clock::time_point> Play_Due();

    Replay_Options m_options;
    Replay_Session m_session;
    Clock::time_point m_start;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_log{nullptr, std::fclose};
    Pty_Line m_line{true};
    Clock::time_point m_last_event = Clock::now();  // the step before the next one
    std::size_t m_sent = 0;                         // of the step being written
};

void Replay_Program::Log(const std::string& line) {
    std::FILE* out = m_options.log_path == "-" ? stderr : m_log.get();
    if (out == nullptr)
        return;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count();
    std::fprintf(out, "%lld %s\n", static_cast<long long>(ms), line.c_str());
    std::fflush(out);
}

bool Replay_Program::Plug_In() {
    std::string error, warning;
    if (!m_line.plug_in(&error, &warning)) {
        std::fprintf(stderr, "virtual-phone: %s\n", error.c_str());
        return false;
    }
    std::printf("%s\n", m_line.device_path().c_str());
    std::fflush(stdout);
    Log("plugged-in " + m_line.device_path());
    return true;
}

void Replay_Program::Read_Host() {
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = read(m_line.fd(), buffer, sizeof buffer);
        if (got <= 0)
            return;
        const std::size_t before = m_session.Deviations().size();
        const std::uint64_t had = m_session.Host_Bytes_Received();
        const std::uint64_t awaited = m_session.Awaited_Host_Bytes();
        m_session.receive({buffer, static_cast<std::size_t>(got)});
        // The step waiting for these bytes counts its pause from when the
        // last of them came.
        if (had < awaited && m_session.Host_Bytes_Received() >= awaited)
            m_last_event = Clock::now();
        for (std::size_t i = before; i < m_session.Deviations().size(); ++i)
            Log("host-deviated " + m_session.Deviations()[i]);
    }
}

std::optional<Clock::time_point> Replay_Program::Play_Due() {
    while (const Replay_Step* step = m_session.Next_Step()) {
        // A short pause is the recording host's own latency (a busy machine
        // reads a byte late), not the phone's: played, it would only add to
        // this host's latency and may make it miss a limit the recorded one
        // met. The phone's own late answers are long.
        const std::chrono::microseconds pause(step->pause_us);
        const auto due =
            m_options.fast || pause < kShortestPause ? m_last_event : m_last_event + pause;
        if (Clock::now() < due)
            return due;
        if (step->kind == Replay_Step::Kind::send) {
            if (!m_line.plugged()) {
                m_session.Step_Done();
                continue;
            }
            const ssize_t put =
                write(m_line.fd(), step->bytes.data() + m_sent, step->bytes.size() - m_sent);
            if (put < 0)
                return Clock::now() + std::chrono::milliseconds(5);  // the host reads slowly
            m_sent += static_cast<std::size_t>(put);
            if (m_sent < step->bytes.size())
                return Clock::now() + std::chrono::milliseconds(5);
            m_sent = 0;
        } else if (step->kind == Replay_Step::Kind::hang_up) {
            Log("unplugged (recorded hang-up, " + step->operation + ")");
            m_line.unplug();
        } else if (!m_line.plugged()) {
            Plug_In();
        }
        m_session.Step_Done();
        m_last_event = Clock::now();
    }
    return std::nullopt;
}

int Replay_Program::Run() {
    if (!m_options.log_path.empty() && m_options.log_path != "-") {
        m_log.reset(std::fopen(m_options.log_path.c_str(), "w"));
        if (!m_log) {
            std::fprintf(stderr, "virtual-phone: cannot write %s\n", m_options.log_path.c_str());
            return 2;
        }
    }
    struct sigaction stop {};
    stop.sa_handler = On_Stop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    setsid();
    if (!Plug_In())
        return 2;
    while (!g_stop) {
        const std::optional<Clock::time_point> wake = Play_Due();
        int timeout_ms = 50;
        if (wake) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*wake - Clock::now());
            timeout_ms = static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 50));
        }
        pollfd fd{m_line.plugged() ? m_line.fd() : -1, POLLIN, 0};
        const int ready = poll(&fd, 1, timeout_ms);
        if (ready > 0 && (fd.revents & POLLIN))
            Read_Host();
        else if (ready > 0 && (fd.revents & (POLLHUP | POLLERR)))
            usleep(10'000);  // never spin on a line the host has let go
    }
    if (m_line.plugged())
        Read_Host();
    m_session.Host_Finished();
    const auto& deviations = m_session.Deviations();
    for (const std::string& deviation : deviations)
        std::fprintf(stderr, "virtual-phone: host-deviated %s\n", deviation.c_str());
    if (!deviations.empty())
        Log("host-deviated " + deviations.back());
    Log("stopped, " + std::to_string(deviations.size()) + " deviations");
    m_line.unplug();
    return deviations.empty() ? 0 : 1;
}

}  // namespace

int Run_Replay(const Replay_Options& options) {
    std::ifstream file(options.trace_path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "virtual-phone: cannot read %s\n", options.trace_path.c_str());
        return 2;
    }
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    std::string error;
    const std::optional<Trace> trace = Parse_Trace(text, &error);
    if (!trace) {
        std::fprintf(stderr, "virtual-phone: %s: %s\n", options.trace_path.c_str(), error.c_str());
        return 2;
    }
    Replay_Program program(options, *trace);
    return program.Run();
}

}  // namespace vphone
