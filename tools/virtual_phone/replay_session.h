// A recorded session served back as the phone: the trace's phone bytes go
// out once the host has written every byte that the recorded host wrote
// before them, after the recorded pause; a recorded hang-up pulls the cable
// at its point. Every host byte is compared with the recorded host's, and
// each place where they differ is kept with its offset.
//
// With any_image a block's data may differ (another image of the same
// layout): only its length is held to the recording, and its 16-bit sum is
// checked against the data the host sent instead; the version record the
// host writes (the image's own) may differ too.
//
// No I/O and no clock: the carrier (the virtual phone's --replay) moves the
// bytes and keeps the time.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/virtual_phone/trace_reader.h"

namespace vphone {

struct Replay_Step {
    enum class Kind { send, hang_up, plug_in };
    Kind kind = Kind::send;
    std::vector<std::uint8_t> bytes;     // send
    std::int64_t pause_us = 0;           // after the step before it, as recorded
    std::uint64_t after_host_bytes = 0;  // due once the host has written this many
    std::string operation;
};

class Replay_Session {
  public:
    Replay_Session(const Trace& trace, bool any_image);

    // Host bytes in; deviations pile up.
    void receive(std::span<const std::uint8_t> bytes);
    // The next step of the phone's, while the host has written what it waits
    // for; the carrier then calls Step_Done.
    const Replay_Step* Next_Step() const;
    void Step_Done() { ++m_next_step; }
    // How many host bytes the phone's next step waits for (none left: the most).
    std::uint64_t Awaited_Host_Bytes() const {
        return m_next_step < m_steps.size() ? m_steps[m_next_step].after_host_bytes : UINT64_MAX;
    }
    // The host is done (the carrier stops): what it left unwritten is one
    // more deviation.
    void Host_Finished();

    const std::vector<std::string>& Deviations() const { return m_deviations; }
    std::uint64_t Host_Bytes_Expected() const { return m_host.size(); }
    std::uint64_t Host_Bytes_Received() const { return m_received; }

  private:
    // Where each recorded host write starts, and what it belongs to.
    struct Host_Record {
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        std::string operation;
        bool free = false;         // block data under any_image
        bool sum_of_prev = false;  // the sum of the free record before it
    };
    void Compile(const Trace& trace, bool any_image);
    const Host_Record& Record_At(std::uint64_t offset) const;
    void Check_Sum(const Host_Record& sum_record);
    void Deviate(std::uint64_t offset, const std::string& what);

    std::vector<std::uint8_t> m_host;  // every recorded host byte, in order
    std::vector<Host_Record> m_records;
    std::vector<Replay_Step> m_steps;
    std::size_t m_next_step = 0;
    std::vector<std::uint8_t> m_came;  // the host's bytes as they came
    std::uint64_t m_received = 0;
    std::optional<std::size_t> m_last_deviated_record;
    bool m_overran = false;
    std::vector<std::string> m_deviations;
};

}  // namespace vphone
