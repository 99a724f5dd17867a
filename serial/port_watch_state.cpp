// Arrivals and departures between two looks at the ports.
#include "serial/port_watch_state.h"

#include <algorithm>

namespace {

bool Same(const Port_Presence& a, const Port_Presence& b) {
    return a.key == b.key && a.named == b.named;
}

bool Contains(const std::vector<Port_Presence>& ports, const Port_Presence& port) {
    return std::any_of(ports.begin(), ports.end(),
                       [&](const Port_Presence& other) { return Same(other, port); });
}

}  // namespace

void Port_Watch_State::Update(const std::vector<Port_Presence>& present, const Identify& identify,
                              std::vector<Port_Event>& events) {
    const bool first = !m_looked;
    m_looked = true;
    std::vector<Port_Presence> kept;
    for (Port_Presence& known : m_known) {
        if (Contains(present, known)) {
            kept.push_back(std::move(known));
            continue;
        }
        Port_Event event;
        event.kind = Port_Event::Kind::kDeparted;
        event.port = std::move(known.port);
        event.named = known.named;
        events.push_back(std::move(event));
    }
    for (const Port_Presence& port : present) {
        if (Contains(kept, port))
            continue;
        Port_Presence arrived = port;
        if (identify && !arrived.port.identity.Known())
            arrived.port.identity = identify(arrived);
        Port_Event event;
        event.kind = Port_Event::Kind::kArrived;
        event.port = arrived.port;
        event.named = arrived.named;
        event.present_at_start = first;
        events.push_back(std::move(event));
        kept.push_back(std::move(arrived));
    }
    m_known = std::move(kept);
}

void Port_Watch_State::Reset() {
    m_known.clear();
    m_looked = false;
}

bool Port_Watch_State::Knows(const std::string& key) const {
    return std::any_of(m_known.begin(), m_known.end(),
                       [&](const Port_Presence& known) { return known.key == key; });
}

std::vector<Port_Presence> Merge_Presences(std::vector<Port_Presence> named,
                                           const std::vector<Port_Presence>& listed) {
    std::vector<Port_Presence> merged = std::move(named);
    const std::size_t named_count = merged.size();
    for (const Port_Presence& port : listed) {
        const bool taken =
            std::any_of(merged.begin(), merged.begin() + static_cast<std::ptrdiff_t>(named_count),
                        [&](const Port_Presence& name) {
                            return name.port.device_path == port.port.device_path ||
                                   (name.device != 0 && name.device == port.device);
                        });
        if (!taken)
            merged.push_back(port);
    }
    return merged;
}
