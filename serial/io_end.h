// How a read or a write on the port ended. A failed transfer keeps its cause,
// so that the user can be told "the phone was disconnected" rather than only
// an error number.
#pragma once

#include <cstddef>

enum class Io_End {
    kComplete,     // every byte moved
    kTimedOut,     // the deadline passed first (a silent phone, or a stuck write)
    kHungUp,       // the line went away: the phone was unplugged
    kInterrupted,  // a stop was requested from another thread or a signal
    kFailed,       // the system refused the call for another reason
};

// One transfer as the port object reports it: how it ended and how many bytes
// moved. Converts to true only when every byte moved.
struct Io_Result {
    Io_End end = Io_End::kFailed;
    std::size_t count = 0;
    explicit operator bool() const { return end == Io_End::kComplete; }
};
