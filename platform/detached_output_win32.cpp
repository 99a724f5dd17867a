// Detached output on Windows: the console or pipe is written directly, as
// before; Drain only flushes.
#include "platform/detached_output.h"

namespace platform {

struct Detached_Output::Shared {};

Detached_Output::Detached_Output(std::FILE* target) : m_stream(target) {}

Detached_Output::~Detached_Output() = default;

bool Detached_Output::Drain(const std::function<bool()>&) {
    std::fflush(m_stream);
    return true;
}

}  // namespace platform
