// The COM ports' devices as SetupAPI lists the Ports class: see
// win32_port_identity.h.
#include "serial/win32_port_identity.h"

#include "serial/usb_location_path.h"

#include <windows.h>
// setupapi.h needs windows.h's types first.
#include <setupapi.h>

#include <cctype>
#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace serial {
namespace {

// GUID_DEVCLASS_PORTS (devguid.h), spelled out so that no GUID library is needed.
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Every text of a list property (REG_MULTI_SZ); a text property alone.
std::vector<std::string> Properties(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    char buffer[2048] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                           nullptr))
        return {};
    if (type != REG_SZ && type != REG_MULTI_SZ)
        return {};
    std::vector<std::string> texts;
    for (const char* text = buffer; *text != '\0' && text < buffer + sizeof buffer;) {
        texts.emplace_back(text,
                           strnlen(text, static_cast<std::size_t>(buffer + sizeof buffer - text)));
        text += texts.back().size() + 1;
        if (type == REG_SZ)
            break;
    }
    return texts;
}

// A text property of the device; of a list (REG_MULTI_SZ), the first.
std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    std::vector<std::string> texts = Properties(set, device, property);
    return texts.empty() ? std::string() : std::move(texts.front());
}

std::string Port_Name_Of(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    char name[64] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const LONG read =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_SZ)
        return {};
    return Upper(std::string(name, strnlen(name, sizeof name)));
}

// Four hex digits after key ("VID_"); empty when they are not there.
std::string Hex_After(const std::string& text, const char* key) {
    const std::size_t at = text.find(key);
    if (at == std::string::npos || at + std::strlen(key) + 4 > text.size())
        return {};
    std::string digits = text.substr(at + std::strlen(key), 4);
    for (const char c : digits) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0)
            return {};
    }
    return Lower(digits);
}

// The device's place as Linux writes it, so that a slots file reads the same
// on both; Windows lists its USB location (PCIROOT...) beside an ACPI one.
// A place that is not read so stays as Windows gives it, without a composite
// device's interface: where it is plugged in.
std::string Device_Location(const std::vector<std::string>& locations) {
    for (const std::string& location : locations) {
        if (std::optional<std::string> path = Linux_Usb_Path(location))
            return *path;
    }
    if (locations.empty())
        return {};
    std::string location = locations.front();
    if (const std::size_t at = Upper(location).find("#USBMI("); at != std::string::npos)
        location.erase(at);
    return location;
}

}  // namespace

void Read_Usb_Instance_Id(const std::string& instance_id, Port_Identity& identity) {
    const std::string id = Upper(instance_id);
    if (id.rfind("USB\\", 0) != 0)
        return;
    identity.usb_vendor_id = Hex_After(id, "VID_");
    identity.usb_product_id = Hex_After(id, "PID_");
    if (identity.usb_vendor_id.empty() || identity.usb_product_id.empty()) {
        identity.usb_vendor_id.clear();
        identity.usb_product_id.clear();
        return;
    }
    const std::size_t last = instance_id.rfind('\\');
    const std::string tail = instance_id.substr(last + 1);
    if (last > 4 && id.find("&MI_") == std::string::npos && tail.find('&') == std::string::npos)
        identity.usb_serial = tail;
}

void Fill_Port_Identities(std::vector<Port_Candidate>& ports) {
    HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    std::map<std::string, Port_Identity> by_name;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const std::string name = Port_Name_Of(set, device);
        if (name.empty())
            continue;
        Port_Identity identity;
        identity.driver = Property(set, device, SPDRP_SERVICE);
        char instance[512] = {};
        if (SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance - 1, nullptr))
            Read_Usb_Instance_Id(std::string(instance, strnlen(instance, sizeof instance)),
                                 identity);
        if (identity.Is_Usb()) {
            identity.manufacturer = Property(set, device, SPDRP_MFG);
            identity.product = Property(set, device, SPDRP_DEVICEDESC);
            identity.usb_path = Device_Location(Properties(set, device, SPDRP_LOCATION_PATHS));
        }
        by_name[name] = identity;
    }
    SetupDiDestroyDeviceInfoList(set);
    for (Port_Candidate& port : ports) {
        const auto found = by_name.find(Upper(port.display_name));
        if (found != by_name.end())
            port.identity = found->second;
    }
}

}  // namespace serial
