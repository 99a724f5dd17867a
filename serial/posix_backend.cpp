// Placeholder until the termios backend lands: every operation fails.
#include "serial/port_backend.h"

namespace {
class NoPortBackend final : public PortBackend {
public:
    bool open(const std::string&) override { return false; }
    bool is_open() const override { return false; }
    void close() override {}
    int last_open_error() const override { return 0; }
    bool set_line(std::int32_t) override { return false; }
    bool setup_queues(std::uint32_t, std::uint32_t) override { return false; }
    bool set_read_timeout(std::uint32_t) override { return false; }
    Port_Io_Result read(std::span<std::uint8_t>) override { return {}; }
    Port_Io_Result write(std::span<const std::uint8_t>) override { return {}; }
    Port_Queue_Status queue_status() override { return {}; }
    bool purge() override { return false; }
    void sleep_ms(std::int32_t) override {}
};
}  // namespace

std::unique_ptr<PortBackend> Make_System_Backend() { return std::make_unique<NoPortBackend>(); }
