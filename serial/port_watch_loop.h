// The platform's half of a Port_Watcher: the loop that waits for device
// events on the watcher's thread (port_watch_loop_linux.cpp,
// port_watch_loop_win32.cpp).
#pragma once

#include <functional>
#include <memory>

#include "serial/port_watcher.h"

class Port_Watch_Loop {
  public:
    virtual ~Port_Watch_Loop() = default;
    // Reports events through emit until a stop is requested; calls ready
    // once its sources are armed and the first look is delivered.
    virtual void Run(const Port_Watcher::Callback& emit, const std::function<void()>& ready) = 0;
    // Any thread: Run returns within milliseconds.
    virtual void Request_Stop() noexcept = 0;
    virtual Port_Watch_Source Source() const noexcept = 0;
};

// Null when the loop's own wake-up cannot be made.
std::unique_ptr<Port_Watch_Loop> Make_Port_Watch_Loop(const Port_Watch_Options& options);
