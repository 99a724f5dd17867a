// Listing the PC's COM ports from the registry's serial-port map. Plain code
// over the Win32_Api seam, so the same rules run on Windows and in tests.
//
// On NT-family systems the map is trusted for every port but COM1 and COM2,
// which are opened briefly to check that they are real RS-232 ports (those
// names are also taken by modems and other devices); older systems get every
// port checked that way.
#include "serial/com_port_listing.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "serial/port_list.h"

namespace {

constexpr std::string_view kNtPrefix = "\\Device\\";
constexpr std::string_view kComPrefix = "COM";
constexpr std::string_view kDeviceNamespace = "\\\\.\\";

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool Starts_With_No_Case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (Lower(text[i]) != Lower(prefix[i]))
            return false;
    }
    return true;
}

// The number after "COM" in a name that passed Is_Com_Port_Name, taken as a
// 32-bit value (wrapping, never overflowing, on absurdly long digit strings)
// of which the port number is the low 16 bits.
std::uint16_t Port_Number(std::string_view name) {
    std::uint32_t value = 0;
    for (const char digit : name.substr(kComPrefix.size())) {
        value = value * 10u + static_cast<std::uint32_t>(digit - '0');
    }
    return static_cast<std::uint16_t>(value & 0xFFFFu);
}

// Appends the ports of the serial-port map to list; false when the map's key
// cannot be opened.
bool List_Registry_Ports(Win32_Api& api, std::vector<std::uint16_t>& list) {
    if (!api.Open_Serial_Map())
        return false;
    const bool is_nt = api.Platform_Id() == kPlatformWin32Nt;
    const std::string_view prefix = is_nt ? kNtPrefix : kComPrefix;

    std::string name;
    std::string data;
    std::uint32_t type = 0;
    // A value too long for the buffers ends the walk like the end of the map.
    for (std::uint32_t index = 0; api.Enum_Value(index, kSerialMapBufferSize, name, type, data);
         ++index) {
        if (type != kRegSz)
            continue;
        if (!Starts_With_No_Case(name, prefix))
            continue;
        if (!Is_Com_Port_Name(data))
            continue;
        const std::uint16_t number = Port_Number(data);
        const bool needs_probe = !is_nt || number == 1 || number == 2;
        if (needs_probe && !Probe_Com_Port(api, number))
            continue;
        list.push_back(number);
    }
    api.Close_Serial_Map();
    return true;
}

}  // namespace

int Find_Com_Ports(Win32_Api& api, std::uint16_t* ports, std::uint16_t* count) {
    if (ports == nullptr || count == nullptr || *count == 0)
        return kPortListBadArguments;
    std::vector<std::uint16_t> list;
    if (!List_Registry_Ports(api, list))
        return kPortListMapUnreadable;
    if (list.empty())
        return kPortListNothingFound;
    if (list.size() > *count) {
        *count = static_cast<std::uint16_t>(list.size());
        return kPortListTooMany;
    }
    std::fill(ports, ports + *count, std::uint16_t{0});
    std::copy(list.begin(), list.end(), ports);
    *count = static_cast<std::uint16_t>(list.size());
    return kPortListOk;
}

bool Probe_Com_Port(Win32_Api& api, std::uint16_t number) {
    const Win32_Api::Probe_Open opened = api.Open_Port("\\\\.\\COM" + std::to_string(number));
    if (!opened.opened) {
        // In use by another program, or attached but not working: present.
        return opened.last_error == kErrorAccessDenied || opened.last_error == kErrorGenFailure;
    }
    std::uint32_t provider_subtype = 0;
    const bool read = api.Get_Comm_Properties(provider_subtype);
    api.Close_Port();
    return !read || provider_subtype == kPstRs232;
}

bool Is_Com_Port_Name(const std::string& text) {
    if (text.size() < 4 || !Starts_With_No_Case(text, kComPrefix))
        return false;
    return std::all_of(text.begin() + 3, text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<Port_Candidate> Com_Port_From_Name(std::string_view name) {
    if (name.substr(0, kDeviceNamespace.size()) == kDeviceNamespace)
        name.remove_prefix(kDeviceNamespace.size());
    if (!Is_Com_Port_Name(std::string(name)))
        return std::nullopt;
    // "COM007" is port 7; Windows knows it only as COM7.
    std::string_view digits = name.substr(kComPrefix.size());
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    std::uint32_t number = 0;
    for (const char digit : digits) {
        number = number * 10 + static_cast<std::uint32_t>(digit - '0');
        if (number > 0xFFFF)
            break;
    }
    Port_Candidate port;
    port.display_name = "COM" + std::string(digits);
    port.device_path = std::string(kDeviceNamespace) + port.display_name;
    // Beyond the numbers a port list carries, the port simply has none.
    port.number = number <= 0xFFFF ? static_cast<std::uint16_t>(number) : 0;
    return port;
}
