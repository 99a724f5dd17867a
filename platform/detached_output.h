// Output that a reader may stop reading without holding up the writer: what
// is written to Stream() is taken at once and handed to the target stream by
// a thread of its own, so the program's own thread never waits on a full
// pipe and still sees its signals. On Windows Stream() is the target itself.
// detached_output_*.cpp implement it.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>

namespace platform {

class Detached_Output {
  public:
    explicit Detached_Output(std::FILE* target);
    // Drops what the target has not taken yet.
    ~Detached_Output();
    Detached_Output(const Detached_Output&) = delete;
    Detached_Output& operator=(const Detached_Output&) = delete;

    // Where to write; never blocks.
    std::FILE* Stream() const { return m_stream; }
    // Waits until the target has taken everything written so far. Gives up
    // when give_up answers true while the target takes nothing (asked every
    // 50 ms): the rest is dropped then, as for a reader that went away, and
    // so is everything written later. False when it gave up.
    bool Drain(const std::function<bool()>& give_up);

    struct Shared;

  private:
    std::shared_ptr<Shared> m_shared;
    std::FILE* m_stream = nullptr;
};

}  // namespace platform
