// Where the Wine test run put its ports: the script that starts the run maps
// COM ports to pseudo-terminals and names them in the environment.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace wine_ports {

// The COM number in the environment variable, or 0 (with a test failure)
// when the run was not set up by scripts/test-windows.
inline std::uint16_t Port_Number(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || std::atoi(value) <= 0) {
        ADD_FAILURE() << variable << " is not set: run these tests through scripts/test-windows";
        return 0;
    }
    return static_cast<std::uint16_t>(std::atoi(value));
}

inline std::string Device_Path(std::uint16_t number) {
    return "\\\\.\\COM" + std::to_string(number);
}

// The peer's pattern (serial_peer.cpp): every byte value, line-control
// characters included.
inline std::uint8_t Pattern_Byte(std::size_t index) {
    return static_cast<std::uint8_t>((index * 7 + 3) % 256);
}

}  // namespace wine_ports
