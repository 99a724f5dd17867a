// Which ports are there, from one look to the next: the arrivals and
// departures between two listings. Plain code, the same on every platform.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/port_list.h"
#include "serial/port_watcher.h"

// One port found by a look.
struct Port_Presence {
    Port_Candidate port;  // identity is read only when it arrives
    // Equal keys are the same device under the same name. A node made anew
    // (a phone re-plugged between two looks) has a new key.
    std::string key;
    std::uint64_t device = 0;  // the system's device number; 0: none known
    bool named = false;
};

class Port_Watch_State {
  public:
    using Identify = std::function<Port_Identity(const Port_Presence&)>;
    // present: every port there now. Appends the departures (in the order
    // the ports arrived), then the arrivals (in listing order, with
    // identities from identify).
    void Update(const std::vector<Port_Presence>& present, const Identify& identify,
                std::vector<Port_Event>& events);
    // Forgets every port: the next Update is a first look again.
    void Reset();
    // Whether the port under this key has arrived and not gone since.
    bool Knows(const std::string& key) const;

  private:
    std::vector<Port_Presence> m_known;
    bool m_looked = false;
};

// The named ports first, then the listed ones that are not a named port
// under its own or another name (the same path, or the same device number).
std::vector<Port_Presence> Merge_Presences(std::vector<Port_Presence> named,
                                           const std::vector<Port_Presence>& listed);
