// --port NAME: the one-port list.
#include "cli/port_name.h"

#include "cli/text_format.h"

namespace cli {
namespace {

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

std::unique_ptr<PortLister> Make_Named_Port_Lister(const std::string& name) {
    Port_Candidate port = ::Named_Port(name);
    port.display_name = Displayable_Text(port.display_name);
    return std::make_unique<Named_Port_Lister>(std::move(port));
}

}  // namespace cli
