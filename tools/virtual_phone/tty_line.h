// The virtual phone on an existing tty device: the gadget side of a USB
// serial function (/dev/ttyGS0), or any terminal device whose other end the
// host opens.
//
// The phone cannot pull this cable itself; whoever provides the device does
// (a USB gadget unbound from its controller). The phone then sees the line
// hang up: reads give end-of-file and the descriptor stays dead, so it is
// closed and the device opened afresh, ready for the next plug-in.
#pragma once

#include <string>

#include "tools/virtual_phone/phone_line.h"

namespace vphone {

class Tty_Line final : public Phone_Line {
  public:
    explicit Tty_Line(std::string path) : m_path(std::move(path)) {}
    ~Tty_Line() override { unplug(); }
    Tty_Line(const Tty_Line&) = delete;
    Tty_Line& operator=(const Tty_Line&) = delete;

    bool plug_in(std::string* error, std::string* warning) override;
    void unplug() override;
    bool plugged() const override { return m_fd >= 0; }

    int fd() const override { return m_fd; }
    const std::string& device_path() const override { return m_path; }
    // Output the driver still holds for the host (TIOCOUTQ). What the host's
    // side has taken but its program not yet read cannot be seen from here.
    bool reply_unread() const override;
    bool can_unplug() const override { return false; }

  private:
    std::string m_path;
    int m_fd = -1;
};

}  // namespace vphone
