// systemd-udevd for a test in the USB guest, started by hand (the guest has
// no service manager) with the system's groups so that its rules can name
// them, and stopped again with its run directory, so that later checks see a
// system without udev.
//
//   Udev_Daemon udev;               // started; udev.Running() once its socket is there
//   ... the port watcher's udev source ...
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace usb_rig {

class Udev_Daemon {
  public:
    // How long the daemon may take to open its control socket.
    static constexpr std::chrono::milliseconds kStartLimit{5000};

    Udev_Daemon() {
        std::filesystem::create_directories("/etc");
        for (const char* name : {"group", "passwd"}) {
            const std::string path = std::string("/etc/") + name;
            std::error_code error;
            if (std::filesystem::copy_file(
                    std::string("/usr/share/base-passwd/") + name + ".master", path, error))
                m_made_files.push_back(path);
        }
        m_pid = fork();
        if (m_pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            // systemd-udevd is udevadm under that name (Debian links
            // /lib/systemd/systemd-udevd to /bin/udevadm, which the guest's
            // /bin is not).
            execl("/usr/bin/udevadm", "systemd-udevd", static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
        while (!Running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~Udev_Daemon() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all("/run/udev", ignored);
        for (const std::string& path : m_made_files)
            std::filesystem::remove(path, ignored);
    }
    Udev_Daemon(const Udev_Daemon&) = delete;
    Udev_Daemon& operator=(const Udev_Daemon&) = delete;

    static bool Running() { return access("/run/udev/control", F_OK) == 0; }

  private:
    pid_t m_pid = -1;
    std::vector<std::string> m_made_files;  // the guest's own /etc has none
};

}  // namespace usb_rig
