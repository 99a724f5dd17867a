// CComport: the program's one serial-port object, through which every byte to
// the phone's boot loader passes.
//
// The port operations (serial/comport.cpp) open the boot loader's virtual COM
// port at 115200 8N1 without flow control, and offer exact-count reads under one
// total time-out, exact-count writes, the receive-queue count, a purge and a
// delay. The boot-loader protocol operations (bootloader/*.cpp) are further
// members of the same class and reach the wire only through those.
//
// Every read, write and queue count first lets the window handle its pending
// events once (the message pump hook), so the window repaints, its clock runs
// and a close request is honoured while an update runs on the window's thread.
//
// Nothing here throws, prints or logs: results say what happened.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bootloader/message_output.h"
#include "bootloader/protocol.h"
#include "bootloader/records.h"
#include "serial/port_backend.h"
#include "serial/port_list.h"
#include "serial/trace.h"
#include "serial/ui_hooks.h"

class CComport {
public:
    // The port starts closed, with no progress bar. The backend and the lister
    // default to the platform's own.
    CComport();
    CComport(std::unique_ptr<PortBackend> backend, std::unique_ptr<PortLister> lister);
    // Closes nothing: the port is released by Close, which the download command
    // and the window's close handler call.
    ~CComport();
    CComport(const CComport&) = delete;
    CComport& operator=(const CComport&) = delete;

    // ---- Port operations (serial/comport.cpp) ----
    bool Open(std::string port_name);
    void Close();
    // True when exactly buffer.size() bytes arrived within timeout_ms; a
    // timeout of 0 keeps the one in force. On false the bytes that did arrive
    // are in buffer.
    bool Read(std::span<std::uint8_t> buffer, std::uint32_t timeout_ms);
    bool Write(std::span<const std::uint8_t> buffer);
    std::uint32_t Bytes_In_Queue();
    bool Purge();
    bool Set_Baud_Rate(std::int32_t baud);
    void Delay(std::int32_t milliseconds);
    // False, keeping the first, when a bar is attached already.
    bool Set_Progress_Bar(ProgressBar* progress_bar);
    bool Is_Open() const;

    // ---- Hooks the window (or the command-line tool) sets ----
    // Handles all pending window events once; called before every read, write
    // and queue count.
    void Set_Message_Pump(std::function<void()> pump);
    // Where Compare_Version's notices and the phone's version characters go.
    void Set_Message_Output(MessageOutput* output);
    // The ports the phone search walks in every pass.
    void Set_Port_Lister(std::unique_ptr<PortLister> lister);
    void Set_Trace(TraceSink* trace);
    // Only tests shrink the protocol's time limits.
    void Set_Time_Limits(const boot::Time_Limits& limits);
    const boot::Time_Limits& Time_Limits() const { return m_limits; }
    // The platform error code of the last failed Open (0 when the last Open worked).
    int Last_Open_Error() const { return m_backend->last_open_error(); }
    // Ports the last search could not open for lack of permission.
    const std::vector<Port_Candidate>& Refused_Ports() const { return m_refused_ports; }

    // ---- Boot-loader link (bootloader/link.cpp) ----
    bool Find_Phone(Port_Candidate* port);
    bool Sync_Boot_Loader();
    bool Confirm_Command(std::uint8_t command);
    bool End_Link();

    // ---- Version check and backup (bootloader/version.cpp) ----
    int Read_Phone_Version(Version_Record& phone_version);
    int Compare_Version(const Version_Record& image_version, const Version_Record& phone_version);
    static int Digits_To_Int(const char* digits, int count);
    int Backup_Boot_Loader(const std::string& backup_path);
    int Find_Version_In_Backup(const std::string& path, std::string_view marker,
                               Version_Record& destination);
    int Write_Phone_Version(const Version_Record& image_version);

    // ---- Flash programming (bootloader/programming.cpp) ----
    int Set_Regions(const Image_Region& first, const Image_Region& second);
    int Download_Regions(const Image_Region& first, const Image_Region& second,
                         std::array<const std::uint8_t*, 2> data);
    bool Progress_Init(int total);
    bool Progress_Step(int bytes);

private:
    // Names the protocol operation that the bytes on the wire belong to, for
    // the trace, for as long as the scope lives.
    class Operation_Scope {
    public:
        Operation_Scope(CComport& port, const char* name)
            : m_port(port), m_previous(port.m_operation) {
            port.m_operation = name;
        }
        ~Operation_Scope() { m_port.m_operation = m_previous; }
        Operation_Scope(const Operation_Scope&) = delete;
        Operation_Scope& operator=(const Operation_Scope&) = delete;

    private:
        CComport& m_port;
        const char* m_previous;
    };

    void Dispatch_Pending_Messages();
    bool Read_Byte(std::uint8_t& byte, std::uint32_t timeout_ms);
    bool Write_Byte(std::uint8_t byte);
    // Writes a command byte and reads the boot loader's consent within
    // timeout_ms: 0 acknowledged, 1 command not written, 2 no answer, 3 an
    // answer other than the acknowledgement. Every data command opens so.
    int Command_With_Ack(std::uint8_t command, std::uint32_t timeout_ms);

    std::unique_ptr<PortBackend> m_backend;
    std::unique_ptr<PortLister> m_lister;
    ProgressBar* m_progress_bar = nullptr;  // not owned
    MessageOutput* m_output = nullptr;      // not owned
    TraceSink* m_trace = nullptr;           // not owned
    std::function<void()> m_pump;
    boot::Time_Limits m_limits = boot::kProtocolTimeLimits;
    const char* m_operation = "";
    std::vector<Port_Candidate> m_refused_ports;
};
