// An in-process serial port wired to the virtual phone's boot-loader model,
// for fast, deterministic host tests without a pseudo-terminal.
//
// Simulated_Phone_Line owns the wire and a simulated clock; its backends (one
// per CComport, made with make_backend()) forward every port call to it, so
// the test can inspect the line after the port object is gone. Host writes
// feed the model at once; the model's replies become readable when their
// delay has passed on the simulated clock, which the phone is told. A read that asks for more than
// arrives within its time limit ends short at once, with the clock moved on by
// the whole limit, as a real read would have waited. Every read is recorded
// with its limit and the time it waited. The line tells the phone when the
// host opens and closes the port and when it writes with a reply unread, so
// the phone's list of the host's deviations is exact.
//
// Link with virtual_phone_model. Typical use:
//     vphone::Phone_Model phone;                 // or with a Phone_Config
//     Simulated_Phone_Line line(phone);
//     CComport port(line.make_backend(), Make_Fixed_Port_Lister({line.port_name()}));
//     ... run the host ...
//     EXPECT_EQ(phone.flash()[0].bytes, image_bytes);
//     EXPECT_TRUE(line.every_read_within_limit());
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serial/port_backend.h"
#include "serial/stop_signal.h"
#include "tools/virtual_phone/phone_model.h"

// One read as the host made it.
struct Simulated_Read {
    std::uint32_t limit_ms = 0;
    std::int64_t waited_ms = 0;
    std::size_t asked = 0;
    std::size_t got = 0;
};

class Simulated_Phone_Line {
  public:
    explicit Simulated_Phone_Line(vphone::Phone_Model& phone,
                                  std::string port_name = "/dev/ttyVPHONE0")
        : m_phone(phone), m_port_name(std::move(port_name)) {}

    std::unique_ptr<Port_Backend> make_backend();

    const std::string& port_name() const { return m_port_name; }
    std::int64_t now_ms() const { return m_now_us / 1000; }

    // The port does not exist until this simulated time (a phone plugged in later).
    void set_appear_at_ms(std::int64_t ms) { m_appear_at_us = ms * 1000; }
    // After the phone pulls its cable, it is plugged in again this much later
    // (unset: it stays away).
    void set_replug_after_ms(std::optional<std::int64_t> ms) { m_replug_after_ms = ms; }
    // Pace both directions at this baud rate (10 bits a byte); 0 = instant.
    void set_baud(std::uint32_t baud) { m_byte_us = baud ? 10'000'000 / baud : 0; }
    // A half-received exchange is forgotten after this much host silence.
    void set_idle_reset_ms(std::int64_t ms) { m_idle_reset_us = ms * 1000; }
    // The phone stops taking bytes once the host has written this many: every
    // later write takes nothing before its deadline passes.
    void set_stall_after_bytes(std::optional<std::size_t> bytes) { m_stall_after = bytes; }

    const std::vector<Simulated_Read>& reads() const { return m_reads; }
    // Whether no read waited longer than its limit (the simulated clock says
    // how long the host would have been blocked).
    bool every_read_within_limit() const {
        return std::all_of(m_reads.begin(), m_reads.end(), [](const Simulated_Read& r) {
            return r.waited_ms <= static_cast<std::int64_t>(r.limit_ms);
        });
    }
    // Every event the phone reported, in order.
    const std::vector<vphone::Phone_Event>& events() const { return m_events; }
    std::size_t count(vphone::Event_Kind kind) const {
        return static_cast<std::size_t>(std::count_if(
            m_events.begin(), m_events.end(), [&](const auto& e) { return e.kind == kind; }));
    }
    // Every byte the host wrote, in order.
    const std::vector<std::uint8_t>& host_bytes() const { return m_host_bytes; }
    std::size_t opens() const { return m_opens; }
    bool unplugged() const { return m_unplugged_at_us.has_value(); }

    // --- the port operations, called through the backend ---

    Port_Open_Result open(const std::string& name) {
        update();
        m_open = false;
        if (name != m_port_name || m_now_us < m_appear_at_us || m_unplugged_at_us)
            return {false, ENOENT, Open_Refusal::kNone};
        m_open = true;
        m_timeout_ms = 0;
        m_generation = m_plug_generation;
        ++m_opens;
        m_phone.host_opened();
        return {true, 0, Open_Refusal::kNone};
    }
    bool is_open() const { return m_open; }
    void close() {
        if (m_open) {
            m_phone.set_clock_ms(now_ms());
            m_phone.host_closed();
        }
        m_open = false;
    }
    bool set_lines(std::int32_t baud) {
        m_host_baud = baud;
        return alive();
    }

    // The port object's stop request: a read or write that begins while it is
    // in force gives way at once, as a real one would within milliseconds.
    void attach_stop_signal(Stop_Signal* stop) { m_stop = stop; }

    // deadline_ms 0: the one the last read gave.
    Port_Io_Result read(std::span<std::uint8_t> buffer, std::uint32_t deadline_ms) {
        if (deadline_ms != 0)
            m_timeout_ms = deadline_ms;
        update();
        if (!alive()) {
            return {false, 0, Gone()};
        }
        if (m_stop != nullptr && m_stop->Interrupts())
            return {true, 0, Io_End::kInterrupted};
        const std::int64_t start = m_now_us;
        const std::int64_t deadline = start + std::int64_t{m_timeout_ms} * 1000;
        std::size_t got = 0;
        while (got < buffer.size() && !m_incoming.empty() && !m_incoming.front().hang_up &&
               m_incoming.front().ready_us <= deadline) {
            m_now_us = std::max(m_now_us, m_incoming.front().ready_us);
            m_last_delivered_us = m_now_us;
            buffer[got++] = m_incoming.front().byte;
            m_incoming.pop_front();
        }
        bool cut_off = false;
        if (got < buffer.size() && !m_incoming.empty() && m_incoming.front().hang_up &&
            m_incoming.front().ready_us <= deadline) {
            m_now_us = std::max(m_now_us, m_incoming.front().ready_us);  // unplugged mid-read
            cut_off = true;
        } else if (got < buffer.size()) {
            m_now_us = deadline;  // the read waited out its whole limit
        }
        m_reads.push_back(
            Simulated_Read{m_timeout_ms, (m_now_us - start + 999) / 1000, buffer.size(), got});
        update();
        if (cut_off)
            return {false, got, Io_End::kHungUp};
        return {true, got};
    }

    Port_Io_Result write(std::span<const std::uint8_t> bytes) {
        update();
        if (!alive()) {
            return {false, 0, Gone()};
        }
        if (m_stop != nullptr && m_stop->Interrupts())
            return {true, 0, Io_End::kInterrupted};
        if (m_stall_after && m_host_bytes.size() + bytes.size() > *m_stall_after)
            return {true, 0, Io_End::kTimedOut};
        // Only the host's own silence counts: time spent waiting for a late
        // reply from the phone does not make the phone forget the exchange.
        const std::int64_t quiet_since = std::max(m_last_write_us, m_last_delivered_us);
        m_phone.set_clock_ms(now_ms());
        if (m_phone.mid_exchange() && m_now_us - quiet_since >= m_idle_reset_us) {
            m_phone.line_quiet(true);
        }
        // Phone bytes the host has not read: it writes before its reply is in.
        const bool reply_unread = std::any_of(m_incoming.begin(), m_incoming.end(),
                                              [](const Incoming& b) { return !b.hang_up; });
        m_host_bytes.insert(m_host_bytes.end(), bytes.begin(), bytes.end());
        m_now_us += m_byte_us * static_cast<std::int64_t>(bytes.size());
        m_last_write_us = m_now_us;
        m_phone.set_clock_ms(now_ms());
        m_phone.receive(bytes, reply_unread);
        take_phone_output();
        update();
        if (!alive()) {
            return {false, 0, Gone()};
        }
        return {true, bytes.size()};
    }

    std::uint32_t bytes_in_queue() {
        update();
        if (!alive()) {
            return 0;
        }
        std::uint32_t ready = 0;
        for (const auto& b : m_incoming) {
            if (b.hang_up || b.ready_us > m_now_us) {
                break;
            }
            ++ready;
        }
        return ready;
    }

    bool purge() {
        update();
        while (!m_incoming.empty() && !m_incoming.front().hang_up &&
               m_incoming.front().ready_us <= m_now_us) {
            m_incoming.pop_front();
        }
        return alive();
    }

    void sleep_ms(std::int32_t ms) {
        m_now_us += std::int64_t{std::max(ms, 0)} * 1000;
        update();
    }

  private:
    struct Incoming {
        std::int64_t ready_us = 0;
        std::uint8_t byte = 0;
        bool hang_up = false;
    };

    // Open, and not unplugged under the host's feet since.
    bool alive() const { return m_open && m_generation == m_plug_generation; }
    // Why a call on a dead handle fails: the cable was pulled, or the port is
    // simply not open.
    std::optional<Io_End> Gone() const {
        if (m_open && m_generation != m_plug_generation)
            return Io_End::kHungUp;
        return std::nullopt;
    }

    void take_phone_output() {
        std::int64_t at =
            m_incoming.empty() ? m_now_us : std::max(m_now_us, m_incoming.back().ready_us);
        for (auto& out : m_phone.take_output()) {
            at += std::int64_t{out.delay_ms} * 1000;
            for (std::uint8_t byte : out.bytes) {
                at += m_byte_us;
                m_incoming.push_back(Incoming{at, byte, false});
            }
            if (out.hang_up) {
                m_incoming.push_back(Incoming{at, 0, true});
            }
        }
        auto events = m_phone.take_events();
        m_events.insert(m_events.end(), events.begin(), events.end());
    }

    // Lets simulated time act: the cable is pulled when its moment comes (the
    // bytes still unread are lost with it) and plugged in again later.
    void update() {
        const bool pulled =
            !m_unplugged_at_us && m_phone.unplugged() &&
            std::none_of(m_incoming.begin(), m_incoming.end(),
                         [&](const Incoming& b) { return b.hang_up && b.ready_us > m_now_us; });
        if (pulled) {
            m_incoming.clear();
            ++m_plug_generation;  // the host's open handle is dead from now on
            m_unplugged_at_us = m_now_us;
        }
        if (m_unplugged_at_us && m_replug_after_ms &&
            m_now_us >= *m_unplugged_at_us + *m_replug_after_ms * 1000) {
            m_phone.plug_back_in();
            m_unplugged_at_us.reset();
        }
    }

    vphone::Phone_Model& m_phone;
    Stop_Signal* m_stop = nullptr;  // the port object's, not owned
    std::string m_port_name;
    std::int64_t m_now_us = 0;
    std::int64_t m_appear_at_us = 0;
    std::optional<std::int64_t> m_replug_after_ms;
    std::int64_t m_byte_us = 0;
    std::int64_t m_idle_reset_us = 2'000'000;
    std::optional<std::size_t> m_stall_after;
    std::int64_t m_last_write_us = 0;
    std::int64_t m_last_delivered_us = 0;  // when the host last read a phone byte

    bool m_open = false;
    std::uint64_t m_generation = 0;       // plug generation the open handle belongs to
    std::uint64_t m_plug_generation = 0;  // bumped by every unplug
    std::optional<std::int64_t> m_unplugged_at_us;
    std::uint32_t m_timeout_ms = 0;  // the read deadline in force
    std::int32_t m_host_baud = 0;
    std::size_t m_opens = 0;

    std::deque<Incoming> m_incoming;
    std::vector<Simulated_Read> m_reads;
    std::vector<vphone::Phone_Event> m_events;
    std::vector<std::uint8_t> m_host_bytes;
};

// The Port_Backend handed to CComport: every call goes to the shared line.
// The line's writes are instant or paced by the line itself, so a write's
// deadline never comes into play.
class Phone_Backend final : public Port_Backend {
  public:
    explicit Phone_Backend(Simulated_Phone_Line& line) : m_line(line) {}
    Port_Open_Result Open(const std::string& name) override {
        m_line.attach_stop_signal(Attached_Stop());
        return m_line.open(name);
    }
    void Close() override { m_line.close(); }
    bool Set_Lines(std::int32_t baud) override { return m_line.set_lines(baud); }
    Port_Io_Result Read(std::span<std::uint8_t> buffer, std::uint32_t deadline_ms) override {
        return m_line.read(buffer, deadline_ms);
    }
    Port_Io_Result Write(std::span<const std::uint8_t> buffer, std::uint32_t) override {
        return m_line.write(buffer);
    }
    std::uint32_t Bytes_In_Queue() override { return m_line.bytes_in_queue(); }
    bool Purge() override { return m_line.purge(); }
    void Pause(std::int32_t ms) override { m_line.sleep_ms(ms); }

  private:
    Simulated_Phone_Line& m_line;
};

inline std::unique_ptr<Port_Backend> Simulated_Phone_Line::make_backend() {
    return std::make_unique<Phone_Backend>(*this);
}
