// The phone as judge of the host: which byte the protocol allows at each
// point, and the list of the host's deviations from it.
//
// What is not a deviation: closing the port at any time (an exchange left
// half done is forgotten), a new search (0x58) after any stop, and what the
// phone's own faults make the host do - give up an exchange, leave a reply
// unread, end the link or search anew. Such a stop is excused until the host
// shows it is in step again (a whole handshake cycle, or the next command).
// A late reply excuses the host only from the moment its own limit for that
// reply has passed: a host that writes into the exchange before then (say,
// the closing byte after a stop of its own) has not given up on the phone's
// account.
#include <utility>

#include "tools/virtual_phone/phone_model.h"
#include "tools/virtual_phone/phone_wire.h"

namespace vphone {

using namespace wire;

std::string Describe(const Deviation& deviation) {
    return "host byte " + std::to_string(deviation.host_byte) + ", " + deviation.exchange +
           ": expected " + deviation.expected + ", came " + deviation.came;
}

void Phone_Model::deviate(std::uint64_t host_byte, std::string exchange, std::string expected,
                          std::string came) {
    if (m_deviations.size() >= kMaxDeviations) {
        ++m_deviations_not_kept;
        return;
    }
    m_deviations.push_back(
        Deviation{host_byte, std::move(exchange), std::move(expected), std::move(came)});
    event(Event_Kind::host_deviated, static_cast<std::uint32_t>(m_deviations.size() - 1));
}

void Phone_Model::start_search() {
    m_phase = Phase::searching;
    m_cycles = 0;
    m_commands_done = 0;
}

bool Phone_Model::excused() const {
    return m_stopped || (m_late_excused_from && m_now_ms >= *m_late_excused_from);
}

void Phone_Model::back_in_step() {
    m_stopped = false;
    m_late_excused_from.reset();
}

bool Phone_Model::abort_due() const {
    return m_state == State::await_resume && m_asked_again > kMaxResends;
}

bool Phone_Model::command_in_turn(std::uint8_t byte) const {
    const auto done = [&](std::uint8_t command) {
        return (m_commands_done & Command_Bit(command)) != 0;
    };
    switch (byte) {
        case kReadRecord:
            return !done(kReadRecord);
        case kDump:
            return done(kReadRecord) && !done(kDump) && !done(kWriteRecord);
        case kWriteRecord:
            return done(kReadRecord) && !done(kWriteRecord);
        case kRegions:
            return done(kWriteRecord) && !done(kRegions);
        case kData:
            return done(kRegions) && !done(kData);
        case kClose:
            return true;
        default:
            return false;
    }
}

std::string Phone_Model::commands_expected() const {
    std::string list;
    for (std::uint8_t command : {kReadRecord, kDump, kWriteRecord, kRegions, kData, kClose}) {
        if (command_in_turn(command)) {
            list += (list.empty() ? "" : " or ") + Hex(command);
        }
    }
    // Without seeing closes the phone takes any 0x58 for a new search.
    return m_knows_opens ? list : list + " or 0x58 (a new search)";
}

std::string Phone_Model::exchange_here() const {
    switch (m_state) {
        case State::idle:
            return m_phase == Phase::closed                              ? "after 0x60"
                   : m_phase == Phase::linked || m_cycles >= kSyncCycles ? "command"
                                                                         : "handshake";
        case State::await_a3:
        case State::await_a5:
        case State::await_check:
            return "handshake";
        case State::e1_record:
            return "0xE1 record";
        case State::dd_fields:
            return "0xDD regions";
        case State::await_block_size:
        case State::block_data:
        case State::await_resume:
            return "0xDE data";
    }
    return "?";
}

std::string Phone_Model::expected_here() const {
    const auto more = [&](std::size_t count, const char* what) {
        return std::to_string(count) + " more " + what;
    };
    switch (m_state) {
        case State::idle:
            if (m_phase == Phase::closed) {
                return "0x58 (a new search)";
            }
            if (m_phase == Phase::searching && m_cycles < kSyncCycles) {
                return "0x58 (handshake cycle " + std::to_string(m_cycles + 1) + " of " +
                       std::to_string(kSyncCycles) + ")";
            }
            return commands_expected();
        case State::await_a3:
            return "0xA3 (challenge)";
        case State::await_a5:
            return "0xA5 (confirmation close)";
        case State::await_check:
            return "0x55 (check)";
        case State::e1_record:
            return more(m_record.size() - m_field.size(), "bytes of the record");
        case State::dd_fields:
            return more(kRegionFields - m_field.size(), "bytes of the announcement");
        case State::await_block_size:
            return more(4 - m_field.size(), "bytes of the block size");
        case State::block_data:
            return more(std::size_t{m_block_length} + 2 - m_field.size(),
                        "bytes of the block and its sum");
        case State::await_resume:
            return abort_due() ? "0xA5 (abort after the fourth ask-again)" : "0x69 (resume)";
    }
    return "?";
}

void Phone_Model::judge_command(std::uint8_t byte) {
    if (byte == kSync) {
        const bool handshake_done = m_phase == Phase::linked || m_cycles >= kSyncCycles;
        if (m_phase == Phase::closed || !handshake_done || excused() || !m_knows_opens) {
            return;  // the next cycle, or a new search after a stop
        }
        deviate(m_bytes_received, "command", commands_expected(), Hex(byte));
        return;
    }
    if (m_phase == Phase::linked) {
        if (!command_in_turn(byte)) {
            deviate(m_bytes_received, "command", commands_expected(), Hex(byte));
        } else if (byte != kClose) {
            back_in_step();  // the host goes on in step
        }
        return;
    }
    if (byte == kClose && excused()) {
        return;  // ending the link after the phone made the host give up
    }
    deviate(m_bytes_received, exchange_here(), expected_here(), Hex(byte));
}

void Phone_Model::off_script(std::uint8_t byte) {
    // After a stop the host may end the link or search anew at any point.
    const bool stop = excused() && (byte == kSync || byte == kClose);
    if (!stop) {
        deviate(m_bytes_received, exchange_here(), expected_here(), Hex(byte));
    }
    abandon();
    if (stop && byte == kSync) {
        start_search();
    }
    on_command(byte, true);
}

void Phone_Model::judge_waiting(std::size_t count, std::uint8_t first) {
    m_reply_owed = false;
    // The host stopped, or it aborts a block without reading the 0x5A that
    // followed the fourth ask-again: nothing is owed any more.
    if (excused() || abort_due()) {
        return;
    }
    m_batch_judged = true;
    deviate(m_bytes_received + 1, std::string(Exchange_Name(m_owed_exchange)),
            "no byte before the phone's reply is read",
            Hex(first) + (count > 1 ? " and " + std::to_string(count - 1) + " more bytes" : ""));
}

}  // namespace vphone
