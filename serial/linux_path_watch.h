// Named ports watched where they live: the directories that hold a named
// path (or, while it does not exist, its nearest existing ancestor) and,
// for a link, the directory of the device it leads to. A link made,
// replaced or removed, a device node made or removed there, wakes the watcher
// at once. Through inotify.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace serial {

// The directories that decide whether path names a device now: its own
// directory (the nearest that exists while it does not) and, where it is a
// link, the directory of each step it leads through.
std::set<std::string> Directories_Deciding(const std::string& path);

class Path_Watch {
  public:
    Path_Watch() = default;
    ~Path_Watch();
    Path_Watch(const Path_Watch&) = delete;
    Path_Watch& operator=(const Path_Watch&) = delete;

    bool Open();
    void Close();
    int Descriptor() const { return m_fd; }
    // Watches exactly these directories from now on; true when the set
    // changed (look at the paths again: something may have appeared before
    // its directory was watched).
    bool Watch(const std::set<std::string>& directories);
    // Reads every change waiting; true when any came.
    bool Drain();

  private:
    int m_fd = -1;
    std::map<std::string, int> m_watches;  // directory -> watch descriptor
};

}  // namespace serial
