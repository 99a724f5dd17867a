// The replay's script: the trace's host bytes as one stream to compare with,
// and the phone's answers and hang-ups as steps, each due at a point of that
// stream. Opens, closes and line settings are the host's own doing and are
// not played; a successful open after a hang-up plugs the cable in again.
#include "tools/virtual_phone/replay_session.h"

#include <algorithm>

#include "tools/virtual_phone/phone_wire.h"

namespace vphone {
namespace {
constexpr std::size_t kRecordSize = 32;
}

Replay_Session::Replay_Session(const Trace& trace, bool any_image) {
    Compile(trace, any_image);
}

void Replay_Session::Compile(const Trace& trace, bool any_image) {
    std::int64_t last_time = 0;
    bool unplugged = false;
    // Where the block transfer stands: after 0xDE and the 4-byte block size
    // come the blocks, each its data and a 2-byte sum.
    enum class Blocks { before, size_next, data_next, sum_next, reply_next, control_next };
    Blocks blocks = Blocks::before;
    bool record_next = false;  // the host wrote 0xE1: the version record comes next
    for (const Trace_Record& record : trace.records) {
        switch (record.kind) {
            case Trace_Kind::to_phone: {
                if (record.bytes.empty())
                    break;
                Host_Record host;
                host.start = m_host.size();
                host.length = record.bytes.size();
                host.operation = record.operation;
                if (blocks == Blocks::size_next) {
                    blocks = record.bytes.size() == 4 ? Blocks::data_next : Blocks::before;
                } else if (blocks == Blocks::data_next && record.bytes.size() > 2) {
                    host.free = any_image;
                    blocks = Blocks::sum_next;
                } else if (blocks == Blocks::sum_next && record.bytes.size() == 2) {
                    host.sum_of_prev = any_image;
                    blocks = Blocks::reply_next;
                } else if (blocks == Blocks::control_next && record.bytes.size() == 1) {
                    blocks =
                        record.bytes[0] == wire::kAccepted ? Blocks::data_next : Blocks::before;
                } else if (record.bytes.size() == 1 && record.bytes[0] == wire::kData) {
                    blocks = Blocks::size_next;
                } else if (blocks != Blocks::reply_next) {
                    blocks = Blocks::before;
                }
                // Another image has its own version: the record written
                // after 0xE1 is its.
                if (record_next && record.bytes.size() == kRecordSize)
                    host.free = any_image;
                record_next = record.bytes.size() == 1 && record.bytes[0] == wire::kWriteRecord;
                m_host.insert(m_host.end(), record.bytes.begin(), record.bytes.end());
                m_records.push_back(std::move(host));
                last_time = record.time_us;
                break;
            }
            case Trace_Kind::from_phone: {
                if (record.bytes.empty())
                    break;
                if (blocks == Blocks::reply_next) {
                    const std::uint8_t reply = record.bytes[0];
                    if (reply == wire::kAccepted)
                        blocks = Blocks::data_next;
                    else if (reply >= 0x05 && reply <= 0x07)
                        blocks = Blocks::before;
                    else
                        blocks = Blocks::control_next;  // asked again: 0x5A, then 0x69 or 0xA5
                }
                Replay_Step step;
                step.kind = Replay_Step::Kind::send;
                step.bytes = record.bytes;
                step.pause_us = std::max<std::int64_t>(0, record.time_us - last_time);
                step.after_host_bytes = m_host.size();
                step.operation = record.operation;
                m_steps.push_back(std::move(step));
                last_time = record.time_us;
                break;
            }
            case Trace_Kind::hang_up:
                if (!unplugged) {
                    Replay_Step step;
                    step.kind = Replay_Step::Kind::hang_up;
                    step.pause_us = std::max<std::int64_t>(0, record.time_us - last_time);
                    step.after_host_bytes = m_host.size();
                    step.operation = record.operation;
                    m_steps.push_back(std::move(step));
                    last_time = record.time_us;
                    unplugged = true;
                }
                break;
            case Trace_Kind::open:
                if (unplugged) {
                    Replay_Step step;
                    step.kind = Replay_Step::Kind::plug_in;
                    step.after_host_bytes = m_host.size();
                    m_steps.push_back(std::move(step));
                    unplugged = false;
                }
                break;
            default:
                break;
        }
    }
}

const Replay_Step* Replay_Session::Next_Step() const {
    if (m_next_step >= m_steps.size())
        return nullptr;
    const Replay_Step& step = m_steps[m_next_step];
    return m_received >= step.after_host_bytes ? &step : nullptr;
}

const Replay_Session::Host_Record& Replay_Session::Record_At(std::uint64_t offset) const {
    const auto after = std::upper_bound(
        m_records.begin(), m_records.end(), offset,
        [](std::uint64_t value, const Host_Record& record) { return value < record.start; });
    return *(after - 1);
}

void Replay_Session::Deviate(std::uint64_t offset, const std::string& what) {
    m_deviations.push_back("host byte " + std::to_string(offset + 1) + ", " + what);
}

void Replay_Session::receive(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
        const std::uint64_t offset = m_received++;
        m_came.push_back(byte);
        if (offset >= m_host.size()) {
            if (!m_overran)
                Deviate(offset, "after the end of the recording: came " + wire::Hex(byte) +
                                    " where the recorded host wrote no more");
            m_overran = true;
            continue;
        }
        const std::size_t index = static_cast<std::size_t>(&Record_At(offset) - m_records.data());
        const Host_Record& record = m_records[index];
        const bool last_of_record = offset + 1 == record.start + record.length;
        if (record.sum_of_prev) {
            if (last_of_record)
                Check_Sum(record);
            continue;
        }
        if (record.free || byte == m_host[offset])
            continue;
        // One line for each record that differs, at its first differing byte.
        if (m_last_deviated_record != index) {
            m_last_deviated_record = index;
            Deviate(offset, record.operation + ": expected " + wire::Hex(m_host[offset]) +
                                " (byte " + std::to_string(offset - record.start + 1) + " of " +
                                std::to_string(record.length) + " recorded), came " +
                                wire::Hex(byte));
        }
    }
}

// Under any_image the sum is the host's own data's: sent high byte first.
void Replay_Session::Check_Sum(const Host_Record& sum_record) {
    const Host_Record& data = *(&sum_record - 1);
    std::uint16_t sum = 0;
    for (std::uint64_t i = data.start; i < data.start + data.length; ++i)
        sum = static_cast<std::uint16_t>(sum + m_came[i]);
    const std::uint16_t came =
        static_cast<std::uint16_t>(m_came[sum_record.start] << 8 | m_came[sum_record.start + 1]);
    if (came != sum)
        Deviate(sum_record.start, sum_record.operation + ": expected the sum " + wire::Hex(sum, 4) +
                                      " of the block just sent, came " + wire::Hex(came, 4));
}

void Replay_Session::Host_Finished() {
    if (m_received < m_host.size()) {
        const Host_Record& record = Record_At(m_received);
        Deviate(m_received, record.operation + ": expected " + wire::Hex(m_host[m_received]) +
                                ", came nothing (the host stopped after " +
                                std::to_string(m_received) + " of the recorded " +
                                std::to_string(m_host.size()) + " bytes)");
    }
}

}  // namespace vphone
