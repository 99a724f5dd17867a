// virtual-phone --replay FILE: serves a recorded session on a
// pseudo-terminal as the phone (replay_session.h), prints the device path as
// the first line of standard output (and again after each plug-in), and on
// SIGTERM or SIGINT reports every deviation of the host from the recording
// on standard error and in the log. Exit 0 when the host wrote what the
// recorded host wrote, 1 when it did not, 2 when the trace cannot be read.
#pragma once

#include <string>

namespace vphone {

struct Replay_Options {
    std::string trace_path;
    std::string log_path;  // "-": standard error
    bool fast = false;     // answer at once instead of at the recorded pace
    bool any_image = false;
};

int Run_Replay(const Replay_Options& options);

}  // namespace vphone
