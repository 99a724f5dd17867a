// Integer fields as the image file and the boot loader carry them: big-endian
// from the file and the phone, little-endian to the phone.
#pragma once

#include <array>
#include <cstdint>

inline std::uint16_t Read_Big_Endian_16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((unsigned{bytes[0]} << 8) | unsigned{bytes[1]});
}

inline std::uint32_t Read_Big_Endian_32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

inline std::array<std::uint8_t, 4> Little_Endian_32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}
