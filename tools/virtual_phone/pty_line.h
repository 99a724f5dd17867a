// The virtual phone's end of a pseudo-terminal: the "USB cable" to the host.
//
// The phone keeps its own descriptor of the slave side open for as long as it
// is plugged in, so the master never reads EIO while the host has the port
// closed, and the host may open and close the slave as often as it likes.
// Closing the master is pulling the cable: the host's open port hangs up.
#pragma once

#include <string>

#include "tools/virtual_phone/phone_line.h"

namespace vphone {

class Pty_Line final : public Phone_Line {
  public:
    // With controlling_terminal the slave becomes this session's controlling
    // terminal (the caller must be a session leader); a failure of that part
    // only fills the warning of plug_in.
    explicit Pty_Line(bool controlling_terminal) : m_controlling_terminal(controlling_terminal) {}
    ~Pty_Line() override { unplug(); }
    Pty_Line(const Pty_Line&) = delete;
    Pty_Line& operator=(const Pty_Line&) = delete;

    // Creates a new pty (a new device path each time).
    bool plug_in(std::string* error, std::string* warning) override;
    void unplug() override;
    bool plugged() const override { return m_master >= 0; }

    int fd() const override { return m_master; }
    const std::string& device_path() const override { return m_slave_path; }
    // What the phone's own descriptor of the slave holds unread is what the
    // host has not read yet.
    bool reply_unread() const override;
    bool can_unplug() const override { return true; }

  private:
    bool m_controlling_terminal;
    int m_master = -1;
    int m_slave = -1;
    std::string m_slave_path;
};

}  // namespace vphone
