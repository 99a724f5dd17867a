// The boot loader's state machine: handshake, version record, dump, region
// announcement and block reception, with per-exchange fault injection.
#include "tools/virtual_phone/phone_model.h"

#include "tools/virtual_phone/phone_wire.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <utility>

namespace vphone {
namespace {

using namespace wire;

constexpr std::uint32_t kMaxBlockSize = 0x100000;  // bigger blocks are refused up front

constexpr std::array<std::string_view, kExchangeCount> kExchangeNames = {
    "sync-echo", "confirm",    "check",  "e0-ack", "e0-record", "e1-ack", "d6-ack",     "d6-n",
    "d6-s",      "dump-block", "dd-ack", "de-ack", "size-ack",  "block",  "resend-ack", "final",
};

std::uint32_t Little_Endian(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::vector<std::uint8_t> Big_Endian(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

std::optional<std::uint32_t> Parse_Number(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<Fault_Kind> Kind_From_Name(std::string_view name) {
    if (name == "silent")
        return Fault_Kind::silent;
    if (name == "wrong")
        return Fault_Kind::wrong;
    if (name == "short")
        return Fault_Kind::short_;
    if (name == "delay" || name == "late")
        return Fault_Kind::delay;
    if (name == "ask-again")
        return Fault_Kind::ask_again;
    if (name == "refuse")
        return Fault_Kind::refuse;
    if (name == "hangup")
        return Fault_Kind::hang_up;
    return std::nullopt;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

}  // namespace

std::string_view Exchange_Name(Exchange exchange) {
    return kExchangeNames[static_cast<std::size_t>(exchange)];
}

std::optional<Exchange> Exchange_From_Name(std::string_view name) {
    for (std::size_t i = 0; i < kExchangeNames.size(); ++i) {
        if (kExchangeNames[i] == name) {
            return static_cast<Exchange>(i);
        }
    }
    return std::nullopt;
}

std::string_view Fault_Kind_Name(Fault_Kind kind) {
    switch (kind) {
        case Fault_Kind::silent:
            return "silent";
        case Fault_Kind::wrong:
            return "wrong";
        case Fault_Kind::short_:
            return "short";
        case Fault_Kind::delay:
            return "delay";
        case Fault_Kind::ask_again:
            return "ask-again";
        case Fault_Kind::refuse:
            return "refuse";
        case Fault_Kind::hang_up:
            return "hangup";
    }
    return "?";
}

std::uint32_t Host_Limit_Ms(Exchange exchange) {
    // In the order of Exchange: each reply's read limit on the host's side.
    static constexpr std::array<std::uint32_t, kExchangeCount> kLimits = {
        1000,    // sync-echo
        3000,    // confirm
        100,     // check
        2000,    // e0-ack
        2000,    // e0-record
        2000,    // e1-ack
        2000,    // d6-ack
        200,     // d6-n
        200,     // d6-s
        20000,   // dump-block
        200,     // dd-ack
        2000,    // de-ack
        1000,    // size-ack
        10000,   // block
        10000,   // resend-ack
        120000,  // final
    };
    return kLimits[static_cast<std::size_t>(exchange)];
}

std::optional<Fault_Rule> Parse_Fault_Rule(std::string_view text, std::string* error) {
    auto fail = [&](std::string why) -> std::optional<Fault_Rule> {
        if (error) {
            *error = "bad fault '" + std::string(text) + "': " + why;
        }
        return std::nullopt;
    };
    auto parts = Split(text, ':');
    // "delay:EXCHANGE:MS" is the same as "EXCHANGE:delay:MS".
    if (parts.size() == 3 && parts[0] == "delay") {
        std::swap(parts[0], parts[1]);
    }
    if (parts.size() < 2 || parts.size() > 3) {
        return fail("expected EXCHANGE[@N]:KIND[:ARG]");
    }
    Fault_Rule rule;
    std::string_view where = parts[0];
    auto at = where.find('@');
    if (at != std::string_view::npos) {
        std::string_view range = where.substr(at + 1);
        where = where.substr(0, at);
        auto dash = range.find('-');
        if (!range.empty() && range.back() == '+') {
            auto first = Parse_Number(range.substr(0, range.size() - 1));
            if (!first || *first == 0)
                return fail("bad occurrence");
            rule.first = *first;
        } else if (dash != std::string_view::npos) {
            auto first = Parse_Number(range.substr(0, dash));
            auto last = Parse_Number(range.substr(dash + 1));
            if (!first || !last || *first == 0 || *last < *first)
                return fail("bad occurrence");
            rule.first = *first;
            rule.last = *last;
        } else {
            auto only = Parse_Number(range);
            if (!only || *only == 0)
                return fail("bad occurrence");
            rule.first = rule.last = *only;
        }
    }
    auto exchange = Exchange_From_Name(where);
    if (!exchange)
        return fail("unknown exchange '" + std::string(where) + "'");
    auto kind = Kind_From_Name(parts[1]);
    if (!kind)
        return fail("unknown fault kind '" + std::string(parts[1]) + "'");
    rule.exchange = *exchange;
    rule.kind = *kind;
    if (parts.size() == 3) {
        rule.arg = Parse_Number(parts[2]);
        if (!rule.arg)
            return fail("bad argument '" + std::string(parts[2]) + "'");
    }
    if ((rule.kind == Fault_Kind::ask_again || rule.kind == Fault_Kind::refuse) &&
        rule.exchange != Exchange::block) {
        return fail("ask-again and refuse apply to the block exchange only");
    }
    if (rule.kind == Fault_Kind::delay && !rule.arg)
        return fail("delay needs milliseconds");
    if ((rule.kind == Fault_Kind::wrong || rule.kind == Fault_Kind::refuse) && rule.arg &&
        *rule.arg > 0xFF) {
        return fail("the byte must be 0..255");
    }
    return rule;
}

Phone_Config Default_Config() {
    Phone_Config config;
    config.record.fill(0xFF);
    constexpr std::string_view tail = "M418ZHTWA00100";
    std::copy(tail.begin(), tail.end(), config.original_record_tail.begin());
    return config;
}

std::vector<std::uint8_t> Make_Dump_Image(const Phone_Config& config) {
    const std::size_t size = std::size_t{config.dump_blocks} * config.dump_block_size;
    std::vector<std::uint8_t> image(size);
    // A fixed generator so every run serves the same boot loader.
    std::uint32_t state = 0x4D343138;
    for (auto& byte : image) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    const std::size_t record_size = kDumpMarker.size() + config.original_record_tail.size();
    if (config.marker_offset + record_size <= size) {
        auto at = image.begin() + config.marker_offset;
        at = std::copy(kDumpMarker.begin(), kDumpMarker.end(), at);
        std::copy(config.original_record_tail.begin(), config.original_record_tail.end(), at);
    }
    return image;
}

std::string Describe(const Phone_Event& e) {
    auto num = [](std::uint32_t v) { return std::to_string(v); };
    auto hex = [](std::uint32_t v) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(v));
        return std::string(text);
    };
    switch (e.kind) {
        case Event_Kind::handshake_cycle:
            return "handshake-cycle count=" + num(e.a);
        case Event_Kind::record_read:
            return "record-read";
        case Event_Kind::record_written:
            return "record-written";
        case Event_Kind::dump_sent:
            return "dump-sent blocks=" + num(e.a);
        case Event_Kind::regions_announced:
            return "regions-announced first=" + hex(e.a) + "+" + num(e.b) + " second=" + hex(e.c) +
                   "+" + num(e.d);
        case Event_Kind::transfer_started:
            return "transfer-started block-size=" + num(e.a);
        case Event_Kind::block_accepted:
            return "block-accepted region=" + num(e.a) + " offset=" + num(e.b) +
                   " length=" + num(e.c);
        case Event_Kind::block_asked_again:
            return "block-asked-again region=" + num(e.a) + " offset=" + num(e.b) +
                   " reply=" + hex(e.c) + (e.d ? " bad-sum" : "");
        case Event_Kind::block_refused:
            return "block-refused region=" + num(e.a) + " offset=" + num(e.b) +
                   " reply=" + hex(e.c);
        case Event_Kind::transfer_aborted:
            return "transfer-aborted";
        case Event_Kind::final_ack_sent:
            return "final-ack-sent";
        case Event_Kind::link_closed:
            return "link-closed";
        case Event_Kind::fault_injected:
            return "fault exchange=" + std::string(Exchange_Name(static_cast<Exchange>(e.a))) +
                   " kind=" + std::string(Fault_Kind_Name(static_cast<Fault_Kind>(e.b)));
        case Event_Kind::exchange_abandoned:
            return "exchange-abandoned";
        case Event_Kind::unexpected_byte:
            return "unexpected-byte " + hex(e.a);
        case Event_Kind::hung_up:
            return "hung-up";
        case Event_Kind::host_deviated:
            return "host-deviated index=" + num(e.a);
    }
    return "?";
}

Phone_Model::Phone_Model(Phone_Config config)
    : m_config(std::move(config)),
      m_record(m_config.record),
      m_dump(Make_Dump_Image(m_config)),
      m_random(m_config.seed) {}

void Phone_Model::receive(std::span<const std::uint8_t> bytes, bool reply_unread) {
    m_reply_owed = reply_unread;
    m_batch_judged = false;
    for (std::size_t at = 0; at < bytes.size();) {
        if (m_unplugged) {
            return;
        }
        if (m_reply_owed && !m_batch_judged) {
            judge_waiting(bytes.size() - at, bytes[at]);
        }
        // A block's data is only collected until the block is complete: take
        // it in one piece, so that a fast host is not held up by the model.
        // (Byte by byte when the cable is to be pulled after an exact count.)
        const std::size_t block_bytes = std::size_t{m_block_length} + 2;
        if (m_state == State::block_data && m_config.hang_up_after_bytes == 0 &&
            m_field.size() < block_bytes) {
            const std::size_t take = std::min(block_bytes - m_field.size(), bytes.size() - at);
            m_field.insert(m_field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at + take));
            m_bytes_received += take;
            at += take;
            if (m_field.size() == block_bytes) {
                const std::size_t trailing = bytes.size() - at;
                on_block_complete(trailing);
                // Bytes past the announced block, sent before its reply, are
                // the rest of an over-long block: reported, then dropped.
                m_bytes_received += trailing;
                return;
            }
            continue;
        }
        const std::uint8_t byte = bytes[at++];
        ++m_bytes_received;
        const std::size_t output_before = m_output.size();
        on_byte(byte);
        if (m_config.hang_up_after_bytes != 0 && m_bytes_received == m_config.hang_up_after_bytes &&
            !m_unplugged) {
            // The cable goes with the last byte: no answer to it leaves the
            // phone. Sent and then cut off, the answer would reach the host
            // or not depending on which process runs first.
            m_output.resize(output_before);
            pull_cable();
        }
    }
}

std::vector<Phone_Output> Phone_Model::take_output() {
    return std::exchange(m_output, {});
}

std::vector<Phone_Event> Phone_Model::take_events() {
    return std::exchange(m_events, {});
}

void Phone_Model::line_quiet(bool port_open) {
    if (m_state == State::idle) {
        return;
    }
    if (port_open && !excused()) {
        deviate(m_bytes_received + 1, exchange_here(), expected_here(),
                "nothing: the host went quiet with the port open");
    }
    abandon();
    m_stopped = true;
}

void Phone_Model::host_opened() {
    m_knows_opens = true;
}

void Phone_Model::host_closed() {
    if (m_state != State::idle) {
        abandon();
    }
    // Whatever comes next belongs to a new search; replies the host left
    // unread on the way out are its own business.
    start_search();
    m_stopped = true;
}

void Phone_Model::plug_back_in() {
    m_unplugged = false;
    m_state = State::idle;
    m_field.clear();
    start_search();
    back_in_step();
    m_reply_owed = false;
}

void Phone_Model::abandon() {
    event(Event_Kind::exchange_abandoned);
    m_state = State::idle;
    m_field.clear();
}

void Phone_Model::pull_cable() {
    m_unplugged = true;
    m_state = State::idle;
    m_field.clear();
    Phone_Output out;
    out.hang_up = true;
    m_output.push_back(std::move(out));
    event(Event_Kind::hung_up);
}

void Phone_Model::event(Event_Kind kind, std::uint32_t a, std::uint32_t b, std::uint32_t c,
                        std::uint32_t d) {
    m_events.push_back(Phone_Event{kind, a, b, c, d});
}

void Phone_Model::queue_output(std::vector<std::uint8_t> bytes, std::uint32_t delay_ms) {
    if (!bytes.empty()) {
        m_reply_owed = true;
    }
    m_output.push_back(Phone_Output{delay_ms, std::move(bytes), false});
}

std::optional<Fault_Rule> Phone_Model::fault_for(Exchange exchange) {
    auto occurrence = ++m_occurrences[static_cast<std::size_t>(exchange)];
    return fault_for_occurrence(exchange, occurrence);
}

std::optional<Fault_Rule> Phone_Model::fault_for_occurrence(Exchange exchange,
                                                            std::uint32_t occurrence) {
    for (const auto& rule : m_config.faults) {
        if (rule.exchange == exchange && occurrence >= rule.first && occurrence <= rule.last) {
            return rule;
        }
    }
    return std::nullopt;
}

bool Phone_Model::reply(Exchange exchange, std::vector<std::uint8_t> bytes) {
    return reply_with(exchange, std::move(bytes), fault_for(exchange));
}

bool Phone_Model::reply_with(Exchange exchange, std::vector<std::uint8_t> bytes,
                             const std::optional<Fault_Rule>& fault) {
    m_owed_exchange = exchange;
    m_reply_faulted = false;
    std::uint32_t delay = 0;
    if (m_config.random_delay_ms != 0) {
        delay = static_cast<std::uint32_t>(m_random() % (m_config.random_delay_ms + 1ull));
    }
    if (!fault || fault->kind == Fault_Kind::ask_again || fault->kind == Fault_Kind::refuse) {
        queue_output(std::move(bytes), delay);
        return true;
    }
    // A disturbed reply may make the host give up, whatever the exchange; a
    // late one only once the host's limit for it has passed.
    m_reply_faulted = true;
    if (fault->kind != Fault_Kind::delay)
        m_stopped = true;
    event(Event_Kind::fault_injected, static_cast<std::uint32_t>(exchange),
          static_cast<std::uint32_t>(fault->kind));
    switch (fault->kind) {
        case Fault_Kind::silent:
            abandon();
            return false;
        case Fault_Kind::wrong:
            bytes[0] = static_cast<std::uint8_t>(fault->arg.value_or(~bytes[0] & 0xFF));
            queue_output(std::move(bytes), delay);
            return true;
        case Fault_Kind::short_: {
            auto keep = std::min<std::size_t>(fault->arg.value_or(bytes.size() / 2), bytes.size());
            bytes.resize(keep);
            if (!bytes.empty()) {
                queue_output(std::move(bytes), delay);
            }
            abandon();
            return false;
        }
        case Fault_Kind::delay: {
            queue_output(std::move(bytes), delay + *fault->arg);
            const std::int64_t excused_from =
                m_now_ms + Host_Limit_Ms(exchange) - m_config.clock_slack_ms;
            if (!m_late_excused_from || excused_from < *m_late_excused_from)
                m_late_excused_from = excused_from;
            return true;
        }
        case Fault_Kind::hang_up:
            pull_cable();
            return false;
        case Fault_Kind::ask_again:
        case Fault_Kind::refuse:
            break;
    }
    return true;
}

// Says no to something the host asked that the phone cannot take; the host
// is to stop.
void Phone_Model::refuse_request(Exchange exchange) {
    reply(exchange, {kNotAck});
    m_stopped = true;
}

void Phone_Model::on_byte(std::uint8_t byte) {
    switch (m_state) {
        case State::idle:
            on_command(byte);
            return;
        case State::await_a3:
            if (byte == kChallenge) {
                m_state = State::await_a5;
                reply(Exchange::confirm, {kChallengeAnswer});
                return;
            }
            break;
        case State::await_a5:
            if (byte == kConfirmClose) {
                m_state = State::await_check;
                return;
            }
            break;
        case State::await_check:
            if (byte == kCheck) {
                m_state = State::idle;
                answer_check();
                return;
            }
            break;
        case State::e1_record:
            m_field.push_back(byte);
            if (m_field.size() == m_record.size()) {
                std::copy(m_field.begin(), m_field.end(), m_record.begin());
                m_field.clear();
                m_state = State::idle;
                event(Event_Kind::record_written);
            }
            return;
        case State::dd_fields:
            m_field.push_back(byte);
            if (m_field.size() == kRegionFields) {
                on_announcement_complete();
            }
            return;
        case State::await_block_size: {
            m_field.push_back(byte);
            if (m_field.size() < 4) {
                return;
            }
            m_block_size = Little_Endian(m_field.data());
            m_field.clear();
            m_state = State::idle;
            if (m_block_size != kBlockSize) {
                deviate(m_bytes_received - 3, "0xDE data", "block size " + Hex(kBlockSize, 8),
                        Hex(m_block_size, 8));
            }
            if (m_block_size == 0 || m_block_size > kMaxBlockSize) {
                refuse_request(Exchange::size_ack);
                return;
            }
            if (!reply(Exchange::size_ack, {kAck})) {
                return;
            }
            event(Event_Kind::transfer_started, m_block_size);
            for (auto& region : m_flash) {
                region.bytes.clear();
            }
            m_region = 0;
            m_offset = 0;
            start_next_block();
            return;
        }
        case State::block_data:
            m_field.push_back(byte);
            if (m_field.size() == std::size_t{m_block_length} + 2) {
                on_block_complete(0);
            }
            return;
        case State::await_resume:
            if (byte == kAccepted || byte == kConfirmClose) {
                // 0x69 sends the block again; 0xA5 gives up on it, which the
                // host does at the fourth ask-again and only then.
                if ((byte == kConfirmClose) != abort_due()) {
                    deviate(m_bytes_received, exchange_here(), expected_here(), Hex(byte));
                }
                if (byte == kAccepted) {
                    m_state = State::block_data;
                    m_field.clear();
                } else {
                    event(Event_Kind::transfer_aborted);
                    m_state = State::idle;
                    m_stopped = true;
                }
                return;
            }
            break;
    }
    off_script(byte);
}

void Phone_Model::on_announcement_complete() {
    m_state = State::idle;
    const std::uint8_t* p = m_field.data();
    const std::uint64_t starts[2] = {Little_Endian(p + 1), Little_Endian(p + 9)};
    const std::uint64_t ends[2] = {Little_Endian(p + 5), Little_Endian(p + 13)};
    const std::uint8_t count = p[0];
    m_field.clear();
    // Two regions, each ending at or after the byte before its start (a
    // region of length 0 ends just before it begins).
    const std::uint64_t first_byte = m_bytes_received - (kRegionFields - 1);
    bool sound = count == kRegionCount;
    if (!sound) {
        deviate(first_byte, "0xDD regions", "region count " + Hex(kRegionCount), Hex(count));
    }
    for (int i = 0; i < 2; ++i) {
        if (ends[i] + 1 < starts[i]) {
            sound = false;
            deviate(first_byte + 5 + 8 * i, "0xDD regions",
                    "region " + std::to_string(i + 1) + " ending at or after " +
                        Hex(static_cast<std::uint32_t>(starts[i] - 1), 8),
                    Hex(static_cast<std::uint32_t>(ends[i]), 8));
        }
    }
    if (!sound) {
        refuse_request(Exchange::dd_ack);
        return;
    }
    // Announcing regions erases the flash they name.
    m_flash.clear();
    for (int i = 0; i < 2; ++i) {
        m_flash.push_back(Flash_Region{static_cast<std::uint32_t>(starts[i]),
                                       static_cast<std::uint32_t>(ends[i] + 1 - starts[i]),
                                       {}});
    }
    event(Event_Kind::regions_announced, m_flash[0].start, m_flash[0].length, m_flash[1].start,
          m_flash[1].length);
    reply(Exchange::dd_ack, {kAck});
}

void Phone_Model::answer_check() {
    if (!reply(Exchange::check, {kCheckAnswer})) {
        return;
    }
    event(Event_Kind::handshake_cycle, ++m_cycles);
    if (!m_reply_faulted) {
        back_in_step();  // a whole cycle: the host is in step again
    }
}

void Phone_Model::on_command(std::uint8_t byte, bool judged) {
    // The first byte after a whole handshake opens the linked phase.
    if (m_phase == Phase::searching && m_cycles >= kSyncCycles && byte != kSync) {
        m_phase = Phase::linked;
        m_commands_done = 0;
    }
    if (!judged) {
        judge_command(byte);
    }
    if (byte != kCheck && byte != kSync) {
        m_cycles = 0;
    }
    m_commands_done |= Command_Bit(byte);
    switch (byte) {
        case kSync:
            // A search after the link was made or closed starts afresh (a
            // carrier that cannot see closes lets a search run on past 20).
            if (m_phase != Phase::searching || (m_knows_opens && m_cycles >= kSyncCycles)) {
                start_search();
            }
            if (reply(Exchange::sync_echo, {kSync})) {
                m_state = State::await_a3;
            }
            return;
        case kCheck:
            // Outside a cycle: answered, but it makes no cycle.
            reply(Exchange::check, {kCheckAnswer});
            return;
        case kReadRecord: {
            if (!reply(Exchange::e0_ack, {kAck})) {
                return;
            }
            if (reply(Exchange::e0_record, {m_record.begin(), m_record.end()})) {
                event(Event_Kind::record_read);
            }
            return;
        }
        case kWriteRecord:
            if (reply(Exchange::e1_ack, {kAck})) {
                m_state = State::e1_record;
                m_field.clear();
            }
            return;
        case kDump: {
            if (!reply(Exchange::d6_ack, {kAck}) ||
                !reply(Exchange::d6_n, Big_Endian(m_config.dump_blocks)) ||
                !reply(Exchange::d6_s, Big_Endian(m_config.dump_block_size))) {
                return;
            }
            const std::size_t size = m_config.dump_block_size;
            for (std::uint32_t i = 0; i < m_config.dump_blocks; ++i) {
                auto first = m_dump.begin() + static_cast<std::ptrdiff_t>(i * size);
                if (!reply(Exchange::dump_block,
                           {first, first + static_cast<std::ptrdiff_t>(size)})) {
                    return;
                }
            }
            event(Event_Kind::dump_sent, m_config.dump_blocks);
            return;
        }
        case kRegions:
            m_state = State::dd_fields;
            m_field.clear();
            return;
        case kData:
            // Without an announcement the phone does not know where to write.
            if (m_flash.size() != 2) {
                refuse_request(Exchange::de_ack);
                return;
            }
            if (reply(Exchange::de_ack, {kAck})) {
                m_state = State::await_block_size;
                m_field.clear();
            }
            return;
        case kClose:
            m_phase = Phase::closed;
            event(Event_Kind::link_closed);
            return;
        default:
            event(Event_Kind::unexpected_byte, byte);
            return;
    }
}

void Phone_Model::start_next_block() {
    while (m_region < m_flash.size() && m_offset >= m_flash[m_region].length) {
        ++m_region;
        m_offset = 0;
    }
    if (m_region >= m_flash.size()) {
        finish_transfer();
        return;
    }
    m_block_length = std::min(m_block_size, m_flash[m_region].length - m_offset);
    m_asked_again = 0;
    m_forced_ask_again = 0;
    m_block_number = 0;  // counted when the block first arrives
    m_state = State::block_data;
    m_field.clear();
}

void Phone_Model::finish_transfer() {
    m_state = State::idle;
    if (reply(Exchange::final_ack, {kAck})) {
        event(Event_Kind::final_ack_sent);
    }
}

void Phone_Model::on_block_complete(std::size_t trailing) {
    std::optional<Fault_Rule> fault;
    if (m_block_number == 0) {
        m_block_number = ++m_occurrences[static_cast<std::size_t>(Exchange::block)];
        fault = fault_for_occurrence(Exchange::block, m_block_number);
        if (fault && fault->kind == Fault_Kind::ask_again) {
            m_forced_ask_again = fault->arg.value_or(1);
            event(Event_Kind::fault_injected, static_cast<std::uint32_t>(Exchange::block),
                  static_cast<std::uint32_t>(Fault_Kind::ask_again));
        }
    }
    const std::span<const std::uint8_t> data(m_field.data(), m_block_length);
    std::uint32_t sum = 0;
    for (std::uint8_t b : data) {
        sum += b;
    }
    const std::uint32_t sent_sum =
        std::uint32_t{m_field[m_block_length]} << 8 | m_field[m_block_length + 1];
    const bool sum_ok = (sum & 0xFFFF) == sent_sum;
    const auto where = [&] {
        return "the block at region " + std::to_string(m_region + 1) + " offset " +
               std::to_string(m_offset) + " (" + std::to_string(m_block_length) + " bytes)";
    };
    if (trailing > 0) {
        // More bytes than the block and its sum before the reply: its "sum"
        // was data, so only the length is worth reporting.
        m_batch_judged = true;
        deviate(m_bytes_received - 1, "0xDE data", where() + " and its 2-byte sum",
                std::to_string(m_block_length + 2 + trailing) + " bytes before the reply");
    } else if (!sum_ok) {
        deviate(m_bytes_received - 1, "0xDE data", "sum " + Hex(sum & 0xFFFF, 4) + " of " + where(),
                Hex(sent_sum, 4));
    }

    std::uint8_t answer = kAccepted;
    if (fault && fault->kind == Fault_Kind::refuse) {
        answer = static_cast<std::uint8_t>(fault->arg.value_or(0x05));
        event(Event_Kind::fault_injected, static_cast<std::uint32_t>(Exchange::block),
              static_cast<std::uint32_t>(Fault_Kind::refuse));
    } else if (!sum_ok) {
        answer = m_config.ask_again_byte;
    } else if (m_forced_ask_again > 0) {
        --m_forced_ask_again;
        answer = m_config.ask_again_byte;
    } else if (m_config.random_ask_again > 0 && m_asked_again < kMaxResends &&
               std::uniform_real_distribution<double>(0, 1)(m_random) < m_config.random_ask_again) {
        answer = m_config.ask_again_byte;
    }

    // The reply may itself be disturbed (silence, a wrong byte, a delay...).
    const std::size_t before = m_output.size();
    if (!reply_with(Exchange::block, {answer}, fault)) {
        return;
    }
    if (m_output.size() > before) {
        answer = m_output.back().bytes.front();
    }

    const auto region = static_cast<std::uint32_t>(m_region);
    if (answer == kAccepted) {
        auto& bytes = m_flash[m_region].bytes;
        bytes.insert(bytes.end(), data.begin(), data.end());
        event(Event_Kind::block_accepted, region, m_offset, m_block_length);
        m_offset += m_block_length;
        start_next_block();
    } else if (answer == 0x05 || answer == 0x06 || answer == 0x07) {
        event(Event_Kind::block_refused, region, m_offset, answer);
        m_state = State::idle;
        m_field.clear();
        m_stopped = true;  // the host stops sending
    } else {
        ++m_asked_again;
        event(Event_Kind::block_asked_again, region, m_offset, answer, sum_ok ? 0 : 1);
        m_field.clear();
        m_state = State::await_resume;
        reply(Exchange::resend_ack, {kAck});
    }
}

}  // namespace vphone
