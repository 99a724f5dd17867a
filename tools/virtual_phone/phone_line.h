// The virtual phone's "USB cable": the descriptor over which the host's bytes
// come in and the phone's answers go out.
//
// Two kinds: a pseudo-terminal that the phone makes itself (Pty_Line), and an
// existing tty device that something else provides (Tty_Line), such as the
// gadget side of a USB serial function (/dev/ttyGS0) whose host side the
// kernel's cdc_acm driver shows as /dev/ttyACM0.
#pragma once

#include <string>

namespace vphone {

class Phone_Line {
  public:
    virtual ~Phone_Line() = default;

    // Makes or opens the line in raw mode, 8N1, non-blocking. False with
    // error filled when it cannot; a problem that leaves it usable only
    // fills warning.
    virtual bool plug_in(std::string* error, std::string* warning) = 0;
    virtual void unplug() = 0;
    virtual bool plugged() const = 0;

    // Read the host's bytes from it, write the phone's to it.
    virtual int fd() const = 0;
    // The device the host opens (the pty's slave; the tty device itself).
    virtual const std::string& device_path() const = 0;
    // Whether some of the phone's output has not reached the host yet, as
    // far as this kind of line can tell.
    virtual bool reply_unread() const = 0;
    // Whether the phone can pull its own cable (a pty: close the master). A
    // tty device is unplugged by whoever provides it; the phone only sees
    // the line hang up.
    virtual bool can_unplug() const = 0;
};

}  // namespace vphone
