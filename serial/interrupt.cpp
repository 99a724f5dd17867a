// The interrupt request flag: a lock-free atomic, safe to set from a signal handler.
#include "serial/interrupt.h"

#include <atomic>

namespace {
std::atomic<bool> g_interrupt_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

namespace serial {
void Request_Interrupt() noexcept { g_interrupt_requested.store(true); }
bool Interrupt_Requested() noexcept { return g_interrupt_requested.load(); }
void Clear_Interrupt() noexcept { g_interrupt_requested.store(false); }
}  // namespace serial
