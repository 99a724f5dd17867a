// A port list handed in by the caller: a pseudo-terminal in tests, the one
// device named on the command line. Each port is shown by its path.
#include <utility>

#include "serial/port_list.h"

namespace {

class FixedPortLister final : public PortLister {
  public:
    explicit FixedPortLister(std::vector<std::string> paths) : m_paths(std::move(paths)) {}

    int list(std::vector<Port_Candidate>& ports) override {
        ports.clear();
        for (const std::string& path : m_paths)
            ports.push_back({path, path, 0});
        return ports.empty() ? kPortListNothingFound : kPortListOk;
    }

  private:
    std::vector<std::string> m_paths;
};

}  // namespace

std::unique_ptr<PortLister> Make_Fixed_Port_Lister(std::vector<std::string> device_paths) {
    return std::make_unique<FixedPortLister>(std::move(device_paths));
}
