// virtual-phone: plays the phone's boot loader on a pseudo-terminal, or on an
// existing tty device such as the gadget side of a USB serial function.
//
// Prints the device path the host opens as the first line of standard
// output, then serves the host through any number of opens and closes of that
// device until SIGTERM or SIGINT. Each time the phone is plugged in again
// after an unplug, the device path is printed as one more line; nothing else
// goes to standard output. Events go to --log, and every deviation of the host
// from the protocol to the deviations file beside --state. See --help.
//
// SIGUSR1 pulls the cable and SIGUSR2 plugs it in again, so that a test rig
// can make phones come and go at the times it chooses (--unplugged: the
// phone starts with its cable out).
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/virtual_phone/phone_files.h"
#include "tools/virtual_phone/phone_model.h"
#include "tools/virtual_phone/pty_line.h"
#include "tools/virtual_phone/replay_program.h"
#include "tools/virtual_phone/tty_line.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How soon a tty device that would not open after a hang-up is tried again.
constexpr milliseconds kReopenRetry{100};

constexpr const char* kUsage = R"(usage: virtual-phone [options]

Creates a pseudo-terminal (or opens --tty DEVICE), prints the device path the
host opens on the first line of standard output and plays the phone's boot
loader on it until SIGTERM/SIGINT.

Files:
  --flash FILE          write the flash here after each accepted block
                        ("VPHFLASH", u32 region count, then per region u32
                        start, u32 announced length, u32 byte count, bytes;
                        all u32 little-endian)
  --state FILE          the phone's state kept between runs: the version record
                        in FILE (32 raw bytes; read at start if present,
                        rewritten after every 0xE1) and the host's deviations
                        from the protocol in FILE.deviations (text, one a line,
                        e.g. "host byte 83, handshake: expected 0xA5
                        (confirmation close), came 0x55"; written at start,
                        keeping earlier lines, and after every deviation; empty
                        while the host keeps to the protocol)
  --log FILE            one line per event ("-" for standard error)
  --link PATH           keep a symbolic link PATH to the current device.
                        Repeatable: the n-th plug-in makes the n-th link (the
                        last one for every plug-in after it), as a phone that
                        comes back on another port
Phone:
  --record-text TEXT    initial record (up to 32 bytes, zero padded)
  --record-hex HEX      initial record as 64 hex digits (default: all 0xFF)
  --tail-text TEXT      the 16 bytes after the marker in the boot-loader dump
  --tail-hex HEX        the same as 32 hex digits
  --dump-blocks N       boot-loader dump block count (default 8)
  --dump-block-size S   boot-loader dump block size (default 1024)
  --marker-offset N     position of the marker in the dump (default 0x200)
  --ask-again-byte B    reply that asks for a block again (default 0x33)
Line:
  --tty DEVICE          serve this existing tty device (e.g. /dev/ttyGS0, the
                        gadget side of a USB serial function) instead of a
                        pseudo-terminal of its own. The device's provider
                        plugs and unplugs it: when the line hangs up, the
                        phone starts afresh and opens the device again, and
                        prints its path once more. The phone's own hang-up
                        faults and --replug-after need a pseudo-terminal.
  --baud N              pace the line at N baud both ways (10 bits per byte)
  --appear-after MS     stay silent for MS after start (plugged in later)
  --replug-after MS     after an unplug fault, plug in again after MS
  --unplugged           start with the cable out: no device, no link and no
                        line on standard output until SIGUSR2 plugs it in
Cable (pseudo-terminal only):
  SIGUSR1               pull the cable: the host's open port hangs up, the
                        link goes ("unplugged" in the log)
  SIGUSR2               plug it in: a new device, the next --link, its path on
                        standard output ("plugged-in DEVICE" in the log)
  The first bytes from the host after each plug-in are logged as
  "first-host-byte" with their count, whether the phone answers yet or not;
  this line and "plugged-in" end in "us=" and the time in microseconds.
  A signal of each kind taken in one wake-up counts once, the pull first.
  --idle-reset-ms MS    forget a half-received exchange after MS of host
                        silence (default 2000)
Faults:
  --fault EXCHANGE[@N|@N+|@N-M]:KIND[:ARG]   (repeatable)
        EXCHANGE: sync-echo confirm check e0-ack e0-record e1-ack d6-ack
                  d6-n d6-s dump-block dd-ack de-ack size-ack block
                  resend-ack final
        KIND:     silent | wrong[:BYTE] | short[:BYTES] | delay:MS (or
                  late:MS) | hangup | ask-again[:TIMES] | refuse[:BYTE]
                  (the last two for block only)
        @N: only the N-th occurrence of the exchange, @N+: from the N-th
        on, @N-M: N-th to M-th; default every occurrence
  --fault delay:EXCHANGE:MS          same as EXCHANGE:delay:MS
  --fault hangup:after-bytes:K       unplug after K bytes from the host; the
                                     K-th draws no answer
  --seed N                           seed for the random faults (default 1)
  --random-ask-again P               ask again with probability P per block
                                     reply (at most 3 times per block)
  --random-delay-ms MAX              delay every reply by 0..MAX ms
Replay:
  --replay FILE         serve the session recorded in FILE (flashtool-cli's
                        --trace) instead of the boot loader: the recorded
                        phone bytes at the recorded pace, the recorded
                        hang-ups, and a check of every host byte against the
                        recorded host's. On SIGTERM/SIGINT each deviation goes
                        to standard error as "host-deviated host byte N, ...";
                        exit 1 when there was one. Takes --log; the phone's
                        other options do not apply.
  --fast                with --replay: answer at once, not at the recorded pace
  --any-image           with --replay: the host may send another image of the
                        same layout: block data and the version record written
                        may differ, sums are checked against the data sent
Run:
  --sessions N          exit after the N-th closing byte 0x60
  --exit-after MS       exit after MS
  --help
)";

struct Options {
    vphone::Phone_Config phone = vphone::Default_Config();
    std::string flash_path, state_path, log_path;
    std::vector<std::string> link_paths;  // one per plug-in, the last repeating
    std::string tty_path;                 // empty: a pseudo-terminal of the phone's own
    std::uint32_t baud = 0;
    std::uint32_t appear_after_ms = 0;
    std::optional<std::uint32_t> replug_after_ms;
    bool start_unplugged = false;
    std::uint32_t idle_reset_ms = 2000;
    std::uint32_t sessions = 0;
    std::optional<std::uint32_t> exit_after_ms;
    std::string replay_path;  // empty: play the boot loader
    bool fast = false;
    bool any_image = false;
};

[[noreturn]] void Usage_Error(const std::string& message) {
    std::fprintf(stderr, "virtual-phone: %s\n(try --help)\n", message.c_str());
    std::exit(2);
}

std::uint32_t Number(const char* text, const char* option) {
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value > UINT32_MAX) {
        Usage_Error(std::string("bad number for ") + option + ": " + text);
    }
    return static_cast<std::uint32_t>(value);
}

template <std::size_t N>
std::array<std::uint8_t, N> Bytes_From_Text(const char* text, const char* option) {
    std::array<std::uint8_t, N> out{};
    std::size_t length = std::strlen(text);
    if (length > N) {
        Usage_Error(std::string(option) + " takes at most " + std::to_string(N) + " bytes");
    }
    std::memcpy(out.data(), text, length);
    return out;
}

template <std::size_t N>
std::array<std::uint8_t, N> Bytes_From_Hex(const char* text, const char* option) {
    std::array<std::uint8_t, N> out{};
    if (std::strlen(text) != 2 * N) {
        Usage_Error(std::string(option) + " takes " + std::to_string(2 * N) + " hex digits");
    }
    for (std::size_t i = 0; i < N; ++i) {
        char pair[3] = {text[2 * i], text[2 * i + 1], 0};
        char* end = nullptr;
        out[i] = static_cast<std::uint8_t>(std::strtoul(pair, &end, 16));
        if (end != pair + 2) {
            Usage_Error(std::string(option) + ": not hex: " + text);
        }
    }
    return out;
}

Options Parse_Options(int argc, char** argv) {
    enum {
        kFlash = 1000,
        kState,
        kLog,
        kLink,
        kTty,
        kRecordText,
        kRecordHex,
        kTailText,
        kTailHex,
        kDumpBlocks,
        kDumpBlockSize,
        kMarkerOffset,
        kAskAgainByte,
        kBaud,
        kAppearAfter,
        kReplugAfter,
        kUnplugged,
        kIdleReset,
        kFault,
        kSeed,
        kRandomAskAgain,
        kRandomDelay,
        kSessions,
        kExitAfter,
        kReplay,
        kFast,
        kAnyImage,
        kHelp,
    };
    static const option long_options[] = {
        {"flash", required_argument, nullptr, kFlash},
        {"state", required_argument, nullptr, kState},
        {"log", required_argument, nullptr, kLog},
        {"link", required_argument, nullptr, kLink},
        {"tty", required_argument, nullptr, kTty},
        {"record-text", required_argument, nullptr, kRecordText},
        {"record-hex", required_argument, nullptr, kRecordHex},
        {"tail-text", required_argument, nullptr, kTailText},
        {"tail-hex", required_argument, nullptr, kTailHex},
        {"dump-blocks", required_argument, nullptr, kDumpBlocks},
        {"dump-block-size", required_argument, nullptr, kDumpBlockSize},
        {"marker-offset", required_argument, nullptr, kMarkerOffset},
        {"ask-again-byte", required_argument, nullptr, kAskAgainByte},
        {"baud", required_argument, nullptr, kBaud},
        {"appear-after", required_argument, nullptr, kAppearAfter},
        {"replug-after", required_argument, nullptr, kReplugAfter},
        {"unplugged", no_argument, nullptr, kUnplugged},
        {"idle-reset-ms", required_argument, nullptr, kIdleReset},
        {"fault", required_argument, nullptr, kFault},
        {"seed", required_argument, nullptr, kSeed},
        {"random-ask-again", required_argument, nullptr, kRandomAskAgain},
        {"random-delay-ms", required_argument, nullptr, kRandomDelay},
        {"sessions", required_argument, nullptr, kSessions},
        {"exit-after", required_argument, nullptr, kExitAfter},
        {"replay", required_argument, nullptr, kReplay},
        {"fast", no_argument, nullptr, kFast},
        {"any-image", no_argument, nullptr, kAnyImage},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    int option_index = 0;
    for (int c; (c = getopt_long(argc, argv, "", long_options, &option_index)) != -1;) {
        const char* name = c >= kFlash && c <= kHelp ? long_options[c - kFlash].name : "?";
        switch (c) {
            case kFlash:
                options.flash_path = optarg;
                break;
            case kState:
                options.state_path = optarg;
                break;
            case kLog:
                options.log_path = optarg;
                break;
            case kLink:
                options.link_paths.emplace_back(optarg);
                break;
            case kTty:
                options.tty_path = optarg;
                break;
            case kRecordText:
                options.phone.record = Bytes_From_Text<32>(optarg, name);
                break;
            case kRecordHex:
                options.phone.record = Bytes_From_Hex<32>(optarg, name);
                break;
            case kTailText:
                options.phone.original_record_tail = Bytes_From_Text<16>(optarg, name);
                break;
            case kTailHex:
                options.phone.original_record_tail = Bytes_From_Hex<16>(optarg, name);
                break;
            case kDumpBlocks:
                options.phone.dump_blocks = Number(optarg, name);
                break;
            case kDumpBlockSize:
                options.phone.dump_block_size = Number(optarg, name);
                break;
            case kMarkerOffset:
                options.phone.marker_offset = Number(optarg, name);
                break;
            case kAskAgainByte: {
                auto byte = Number(optarg, name);
                if (byte > 0xFF || byte == 0x69 || (byte >= 0x05 && byte <= 0x07)) {
                    Usage_Error("--ask-again-byte must be a byte other than 0x05-0x07 and 0x69");
                }
                options.phone.ask_again_byte = static_cast<std::uint8_t>(byte);
                break;
            }
            case kBaud:
                options.baud = Number(optarg, name);
                break;
            case kAppearAfter:
                options.appear_after_ms = Number(optarg, name);
                break;
            case kReplugAfter:
                options.replug_after_ms = Number(optarg, name);
                break;
            case kUnplugged:
                options.start_unplugged = true;
                break;
            case kIdleReset:
                options.idle_reset_ms = Number(optarg, name);
                break;
            case kFault: {
                std::string text = optarg;
                const std::string after_bytes = "hangup:after-bytes:";
                if (text.rfind(after_bytes, 0) == 0) {
                    options.phone.hang_up_after_bytes =
                        Number(text.c_str() + after_bytes.size(), name);
                    break;
                }
                std::string error;
                auto rule = vphone::Parse_Fault_Rule(text, &error);
                if (!rule) {
                    Usage_Error(error);
                }
                options.phone.faults.push_back(*rule);
                break;
            }
            case kSeed:
                options.phone.seed = Number(optarg, name);
                break;
            case kRandomAskAgain: {
                char* end = nullptr;
                double p = std::strtod(optarg, &end);
                if (end == optarg || *end != '\0' || p < 0 || p > 1) {
                    Usage_Error("--random-ask-again takes a probability 0..1");
                }
                options.phone.random_ask_again = p;
                break;
            }
            case kRandomDelay:
                options.phone.random_delay_ms = Number(optarg, name);
                break;
            case kSessions:
                options.sessions = Number(optarg, name);
                break;
            case kExitAfter:
                options.exit_after_ms = Number(optarg, name);
                break;
            case kReplay:
                options.replay_path = optarg;
                break;
            case kFast:
                options.fast = true;
                break;
            case kAnyImage:
                options.any_image = true;
                break;
            case kHelp:
                std::fputs(kUsage, stdout);
                std::exit(0);
            default:
                Usage_Error("unknown option");
        }
    }
    if (optind != argc) {
        Usage_Error(std::string("unexpected argument: ") + argv[optind]);
    }
    if (options.replay_path.empty() && (options.fast || options.any_image))
        Usage_Error("--fast and --any-image go with --replay");
    if (!options.tty_path.empty()) {
        const bool hangs_up = std::any_of(options.phone.faults.begin(), options.phone.faults.end(),
                                          [](const vphone::Fault_Rule& rule) {
                                              return rule.kind == vphone::Fault_Kind::hang_up;
                                          });
        if (hangs_up || options.phone.hang_up_after_bytes != 0 || options.replug_after_ms ||
            options.start_unplugged) {
            Usage_Error(
                "on --tty the phone cannot pull its own cable: hang-up faults, "
                "--replug-after and --unplugged need a pseudo-terminal");
        }
    }
    const std::uint64_t dump_size =
        std::uint64_t{options.phone.dump_blocks} * options.phone.dump_block_size;
    if (dump_size > (64u << 20)) {
        Usage_Error("the boot-loader dump may hold at most 64 MiB");
    }
    return options;
}

// The phone sees the host's bytes some time after they were written, more so
// on a busy machine: a host that gives up on a late reply at its own limit
// may seem to the phone this much early.
constexpr std::uint32_t kHostClockSlackMs = 500;

// One batch of phone output waiting for its time on the line.
struct Pending {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
    bool hang_up = false;
};

class Phone_Program {
  public:
    explicit Phone_Program(Options options)
        : m_options(With_Slack(std::move(options))),
          m_model(m_options.phone),
          m_start(Clock::now()) {
        if (m_options.baud != 0) {
            // In nanoseconds: at 115200 baud a byte takes 86.8 us, and whole
            // microseconds would run the line almost 1 % fast.
            m_byte_time = std::chrono::nanoseconds(10'000'000'000ull / m_options.baud);
        }
    }

    int run();

  private:
    static Options With_Slack(Options options) {
        options.phone.clock_slack_ms = kHostClockSlackMs;
        return options;
    }
    // The model's clock: milliseconds since the start.
    void tell_time(Clock::time_point now) {
        m_model.set_clock_ms(std::chrono::duration_cast<milliseconds>(now - m_start).count());
    }
    void log(const std::string& line);
    // For the lines whose times are compared closer than the log's ms.
    std::string micros_since_start() const {
        return std::to_string(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_start).count());
    }
    bool plug_in();
    // Pulls the cable; with replug_later an unplug fault's --replug-after
    // plugs it in again.
    void unplug(bool replug_later = true);
    // What SIGUSR1 and SIGUSR2 asked for since the last wake-up.
    void handle_cable_signals();
    // The line hung up under the phone (a tty device's provider unplugged
    // it): start afresh and open it again.
    void line_hung_up();
    void take_model_output(Clock::time_point now);
    void handle_events();
    void read_host(Clock::time_point now);
    // Writes what is due; returns whether the master would block.
    bool write_due(Clock::time_point now);
    void save_flash();
    void save_deviations();
    // Whether some of the phone's output has not reached the host yet.
    bool reply_unread() const;
    // Takes what the host sent before a stop signal, so that it is judged too.
    void drain_host();

    Options m_options;
    vphone::Phone_Model m_model;
    std::unique_ptr<vphone::Phone_Line> m_line;
    Clock::time_point m_start;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_log{nullptr, std::fclose};
    bool m_log_to_stderr = false;
    bool m_session_leader = false;

    std::deque<Pending> m_pending;
    std::chrono::nanoseconds m_byte_time{0};
    Clock::time_point m_output_free{};  // when the paced line may take the next byte
    Clock::time_point m_input_free{};
    // The host's bytes were still waiting when the phone last read: the line
    // has been busy since then, however late this process wakes up.
    bool m_input_backlog = false;
    Clock::time_point m_last_read{};
    Clock::time_point m_last_input{};
    std::optional<Clock::time_point> m_replug_at;
    bool m_reopen_failing = false;  // a tty device would not open again yet
    bool m_ever_plugged = false;
    bool m_flash_dirty = false;
    std::uint32_t m_plug_ins = 0;
    std::string m_current_link;       // made at the last plug-in; empty when none
    bool m_heard_since_plug = false;  // the host's first bytes since the plug-in came
    std::uint32_t m_sessions_closed = 0;
    std::string m_deviations_path;
    std::vector<std::string> m_earlier_deviations;  // from runs before this one
};

void Phone_Program::log(const std::string& line) {
    auto ms = std::chrono::duration_cast<milliseconds>(Clock::now() - m_start).count();
    std::FILE* out = m_log_to_stderr ? stderr : m_log.get();
    if (out) {
        std::fprintf(out, "%lld %s\n", static_cast<long long>(ms), line.c_str());
        std::fflush(out);
    }
}

bool Phone_Program::plug_in() {
    std::string error, warning;
    if (!m_line->plug_in(&error, &warning)) {
        // A tty device that went with its provider is tried again quietly:
        // its first failure is logged, not every retry.
        if (m_line->can_unplug() || !m_ever_plugged)
            std::fprintf(stderr, "virtual-phone: %s\n", error.c_str());
        if (!m_reopen_failing)
            log("cannot open the line: " + error);
        m_reopen_failing = true;
        return false;
    }
    m_reopen_failing = false;
    m_ever_plugged = true;
    if (!warning.empty()) {
        log("warning " + warning);
    }
    const auto& links = m_options.link_paths;
    if (!links.empty()) {
        m_current_link = links[std::min<std::size_t>(m_plug_ins, links.size() - 1)];
        unlink(m_current_link.c_str());
        if (symlink(m_line->device_path().c_str(), m_current_link.c_str()) != 0) {
            log("warning cannot link " + m_current_link + ": " + std::strerror(errno));
        }
    }
    ++m_plug_ins;
    m_heard_since_plug = false;
    m_model.plug_back_in();
    m_pending.clear();
    std::printf("%s\n", m_line->device_path().c_str());
    std::fflush(stdout);
    log("plugged-in " + m_line->device_path() + " us=" + micros_since_start());
    return true;
}

void Phone_Program::unplug(bool replug_later) {
    m_line->unplug();
    m_pending.clear();
    if (!m_current_link.empty()) {
        unlink(m_current_link.c_str());
        m_current_link.clear();
    }
    log("unplugged");
    if (replug_later && m_options.replug_after_ms) {
        m_replug_at = Clock::now() + milliseconds(*m_options.replug_after_ms);
    }
}

void Phone_Program::line_hung_up() {
    log("line hung up");
    save_flash();
    unplug();
    // The device stays while its provider unplugs it, so it opens again at
    // once; the phone is then ready when the host's side comes back.
    if (!plug_in())
        m_replug_at = Clock::now() + kReopenRetry;
}

void Phone_Program::take_model_output(Clock::time_point now) {
    for (auto& out : m_model.take_output()) {
        Clock::time_point base = m_pending.empty() ? now : std::max(now, m_pending.back().due);
        m_pending.push_back(
            Pending{base + milliseconds(out.delay_ms), std::move(out.bytes), 0, out.hang_up});
    }
}

// Files are brought up to date before the events are logged: a test that sees
// an event in the log then finds the flash and the record that go with it.
void Phone_Program::handle_events() {
    using vphone::Event_Kind;
    const auto events = m_model.take_events();
    bool deviated = false;
    for (const auto& event : events) {
        switch (event.kind) {
            case Event_Kind::record_written:
                if (!m_options.state_path.empty() &&
                    !vphone::Save_Record(m_options.state_path, m_model.record())) {
                    log("warning cannot write " + m_options.state_path);
                }
                break;
            case Event_Kind::regions_announced:
            case Event_Kind::transfer_started:
            case Event_Kind::block_accepted:
            case Event_Kind::final_ack_sent:
                m_flash_dirty = true;
                break;
            case Event_Kind::link_closed:
                ++m_sessions_closed;
                break;
            case Event_Kind::host_deviated:
                deviated = true;
                break;
            default:
                break;
        }
    }
    save_flash();
    if (deviated) {
        save_deviations();
    }
    for (const auto& event : events) {
        if (event.kind == Event_Kind::host_deviated) {
            log("host-deviated " + vphone::Describe(m_model.deviations().at(event.a)));
        } else {
            log(vphone::Describe(event));
        }
    }
}

void Phone_Program::save_deviations() {
    if (m_deviations_path.empty()) {
        return;
    }
    std::vector<std::string> lines = m_earlier_deviations;
    for (const auto& deviation : m_model.deviations()) {
        lines.push_back(vphone::Describe(deviation));
    }
    if (m_model.deviations_not_kept() != 0) {
        lines.push_back("and " + std::to_string(m_model.deviations_not_kept()) +
                        " more deviations not listed");
    }
    if (!vphone::Save_Lines(m_deviations_path, lines)) {
        log("warning cannot write " + m_deviations_path);
    }
}

bool Phone_Program::reply_unread() const {
    for (const auto& pending : m_pending) {
        if (pending.sent < pending.bytes.size()) {
            return true;
        }
    }
    return m_line->plugged() && m_line->reply_unread();
}

void Phone_Program::drain_host() {
    std::uint8_t buffer[4096];
    while (m_line->plugged()) {
        const bool unread = reply_unread();
        ssize_t got = read(m_line->fd(), buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        if (Clock::now() - m_start >= milliseconds(m_options.appear_after_ms)) {
            tell_time(Clock::now());
            m_model.receive({buffer, static_cast<std::size_t>(got)}, unread);
            take_model_output(Clock::now());
        }
    }
}

void Phone_Program::save_flash() {
    if (m_flash_dirty && !m_options.flash_path.empty() &&
        !vphone::Save_Flash(m_options.flash_path, m_model.flash())) {
        log("warning cannot write " + m_options.flash_path);
    }
    m_flash_dirty = false;
}

void Phone_Program::read_host(Clock::time_point now) {
    // On a paced line the phone takes a few bytes at a time, so a host that
    // writes faster is held back by the full pty buffer, as by a real UART.
    std::uint8_t buffer[4096];
    const std::size_t want = m_byte_time.count() > 0 ? 64 : sizeof buffer;
    // Asked before the read: output still on its way when the host wrote
    // means the host did not wait for its reply.
    const bool unread = reply_unread();
    ssize_t got = read(m_line->fd(), buffer, want);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        // Ready, yet nothing to read: on a tty device that is the hang-up
        // its provider made (a pty's master never reads end-of-file while
        // the phone holds the slave).
        if (!m_line->can_unplug())
            line_hung_up();
        return;
    }
    if (got < 0) {
        return;
    }
    if (!m_heard_since_plug) {
        m_heard_since_plug = true;
        log("first-host-byte count=" + std::to_string(got) + " us=" + micros_since_start());
    }
    m_last_input = now;
    if (m_byte_time.count() > 0) {
        // A line that had bytes queued carries on at its own rate from where
        // it was; one that was idle starts with the bytes just seen. So a
        // late wake-up of this process does not slow the line down.
        const Clock::time_point line_start =
            m_input_backlog ? std::max(m_input_free, m_last_read) : now;
        m_input_free = line_start + m_byte_time * got;
        int waiting = 0;
        m_input_backlog = ioctl(m_line->fd(), FIONREAD, &waiting) == 0 && waiting > 0;
        m_last_read = now;
    }
    if (now - m_start < milliseconds(m_options.appear_after_ms)) {
        // Not switched on yet: the bytes fall on deaf ears.
        log("ignored " + std::to_string(got) + " bytes: not switched on yet");
        return;
    }
    tell_time(now);
    m_model.receive({buffer, static_cast<std::size_t>(got)}, unread);
    // The phone cannot answer bytes that are still crossing the line.
    take_model_output(std::max(now, m_input_free));
}

bool Phone_Program::write_due(Clock::time_point now) {
    while (!m_pending.empty() && m_line->plugged()) {
        Pending& head = m_pending.front();
        if (head.due > now || m_output_free > now) {
            return false;
        }
        if (head.sent == head.bytes.size()) {
            bool hang_up = head.hang_up;
            m_pending.pop_front();
            if (hang_up) {
                save_flash();
                unplug();
                return false;
            }
            continue;
        }
        std::size_t count = head.bytes.size() - head.sent;
        if (m_byte_time.count() > 0) {
            count = std::min<std::size_t>(count, 64);
        }
        ssize_t put = write(m_line->fd(), head.bytes.data() + head.sent, count);
        if (put < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        head.sent += static_cast<std::size_t>(put);
        if (m_byte_time.count() > 0) {
            // The bytes were ready at their due time or when the line fell
            // free, whichever came later; waking up later does not delay them.
            m_output_free = std::max(head.due, m_output_free) + m_byte_time * put;
            return false;
        }
    }
    return false;
}

volatile sig_atomic_t g_stop = 0;
void On_Stop_Signal(int) {
    g_stop = 1;
}
volatile sig_atomic_t g_pull_cable = 0;
volatile sig_atomic_t g_plug_cable = 0;
void On_Cable_Signal(int signal_number) {
    if (signal_number == SIGUSR1)
        g_pull_cable = 1;
    else
        g_plug_cable = 1;
}

void Phone_Program::handle_cable_signals() {
    const bool pull = g_pull_cable != 0;
    const bool plug = g_plug_cable != 0;
    g_pull_cable = 0;
    g_plug_cable = 0;
    if (!pull && !plug)
        return;
    if (!m_line->can_unplug()) {
        log("ignored a cable signal: the device's provider plugs and unplugs it");
        return;
    }
    if (pull && m_line->plugged()) {
        save_flash();
        unplug(false);
    }
    if (plug && !m_line->plugged()) {
        m_replug_at.reset();
        if (!plug_in())
            log("cannot plug in again");
    }
}

int Phone_Program::run() {
    if (m_options.log_path == "-") {
        m_log_to_stderr = true;
    } else if (!m_options.log_path.empty()) {
        m_log.reset(std::fopen(m_options.log_path.c_str(), "w"));
        if (!m_log) {
            std::fprintf(stderr, "virtual-phone: cannot write %s\n", m_options.log_path.c_str());
            return 1;
        }
    }
    if (!m_options.state_path.empty()) {
        if (auto record = vphone::Load_Record(m_options.state_path)) {
            m_model.set_record(*record);
        }
        // Written at once: a reader can tell "no deviation" from "no list".
        m_deviations_path = vphone::Deviations_Path(m_options.state_path);
        m_earlier_deviations = vphone::Load_Lines(m_deviations_path);
        save_deviations();
    }
    // Stop signals are only let through while waiting in ppoll, so none is lost.
    sigset_t blocked, wait_mask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGUSR2);
    // A rig that starts the phone with the cable signals blocked loses none
    // sent before this point: they wait for the first ppoll.
    sigprocmask(SIG_BLOCK, &blocked, &wait_mask);
    sigdelset(&wait_mask, SIGTERM);
    sigdelset(&wait_mask, SIGINT);
    sigdelset(&wait_mask, SIGUSR1);
    sigdelset(&wait_mask, SIGUSR2);
    struct sigaction stop {};
    stop.sa_handler = On_Stop_Signal;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    struct sigaction cable {};
    cable.sa_handler = On_Cable_Signal;
    sigaction(SIGUSR1, &cable, nullptr);
    sigaction(SIGUSR2, &cable, nullptr);
    // Pulling the cable hangs up our own controlling terminal.
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    m_session_leader = setsid() >= 0 || getsid(0) == getpid();
    if (!m_session_leader) {
        log("warning not a session leader: the pty will not be the controlling terminal");
    }
    if (m_options.tty_path.empty())
        m_line = std::make_unique<vphone::Pty_Line>(m_session_leader);
    else
        m_line = std::make_unique<vphone::Tty_Line>(m_options.tty_path);
    if (m_options.start_unplugged) {
        log("unplugged at start");
    } else if (!plug_in()) {
        return 1;
    }

    const auto exit_at = m_options.exit_after_ms
                             ? std::optional(m_start + milliseconds(*m_options.exit_after_ms))
                             : std::nullopt;
    while (!g_stop) {
        auto now = Clock::now();
        if (exit_at && now >= *exit_at) {
            break;
        }
        if (m_options.sessions != 0 && m_sessions_closed >= m_options.sessions) {
            break;
        }
        handle_cable_signals();
        if (m_replug_at && now >= *m_replug_at) {
            m_replug_at.reset();
            if (!plug_in()) {
                if (m_line->can_unplug())
                    return 1;
                m_replug_at = now + kReopenRetry;  // the device may come back
            }
        }
        if (m_line->plugged() && m_model.mid_exchange() &&
            now - m_last_input >= milliseconds(m_options.idle_reset_ms)) {
            tell_time(now);
            m_model.line_quiet();
        }
        // The files catch up with what the phone took before its replies
        // leave: a host that has its answer finds the flash written.
        handle_events();
        const bool blocked_out = write_due(now);

        // Sleep until the next thing that can happen.
        std::optional<Clock::time_point> wake = exit_at;
        auto wake_at = [&](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
        if (m_replug_at)
            wake_at(*m_replug_at);
        if (m_line->plugged() && !m_pending.empty() && !blocked_out) {
            wake_at(std::max(m_pending.front().due, m_output_free));
        }
        if (m_line->plugged() && m_model.mid_exchange()) {
            wake_at(m_last_input + milliseconds(m_options.idle_reset_ms));
        }
        const bool may_read = m_line->plugged() && now >= m_input_free;
        if (m_line->plugged() && !may_read)
            wake_at(m_input_free);

        pollfd fd{m_line->plugged() ? m_line->fd() : -1, 0, 0};
        if (may_read)
            fd.events |= POLLIN;
        if (blocked_out)
            fd.events |= POLLOUT;
        timespec timeout{};
        timespec* timeout_pointer = nullptr;
        if (wake) {
            auto left = std::max(*wake - Clock::now(), Clock::duration::zero());
            auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            timeout_pointer = &timeout;
        }
        int ready = ppoll(&fd, 1, timeout_pointer, &wait_mask);
        if (ready > 0 && (fd.revents & POLLIN)) {
            read_host(Clock::now());
            handle_events();
        } else if (ready > 0 && (fd.revents & (POLLHUP | POLLERR)) && !(fd.revents & POLLOUT)) {
            if (!m_line->can_unplug()) {
                line_hung_up();
            } else {
                // Should not happen while we hold the slave; never spin on it.
                usleep(10'000);
            }
        }
    }
    drain_host();
    handle_events();
    save_flash();
    if (m_line)
        m_line->unplug();
    if (!m_current_link.empty()) {
        unlink(m_current_link.c_str());
    }
    log("stopped");
    return 0;
}

// Puts /dev/null on the standard streams the phone was started without, so
// that its pseudo-terminal never lands there (a log to standard error would
// then travel the line).
void Fill_Closed_Standard_Streams() {
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(stream, F_GETFD) == -1 && errno == EBADF) {
            const int null = open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != stream) {
                dup2(null, stream);
                close(null);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Fill_Closed_Standard_Streams();
    Options options = Parse_Options(argc, argv);
    if (!options.replay_path.empty())
        return vphone::Run_Replay(
            {options.replay_path, options.log_path, options.fast, options.any_image});
    Phone_Program program(std::move(options));
    return program.run();
}
