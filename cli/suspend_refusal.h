// Ctrl-Z while a phone is being rewritten: the phone's boot loader gives up
// on a host that has gone silent, so flash and station refuse to be
// suspended then, with a line in the command's language.
#pragma once

#include "download/texts.h"
#include "platform/stop_signals.h"

namespace cli {

class Suspend_Refusal {
  public:
    // While it lives, at_risk(context) decides; it runs in a signal handler
    // and may only read atomics.
    Suspend_Refusal(Language language, bool (*at_risk)(const void* context) noexcept,
                    const void* context);
    ~Suspend_Refusal();
    Suspend_Refusal(const Suspend_Refusal&) = delete;
    Suspend_Refusal& operator=(const Suspend_Refusal&) = delete;

  private:
    platform::Suspend_Guard m_guard;
};

}  // namespace cli
