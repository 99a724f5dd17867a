// A scripted stand-in for the serial port: the test writes down, in wire
// order, the bytes the host must send and the bytes the "phone" answers, and
// the fake plays the phone's part through the Port_Backend seam.
//
//   ScriptedPort port;
//   port.Expect({0xE0}).Reply({0x5A}).Reply(record);   // host sends, phone answers
//   CComport com(port.Backend(), nullptr);             // port must outlive com
//   com.Open("/dev/phone");                            // or let Find_Phone open it
//
// Script steps, consumed in order:
//   Expect(bytes)   the host must write exactly these bytes next (in one write
//                   call or several). A different byte, a write while phone
//                   bytes are still unread, or a write past the end of the
//                   script is recorded in faults() and otherwise accepted.
//   Reply(bytes)    the phone's bytes; a read takes them only once every
//                   earlier Expect step has been written.
//   Silence()       a read that reaches this point times out (returns short).
//   Fail_Write()    the next write call fails, taking nothing.
//   Fail_Read()     the next read call fails outright.
//   Stall_Write()   the next write takes nothing before its deadline passes.
//   Hang_Up()       the next read or write finds the line gone (unplugged).
//   Stop_Here()     a stop is requested as the next read or write begins; it
//                   and every later one give way to it, but for the bytes the
//                   host lets out regardless (Stop_Signal::Unstoppable).
// A read that wants more bytes than the script offers returns what there is
// (a time-out); a read while the script waits for host bytes is a fault.
//
// Failures can also be injected by call number (Fail_Write_Call,
// Fail_Read_Call, Time_Out_Read_Call), leaving the script untouched, which is
// what a fault matrix over a known-good script needs. With check_writes off,
// Expect steps are skipped and writes are only recorded: a fuzz target can
// then feed arbitrary phone bytes.
//
// Time is simulated: nothing sleeps. Every sleep and every read that times
// out advances now_ms() by its length, so twenty-one search passes take no
// real time. Every write, read, read limit, sleep, open and close is recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "serial/port_backend.h"
#include "serial/stop_signal.h"

class ScriptedPort {
  public:
    // kRefused: no permission; kInUse: held by another program.
    enum class Open_Outcome { kOpens, kFails, kRefused, kInUse };

    struct Write_Call {
        std::vector<std::uint8_t> bytes;  // what the host handed over
        const std::uint8_t* source;       // where from: shows whether a buffer was copied
        bool ok;
    };
    struct Read_Call {
        std::size_t wanted;
        std::size_t got;
        std::uint32_t timeout_ms;  // the limit in force for this read
        bool ok;
    };

    // ---- The script ----
    ScriptedPort& Expect(std::span<const std::uint8_t> bytes) { return Add(Step::kExpect, bytes); }
    ScriptedPort& Expect(std::initializer_list<std::uint8_t> bytes) {
        return Add(Step::kExpect, std::span(bytes.begin(), bytes.size()));
    }
    ScriptedPort& Reply(std::span<const std::uint8_t> bytes) { return Add(Step::kReply, bytes); }
    ScriptedPort& Reply(std::initializer_list<std::uint8_t> bytes) {
        return Add(Step::kReply, std::span(bytes.begin(), bytes.size()));
    }
    ScriptedPort& Silence() { return Add(Step::kSilence, {}); }
    ScriptedPort& Fail_Write() { return Add(Step::kFailWrite, {}); }
    ScriptedPort& Fail_Read() { return Add(Step::kFailRead, {}); }
    ScriptedPort& Stall_Write() { return Add(Step::kStallWrite, {}); }
    ScriptedPort& Hang_Up() { return Add(Step::kHangUp, {}); }
    ScriptedPort& Stop_Here() { return Add(Step::kStop, {}); }

    // ---- Failures by call number (0-based, counted over the whole run) ----
    void Fail_Write_Call(std::size_t index) { m_failing_writes.insert(index); }
    void Fail_Read_Call(std::size_t index) { m_failing_reads.insert(index); }
    void Time_Out_Read_Call(std::size_t index) { m_silent_reads.insert(index); }

    // ---- Settings ----
    // Decides each open by port name and the number of opens so far (0-based).
    std::function<Open_Outcome(const std::string& name, int open_index)> open_rule;
    bool check_writes = true;
    bool fail_set_line = false;
    bool fail_set_read_timeout = false;
    int refused_error = 13;  // error code reported for a refused open (EACCES)
    int failed_error = 2;    // error code reported for a failed open (ENOENT)

    // ---- What happened ----
    const std::vector<Write_Call>& writes() const { return m_writes; }
    const std::vector<Read_Call>& reads() const { return m_reads; }
    const std::vector<std::uint32_t>& read_timeouts() const { return m_read_timeouts; }
    const std::vector<std::int32_t>& sleeps() const { return m_sleeps; }
    // "open NAME", "open NAME failed", "open NAME refused", "close", "purge"
    const std::vector<std::string>& events() const { return m_events; }
    // Every way in which the host left the script; empty when it kept to it.
    const std::vector<std::string>& faults() const { return m_faults; }
    std::uint64_t now_ms() const { return m_now_ms; }
    bool is_open() const { return m_open; }

    // Every byte the host wrote successfully, in order.
    std::vector<std::uint8_t> Written_Bytes() const {
        std::vector<std::uint8_t> all;
        for (const Write_Call& call : m_writes) {
            if (call.ok)
                all.insert(all.end(), call.bytes.begin(), call.bytes.end());
        }
        return all;
    }
    // True when every step of the script was consumed.
    bool Script_Done() const {
        for (const Step& step : m_steps) {
            if (step.kind == Step::kExpect && !check_writes)
                continue;
            const bool has_bytes = step.kind == Step::kExpect || step.kind == Step::kReply;
            if (!has_bytes || step.done < step.bytes.size())
                return false;
        }
        return true;
    }
    // Phone bytes scripted but not yet read.
    std::size_t Unread_Reply_Bytes() const {
        std::size_t count = 0;
        for (const Step& step : m_steps) {
            if (step.kind == Step::kReply)
                count += step.bytes.size() - step.done;
        }
        return count;
    }

    // A backend that plays this script; this object must outlive it.
    std::unique_ptr<Port_Backend> Backend() { return std::make_unique<Forwarder>(*this); }

  private:
    struct Step {
        enum Kind {
            kExpect,
            kReply,
            kSilence,
            kFailWrite,
            kFailRead,
            kStallWrite,
            kHangUp,
            kStop
        } kind;
        std::vector<std::uint8_t> bytes;
        std::size_t done = 0;
    };

    class Forwarder final : public Port_Backend {
      public:
        explicit Forwarder(ScriptedPort& port) : m_port(port) {}
        Port_Open_Result Open(const std::string& name) override {
            m_port.m_stop = Attached_Stop();
            return m_port.Do_Open(name);
        }
        void Close() override { m_port.Do_Close(); }
        bool Set_Lines(std::int32_t) override { return m_port.m_open && !m_port.fail_set_line; }
        // A deadline of 0 keeps the one in force and is not recorded.
        Port_Io_Result Read(std::span<std::uint8_t> buffer, std::uint32_t deadline_ms) override {
            if (deadline_ms != kDeadlineInForce) {
                m_port.m_read_timeouts.push_back(deadline_ms);
                if (!m_port.m_open || m_port.fail_set_read_timeout)
                    return {};
                m_port.m_timeout_ms = deadline_ms;
            }
            return m_port.Do_Read(buffer);
        }
        Port_Io_Result Write(std::span<const std::uint8_t> buffer, std::uint32_t) override {
            return m_port.Do_Write(buffer);
        }
        std::uint32_t Bytes_In_Queue() override { return 0; }
        bool Purge() override {
            m_port.m_events.push_back("purge");
            return m_port.m_open;
        }
        void Pause(std::int32_t ms) override {
            m_port.m_sleeps.push_back(ms);
            if (ms > 0)
                m_port.m_now_ms += static_cast<std::uint64_t>(ms);
        }

      private:
        ScriptedPort& m_port;
    };

    ScriptedPort& Add(Step::Kind kind, std::span<const std::uint8_t> bytes) {
        m_steps.push_back({kind, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), 0});
        return *this;
    }

    // Drops finished steps (and, when writes are not checked, Expect steps).
    void Skip_Finished() {
        while (!m_steps.empty()) {
            const Step& head = m_steps.front();
            const bool finished = (head.kind == Step::kExpect || head.kind == Step::kReply) &&
                                  head.done == head.bytes.size();
            const bool ignored = head.kind == Step::kExpect && !check_writes;
            if (!finished && !ignored)
                return;
            m_steps.pop_front();
        }
    }

    Port_Open_Result Do_Open(const std::string& name) {
        const Open_Outcome outcome =
            open_rule ? open_rule(name, m_open_count) : Open_Outcome::kOpens;
        ++m_open_count;
        switch (outcome) {
            case Open_Outcome::kOpens:
                m_events.push_back("open " + name);
                m_open = true;
                return {true, 0, Open_Refusal::kNone};
            case Open_Outcome::kRefused:
            case Open_Outcome::kInUse:
                m_events.push_back("open " + name + " refused");
                return {false, refused_error,
                        outcome == Open_Outcome::kRefused ? Open_Refusal::kNoPermission
                                                          : Open_Refusal::kInUse};
            case Open_Outcome::kFails:
                break;
        }
        m_events.push_back("open " + name + " failed");
        return {false, failed_error, Open_Refusal::kNone};
    }

    void Do_Close() {
        if (m_open)
            m_events.push_back("close");
        m_open = false;
    }

    // A stop, a hang-up or a stall scripted for the call that begins now, or
    // a stop that is still in force; nothing when the call goes ahead.
    std::optional<Io_End> Interruption(bool writing) {
        Skip_Finished();
        if (!m_steps.empty()) {
            const Step::Kind kind = m_steps.front().kind;
            if (kind == Step::kStop && m_stop != nullptr) {
                m_steps.pop_front();
                m_stop->Request();
            } else if (kind == Step::kHangUp) {
                m_steps.pop_front();
                m_hung_up = true;
            } else if (kind == Step::kStallWrite && writing) {
                m_steps.pop_front();
                return Io_End::kTimedOut;
            }
        }
        if (m_hung_up)
            return Io_End::kHungUp;
        if (m_stop != nullptr && m_stop->Interrupts())
            return Io_End::kInterrupted;
        return std::nullopt;
    }

    Port_Io_Result Do_Write(std::span<const std::uint8_t> buffer) {
        const std::size_t index = m_write_count++;
        if (const std::optional<Io_End> cause = Interruption(true)) {
            m_writes.push_back({{buffer.begin(), buffer.end()}, buffer.data(), false});
            return {*cause != Io_End::kHungUp, 0, cause};
        }
        Skip_Finished();
        bool fail = m_failing_writes.count(index) != 0 || !m_open;
        if (!fail && !m_steps.empty() && m_steps.front().kind == Step::kFailWrite) {
            m_steps.pop_front();
            fail = true;
        }
        m_writes.push_back({{buffer.begin(), buffer.end()}, buffer.data(), !fail});
        if (fail)
            return {false, 0};
        if (!check_writes)
            return {true, buffer.size()};

        for (std::size_t i = 0; i < buffer.size(); ++i) {
            Skip_Finished();
            if (m_steps.empty()) {
                Fault("write " + std::to_string(index) + " byte " + std::to_string(i) + ": " +
                      Hex(buffer[i]) + " past the end of the script");
                break;
            }
            Step& head = m_steps.front();
            if (head.kind != Step::kExpect) {
                Fault("write " + std::to_string(index) + " byte " + std::to_string(i) + ": " +
                      Hex(buffer[i]) + " while the script waits for a read");
                break;
            }
            if (head.bytes[head.done] != buffer[i]) {
                Fault("write " + std::to_string(index) + " byte " + std::to_string(i) + ": " +
                      Hex(buffer[i]) + " where the script expects " + Hex(head.bytes[head.done]));
            }
            ++head.done;
        }
        return {true, buffer.size()};
    }

    Port_Io_Result Do_Read(std::span<std::uint8_t> buffer) {
        const std::size_t index = m_read_count++;
        if (!m_open || m_failing_reads.count(index) != 0)
            return Record_Read(buffer, 0, false);
        if (const std::optional<Io_End> cause = Interruption(false)) {
            Port_Io_Result result = Record_Read(buffer, 0, *cause != Io_End::kHungUp);
            result.cause = cause;
            return result;
        }
        Skip_Finished();
        if (!m_steps.empty() && m_steps.front().kind == Step::kFailRead) {
            m_steps.pop_front();
            return Record_Read(buffer, 0, false);
        }
        std::size_t got = 0;
        if (m_silent_reads.count(index) == 0) {
            while (got < buffer.size()) {
                Skip_Finished();
                if (m_steps.empty() || m_steps.front().kind != Step::kReply)
                    break;
                Step& head = m_steps.front();
                buffer[got++] = head.bytes[head.done++];
            }
        }
        if (got < buffer.size()) {
            Skip_Finished();
            if (!m_steps.empty() && m_steps.front().kind == Step::kSilence) {
                m_steps.pop_front();
            } else if (!m_steps.empty() && m_steps.front().kind == Step::kExpect &&
                       m_silent_reads.count(index) == 0) {
                Fault("read " + std::to_string(index) + " while the script waits for host bytes");
            }
            m_now_ms += m_timeout_ms;  // the whole limit passes before a short read returns
        }
        return Record_Read(buffer, got, true);
    }

    Port_Io_Result Record_Read(std::span<std::uint8_t> buffer, std::size_t got, bool ok) {
        m_reads.push_back({buffer.size(), got, m_timeout_ms, ok});
        return {ok, got};
    }

    void Fault(std::string what) { m_faults.push_back(std::move(what)); }

    static std::string Hex(std::uint8_t byte) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", byte);
        return text;
    }

    std::deque<Step> m_steps;
    Stop_Signal* m_stop = nullptr;  // the port object's, not owned
    bool m_hung_up = false;
    std::set<std::size_t> m_failing_writes;
    std::set<std::size_t> m_failing_reads;
    std::set<std::size_t> m_silent_reads;
    std::vector<Write_Call> m_writes;
    std::vector<Read_Call> m_reads;
    std::vector<std::uint32_t> m_read_timeouts;
    std::vector<std::int32_t> m_sleeps;
    std::vector<std::string> m_events;
    std::vector<std::string> m_faults;
    std::size_t m_write_count = 0;
    std::size_t m_read_count = 0;
    int m_open_count = 0;
    bool m_open = false;
    std::uint32_t m_timeout_ms = 0;
    std::uint64_t m_now_ms = 0;
};
