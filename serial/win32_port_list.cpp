// The Windows port listing: the registry's serial-port map and the COM1/COM2
// probe reached through the real Win32 calls, and the system lister that
// turns each listed number n into the device path "\\.\COMn".
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "serial/com_port_listing.h"
#include "serial/port_list.h"
#include "serial/win32_port_identity.h"

namespace {

constexpr std::uint16_t kListCapacity = 255;  // COM ports one search can list

class Registry_Win32_Api final : public Win32_Api {
  public:
    Registry_Win32_Api() = default;
    Registry_Win32_Api(const Registry_Win32_Api&) = delete;
    Registry_Win32_Api& operator=(const Registry_Win32_Api&) = delete;
    ~Registry_Win32_Api() override {
        Close_Serial_Map();
        Close_Port();
    }

    bool Open_Serial_Map() override {
        Close_Serial_Map();
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                          KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS) {
            return false;
        }
        m_key = key;
        return true;
    }

    bool Enum_Value(std::uint32_t index, std::uint32_t buffer_size, std::string& name,
                    std::uint32_t& type, std::string& data) override {
        if (m_key == nullptr || buffer_size == 0)
            return false;
        std::string name_buffer(buffer_size, '\0');
        std::string data_buffer(buffer_size, '\0');
        DWORD name_length = buffer_size;
        DWORD data_length = buffer_size;
        DWORD value_type = 0;
        if (RegEnumValueA(m_key, index, name_buffer.data(), &name_length, nullptr, &value_type,
                          reinterpret_cast<BYTE*>(data_buffer.data()),
                          &data_length) != ERROR_SUCCESS) {
            return false;
        }
        // The name length excludes its null; the data length counts whatever
        // the writer stored, which for a string may or may not include one.
        name.assign(name_buffer.data(), std::min<std::size_t>(name_length, buffer_size));
        const std::size_t stored = std::min<std::size_t>(data_length, buffer_size);
        data.assign(data_buffer.data(), strnlen(data_buffer.data(), stored));
        type = value_type;
        return true;
    }

    void Close_Serial_Map() override {
        if (m_key == nullptr)
            return;
        RegCloseKey(m_key);
        m_key = nullptr;
    }

    std::uint32_t Platform_Id() override {
        // Preset so that a refused call counts as a system outside the NT family.
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof(info);
        info.dwPlatformId = kPlatformWin32Windows;
        GetVersionExA(&info);
        return info.dwPlatformId;
    }

    Probe_Open Open_Port(const std::string& path) override {
        Close_Port();
        m_port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr);
        if (m_port == INVALID_HANDLE_VALUE)
            return {false, static_cast<std::uint32_t>(GetLastError())};
        return {true, 0};
    }

    bool Get_Comm_Properties(std::uint32_t& provider_subtype) override {
        COMMPROP properties;
        std::memset(&properties, 0, sizeof(properties));
        if (!GetCommProperties(m_port, &properties))
            return false;
        provider_subtype = properties.dwProvSubType;
        return true;
    }

    void Close_Port() override {
        if (m_port == INVALID_HANDLE_VALUE)
            return;
        CloseHandle(m_port);
        m_port = INVALID_HANDLE_VALUE;
    }

  private:
    HKEY m_key = nullptr;
    HANDLE m_port = INVALID_HANDLE_VALUE;
};

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version query expects the 148-byte record");

class Registry_Port_Lister final : public PortLister {
  public:
    int list(std::vector<Port_Candidate>& ports) override {
        ports.clear();
        Registry_Win32_Api api;
        std::array<std::uint16_t, kListCapacity> numbers{};
        std::uint16_t count = kListCapacity;
        const int result = Find_Com_Ports(api, numbers.data(), &count);
        if (result != kPortListOk)
            return result;
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::string name = "COM" + std::to_string(numbers[i]);
            ports.push_back({"\\\\.\\" + name, name, numbers[i]});
        }
        // What the system says of each port's device: a station tells the
        // phones' USB ports from a PC's own COM1.
        serial::Fill_Port_Identities(ports);
        return result;
    }
};

}  // namespace

std::unique_ptr<PortLister> Make_System_Port_Lister() {
    return std::make_unique<Registry_Port_Lister>();
}
