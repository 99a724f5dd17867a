// Listing the PC's COM ports from the registry's serial-port map.
//
// The rules (which values count, the NT prefix, the COM1/COM2 probe, the
// result codes) are plain code over Win32_Api, so they are unit-tested on any
// platform against a fake registry; on Windows Win32_Api makes the real calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/port_list.h"

// The Win32 calls the listing needs, as they answer.
class Win32_Api {
  public:
    virtual ~Win32_Api() = default;

    // RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
    // KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS). False when it fails.
    virtual bool Open_Serial_Map() = 0;
    // RegEnumValueA(index) with name and data buffers of buffer_size bytes each,
    // both length arguments reset to buffer_size before the call. Returns false
    // when the call does not succeed (no more values, or a name or data that
    // does not fit its buffer with its terminating null).
    virtual bool Enum_Value(std::uint32_t index, std::uint32_t buffer_size, std::string& name,
                            std::uint32_t& type, std::string& data) = 0;
    virtual void Close_Serial_Map() = 0;
    // GetVersionExA's dwPlatformId, preset to 1 (VER_PLATFORM_WIN32_WINDOWS)
    // so that a failing call counts as a system outside the NT family.
    virtual std::uint32_t Platform_Id() = 0;

    // The probe: CreateFileA on the path as CComport::Open does it.
    struct Probe_Open {
        bool opened = false;
        std::uint32_t last_error = 0;  // GetLastError when !opened
    };
    virtual Probe_Open Open_Port(const std::string& path) = 0;
    // GetCommProperties into a zero-filled COMMPROP on the port just opened.
    virtual bool Get_Comm_Properties(std::uint32_t& provider_subtype) = 0;
    // CloseHandle on the port just opened.
    virtual void Close_Port() = 0;
};

inline constexpr std::uint32_t kSerialMapBufferSize = 512;  // value name and value data, bytes
inline constexpr std::uint32_t kRegSz = 1;                  // REG_SZ
inline constexpr std::uint32_t kPlatformWin32Windows = 1;   // VER_PLATFORM_WIN32_WINDOWS
inline constexpr std::uint32_t kPlatformWin32Nt = 2;        // VER_PLATFORM_WIN32_NT
inline constexpr std::uint32_t kErrorAccessDenied = 5;      // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kErrorGenFailure = 31;       // ERROR_GEN_FAILURE
inline constexpr std::uint32_t kPstRs232 = 1;               // PST_RS232

// Result codes 0 to 4 as Port_List_Result (serial/port_list.h). ports has
// *count entries of capacity on entry.
int Find_Com_Ports(Win32_Api& api, std::uint16_t* ports, std::uint16_t* count);
bool Probe_Com_Port(Win32_Api& api, std::uint16_t number);
bool Is_Com_Port_Name(const std::string& text);
// The one reading of a Windows port name, for every command and the port
// watcher: "COM7", "COM07", "com7" and "\\.\COM7" are one port, opened as
// "\\.\COM7" and shown as "COM7". Nothing for a name of any other form.
std::optional<Port_Candidate> Com_Port_From_Name(std::string_view name);
