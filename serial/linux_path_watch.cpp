// inotify over the directories that decide the named ports.
#include "serial/linux_path_watch.h"

#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace serial {
namespace {

// Entries made, removed or renamed, and the directory itself going.
constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// Links followed from one named path: as many as the system follows.
constexpr int kMaxLinks = 40;

std::string Directory_Of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool Is_Directory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The nearest directory at or above dir that exists.
std::string Existing_Ancestor(std::string dir) {
    while (!Is_Directory(dir) && dir != "/" && dir != ".")
        dir = Directory_Of(dir);
    return dir;
}

}  // namespace

std::set<std::string> Directories_Deciding(const std::string& path) {
    std::set<std::string> dirs;
    std::string step = path;
    for (int links = 0; links <= kMaxLinks && !step.empty(); ++links) {
        dirs.insert(Existing_Ancestor(Directory_Of(step)));
        struct stat status {};
        if (::lstat(step.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            break;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(step.c_str(), target, sizeof target - 1);
        if (length <= 0)
            break;
        const std::string next(target, static_cast<std::size_t>(length));
        step = next.front() == '/' ? next : Directory_Of(step) + "/" + next;
    }
    return dirs;
}

Path_Watch::~Path_Watch() {
    Close();
}

bool Path_Watch::Open() {
    Close();
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return m_fd >= 0;
}

void Path_Watch::Close() {
    if (m_fd >= 0)
        ::close(m_fd);  // takes its watches with it
    m_fd = -1;
    m_watches.clear();
}

bool Path_Watch::Watch(const std::set<std::string>& directories) {
    if (m_fd < 0)
        return false;
    bool changed = false;
    for (auto watch = m_watches.begin(); watch != m_watches.end();) {
        if (directories.contains(watch->first)) {
            ++watch;
            continue;
        }
        ::inotify_rm_watch(m_fd, watch->second);
        watch = m_watches.erase(watch);
        changed = true;
    }
    for (const std::string& dir : directories) {
        if (m_watches.contains(dir))
            continue;
        const int watch = ::inotify_add_watch(m_fd, dir.c_str(), kChanges);
        if (watch < 0)
            continue;  // not ours to watch: the listing still looks there
        m_watches.emplace(dir, watch);
        changed = true;
    }
    return changed;
}

bool Path_Watch::Drain() {
    bool any = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return any;
        any = true;
        // A directory that went takes its watch with it: forget it, so the
        // next Watch makes a new one on whatever takes its place.
        for (ssize_t offset = 0; offset < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            if ((event->mask & IN_IGNORED) != 0) {
                for (auto watch = m_watches.begin(); watch != m_watches.end(); ++watch) {
                    if (watch->second == event->wd) {
                        m_watches.erase(watch);
                        break;
                    }
                }
            }
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

}  // namespace serial
