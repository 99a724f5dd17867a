// CComport: the serial port as the phone's boot loader speaks over it.
//
// CComport holds its port (a Serial_Port) and offers the port operations
// under their own names (Open, Close, Read, Write, Bytes_In_Queue, Purge,
// Set_Baud_Rate, Delay) beside the boot-loader protocol: the search for the
// phone and its handshake (link.cpp), the version record and the boot-loader
// dump (version.cpp), and the flash programming with its progress
// (programming.cpp). Protocol bytes and time limits are in protocol.h, result
// codes in results.h; each data operation returns its result with how the
// transfer that decided it ended.
//
// The protocol prints nothing: the comparison's notices (by id), the phone's
// record as read and the bytes sent go to the attached report
// (update_report.h) as data.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bootloader/protocol.h"
#include "bootloader/records.h"
#include "bootloader/results.h"
#include "bootloader/update_report.h"
#include "serial/port_list.h"
#include "serial/serial_port.h"

// A port the phone search could not use, and why: no permission, held by
// another program, not a serial port, or this program's own terminal.
struct Refused_Port : Port_Candidate {
    Open_Refusal reason = Open_Refusal::kNone;
};

class CComport {
  public:
    // The port starts closed, with no report attached. The backend and the lister
    // default to the platform's own.
    CComport();
    CComport(std::unique_ptr<Port_Backend> backend, std::unique_ptr<PortLister> lister);

    // ---- The port (serial/serial_port.h) ----
    // Opens and configures the port, and forgets a cut exchange (a new port,
    // or the same phone anew).
    bool Open(std::string port_name);
    void Close() { m_port.Close(); }
    bool Is_Open() const { return m_port.Is_Open(); }
    Io_Result Read(std::span<std::uint8_t> buffer, std::uint32_t timeout_ms) {
        return m_port.Read(buffer, timeout_ms);
    }
    Io_Result Write(std::span<const std::uint8_t> buffer) { return m_port.Write(buffer); }
    std::uint32_t Bytes_In_Queue() { return m_port.Bytes_In_Queue(); }
    bool Purge() { return m_port.Purge(); }
    bool Set_Baud_Rate(std::int32_t baud) { return m_port.Set_Baud_Rate(baud); }
    void Delay(std::int32_t milliseconds) { m_port.Delay(milliseconds); }
    // Why the last Open failed: the platform's error code and, where known,
    // the refusal.
    int Last_Open_Error() const { return m_port.Last_Open_Error(); }
    Open_Refusal Last_Open_Refusal() const { return m_port.Last_Open_Refusal(); }
    // Every byte on the wire, with the operation it belongs to; null: none.
    void Set_Trace(TraceSink* trace) { m_port.Set_Trace(trace); }

    // ---- Stopping: any thread, or a signal handler through Stop_Request() ----
    void Request_Stop() { m_port.Request_Stop(); }
    bool Stop_Requested() const { return m_port.Stop_Requested(); }
    void Clear_Stop() { m_port.Clear_Stop(); }
    Stop_Signal& Stop_Request() { return m_port.Stop_Request(); }

    // Where the comparison's notices, the phone's record as read and the
    // bytes sent are reported; null: nowhere. False, keeping the first, when
    // a report is attached already.
    bool Set_Report(report::Update_Observer* report);
    // The ports the phone search walks in every pass.
    void Set_Port_Lister(std::unique_ptr<PortLister> lister) { m_lister = std::move(lister); }
    // Only tests shrink the protocol's time limits.
    void Set_Time_Limits(const boot::Time_Limits& limits) { m_limits = limits; }
    const boot::Time_Limits& Time_Limits() const { return m_limits; }
    // Whether a stop cut an exchange short since the last Open: the phone is
    // then in the middle of it, and no byte of the host's, not even the
    // closing byte, means anything to it until it has dropped the exchange
    // (it does so after some quiet). Only closing the port is left.
    bool Exchange_Cut() const { return m_exchange_cut; }

    // Ports the last search was refused, each once, with the reason.
    const std::vector<Refused_Port>& Refused_Ports() const { return m_refused_ports; }
    // What the port listing answered in the last search's last pass (a
    // Port_List_Result): anything but kPortListOk and kPortListNothingFound
    // means the listing itself broke, which ended the search at once.
    int Last_Listing() const { return m_last_listing; }

    // ---- Boot-loader link (link.cpp) ----
    bool Find_Phone(Port_Candidate* port);
    // The search's handshake on that one port alone, once and without a
    // pause: true, leaving it open and synchronised, when its boot loader
    // answers; else the port is closed (and a refusal remembered).
    bool Find_Phone_On(const Port_Candidate& port);
    bool Sync_Boot_Loader();
    bool Confirm_Command(std::uint8_t command);
    // Writes the closing byte; it goes out even after a stop was requested.
    bool End_Link();
    // Ends the session on the open port, the one way for every caller: the
    // closing byte, unless a stop cut an exchange short (Exchange_Cut: the
    // phone takes no byte as its end then), and the port closed. Nothing when
    // no port is open. Whether the closing byte went out.
    bool End_Session();

    // ---- Version check and dump (version.cpp) ----
    boot::Outcome<boot::Read_Version_Result> Read_Phone_Version(Version_Record& phone_version);
    boot::Compare_Result Compare_Version(const Version_Record& image_version,
                                         const Version_Record& phone_version);
    static int Digits_To_Int(const char* digits, int count);
    // Writes one dump into dump, a file the caller made for this run and
    // keeps open; null: no file, and the phone is not asked.
    boot::Outcome<boot::Dump_Result> Backup_Boot_Loader(std::FILE* dump);
    // Takes the record from the first 4096 bytes of that same file.
    boot::Find_Version_Result Find_Version_In_Backup(std::FILE* dump, std::string_view marker,
                                                     Version_Record& destination);
    boot::Outcome<boot::Write_Version_Result> Write_Phone_Version(
        const Version_Record& image_version);

    // ---- Flash programming (programming.cpp) ----
    boot::Outcome<boot::Set_Regions_Result> Set_Regions(const Image_Region& first,
                                                        const Image_Region& second);
    boot::Outcome<boot::Download_Result> Download_Regions(const Image_Region& first,
                                                          const Image_Region& second,
                                                          std::array<const std::uint8_t*, 2> data);
    // The transfer's progress: total bytes to send, none sent yet, reported.
    // Always true.
    bool Progress_Init(std::uint64_t total);
    // bytes more sent, reported with the count so far; false when the count
    // reached the total (a bar drawn from it goes back to empty there). True
    // when no report is attached.
    bool Progress_Step(std::uint64_t bytes);

  private:
    using Operation_Scope = Serial_Port::Operation_Scope;
    using Operation_Part = Serial_Port::Operation_Part;

    // The outcome of a data operation whose read or write failed: the failing
    // step's own result, except that a transfer broken off by a stop gives
    // kStopped (22) and a write that passed its deadline kWriteTimedOut (21).
    template <typename Result>
    boot::Outcome<Result> Read_Failed(const Io_Result& read, Result step_result) {
        if (read.end == Io_End::kInterrupted) {
            // Before its first byte the phone knows of no exchange.
            if (m_port.Bytes_Written_In_Operation() > 0)
                m_exchange_cut = true;
            return {Result::kStopped, read.end};
        }
        // A line that hung up in an earlier transfer (a block's write) is
        // why this one failed, whatever the system answered it.
        return {step_result, m_port.Line_Hung_Up() ? Io_End::kHungUp : read.end};
    }
    template <typename Result>
    boot::Outcome<Result> Write_Failed(const Io_Result& write, Result step_result) {
        if (write.end == Io_End::kTimedOut)
            return {Result::kWriteTimedOut, write.end};
        return Read_Failed(write, step_result);
    }

    // Opens the candidate and runs the handshake there: true, leaving it
    // open, when its boot loader answers; else closed.
    bool Try_Port(const Port_Candidate& candidate);
    void Remember_Refusal(const Port_Candidate& candidate, Open_Refusal reason);
    Io_Result Read_Byte(std::uint8_t& byte, std::uint32_t timeout_ms);
    Io_Result Write_Byte(std::uint8_t byte);
    // Writes a command byte and reads the boot loader's consent within
    // timeout_ms: kOk, or the failing step as kCommandNotWritten, kNoAnswer
    // or kNotAcknowledged. Every data command but 0xDD opens so.
    template <typename Result>
    boot::Outcome<Result> Command_With_Ack(std::uint8_t command, std::uint32_t timeout_ms);

    Serial_Port m_port;
    std::unique_ptr<PortLister> m_lister;
    report::Update_Observer* m_report = nullptr;  // not owned
    // The transfer's bytes: its total and how many were sent so far.
    std::uint64_t m_progress_total = 0;
    std::uint64_t m_progress_done = 0;
    boot::Time_Limits m_limits = boot::kProtocolTimeLimits;
    std::vector<Refused_Port> m_refused_ports;
    int m_last_listing = kPortListOk;
    bool m_exchange_cut = false;
};
