// --port NAME: the Windows device namespace form, and the one-port list.
#include "cli/port_name.h"

#include "cli/platform.h"
#include "cli/text_format.h"
#include "serial/com_port_listing.h"

namespace cli {
namespace {

constexpr std::string_view kDeviceNamespace = "\\\\.\\";

class Named_Port_Lister final : public PortLister {
  public:
    explicit Named_Port_Lister(Port_Candidate port) : m_port(std::move(port)) {}
    int list(std::vector<Port_Candidate>& ports) override {
        ports.assign(1, m_port);
        return kPortListOk;
    }

  private:
    Port_Candidate m_port;
};

}  // namespace

std::optional<Port_Candidate> Com_Port_From_Name(std::string_view name) {
    if (name.substr(0, kDeviceNamespace.size()) == kDeviceNamespace)
        name.remove_prefix(kDeviceNamespace.size());
    if (!Is_Com_Port_Name(std::string(name)))
        return std::nullopt;
    // "COM007" is port 7; Windows knows it only as COM7.
    std::string_view digits = name.substr(3);
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

std::unique_ptr<PortLister> Make_Named_Port_Lister(const std::string& name) {
    Port_Candidate port = Named_Port(name);
    port.display_name = Displayable_Text(port.display_name);
    return std::make_unique<Named_Port_Lister>(std::move(port));
}

}  // namespace cli
