// The phone's boot loader as a pure state machine, for the virtual phone.
//
// Bytes from the host go in, bytes for the host come out, each batch of
// output with an optional delay before it. The model does no I/O and keeps no
// clock of its own: the `virtual-phone` program moves its bytes over a
// pseudo-terminal, and in-process tests move them through a simulated port;
// either tells the model the time, by which it judges a host that gives up
// on a late reply. Faults the host must
// survive (silence, wrong bytes, ask-again replies, refusals, late replies,
// the cable pulled) are injected per exchange by Fault_Rule.
//
// The model also judges the host: every byte that the protocol does not
// allow at its point (a missing 0xA5, a command out of turn, a wrong block
// size or sum, bytes sent before a reply was read...) is kept as a Deviation.
// What the phone's own faults make the host do (give up, close the port,
// search anew) is not a deviation; a reply the phone sends late excuses the
// host only once the host's own time limit for that reply has passed.
//
// The model keeps its own copy of every protocol constant on purpose: it
// plays the phone as the phone behaves, independent of the host's code.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vphone {

using Record = std::array<std::uint8_t, 32>;

// Every point at which the phone answers the host; a fault rule names one.
enum class Exchange {
    sync_echo,   // echo of 0x58
    confirm,     // 0x5C, the answer to 0xA3
    check,       // 0xAA, the answer to 0x55
    e0_ack,      // 0x5A after 0xE0
    e0_record,   // the 32-byte record after that
    e1_ack,      // 0x5A after 0xE1
    d6_ack,      // 0x5A after 0xD6
    d6_n,        // block count of the dump
    d6_s,        // block size of the dump
    dump_block,  // one block of the dump
    dd_ack,      // 0x5A after the region announcement
    de_ack,      // 0x5A after 0xDE
    size_ack,    // 0x5A after the block size
    block,       // the reply to one flash data block
    resend_ack,  // the 0x5A that follows an ask-again reply
    final_ack,   // the 0x5A after the last block
};
inline constexpr int kExchangeCount = 16;

std::string_view Exchange_Name(Exchange exchange);
std::optional<Exchange> Exchange_From_Name(std::string_view name);

enum class Fault_Kind {
    silent,     // no reply; the phone forgets the exchange
    wrong,      // the reply's first byte replaced (arg: the byte, default its complement)
    short_,     // only arg bytes of a multi-byte reply (default half), then silence
    delay,      // the reply sent arg ms late
    ask_again,  // block: ask for the block again arg times (default 1) before judging it
    refuse,     // block: refuse with byte arg (default 0x05)
    hang_up,    // the cable is pulled instead of replying
};

std::string_view Fault_Kind_Name(Fault_Kind kind);

// How long the host waits for the phone's reply at this exchange, in
// milliseconds: its read limit there, as the protocol gives it.
std::uint32_t Host_Limit_Ms(Exchange exchange);

// "At the first..last occurrence of this exchange, do this fault." Occurrences
// are counted over the model's lifetime from 1; a data block counts once however
// often it is sent again.
struct Fault_Rule {
    Exchange exchange = Exchange::sync_echo;
    Fault_Kind kind = Fault_Kind::silent;
    std::optional<std::uint32_t> arg;
    std::uint32_t first = 1;
    std::uint32_t last = UINT32_MAX;
};

// Parses "EXCHANGE[@N|@N+|@N-M]:KIND[:ARG]" (for example "block@2:refuse:0x06",
// "final:delay:5000", "sync-echo@1-3:silent"), or "delay:EXCHANGE:MS".
// Returns nothing and fills error on a malformed text.
std::optional<Fault_Rule> Parse_Fault_Rule(std::string_view text, std::string* error);

struct Phone_Config {
    // The record answered to 0xE0 until the host writes one with 0xE1.
    Record record{};
    // The 16 bytes after the marker in the dump: the phone's original record tail.
    std::array<std::uint8_t, 16> original_record_tail{};
    std::uint32_t dump_blocks = 8;
    std::uint32_t dump_block_size = 1024;
    std::uint32_t marker_offset = 0x200;
    // Byte used to ask for a block again when its sum is wrong.
    std::uint8_t ask_again_byte = 0x33;
    std::vector<Fault_Rule> faults;
    // Random disturbances that a correct host always survives: ask-again
    // replies (never more than three in a row for one block) and reply delays.
    std::uint64_t seed = 1;
    double random_ask_again = 0.0;
    std::uint32_t random_delay_ms = 0;
    // Host bytes after which the cable is pulled (0: never). The last of
    // them is taken but draws no answer.
    std::uint64_t hang_up_after_bytes = 0;
    // How much sooner than its limit a host may seem to give up on a late
    // reply, by the carrier's clock: a separate program on a busy machine
    // sees the host's bytes later than they were written.
    std::uint32_t clock_slack_ms = 0;
};

// The defaults: an erased record (all 0xFF) and the original tail
// "M418ZHTWA00100" plus two zero bytes.
Phone_Config Default_Config();

inline constexpr std::string_view kDumpMarker = "CVLbootloaderVC_";

// One batch of bytes for the host, sent delay_ms after the batch before it.
struct Phone_Output {
    std::uint32_t delay_ms = 0;
    std::vector<std::uint8_t> bytes;
    bool hang_up = false;  // pull the cable once the bytes before it are out
};

enum class Event_Kind {
    handshake_cycle,     // 0x55 answered; a = consecutive cycles so far
    record_read,         // 0xE0 answered
    record_written,      // 32 bytes stored after 0xE1
    dump_sent,           // a = blocks sent
    regions_announced,   // a, b = first start, length; c, d = second start, length
    transfer_started,    // block size accepted; a = block size
    block_accepted,      // a = region, b = offset, c = length
    block_asked_again,   // a = region, b = offset, c = reply byte, d = 1 if the sum was wrong
    block_refused,       // a = region, b = offset, c = reply byte
    transfer_aborted,    // the host gave up with 0xA5
    final_ack_sent,      // every block accepted
    link_closed,         // 0x60
    fault_injected,      // a = exchange, b = kind
    exchange_abandoned,  // the host went quiet or changed subject mid-exchange
    unexpected_byte,     // a = the byte, outside any exchange
    hung_up,             // the cable was pulled
    host_deviated,       // a = index in Phone_Model::deviations()
};

struct Phone_Event {
    Event_Kind kind;
    std::uint32_t a = 0, b = 0, c = 0, d = 0;
};

// One line of text for a log, e.g. "block-accepted region=0 offset=0 length=32768".
std::string Describe(const Phone_Event& event);

// One place where the host left the protocol.
struct Deviation {
    std::uint64_t host_byte = 0;  // number of the first byte concerned, from 1
    std::string exchange;         // "handshake", "command", "0xDD regions", "0xDE data", ...
    std::string expected;         // what the protocol asks for there
    std::string came;             // what the host sent instead
};

// One line, e.g. "host byte 83, handshake: expected 0xA5 (confirmation close), came 0x55".
std::string Describe(const Deviation& deviation);

struct Flash_Region {
    std::uint32_t start = 0;
    std::uint32_t length = 0;         // announced length
    std::vector<std::uint8_t> bytes;  // accepted so far, from start
};

// The generated boot-loader image: N times S bytes of pseudo-random content
// with the marker and the original record tail at marker_offset.
std::vector<std::uint8_t> Make_Dump_Image(const Phone_Config& config);

class Phone_Model {
  public:
    explicit Phone_Model(Phone_Config config = Default_Config());

    // Host bytes in. Output and events pile up until taken. reply_unread:
    // the carrier knows that some of the phone's earlier output has not been
    // read yet, so the host wrote without waiting for its reply.
    void receive(std::span<const std::uint8_t> bytes, bool reply_unread = false);
    std::vector<Phone_Output> take_output();
    std::vector<Phone_Event> take_events();

    // The carrier's clock in milliseconds, as the host's waits run: set before
    // each batch of host bytes, and before line_quiet and host_closed.
    void set_clock_ms(std::int64_t now_ms) { m_now_ms = now_ms; }

    // True while an exchange waits for more host bytes.
    bool mid_exchange() const { return m_state != State::idle; }
    // The host went quiet mid-exchange: forget it. port_open: the carrier
    // knows the host still holds the port, so it left the exchange unfinished
    // (a deviation unless the phone's own fault made it give up); otherwise
    // the host may have closed the port, which it may do at any time.
    void line_quiet(bool port_open = false);
    // A carrier that sees the host open and close the port says so. The phone
    // then knows that a new search follows a close, and a search on a port
    // that stayed open after the handshake is a deviation.
    void host_opened();
    void host_closed();

    // Every deviation of the host so far, oldest first; the first
    // kMaxDeviations are kept, the rest only counted.
    static constexpr std::size_t kMaxDeviations = 100;
    const std::vector<Deviation>& deviations() const { return m_deviations; }
    std::uint64_t deviations_not_kept() const { return m_deviations_not_kept; }

    // The cable: once pulled the phone ignores everything until plugged back,
    // which starts it afresh but keeps its record and flash.
    bool unplugged() const { return m_unplugged; }
    void plug_back_in();

    const Record& record() const { return m_record; }
    void set_record(const Record& record) { m_record = record; }
    // Regions of the last announcement with the bytes accepted so far.
    const std::vector<Flash_Region>& flash() const { return m_flash; }
    const std::vector<std::uint8_t>& dump_image() const { return m_dump; }
    // Host bytes seen over the model's lifetime.
    std::uint64_t bytes_received() const { return m_bytes_received; }

  private:
    enum class State {
        idle,
        await_a3,          // after the echo of 0x58
        await_a5,          // after 0x5C
        await_check,       // 0x55 after 0xA5
        e1_record,         // collecting the 32 record bytes
        dd_fields,         // collecting count + 4 addresses
        await_block_size,  // 4 bytes after 0xDE
        block_data,        // n bytes + 2 sum bytes
        await_resume,      // 0x69 (or the abort 0xA5) after an ask-again
    };

    // Where the host stands in the protocol, for judging it.
    enum class Phase {
        searching,  // handshake cycles, counted in m_cycles
        linked,     // 20 cycles done: the commands, in their order
        closed,     // after 0x60: only a new search
    };

    void on_byte(std::uint8_t byte);
    void on_command(std::uint8_t byte, bool judged = false);
    void on_announcement_complete();
    void answer_check();
    // Says no to something the host asked that the phone cannot take.
    void refuse_request(Exchange exchange);
    // trailing: host bytes that came with the block's last byte, before its reply.
    void on_block_complete(std::size_t trailing);
    void start_next_block();
    void finish_transfer();
    void abandon();

    // Finds the fault that applies to this occurrence of an exchange, counting it.
    std::optional<Fault_Rule> fault_for(Exchange exchange);
    std::optional<Fault_Rule> fault_for_occurrence(Exchange exchange, std::uint32_t occurrence);
    // Sends one reply through the fault machinery. Returns false when the fault
    // ended the exchange (silence, short reply or hang-up).
    bool reply(Exchange exchange, std::vector<std::uint8_t> bytes);
    bool reply_with(Exchange exchange, std::vector<std::uint8_t> bytes,
                    const std::optional<Fault_Rule>& fault);
    void queue_output(std::vector<std::uint8_t> bytes, std::uint32_t delay_ms);
    void event(Event_Kind kind, std::uint32_t a = 0, std::uint32_t b = 0, std::uint32_t c = 0,
               std::uint32_t d = 0);
    void pull_cable();

    // The judge (phone_checks.cpp).
    void deviate(std::uint64_t host_byte, std::string exchange, std::string expected,
                 std::string came);
    // Judges a byte that opens an exchange (on_command moves the phase).
    void judge_command(std::uint8_t byte);
    // A byte the current exchange does not take: a new search after a stop,
    // else a deviation; either way the phone starts over with it.
    void off_script(std::uint8_t byte);
    // Bytes the host sent before reading the phone's last reply.
    void judge_waiting(std::size_t count, std::uint8_t first);
    void start_search();
    std::string exchange_here() const;
    std::string expected_here() const;
    std::string commands_expected() const;
    bool command_in_turn(std::uint8_t byte) const;
    // The host is to abort the block it was asked for a fourth time.
    bool abort_due() const;
    // Whether the host may leave the protocol's path now: after a stop the
    // phone caused, or after a late reply once the host's limit has passed.
    bool excused() const;
    // The host shows it is in step again: nothing is excused any more.
    void back_in_step();

    Phone_Config m_config;
    Record m_record{};
    std::vector<std::uint8_t> m_dump;
    std::vector<Flash_Region> m_flash;
    std::mt19937_64 m_random;

    State m_state = State::idle;
    bool m_unplugged = false;
    std::uint64_t m_bytes_received = 0;
    std::uint32_t m_cycles = 0;  // consecutive handshake cycles

    // The judge's view of the host.
    Phase m_phase = Phase::searching;
    std::uint8_t m_commands_done = 0;  // Command_Bit of each command given on this link
    // The phone gave the host a reason to stop (a fault, a refusal, a closed
    // port): a new search, the closing byte and unread replies are excused
    // until the host is back in step.
    bool m_stopped = false;
    // A reply sent late: from this time on the host may have given up on it.
    std::optional<std::int64_t> m_late_excused_from;
    std::int64_t m_now_ms = 0;
    bool m_reply_faulted = false;  // the last reply went out disturbed
    bool m_knows_opens = false;    // the carrier reports opens and closes
    bool m_reply_owed = false;     // output the host has not read yet
    bool m_batch_judged = false;   // this batch's early bytes are reported
    Exchange m_owed_exchange = Exchange::sync_echo;
    std::vector<Deviation> m_deviations;
    std::uint64_t m_deviations_not_kept = 0;
    std::vector<std::uint8_t> m_field;
    std::array<std::uint32_t, kExchangeCount> m_occurrences{};

    // Transfer state.
    std::uint32_t m_block_size = 0;
    std::size_t m_region = 0;
    std::uint32_t m_offset = 0;
    std::uint32_t m_block_length = 0;
    std::uint32_t m_block_number = 0;  // lifetime occurrence of the current block
    std::uint32_t m_asked_again = 0;   // ask-again replies for the current block
    std::uint32_t m_forced_ask_again = 0;

    std::vector<Phone_Output> m_output;
    std::vector<Phone_Event> m_events;
};

}  // namespace vphone
